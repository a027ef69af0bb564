// Kestrune's dialog for Linux desktops: the application is its one window.
#include <QApplication>

#include "application_icon.h"
#include "qt/main_dialog.h"
#include "secure_wipe.h"
#include "services.h"

int main(int argc, char** argv) {
  kestrune::keep_process_out_of_dumps();
  QApplication application(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Kestrune"));
  // Lets the desktop match the window to its .desktop entry and icon.
  QGuiApplication::setDesktopFileName(QStringLiteral("kestrune"));
  QApplication::setWindowIcon(kestrune::qt::application_icon());

  const auto file_system = kestrune::make_native_file_system();
  kestrune::qt::MainDialog dialog(*file_system);
  dialog.exec();
  return 0;  // every way to close the dialog is a normal end
}
