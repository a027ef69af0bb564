#include "message_box_front_end.h"

#include <windows.h>

#include <string>

namespace kestrune::win32 {
namespace {

// The core's texts are plain ASCII, so widening each unit is exact.
std::wstring widen(std::string_view text) { return std::wstring(text.begin(), text.end()); }

}  // namespace

void MessageBoxFrontEnd::show_failure(std::string_view text, std::string_view caption) {
  // No owner: the dialog stays usable while the message is shown, and what
  // arrives meanwhile is deferred by the dialog itself.
  MessageBoxW(nullptr, widen(text).c_str(), widen(caption).c_str(), MB_OK);
}

void MessageBoxFrontEnd::set_busy(bool busy) {
  SetCursor(LoadCursorW(nullptr, busy ? IDC_WAIT : IDC_ARROW));
}

}  // namespace kestrune::win32
