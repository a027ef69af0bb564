#include "ui/win32/command_line_paths.h"

#include <windows.h>
#include <shellapi.h>

#include <memory>

namespace kestrune::win32 {
namespace {

struct LocalFreeDeleter {
  void operator()(LPWSTR* arguments) const { LocalFree(arguments); }
};

}  // namespace

std::vector<std::filesystem::path> command_line_paths(const wchar_t* command_line) {
  // An empty line would make CommandLineToArgvW name this program instead.
  if (command_line == nullptr || *command_line == L'\0') return {};
  int count = 0;
  const std::unique_ptr<LPWSTR, LocalFreeDeleter> arguments(
      CommandLineToArgvW(command_line, &count));
  if (!arguments) return {};
  std::vector<std::filesystem::path> paths;
  for (int index = 1; index < count; ++index)
    if (*arguments.get()[index] != L'\0') paths.emplace_back(arguments.get()[index]);
  return paths;
}

std::vector<std::filesystem::path> absolute_paths(std::vector<std::filesystem::path> paths) {
  for (std::filesystem::path& path : paths) {
    std::error_code error;
    std::filesystem::path whole = std::filesystem::absolute(path, error);
    if (!error) path = std::move(whole);
  }
  return paths;
}

}  // namespace kestrune::win32
