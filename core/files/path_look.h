// What a path names, looked at before it is opened: opening a device can
// have effects of its own (a tape rewinds, a watchdog starts), and a FIFO
// would block. Each platform's file system defines the look.
#pragma once

#include <filesystem>
#include <system_error>

#include "core/files/file_errors.h"

namespace kestrune {

struct PathLook {
  enum class Kind { regular_file, folder, other };
  Kind kind = Kind::other;
  bool through_link = false;  // the name is a link to what it names
};

std::error_code look_at(const std::filesystem::path& path, PathLook& look);

// Why a file of `kind` cannot be read as one; nothing when it can.
inline std::error_code why_not_regular(PathLook::Kind kind) {
  switch (kind) {
    case PathLook::Kind::regular_file: return {};
    case PathLook::Kind::folder: return std::make_error_code(std::errc::is_a_directory);
    case PathLook::Kind::other: return FileError::not_regular_file;
  }
  return FileError::not_regular_file;
}

inline std::error_code check_is_regular_file(const std::filesystem::path& path,
                                             bool& through_link) {
  PathLook look;
  if (auto error = look_at(path, look)) return error;
  through_link = look.through_link;
  return why_not_regular(look.kind);
}

}  // namespace kestrune
