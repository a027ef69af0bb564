// Stands in for a file manager in the end-to-end test: a small window that
// starts dragging the files named on its command line when pressed, offered
// as file managers offer them, and prints whether the target took them. It
// keeps running, as a file manager does, since the target fetches the
// dropped addresses from it after the drop.
#include <QApplication>
#include <QDrag>
#include <QFileInfo>
#include <QMimeData>
#include <QUrl>
#include <QWidget>
#include <cstdio>

#include "dialog_driver.h"

namespace {

class DragSourceWindow final : public QWidget {
 public:
  explicit DragSourceWindow(QList<QUrl> files) : files_(std::move(files)) {}

 protected:
  void mousePressEvent(QMouseEvent*) override {
    auto* drag = new QDrag(this);
    drag->setMimeData(kestrune::test::file_manager_drag(files_));
    const Qt::DropAction action = drag->exec(Qt::CopyAction | Qt::MoveAction | Qt::LinkAction);
    std::printf("%s\n", action == Qt::CopyAction ? "copied" : "not copied");
    std::fflush(stdout);
  }

 private:
  QList<QUrl> files_;
};

}  // namespace

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  QList<QUrl> files;
  for (const QString& argument : QApplication::arguments().mid(1))
    files << QUrl::fromLocalFile(QFileInfo(argument).absoluteFilePath());

  DragSourceWindow window(files);
  window.setWindowTitle(QStringLiteral("kestrune drag source"));
  window.setGeometry(10, 10, 160, 100);
  window.show();
  return QApplication::exec();
}
