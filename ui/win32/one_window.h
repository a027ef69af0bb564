// One Kestrune window per session: the first kestrune.exe shows the
// dialog, every later one hands its files to it and ends.
#pragma once

#include <windows.h>

#include <chrono>
#include <filesystem>
#include <span>

namespace kestrune::win32 {

// The session's claim to show the dialog: a named mutex in the session's
// own namespace, held from the moment it is taken to destruction, so a
// launch that finds no window waits for the dialog to end rather than open
// a second one.
class SessionDialogLock {
 public:
  SessionDialogLock();
  ~SessionDialogLock();
  SessionDialogLock(const SessionDialogLock&) = delete;
  SessionDialogLock& operator=(const SessionDialogLock&) = delete;

  // True once this process holds the claim, within `wait`; also true when
  // no mutex could be made, since a window of its own then loses nothing.
  bool take(std::chrono::milliseconds wait);

 private:
  HANDLE mutex_ = nullptr;
  bool held_ = false;
};

// True when the dialog already running in this session took `paths` (this
// process then just ends); false when this process holds `lock` and must
// show the dialog itself, or when no running dialog answered for `patience`.
bool hand_over_to_running_dialog(SessionDialogLock& lock,
                                 std::span<const std::filesystem::path> paths,
                                 std::chrono::milliseconds patience = std::chrono::seconds(30));

}  // namespace kestrune::win32
