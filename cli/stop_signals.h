// A conversion interrupted from outside stops the way a failure does: its
// temporary removed, its input untouched, later paths not started. Once its
// output has been renamed into place it finishes instead, removing its
// input, so every path ends converted completely or untouched.
#pragma once

#include <filesystem>

namespace kestrune {

// From here on, the first SIGINT, SIGTERM or SIGHUP (on Windows the
// console's Ctrl-C, Ctrl-Break and close events) is only recorded. A later
// one ends the process at once, after removing the temporary being written;
// while an output is being put in place, later ones are recorded only. A
// signal the process ignores stays ignored.
void catch_stop_signals();

// The signal that asked the program to stop, or 0.
int stop_signal();

// What a later signal finds of the conversion under way.
enum class TemporaryPhase {
  none,        // no temporary: ending at once loses nothing
  writing,     // the temporary must go before the process ends
  committing,  // renamed or being renamed: the file must finish
};

// Notes the phase; `temporary` names the file being written.
void set_temporary_phase(TemporaryPhase phase, const std::filesystem::path& temporary = {});

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
