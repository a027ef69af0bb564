#include <windows.h>

#include <atomic>
#include <csignal>

#include "cli/stop_signals.h"

namespace kestrune {
namespace {

// The console calls its handlers on a thread of their own.
std::atomic<int> g_stop_signal{0};
std::atomic<unsigned> g_temporaries{0};  // conversions that have one

int signal_of(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT: return SIGINT;
    case CTRL_BREAK_EVENT: return SIGBREAK;
    default: return SIGTERM;  // the console closed, a logoff, a shutdown
  }
}

BOOL WINAPI handle_console_event(DWORD event) {
  int none = 0;
  // FALSE hands a later event to the default handler, which ends the
  // process. A temporary is open to no one else, so nothing here could
  // remove it: while there is one, each conversion under way stops (or
  // finishes, once renamed) at its own pace instead.
  if (!g_stop_signal.compare_exchange_strong(none, signal_of(event)))
    return g_temporaries.load() == 0 ? FALSE : TRUE;
  // After a close, logoff or shutdown the system ends the process as soon
  // as this returns; waiting here lets the conversion stop and the program
  // exit first, within the time the system grants.
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) Sleep(INFINITE);
  return TRUE;
}

}  // namespace

void catch_stop_signals() { SetConsoleCtrlHandler(handle_console_event, TRUE); }

int stop_signal() { return g_stop_signal.load(); }

// Here every phase of a temporary holds a later event off alike: what
// counts is whether there is one.
FollowedTemporary::FollowedTemporary() : slot_(0) { ++g_temporaries; }

FollowedTemporary::~FollowedTemporary() {
  if (slot_ >= 0) --g_temporaries;
}

void FollowedTemporary::writing(const std::filesystem::path&) {}

void FollowedTemporary::committing() {}

void FollowedTemporary::removed() {
  --g_temporaries;
  slot_ = -1;
}

// The console's events come on a thread of their own and cannot be held back.
StopSignalsHeld::StopSignalsHeld() = default;
StopSignalsHeld::~StopSignalsHeld() = default;

}  // namespace kestrune
