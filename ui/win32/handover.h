// How a second kestrune.exe in the session gives its files to the dialog
// that is already running: WM_COPYDATA to a hidden window of a class no
// other program (nor another user's Kestrune) uses, owned by the dialog's
// thread.
#pragma once

#include <windows.h>

#include <filesystem>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kestrune::win32 {

// The paths as one message carries them: each followed by a zero unit.
std::wstring encode_handover(std::span<const std::filesystem::path> paths);

// The paths of a message `encode_handover` made; empty names are dropped.
// Nothing when the message is cut (its last path has no ending zero).
std::optional<std::vector<std::filesystem::path>> decode_handover(std::wstring_view message);

// The hidden window, alive from construction to destruction. The receiver
// runs on the window's thread with the paths of each message and says
// whether it took them; a sender is told so.
class HandoverWindow {
 public:
  using Receiver = std::function<bool(std::vector<std::filesystem::path>)>;

  HandoverWindow(HINSTANCE instance, Receiver receiver);
  ~HandoverWindow();
  HandoverWindow(const HandoverWindow&) = delete;
  HandoverWindow& operator=(const HandoverWindow&) = delete;

  // False when the window could not be made: nothing can reach this dialog.
  bool is_open() const { return window_ != nullptr; }

 private:
  static LRESULT CALLBACK procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
  LRESULT receive(const COPYDATASTRUCT& data);

  HINSTANCE instance_;
  Receiver receiver_;
  std::wstring class_name_;
  HWND window_ = nullptr;
};

// The hidden window of the dialog running in this session, or null.
HWND find_handover_window();

// Lets the dialog come to the front and hands it `paths`; true once it has
// taken them. Waits while the dialog's thread is busy converting.
bool send_to_handover_window(HWND handover, std::span<const std::filesystem::path> paths);

}  // namespace kestrune::win32
