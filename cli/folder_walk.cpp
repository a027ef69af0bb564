#include "cli/folder_walk.h"

#include <algorithm>

#include "core/container_names.h"

namespace kestrune {
namespace {

// The entries of `folder`, as far as they could be read.
std::error_code entries_of(const std::filesystem::path& folder,
                           std::vector<std::filesystem::path>& entries) {
  std::error_code error;
  for (std::filesystem::directory_iterator entry(folder, error), end; !error && entry != end;
       entry.increment(error))
    entries.push_back(entry->path());
  return error;
}

// Adds the files under `folder`, which lies on file system `device`. A
// name that cannot be looked at is handed on, for its conversion to say
// why it fails.
void add_folder(const std::filesystem::path& folder, std::uint64_t device,
                std::vector<PlannedPath>& planned) {
  std::vector<std::filesystem::path> entries;
  const std::error_code error = entries_of(folder, entries);
  std::sort(entries.begin(), entries.end(),
            [](const auto& a, const auto& b) { return a.native() < b.native(); });
  for (const std::filesystem::path& entry : entries) {
    const EntryLook look = look_without_following(entry);
    switch (look.kind) {
      case EntryLook::Kind::folder:
        if (look.device == device) add_folder(entry, device, planned);
        break;
      case EntryLook::Kind::regular_file:
      case EntryLook::Kind::unknown:
        planned.push_back(
            {entry,
             is_temporary_name(entry) ? PlannedPath::Kind::leftover : PlannedPath::Kind::found,
             {}});
        break;
      case EntryLook::Kind::other: break;  // links, devices, FIFOs, sockets
    }
  }
  if (error) planned.push_back({folder, PlannedPath::Kind::unreadable, error});
}

}  // namespace

std::vector<PlannedPath> plan_paths(const CliOptions& options) {
  std::vector<PlannedPath> planned;
  for (const std::filesystem::path& path : options.paths) {
    const EntryLook look = options.recursive ? look_without_following(path) : EntryLook{};
    if (look.kind == EntryLook::Kind::folder)
      add_folder(path, look.device, planned);
    else
      planned.push_back({path, PlannedPath::Kind::given, {}});
  }
  return planned;
}

}  // namespace kestrune
