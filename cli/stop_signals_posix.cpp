#include "cli/stop_signals.h"

#include <atomic>
#include <csignal>

namespace kestrune {
namespace {

constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};

// A handler reaches nothing but statics, and only lock-free atomics safely.
std::atomic<int> g_stop_signal{0};
static_assert(std::atomic<int>::is_always_lock_free);

void record_stop(int signal) {
  g_stop_signal.store(signal);
  struct sigaction fatal {};
  fatal.sa_handler = SIG_DFL;
  sigemptyset(&fatal.sa_mask);
  for (const int stop : kStopSignals) sigaction(stop, &fatal, nullptr);
}

}  // namespace

void catch_stop_signals() {
  struct sigaction action {};
  action.sa_handler = record_stop;
  action.sa_flags = SA_RESTART;  // reads and writes go on; the core asks between blocks
  sigemptyset(&action.sa_mask);
  for (const int signal : kStopSignals) {
    struct sigaction previous {};
    sigaction(signal, nullptr, &previous);
    if (previous.sa_handler != SIG_IGN) sigaction(signal, &action, nullptr);
  }
}

int stop_signal() { return g_stop_signal.load(); }

}  // namespace kestrune
