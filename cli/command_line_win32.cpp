#include "cli/command_line.h"

#include "cli/utf8.h"

#include <windows.h>
#include <shellapi.h>

namespace kestrune {
namespace {

std::string to_utf8(std::wstring_view text) {
  if (text.empty()) return {};
  const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                       nullptr, 0, nullptr, nullptr);
  std::string utf8(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), utf8.data(), size,
                      nullptr, nullptr);
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
