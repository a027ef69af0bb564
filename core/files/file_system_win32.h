// The Win32 side of the file-system seam: wide "\\?\" names, CREATE_NEW
// temporaries, MoveFileEx with write-through.
#pragma once

#include <memory>

#include "core/files/file_system.h"

namespace kestrune {

std::unique_ptr<FileSystem> make_win32_file_system();

}  // namespace kestrune
