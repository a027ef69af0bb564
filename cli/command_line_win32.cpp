#include "cli/command_line.h"

#include "cli/utf16_win32.h"
#include "cli/utf8.h"

#include <windows.h>
#include <shellapi.h>

namespace kestrune {
namespace {

// A lone surrogate half, which Windows allows in names, shows as U+FFFD.
std::string to_utf8(std::wstring_view text) {
  std::string utf8(utf8_size(text, false), '\0');
  if (!write_utf8(text, utf8, false)) return {};
  return utf8;
}

}  // namespace

std::vector<std::string> command_line_arguments(int, char**) {
  int count = 0;
  wchar_t** arguments = CommandLineToArgvW(GetCommandLineW(), &count);
  std::vector<std::string> result;
  for (int i = 0; arguments != nullptr && i < count; ++i) result.push_back(to_utf8(arguments[i]));
  LocalFree(arguments);
  return result;
}

std::filesystem::path path_from_argument(std::string_view argument) {
  return std::filesystem::path(std::u8string(argument.begin(), argument.end()));
}

std::string printable_path(const std::filesystem::path& path) {
  return escaped_for_terminal(to_utf8(path.native()), false);
}

}  // namespace kestrune
