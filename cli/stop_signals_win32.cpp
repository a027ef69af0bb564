#include <windows.h>

#include <atomic>
#include <csignal>

#include "cli/stop_signals.h"

namespace kestrune {
namespace {

// The console calls its handlers on a thread of their own.
std::atomic<int> g_stop_signal{0};

int signal_of(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT: return SIGINT;
    case CTRL_BREAK_EVENT: return SIGBREAK;
    default: return SIGTERM;  // the console closed, a logoff, a shutdown
  }
}

BOOL WINAPI handle_console_event(DWORD event) {
  int none = 0;
  // FALSE hands a second event to the default handler, which ends the process.
  if (!g_stop_signal.compare_exchange_strong(none, signal_of(event))) return FALSE;
  // After a close, logoff or shutdown the system ends the process as soon
  // as this returns; waiting here lets the conversion stop and the program
  // exit first, within the time the system grants.
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) Sleep(INFINITE);
  return TRUE;
}

}  // namespace

void catch_stop_signals() { SetConsoleCtrlHandler(handle_console_event, TRUE); }

int stop_signal() { return g_stop_signal.load(); }

}  // namespace kestrune
