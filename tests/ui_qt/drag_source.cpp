// Stands in for a file manager in the end-to-end test: a small window that
// starts dragging the files named on its command line when pressed, offered
// as file managers offer them, and prints whether the target took them. It
// keeps running, as a file manager does, since the target fetches the
// dropped addresses from it after the drop. Arguments that are `file:`
// addresses are offered byte for byte, as GIO encodes names that are not
// UTF-8.
//
// `--destroy-window ID` instead destroys that X window without asking it to
// close, as some tools and crashing window managers do.
#include <xcb/xcb.h>
#include <QApplication>
#include <QDrag>
#include <QFile>
#include <QFileInfo>
#include <QMimeData>
#include <QUrl>
#include <QWidget>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "tests/ui_qt/dialog_driver.h"

namespace {

class DragSourceWindow final : public QWidget {
 public:
  DragSourceWindow(QList<QUrl> files, QByteArray raw_addresses)
      : files_(std::move(files)), raw_addresses_(std::move(raw_addresses)) {}

 protected:
  void mousePressEvent(QMouseEvent*) override {
    auto* drag = new QDrag(this);
    QMimeData* data = kestrune::test::file_manager_drag(files_);
    if (!raw_addresses_.isEmpty()) data->setData(QStringLiteral("text/uri-list"), raw_addresses_);
    drag->setMimeData(data);
    const Qt::DropAction action = drag->exec(Qt::CopyAction | Qt::MoveAction | Qt::LinkAction);
    std::printf("%s\n", action == Qt::CopyAction ? "copied" : "not copied");
    std::fflush(stdout);
  }

 private:
  QList<QUrl> files_;
  QByteArray raw_addresses_;
};

// Waits for the server's answer, so the window is gone when this returns.
int destroy_window(const char* id) {
  xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
  int status = 1;
  if (xcb_connection_has_error(connection) == 0) {
    const auto window = static_cast<xcb_window_t>(std::strtoul(id, nullptr, 0));
    xcb_generic_error_t* error =
        xcb_request_check(connection, xcb_destroy_window_checked(connection, window));
    status = error == nullptr ? 0 : 1;
    std::free(error);
  }
  xcb_disconnect(connection);
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], "--destroy-window") == 0) return destroy_window(argv[2]);
  QApplication application(argc, argv);
  QList<QUrl> files;
  QByteArray raw_addresses;
  for (int i = 1; i < argc; ++i) {
    const QByteArray argument(argv[i]);
    if (argument.startsWith("file:"))
      raw_addresses += argument + "\r\n";
    else
      files << QUrl::fromLocalFile(QFileInfo(QFile::decodeName(argument)).absoluteFilePath());
  }

  DragSourceWindow window(files, raw_addresses);
  window.setWindowTitle(QStringLiteral("kestrune drag source"));
  window.setGeometry(10, 10, 160, 100);
  window.show();
  return QApplication::exec();
}
