#include "cli/stop_signals.h"

#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>

#include <atomic>
#include <climits>
#include <csignal>
#include <cstring>

namespace kestrune {
namespace {

constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};

// A handler reaches nothing but statics, and only lock-free atomics safely.
// The temporary's folder and name are written before the phase says
// `writing`, and read by the handler only after it has seen that.
std::atomic<int> g_stop_signal{0};
std::atomic<TemporaryPhase> g_phase{TemporaryPhase::none};
static_assert(std::atomic<int>::is_always_lock_free);
static_assert(std::atomic<TemporaryPhase>::is_always_lock_free);
int g_temporary_folder = -1;
char g_temporary_name[NAME_MAX + 1];

// Ends the process as `signal` would have, once the handler returns.
void end_by(int signal) {
  struct sigaction fatal {};
  fatal.sa_handler = SIG_DFL;
  sigemptyset(&fatal.sa_mask);
  sigaction(signal, &fatal, nullptr);
  raise(signal);
}

void on_stop_signal(int signal) {
  int none = 0;
  if (g_stop_signal.compare_exchange_strong(none, signal)) return;
  const TemporaryPhase phase = g_phase.load();
  if (phase == TemporaryPhase::committing) return;
  if (phase == TemporaryPhase::writing) unlinkat(g_temporary_folder, g_temporary_name, 0);
  end_by(signal);
}

void forget_temporary() {
  g_phase.store(TemporaryPhase::none);
  if (g_temporary_folder >= 0) ::close(g_temporary_folder);
  g_temporary_folder = -1;
}

// Holds the temporary's folder open, so a signal can remove it by name
// without a path; one too long to note is left to the conversion.
void note_temporary(const std::filesystem::path& temporary) {
  forget_temporary();
  const std::string name = temporary.filename().native();
  if (name.size() > NAME_MAX) return;
  const std::filesystem::path parent = temporary.parent_path();
  g_temporary_folder =
      ::open(parent.empty() ? "." : parent.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  if (g_temporary_folder < 0) return;
  std::memcpy(g_temporary_name, name.c_str(), name.size() + 1);
  g_phase.store(TemporaryPhase::writing);
}

sigset_t stop_signal_set() {
  sigset_t set;
  sigemptyset(&set);
  for (const int signal : kStopSignals) sigaddset(&set, signal);
  return set;
}

}  // namespace

void catch_stop_signals() {
  struct sigaction action {};
  action.sa_handler = on_stop_signal;
  action.sa_flags = SA_RESTART;        // reads and writes go on; the core asks between blocks
  action.sa_mask = stop_signal_set();  // one handler at a time
  for (const int signal : kStopSignals) {
    struct sigaction previous {};
    sigaction(signal, nullptr, &previous);
    if (previous.sa_handler != SIG_IGN) sigaction(signal, &action, nullptr);
  }
}

int stop_signal() { return g_stop_signal.load(); }

void set_temporary_phase(TemporaryPhase phase, const std::filesystem::path& temporary) {
  if (phase == TemporaryPhase::writing)
    note_temporary(temporary);
  else if (phase == TemporaryPhase::none)
    forget_temporary();
  else
    g_phase.store(phase);
}

StopSignalsHeld::StopSignalsHeld() {
  const sigset_t set = stop_signal_set();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

StopSignalsHeld::~StopSignalsHeld() {
  const sigset_t set = stop_signal_set();
  pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
}

}  // namespace kestrune
