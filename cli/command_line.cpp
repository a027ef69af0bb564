#include "command_line.h"

#include "utf8.h"

#ifdef _WIN32
#include <windows.h>
#include <shellapi.h>
#endif

namespace kestrune {

#ifdef _WIN32

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

#else

std::vector<std::string> command_line_arguments(int argc, char** argv) {
  return std::vector<std::string>(argv, argv + argc);
}

// Bytes as given: POSIX names need not be UTF-8.
std::filesystem::path path_from_argument(std::string_view argument) {
  return std::filesystem::path(argument);
}

std::string printable_path(const std::filesystem::path& path) {
  return escaped_for_terminal(path.native(), true);
}

#endif

}  // namespace kestrune
