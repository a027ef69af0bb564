#include "cli/stop_signals.h"

#include <fcntl.h>
#include <pthread.h>
#include <sched.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <climits>
#include <csignal>
#include <cstring>

namespace kestrune {
namespace {

constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};

// Where a conversion's temporary stands. A later signal seals every slot
// before it ends the process, so that no temporary is created or renamed
// behind its back; a sealed slot stays as it is until the signal lets go.
enum class SlotState {
  free,
  creating,    // taken; no name noted: its conversion removes what it made
  writing,     // the temporary must go before the process ends
  committing,  // renamed or being renamed: the file must finish
  sealed_free,
  sealed_writing,
};

// The folder and name are written by the slot's holder while it is
// `creating`, and read by a signal only once it has sealed it `writing`.
struct Slot {
  std::atomic<SlotState> state{SlotState::free};
  int folder = -1;
  char name[NAME_MAX + 1];
};

// A handler reaches nothing but statics, and only lock-free atomics safely.
std::atomic<int> g_stop_signal{0};
std::atomic<bool> g_handling{false};  // threads that take signals may take two at once
std::array<Slot, kMostFollowedTemporaries> g_slots;
static_assert(std::atomic<int>::is_always_lock_free);
static_assert(std::atomic<bool>::is_always_lock_free);
static_assert(std::atomic<SlotState>::is_always_lock_free);

// Ends the process as `signal` would have, once the handler returns.
void end_by(int signal) {
  struct sigaction fatal {};
  fatal.sa_handler = SIG_DFL;
  sigemptyset(&fatal.sa_mask);
  sigaction(signal, &fatal, nullptr);
  raise(signal);
}

// False when the slot's conversion must go on: it is creating or renaming.
bool seal(Slot& slot) {
  for (;;) {
    SlotState state = slot.state.load();
    if (state == SlotState::free &&
        slot.state.compare_exchange_strong(state, SlotState::sealed_free))
      return true;
    if (state == SlotState::writing &&
        slot.state.compare_exchange_strong(state, SlotState::sealed_writing))
      return true;
    if (state == SlotState::creating || state == SlotState::committing) return false;
  }
}

void unseal(Slot& slot) {
  const SlotState state = slot.state.load();
  if (state == SlotState::sealed_free) slot.state.store(SlotState::free);
  if (state == SlotState::sealed_writing) slot.state.store(SlotState::writing);
}

// Once every slot is sealed at the same time, nothing can change them.
bool seal_every_slot() {
  for (Slot& slot : g_slots) {
    if (seal(slot)) continue;
    for (Slot& sealed : g_slots) unseal(sealed);
    return false;
  }
  return true;
}

void on_stop_signal(int signal) {
  int none = 0;
  if (g_stop_signal.compare_exchange_strong(none, signal)) return;
  if (g_handling.exchange(true)) return;
  if (seal_every_slot()) {
    for (const Slot& slot : g_slots)
      if (slot.state.load() == SlotState::sealed_writing) unlinkat(slot.folder, slot.name, 0);
    end_by(signal);
  }
  g_handling.store(false);
}

// Moves the slot on from whatever its holder left it in, once no signal
// holds it sealed.
void move_slot(Slot& slot, SlotState next) {
  for (;;) {
    SlotState state = slot.state.load();
    if (state == SlotState::sealed_writing) {
      sched_yield();
      continue;
    }
    if (slot.state.compare_exchange_strong(state, next)) return;
  }
}

int take_free_slot() {
  for (;;) {
    for (std::size_t index = 0; index < g_slots.size(); ++index) {
      SlotState free = SlotState::free;
      if (g_slots[index].state.compare_exchange_strong(free, SlotState::creating)) {
        g_slots[index].folder = -1;
        return static_cast<int>(index);
      }
    }
    sched_yield();  // sealed by a signal that is about to let go or end
  }
}

void free_slot(int index) {
  Slot& slot = g_slots[static_cast<std::size_t>(index)];
  const int folder = slot.folder;
  move_slot(slot, SlotState::free);
  if (folder >= 0) ::close(folder);
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
  action.sa_mask = stop_signal_set();  // one handler at a time on each thread
  for (const int signal : kStopSignals) {
    struct sigaction previous {};
    sigaction(signal, nullptr, &previous);
    if (previous.sa_handler != SIG_IGN) sigaction(signal, &action, nullptr);
  }
}

int stop_signal() { return g_stop_signal.load(); }

FollowedTemporary::FollowedTemporary() : slot_(take_free_slot()) {}

FollowedTemporary::~FollowedTemporary() {
  if (slot_ >= 0) free_slot(slot_);
}

// Holds the temporary's folder open, so a signal can remove it by name
// without a path.
void FollowedTemporary::writing(const std::filesystem::path& temporary) {
  Slot& slot = g_slots[static_cast<std::size_t>(slot_)];
  const std::string name = temporary.filename().native();
  if (name.size() > NAME_MAX) return;
  const std::filesystem::path parent = temporary.parent_path();
  slot.folder = ::open(parent.empty() ? "." : parent.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  if (slot.folder < 0) return;
  std::memcpy(slot.name, name.c_str(), name.size() + 1);
  slot.state.store(SlotState::writing);
}

void FollowedTemporary::committing() {
  move_slot(g_slots[static_cast<std::size_t>(slot_)], SlotState::committing);
}

void FollowedTemporary::removed() {
  free_slot(slot_);
  slot_ = -1;
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
