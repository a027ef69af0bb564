// Places controls by the dialog units the Windows template is drawn in: a
// quarter of the font's average character width across and an eighth of its
// height down, so the layout keeps its proportions at any font size and DPI.
#pragma once

#include <QFont>
#include <QRect>
#include <QSize>
#include <QString>

namespace kestrune::qt {

class DialogUnits {
 public:
  // `widest_text` must fit in `its_width` units: fonts wider than the
  // template's own get wider units, so no line of the template is cut.
  DialogUnits(const QFont& font, const QString& widest_text, int its_width);

  QRect rect(int x, int y, int width, int height) const;
  QSize size(int width, int height) const;

 private:
  int to_pixels_across(int units) const;
  int to_pixels_down(int units) const;

  double average_char_width_;
  int char_height_;
};

}  // namespace kestrune::qt
