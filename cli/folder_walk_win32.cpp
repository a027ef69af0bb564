#include <windows.h>

#include "cli/folder_walk.h"

namespace kestrune {

// Another volume is reached through a reparse point, which is not
// followed: every folder walked is on the device of the first.
EntryLook look_without_following(const std::filesystem::path& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return {};
  if ((attributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE)) != 0)
    return {EntryLook::Kind::other, 0};
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return {EntryLook::Kind::folder, 0};
  return {EntryLook::Kind::regular_file, 0};
}

}  // namespace kestrune
