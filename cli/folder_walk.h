// The files kestrune-cli acts on, in order: the paths given and, with -r,
// every regular file in the folders given, found without following links
// or leaving the folder's file system, as `find -xdev` walks.
#pragma once

#include <cstdint>
#include <filesystem>
#include <system_error>
#include <vector>

#include "cli/arguments.h"

namespace kestrune {

struct PlannedPath {
  enum class Kind {
    given,       // named on the command line
    found,       // a regular file met in a folder
    leftover,    // a temporary an interrupted run left in a folder
    unreadable,  // a folder whose entries could not all be read
  };
  std::filesystem::path path;
  Kind kind = Kind::given;
  std::error_code error;  // why an unreadable folder could not be read
};

// The paths of `options` as they are to be acted on; folders are walked
// with -r only, their entries in the order of their names' bytes.
std::vector<PlannedPath> plan_paths(const CliOptions& options);

// What a name leads to, the name itself when it is a link (POSIX) or a
// reparse point (Windows: links, junctions and mounted volumes).
struct EntryLook {
  enum class Kind { folder, regular_file, other, unknown };
  Kind kind = Kind::unknown;
  std::uint64_t device = 0;  // the file system it is on, where that can differ
};

// Each platform defines it; `unknown` when the name cannot be looked at.
EntryLook look_without_following(const std::filesystem::path& path);

}  // namespace kestrune
