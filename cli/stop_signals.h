// A conversion interrupted from outside stops the way a failure does: its
// temporary removed, its input untouched, later paths not started.
#pragma once

namespace kestrune {

// From here on, the first SIGINT, SIGTERM or SIGHUP (on Windows the
// console's Ctrl-C, Ctrl-Break and close events) is only recorded; a second
// one ends the process at once. A signal the process ignores stays ignored.
void catch_stop_signals();

// The signal that asked the program to stop, or 0.
int stop_signal();

}  // namespace kestrune
