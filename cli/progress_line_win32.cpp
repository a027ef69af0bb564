#include <windows.h>

#include "cli/progress_line.h"

namespace kestrune {

// A console redraws in place once it is told to take escape sequences.
bool stderr_redraws_in_place() {
  const HANDLE error = GetStdHandle(STD_ERROR_HANDLE);
  DWORD mode = 0;
  return GetConsoleMode(error, &mode) &&
         SetConsoleMode(error, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
}

}  // namespace kestrune
