#include <sys/stat.h>

#include "cli/folder_walk.h"

namespace kestrune {

EntryLook look_without_following(const std::filesystem::path& path) {
  struct stat info {};
  if (::lstat(path.c_str(), &info) != 0) return {};
  EntryLook look{EntryLook::Kind::other, static_cast<std::uint64_t>(info.st_dev)};
  if (S_ISDIR(info.st_mode)) look.kind = EntryLook::Kind::folder;
  if (S_ISREG(info.st_mode)) look.kind = EntryLook::Kind::regular_file;
  return look;
}

}  // namespace kestrune
