#include "tests/ui_qt/dialog_driver.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMessageBox>
#include <QMimeData>
#include <QWindow>
#include <memory>

namespace kestrune::test {
namespace {

constexpr Qt::DropActions kFileManagerActions = Qt::CopyAction | Qt::MoveAction | Qt::LinkAction;

}  // namespace

bool drop_on(QWidget& window, QPoint position, const QMimeData& data) {
  QWindow* handle = window.windowHandle();
  QDragEnterEvent enter(position, kFileManagerActions, &data, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(handle, &enter);
  if (!enter.isAccepted()) {
    QDragLeaveEvent leave;
    QCoreApplication::sendEvent(handle, &leave);
    return false;
  }
  QDragMoveEvent move(position, kFileManagerActions, &data, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(handle, &move);
  QDropEvent drop(QPointF(position), kFileManagerActions, &data, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(handle, &drop);
  return drop.isAccepted() && drop.dropAction() == Qt::CopyAction;
}

QMimeData* file_manager_drag(const QList<QUrl>& urls) {
  auto* data = new QMimeData;
  data->setUrls(urls);
  // File managers offer the addresses as text too, which a line edit takes.
  QStringList lines;
  for (const QUrl& url : urls) lines << url.toString();
  data->setText(lines.join(QLatin1Char('\n')));
  return data;
}

bool drop_urls(QWidget& window, const QList<QUrl>& urls) {
  const std::unique_ptr<QMimeData> data(file_manager_drag(urls));
  return drop_on(window, window.rect().center(), *data);
}

QAbstractButton* button_labelled(QWidget& window, const QString& text) {
  for (auto* button : window.findChildren<QAbstractButton*>())
    if (button->text() == text) return button;
  return nullptr;
}

QMessageBox* shown_failure_box() {
  for (QWidget* widget : QApplication::topLevelWidgets())
    if (auto* box = qobject_cast<QMessageBox*>(widget); box != nullptr && box->isVisible())
      return box;
  return nullptr;
}

}  // namespace kestrune::test
