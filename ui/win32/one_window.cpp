#include "ui/win32/one_window.h"

#include "ui/win32/handover.h"
#include "ui/win32/user_scope.h"

namespace kestrune::win32 {
namespace {

// "Local\" is the namespace of the session the process runs in; the name
// carries the user, as another user may run programs in the same session.
constexpr wchar_t kDialogMutexBase[] = L"Local\\Kestrune.Dialog.9c4e1f27";

}  // namespace

SessionDialogLock::SessionDialogLock()
    : mutex_(CreateMutexW(nullptr, FALSE, user_scoped_name(kDialogMutexBase).c_str())) {}

SessionDialogLock::~SessionDialogLock() {
  if (held_) ReleaseMutex(mutex_);
  if (mutex_ != nullptr) CloseHandle(mutex_);
}

// An abandoned claim (its dialog crashed) passes to the next launch.
bool SessionDialogLock::take(std::chrono::milliseconds wait) {
  if (mutex_ == nullptr || held_) return true;
  const DWORD result = WaitForSingleObject(mutex_, static_cast<DWORD>(wait.count()));
  held_ = result == WAIT_OBJECT_0 || result == WAIT_ABANDONED;
  return held_;
}

// The first launch takes the claim at once. A later one may find the claim
// held before its holder's window exists, or after it has gone while the
// dialog closes: it asks again until one of the two answers.
bool hand_over_to_running_dialog(SessionDialogLock& lock,
                                 std::span<const std::filesystem::path> paths,
                                 std::chrono::milliseconds patience) {
  const auto deadline = std::chrono::steady_clock::now() + patience;
  std::chrono::milliseconds wait{0};
  while (!lock.take(wait)) {
    const HWND handover = find_handover_window();
    if (handover != nullptr && send_to_handover_window(handover, paths)) return true;
    if (std::chrono::steady_clock::now() > deadline) return false;
    wait = std::chrono::milliseconds(50);
  }
  return false;
}

}  // namespace kestrune::win32
