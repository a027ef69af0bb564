// Kestrune's dialog for Linux desktops: the application is its one window.
#include <QApplication>

#include "core/secret_memory.h"
#include "core/services.h"
#include "ui/qt/application_icon.h"
#include "ui/qt/main_dialog.h"
#include "ui/qt/termination.h"

int main(int argc, char** argv) {
  kestrune::keep_process_out_of_dumps();
  kestrune::qt::Termination termination;  // before any thread starts
  QApplication application(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Kestrune"));
  // Lets the desktop match the window to its .desktop entry and icon.
  QGuiApplication::setDesktopFileName(QStringLiteral("kestrune"));
  QApplication::setWindowIcon(kestrune::qt::application_icon());

  const auto file_system = kestrune::make_native_file_system();
  kestrune::qt::MainDialog dialog(*file_system);
  termination.watch(dialog);
  dialog.exec();
  // QUIT, Enter, Escape and the close box are a normal end.
  return termination.exit_status();
}
