// The password field. Ctrl+V (or Shift+Insert, or the menu's Paste) of files
// copied in a file manager hands them on as a drop, anywhere in the window;
// only plain text is pasted into the field. Entering it from the keyboard
// leaves the caret where it was instead of selecting the hidden text, which
// a screen reader would announce as a selection it cannot show.
#pragma once

#include <QLineEdit>
#include <vector>

#include "ui/qt/conversion_worker.h"

namespace kestrune::qt {

class PasswordField final : public QLineEdit {
  Q_OBJECT

 public:
  explicit PasswordField(QWidget* parent);

 Q_SIGNALS:
  // The clipboard held files when a paste was asked for.
  void files_pasted(const std::vector<DroppedItem>& items);

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;

 private:
  // True when the clipboard held files, which were handed on.
  bool paste_files();
};

}  // namespace kestrune::qt
