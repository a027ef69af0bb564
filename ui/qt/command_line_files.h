// The files a launch names: what a file manager runs for a double-click,
// "Open with" or a right-click action (`kestrune %U` or `%F`), or what a
// shell user types. They wait in the dialog for the password.
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <string_view>
#include <vector>

#include "ui/qt/conversion_worker.h"

namespace kestrune::qt {

// Where a launch stands among those a file manager starts at once, one per
// file: the kernel's start time of the process, then its id. Both follow
// the order the processes were forked in, whichever reaches the window first.
struct LaunchOrder {
  std::uint64_t start_ticks = 0;
  std::uint64_t process_id = 0;
  auto operator<=>(const LaunchOrder&) const = default;
};

// This process's place; zero start time when the kernel does not tell it.
LaunchOrder this_launch_order();

// One argument. An absolute path is taken byte for byte; a `file:` address
// or any `scheme://` address is decoded exactly as a dropped one (so only a
// local file is local); anything else is a path relative to
// `working_folder`.
DroppedItem command_line_item(std::string_view argument,
                              const std::filesystem::path& working_folder);

// Every argument after the program's name, in order. Qt's own options must
// have been taken out already (QApplication does it).
std::vector<DroppedItem> command_line_items(std::span<char* const> arguments);

}  // namespace kestrune::qt
