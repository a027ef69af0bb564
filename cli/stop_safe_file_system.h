// The native file system as the command line uses it: it tells the stop
// signals which temporary is being written and when its output is being
// put in place, so that a second signal neither leaves half a file nor
// cuts a file off between its rename and the removal of its input.
#pragma once

#include <memory>

#include "core/files/file_system.h"

namespace kestrune {

std::unique_ptr<FileSystem> make_stop_safe_file_system(std::unique_ptr<FileSystem> native);

}  // namespace kestrune
