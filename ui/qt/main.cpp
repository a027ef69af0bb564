// Kestrune's dialog for Linux desktops: the application is its one window.
#include <QApplication>
#include <span>

#include "core/secret_memory.h"
#include "core/services.h"
#include "ui/qt/application_icon.h"
#include "ui/qt/command_line_files.h"
#include "ui/qt/main_dialog.h"
#include "ui/qt/password_accessibility.h"
#include "ui/qt/single_instance.h"
#include "ui/qt/termination.h"

namespace {

// Brings the window forward for a launch that handed it files, even from
// behind other windows or minimised.
void bring_to_front(QWidget& window) {
  window.setWindowState(window.windowState() & ~Qt::WindowMinimized);
  window.show();
  window.raise();
  window.activateWindow();
}

}  // namespace

int main(int argc, char** argv) {
  kestrune::keep_process_out_of_dumps();
  kestrune::qt::Termination termination;  // before any thread starts
  QApplication application(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Kestrune"));
  // Lets the desktop match the window to its .desktop entry and icon.
  QGuiApplication::setDesktopFileName(QStringLiteral("kestrune"));
  QApplication::setWindowIcon(kestrune::qt::application_icon());
  kestrune::qt::keep_passwords_off_accessibility();

  // What is left once QApplication has taken out its own options.
  kestrune::qt::Handover launch{
      kestrune::qt::this_launch_order(),
      kestrune::qt::command_line_items(std::span(argv, static_cast<std::size_t>(argc)))};
  // Without a safe runtime folder, each launch keeps a window of its own.
  std::optional<kestrune::qt::InstanceChannel> channel;
  if (const auto socket_path = kestrune::qt::user_socket_path()) {
    channel.emplace(*socket_path);
    if (channel->hand_over_or_listen(launch)) return 0;
  }

  const auto file_system = kestrune::make_native_file_system();
  kestrune::qt::MainDialog dialog(*file_system);
  termination.watch(dialog);
  dialog.take_command_line_files(launch.order, std::move(launch.items));
  if (channel) {
    channel->receive_with([&dialog](kestrune::qt::Handover handover) {
      dialog.take_command_line_files(handover.order, std::move(handover.items));
      bring_to_front(dialog);
    });
  }
  dialog.exec();
  // QUIT, Enter, Escape and the close box are a normal end.
  return termination.exit_status();
}
