#include "ui/qt/dialog_units.h"

#include <QFontMetrics>
#include <algorithm>
#include <cmath>

namespace kestrune::qt {
namespace {

constexpr int kUnitsPerCharAcross = 4;
constexpr int kUnitsPerCharDown = 8;

// Windows measures the average character width over the Latin alphabet and
// rounds it to the nearest pixel.
int average_alphabet_width(const QFontMetrics& metrics) {
  const int alphabet_width = metrics.horizontalAdvance(
      QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
  return (alphabet_width / 26 + 1) / 2;
}

}  // namespace

DialogUnits::DialogUnits(const QFont& font, const QString& widest_text, int its_width) {
  const QFontMetrics metrics(font);
  const double fitting_width =
      static_cast<double>(metrics.horizontalAdvance(widest_text)) * kUnitsPerCharAcross / its_width;
  average_char_width_ = std::max<double>(average_alphabet_width(metrics), fitting_width);
  char_height_ = metrics.height();
}

QRect DialogUnits::rect(int x, int y, int width, int height) const {
  return {to_pixels_across(x), to_pixels_down(y), to_pixels_across(width), to_pixels_down(height)};
}

QSize DialogUnits::size(int width, int height) const {
  return {to_pixels_across(width), to_pixels_down(height)};
}

int DialogUnits::to_pixels_across(int units) const {
  return static_cast<int>(std::ceil(units * average_char_width_ / kUnitsPerCharAcross));
}

int DialogUnits::to_pixels_down(int units) const {
  return (units * char_height_ + kUnitsPerCharDown / 2) / kUnitsPerCharDown;
}

}  // namespace kestrune::qt
