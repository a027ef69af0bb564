// A conversion interrupted from outside stops the way a failure does, and
// so does each one under way beside it: its temporary removed, its input
// untouched, later paths not started. Once its output has been renamed into
// place it finishes instead, removing its input, so every path ends
// converted completely or untouched.
#pragma once

#include <filesystem>

namespace kestrune {

// From here on, the first SIGINT, SIGTERM or SIGHUP (on Windows the
// console's Ctrl-C, Ctrl-Break and close events) is only recorded. A later
// one ends the process at once, after removing every temporary being
// written; while any output is being put in place, or a temporary being
// created, later ones are recorded only. A signal the process ignores
// stays ignored.
void catch_stop_signals();

// The signal that asked the program to stop, or 0.
int stop_signal();

// The most conversions whose temporaries the signals can follow at once:
// one for each file converted at the same time.
inline constexpr unsigned kMostFollowedTemporaries = 64;

// One conversion's temporary as a later signal finds it. Each holds a slot
// of its own among a fixed few, taken at creation, so that the signal
// reaches every temporary under way without allocating. Until `writing`
// (and from `committing` on) the signal leaves the process running: this
// conversion stops, or finishes, at its own pace. On Windows, where nothing
// can remove a temporary from outside, every phase holds the signal off.
class FollowedTemporary {
 public:
  // Takes a free slot, waiting while a signal looks at them all.
  FollowedTemporary();
  FollowedTemporary(const FollowedTemporary&) = delete;
  FollowedTemporary& operator=(const FollowedTemporary&) = delete;
  // Frees the slot: nothing is left for a signal to remove.
  ~FollowedTemporary();

  // `temporary` is being written: a later signal removes it before ending
  // the process. One whose name cannot be noted holds later signals off
  // until its conversion has removed it.
  void writing(const std::filesystem::path& temporary);
  // Being renamed into place: the file must finish.
  void committing();
  // Removed: from here a later signal may end the process at once.
  void removed();

 private:
  int slot_;
};

// Holds stop signals back on the calling thread while it lives, so that
// none comes between a temporary's creation and the note of its name.
class StopSignalsHeld {
 public:
  StopSignalsHeld();
  StopSignalsHeld(const StopSignalsHeld&) = delete;
  StopSignalsHeld& operator=(const StopSignalsHeld&) = delete;
  ~StopSignalsHeld();
};

}  // namespace kestrune
