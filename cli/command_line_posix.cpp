#include "cli/command_line.h"

#include "cli/utf8.h"

namespace kestrune {

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

}  // namespace kestrune
