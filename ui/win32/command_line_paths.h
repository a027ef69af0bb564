// The files named on kestrune.exe's command line.
#pragma once

#include <filesystem>
#include <vector>

namespace kestrune::win32 {

// Every argument after the program's name, split as the platform splits a
// command line (quotes, backslashes) and each taken whole however long it
// is; empty when there are none or the line cannot be split.
std::vector<std::filesystem::path> command_line_paths(const wchar_t* command_line);

// `paths` made absolute against this process's current folder, so that
// another process can find them; a path that cannot be made so stays as it
// is.
std::vector<std::filesystem::path> absolute_paths(std::vector<std::filesystem::path> paths);

}  // namespace kestrune::win32
