// The core's texts as the dialog's controls take them.
#pragma once

#include <string>
#include <string_view>

namespace kestrune::win32 {

// The core's texts are plain ASCII, so widening each unit is exact.
inline std::wstring widen(std::string_view text) { return std::wstring(text.begin(), text.end()); }

}  // namespace kestrune::win32
