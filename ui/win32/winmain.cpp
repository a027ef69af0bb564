// kestrune.exe: the main dialog is the whole application. Files named on
// the command line wait in it for the password; a launch while the dialog
// already runs in this session hands them to it and ends.
#include <windows.h>

#include "core/secret_memory.h"
#include "ui/win32/command_line_paths.h"
#include "ui/win32/main_dialog.h"
#include "ui/win32/one_window.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  kestrune::keep_process_out_of_dumps();
  // Absolute, since the dialog they may go to has a folder of its own.
  auto paths =
      kestrune::win32::absolute_paths(kestrune::win32::command_line_paths(GetCommandLineW()));
  kestrune::win32::SessionDialogLock lock;
  if (kestrune::win32::hand_over_to_running_dialog(lock, paths)) return 0;
  kestrune::win32::MainDialog dialog(instance, std::move(paths));
  dialog.run();
  return 0;
}
