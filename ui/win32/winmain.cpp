// kestrune.exe: the main dialog is the whole application.
#include <windows.h>

#include "core/secret_memory.h"
#include "ui/win32/main_dialog.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  kestrune::keep_process_out_of_dumps();
  kestrune::win32::MainDialog dialog(instance);
  dialog.run();
  return 0;
}
