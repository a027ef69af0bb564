#include "ui/win32/message_box_front_end.h"

#include <windows.h>

#include "ui/win32/wide_text.h"

namespace kestrune::win32 {

// The fixed texts only, as they always were; the cause is for the command line.
void MessageBoxFrontEnd::show_failure(const Outcome& failed) {
  // No owner: the dialog stays usable while the message is shown, and what
  // arrives meanwhile is deferred by the dialog itself.
  MessageBoxW(nullptr, widen(failed.failure.text).c_str(), widen(failed.failure.caption).c_str(),
              MB_OK);
}

void MessageBoxFrontEnd::set_busy(bool busy) {
  SetCursor(LoadCursorW(nullptr, busy ? IDC_WAIT : IDC_ARROW));
}

}  // namespace kestrune::win32
