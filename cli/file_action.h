// What kestrune-cli does with one path: convert it (or with -t test it) and
// say so, through the front end it is given, so that whoever runs many
// paths decides where and in what order the lines come out.
#pragma once

#include <string_view>

#include "cli/arguments.h"
#include "cli/cli_front_end.h"
#include "cli/folder_walk.h"
#include "core/kestrune.h"

namespace kestrune {

// A path left unconverted (see cli/path_checks.h) ends as done when it was
// only passed over, as failed when it was refused.
Outcome act_on_file(const CliOptions& options, ConversionEnv& env, CliFrontEnd& front_end,
                    const PlannedPath& planned, std::u16string_view password);

}  // namespace kestrune
