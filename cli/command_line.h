// The command line as UTF-8 text and paths made from it, the same on every
// platform: Windows hands over UTF-16, which the narrow argv would squeeze
// through the ANSI code page and lose.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace kestrune {

// The program's arguments, the program name first.
std::vector<std::string> command_line_arguments(int argc, char** argv);

std::filesystem::path path_from_argument(std::string_view argument);

// A path for messages, on one line and harmless to a terminal whatever
// characters it holds.
std::string printable_path(const std::filesystem::path& path);

}  // namespace kestrune
