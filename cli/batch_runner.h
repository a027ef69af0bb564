// kestrune-cli's many paths: converted up to -j at the same time, their
// lines printed in the order of the paths all the same.
#pragma once

#include <span>
#include <string_view>

#include "cli/arguments.h"
#include "cli/folder_walk.h"
#include "core/files/file_system.h"

namespace kestrune {

// Converts (or with -t tests) each of `paths` by act_on_file, up to
// `options.jobs` at once, each with a front end and blocks of its own; one
// at a time exactly as a single file would. After a stop signal no path
// starts. The number that failed, or could not start for want of memory.
int convert_in_batch(const CliOptions& options, std::span<const PlannedPath> paths,
                     FileSystem& file_system, std::u16string_view password);

}  // namespace kestrune
