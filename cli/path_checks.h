// What keeps kestrune-cli from converting a path: a direction it was not
// asked for, a temporary left by an interrupted run, a folder it could not
// read, or an output that would replace a file without -f.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "cli/arguments.h"
#include "cli/folder_walk.h"

namespace kestrune {

// The path's output: the container for a plain file, the plain file for one.
std::filesystem::path output_name_for(const std::filesystem::path& path);

// The line for a path whose output's name is taken.
std::string output_exists_line(const std::filesystem::path& path);

// A path left as it is, and the line that says why: a failure's always
// shows, a skipped path's with -v only, and a path skipped unremarked has
// none.
struct PathLeft {
  std::string line;
  bool failed = false;
};

// Nothing when `planned` is to be converted (or tested).
std::optional<PathLeft> reason_to_leave(const CliOptions& options, const PlannedPath& planned);

}  // namespace kestrune
