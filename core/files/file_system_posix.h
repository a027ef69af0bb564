// The POSIX side of the file-system seam: descriptors, O_EXCL temporaries,
// fsync of files and folders.
#pragma once

#include <memory>

#include "core/files/file_system.h"

namespace kestrune {

std::unique_ptr<FileSystem> make_posix_file_system();

}  // namespace kestrune
