#include "ui/win32/handover.h"

#include "ui/win32/user_scope.h"

namespace kestrune::win32 {
namespace {

constexpr wchar_t kHandoverClassBase[] = L"Kestrune.Handover.9c4e1f27";
// Marks a message as Kestrune's list of paths, whatever else might be sent.
constexpr ULONG_PTR kPathsTag = 0x4B535450;  // "KSTP"

}  // namespace

std::wstring encode_handover(std::span<const std::filesystem::path> paths) {
  std::wstring message;
  for (const std::filesystem::path& path : paths) {
    message += path.native();
    message += L'\0';
  }
  return message;
}

std::optional<std::vector<std::filesystem::path>> decode_handover(std::wstring_view message) {
  if (!message.empty() && message.back() != L'\0') return std::nullopt;
  std::vector<std::filesystem::path> paths;
  for (std::size_t start = 0; start < message.size();) {
    const std::size_t end = message.find(L'\0', start);
    if (end > start) paths.emplace_back(message.substr(start, end - start));
    start = end + 1;
  }
  return paths;
}

HandoverWindow::HandoverWindow(HINSTANCE instance, Receiver receiver)
    : instance_(instance),
      receiver_(std::move(receiver)),
      class_name_(user_scoped_name(kHandoverClassBase)) {
  WNDCLASSEXW window_class{};
  window_class.cbSize = sizeof window_class;
  window_class.lpfnWndProc = procedure;
  window_class.hInstance = instance_;
  window_class.lpszClassName = class_name_.c_str();
  if (RegisterClassExW(&window_class) == 0) return;
  // Top-level, so FindWindowW sees it; never shown.
  window_ = CreateWindowExW(WS_EX_TOOLWINDOW, class_name_.c_str(), L"", WS_POPUP, 0, 0, 0, 0,
                            nullptr, nullptr, instance_, this);
  if (window_ == nullptr) UnregisterClassW(class_name_.c_str(), instance_);
}

HandoverWindow::~HandoverWindow() {
  if (window_ == nullptr) return;
  DestroyWindow(window_);
  UnregisterClassW(class_name_.c_str(), instance_);
}

LRESULT CALLBACK HandoverWindow::procedure(HWND window, UINT message, WPARAM wparam,
                                           LPARAM lparam) {
  if (message == WM_NCCREATE) {
    const auto* creation = reinterpret_cast<const CREATESTRUCTW*>(lparam);
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(creation->lpCreateParams));
  }
  auto* self = reinterpret_cast<HandoverWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (message == WM_COPYDATA && self != nullptr)
    return self->receive(*reinterpret_cast<const COPYDATASTRUCT*>(lparam));
  return DefWindowProcW(window, message, wparam, lparam);
}

// Anything that is not a whole list of paths is refused, never half taken.
LRESULT HandoverWindow::receive(const COPYDATASTRUCT& data) {
  if (data.dwData != kPathsTag || data.cbData % sizeof(wchar_t) != 0) return FALSE;
  if (data.cbData != 0 && data.lpData == nullptr) return FALSE;
  const std::wstring_view message(static_cast<const wchar_t*>(data.lpData),
                                  data.cbData / sizeof(wchar_t));
  std::optional<std::vector<std::filesystem::path>> paths = decode_handover(message);
  return paths && receiver_(std::move(*paths)) ? TRUE : FALSE;
}

HWND find_handover_window() {
  return FindWindowW(user_scoped_name(kHandoverClassBase).c_str(), nullptr);
}

bool send_to_handover_window(HWND handover, std::span<const std::filesystem::path> paths) {
  std::wstring message = encode_handover(paths);
  COPYDATASTRUCT data{};
  data.dwData = kPathsTag;
  data.cbData = static_cast<DWORD>(message.size() * sizeof(wchar_t));
  data.lpData = message.empty() ? nullptr : message.data();
  DWORD process = 0;
  GetWindowThreadProcessId(handover, &process);
  // Launched by the shell, this process may take the foreground; the
  // dialog may only if it is given leave.
  AllowSetForegroundWindow(process);
  return SendMessageW(handover, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data)) == TRUE;
}

}  // namespace kestrune::win32
