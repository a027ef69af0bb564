#include "cli/utf16_win32.h"

#include <windows.h>

namespace kestrune {
namespace {

DWORD flags_for(bool strict) { return strict ? WC_ERR_INVALID_CHARS : 0; }

}  // namespace

std::size_t utf8_size(std::wstring_view text, bool strict) {
  if (text.empty()) return 0;
  const int size = WideCharToMultiByte(CP_UTF8, flags_for(strict), text.data(),
                                       static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  return size > 0 ? static_cast<std::size_t>(size) : 0;
}

bool write_utf8(std::wstring_view text, std::span<char> out, bool strict) {
  if (text.empty()) return out.empty();
  const int written =
      WideCharToMultiByte(CP_UTF8, flags_for(strict), text.data(), static_cast<int>(text.size()),
                          out.data(), static_cast<int>(out.size()), nullptr, nullptr);
  return written > 0 && static_cast<std::size_t>(written) == out.size();
}

}  // namespace kestrune
