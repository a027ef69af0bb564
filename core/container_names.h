// How a file's name tells its direction and names its output.
#pragma once

#include <filesystem>

namespace kestrune {

// A path names a container when it ends in ".enc" exactly (case-sensitive).
bool is_container_name(const std::filesystem::path& path);
// "report.txt" -> "report.txt.enc"
std::filesystem::path container_name_for(const std::filesystem::path& plain);
// "report.txt.enc" -> "report.txt"; the path must be a container name.
std::filesystem::path plain_name_for(const std::filesystem::path& container);
// A path whose file name is that of a temporary output, as an interrupted
// run leaves them: ".<name>.kestrune-<8 letters or digits>.tmp".
bool is_temporary_name(const std::filesystem::path& path);

}  // namespace kestrune
