#include "ui/qt/password_field.h"

#include <QClipboard>
#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QShortcut>
#include <memory>

#include "ui/qt/pasted_files.h"

namespace kestrune::qt {
namespace {

// Qt 6.4 names none of its menu's actions: its Paste is known by Qt's own
// text, translated as Qt translates it, with or without the shortcut.
QAction* paste_action(const QMenu& menu) {
  const QString paste = QCoreApplication::translate("QLineEdit", "&Paste");
  for (QAction* action : menu.actions())
    if (action->text() == paste || action->text().startsWith(paste + QLatin1Char('\t')))
      return action;
  return nullptr;
}

}  // namespace

PasswordField::PasswordField(QWidget* parent) : QLineEdit(parent) {
  setEchoMode(QLineEdit::Password);
  // With the focus on another control the field does not see the key.
  auto* paste_anywhere = new QShortcut(QKeySequence::Paste, this);
  paste_anywhere->setContext(Qt::WindowShortcut);
  connect(paste_anywhere, &QShortcut::activated, this, &PasswordField::paste_files);
}

bool PasswordField::paste_files() {
  const QMimeData* clipboard = QGuiApplication::clipboard()->mimeData();
  if (clipboard == nullptr || !holds_files(*clipboard)) return false;
  const std::vector<DroppedItem> items = pasted_files(*clipboard);
  if (!items.empty()) Q_EMIT files_pasted(items);
  return true;
}

void PasswordField::keyPressEvent(QKeyEvent* event) {
  if (event->matches(QKeySequence::Paste) && paste_files()) {
    event->accept();
    return;
  }
  QLineEdit::keyPressEvent(event);
}

void PasswordField::contextMenuEvent(QContextMenuEvent* event) {
  const std::unique_ptr<QMenu> menu(createStandardContextMenu());
  if (QAction* paste = paste_action(*menu)) {
    const QMimeData* clipboard = QGuiApplication::clipboard()->mimeData();
    if (clipboard != nullptr && holds_files(*clipboard)) {
      disconnect(paste, &QAction::triggered, this, &QLineEdit::paste);
      connect(paste, &QAction::triggered, this, &PasswordField::paste_files);
      paste->setEnabled(true);
    }
  }
  menu->exec(event->globalPos());
}

void PasswordField::focusInEvent(QFocusEvent* event) {
  const Qt::FocusReason reason = event->reason();
  if (reason != Qt::TabFocusReason && reason != Qt::BacktabFocusReason &&
      reason != Qt::ShortcutFocusReason) {
    QLineEdit::focusInEvent(event);
    return;
  }
  QFocusEvent keeping_the_caret(QEvent::FocusIn, Qt::OtherFocusReason);
  QLineEdit::focusInEvent(&keeping_the_caret);
}

}  // namespace kestrune::qt
