#include "ui/win32/main_dialog.h"

#include <algorithm>
#include <iterator>
#include <utility>

#include "core/algorithms.h"
#include "core/kestrune.h"
#include "core/messages.h"
#include "core/services.h"
#include "ui/win32/drop.h"
#include "ui/win32/resource_ids.h"
#include "ui/win32/wide_text.h"

namespace kestrune::win32 {
namespace {

// The radio button of `choice`: the buttons of `all` have consecutive ids
// from `first_id`, in the same order.
template <typename Algorithm, std::size_t N>
int radio_id(const Algorithm (&all)[N], Algorithm choice, int first_id) {
  return first_id + static_cast<int>(std::find(all, all + N, choice) - all);
}

// The hint under the password field: the template's one centred text.
HWND find_hint_line(HWND dialog) {
  for (HWND child = GetWindow(dialog, GW_CHILD); child != nullptr;
       child = GetWindow(child, GW_HWNDNEXT)) {
    wchar_t class_name[8]{};
    GetClassNameW(child, class_name, 8);
    if (lstrcmpiW(class_name, L"Static") == 0 &&
        (GetWindowLongW(child, GWL_STYLE) & SS_TYPEMASK) == SS_CENTER)
      return child;
  }
  return nullptr;
}

// The count of waiting files reads longer than the template's hint. The
// hint line takes the dialog's whole width, still centred, and a second
// line in the free space below, should the text wrap.
void make_room_for_the_waiting_count(HWND dialog, HWND hint_line) {
  RECT bounds{};
  GetWindowRect(hint_line, &bounds);
  MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&bounds), 2);
  RECT client{};
  GetClientRect(dialog, &client);
  RECT line{0, 0, 0, 8};
  MapDialogRect(dialog, &line);
  SetWindowPos(hint_line, nullptr, client.left, bounds.top, client.right - client.left,
               bounds.bottom - bounds.top + line.bottom, SWP_NOZORDER | SWP_NOACTIVATE);
}

std::wstring text_of(HWND window) {
  std::wstring text(GetWindowTextLengthW(window) + 1, L'\0');
  text.resize(GetWindowTextW(window, text.data(), static_cast<int>(text.size())));
  return text;
}

}  // namespace

MainDialog::MainDialog(HINSTANCE instance, std::vector<std::filesystem::path> waiting)
    : instance_(instance),
      file_system_(make_native_file_system()),
      env_{*file_system_, native_crypto_service(), front_end_},
      waiting_(std::move(waiting)) {}

INT_PTR MainDialog::run() {
  return DialogBoxParamW(instance_, MAKEINTRESOURCEW(IDD_MAIN_DIALOG), nullptr, procedure,
                         reinterpret_cast<LPARAM>(this));
}

INT_PTR CALLBACK MainDialog::procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_INITDIALOG) {
    auto* dialog = reinterpret_cast<MainDialog*>(lparam);
    SetWindowLongPtrW(window, DWLP_USER, lparam);
    dialog->window_ = window;
    return dialog->initialise();
  }
  auto* dialog = reinterpret_cast<MainDialog*>(GetWindowLongPtrW(window, DWLP_USER));
  return dialog == nullptr ? FALSE : dialog->handle(message, wparam);
}

INT_PTR MainDialog::handle(UINT message, WPARAM wparam) {
  switch (message) {
    case WM_COMMAND: return command(LOWORD(wparam));
    case WM_DROPFILES: drop_files(reinterpret_cast<HDROP>(wparam)); return FALSE;
    default: return FALSE;
  }
}

// TRUE puts the focus on the first tab stop, the password field.
INT_PTR MainDialog::initialise() {
  DragAcceptFiles(window_, TRUE);
  CheckRadioButton(window_, IDC_SHA1, IDC_MD5,
                   radio_id(kAllHashes, kDefaultChoices.hash, IDC_SHA1));
  CheckRadioButton(window_, IDC_DES, IDC_AES256,
                   radio_id(kAllCiphers, kDefaultChoices.cipher, IDC_DES));
  hint_line_ = find_hint_line(window_);
  if (hint_line_ != nullptr) make_room_for_the_waiting_count(window_, hint_line_);
  hint_ = text_of(hint_line_);
  show_waiting_count();
  handover_ =
      std::make_unique<HandoverWindow>(instance_, [this](std::vector<std::filesystem::path> paths) {
        return take_handed_over(std::move(paths));
      });
  return TRUE;
}

// The radio buttons are laid out in the order the choices are listed.
INT_PTR MainDialog::command(int id) {
  if (is_enter(id) && !waiting_.empty()) {
    enter_with_files_waiting();
    return TRUE;
  }
  if (id == IDOK || id == IDCANCEL) {
    if (converting_)
      deferred_.push_back({nullptr, id});
    else
      end(id);
    return TRUE;
  }
  if (id >= IDC_SHA1 && id <= IDC_MD5) env_.choices.set_hash(kAllHashes[id - IDC_SHA1]);
  if (id >= IDC_DES && id <= IDC_AES256) env_.choices.set_cipher(kAllCiphers[id - IDC_DES]);
  return FALSE;
}

// Enter and a click of QUIT both arrive as IDOK. A click (or Space) puts the
// focus on the button first; Enter leaves it where the user was typing.
bool MainDialog::is_enter(int id) const {
  return id == IDOK && GetFocus() != GetDlgItem(window_, IDOK);
}

// A failure message's own message loop serves the dialog, so a drop can
// arrive while an earlier one is still converting; drops share the one
// environment and its blocks, so it waits its turn. Files that wait for the
// password are ahead of it: it joins them.
void MainDialog::drop_files(HDROP drop) {
  if (!waiting_.empty()) {
    std::vector<std::filesystem::path> paths = dropped_paths(drop);
    DragFinish(drop);
    waiting_.insert(waiting_.end(), std::make_move_iterator(paths.begin()),
                    std::make_move_iterator(paths.end()));
    show_waiting_count();
    return;
  }
  if (converting_)
    deferred_.push_back({drop});
  else
    convert_exclusively({drop});
}

void MainDialog::enter_with_files_waiting() {
  if (converting_)
    deferred_.push_back({.convert_waiting = true});
  else
    convert_exclusively({.convert_waiting = true});
}

void MainDialog::convert_exclusively(const DeferredInput& input) {
  converting_ = true;
  deferred_.push_front(input);
  take_deferred_input();
  converting_ = false;
}

void MainDialog::convert_drop(HDROP drop) {
  const std::vector<std::filesystem::path> paths = dropped_paths(drop);
  DragFinish(drop);
  convert(paths);
}

// With the password and the choices of this moment, as a drop would.
void MainDialog::convert_waiting_files() {
  const std::vector<std::filesystem::path> paths = std::exchange(waiting_, {});
  show_waiting_count();
  convert(paths);
}

void MainDialog::convert(std::span<const std::filesystem::path> paths) {
  const SecretU16String password = read_password_field(window_, IDC_PASSWORD);
  dispatch_dropped_files(env_, password, paths);
}

// A QUIT ends the dialog at once; drops that came after it are let go.
void MainDialog::take_deferred_input() {
  while (!deferred_.empty()) {
    const DeferredInput input = deferred_.front();
    deferred_.pop_front();
    if (input.drop != nullptr) {
      convert_drop(input.drop);
      continue;
    }
    if (input.convert_waiting) {
      convert_waiting_files();
      continue;
    }
    for (const DeferredInput& later : deferred_)
      if (later.drop != nullptr) DragFinish(later.drop);
    deferred_.clear();
    end(input.end_id);
  }
}

// Files from another launch wait like the command line's. Refused once the
// dialog is about to close, so the sender opens a window of its own.
bool MainDialog::take_handed_over(std::vector<std::filesystem::path> paths) {
  if (end_is_pending()) return false;
  waiting_.insert(waiting_.end(), std::make_move_iterator(paths.begin()),
                  std::make_move_iterator(paths.end()));
  show_waiting_count();
  SetForegroundWindow(window_);
  return true;
}

bool MainDialog::end_is_pending() const {
  return std::any_of(deferred_.begin(), deferred_.end(), [](const DeferredInput& input) {
    return input.drop == nullptr && !input.convert_waiting;
  });
}

// The hint says how many files wait, and is the template's own when none do.
void MainDialog::show_waiting_count() {
  if (hint_line_ == nullptr) return;
  const std::wstring text =
      waiting_.empty() ? hint_ : widen(waiting_files_message(waiting_.size()));
  SetWindowTextW(hint_line_, text.c_str());
}

// No later launch may hand files to a dialog that is closing.
void MainDialog::end(int id) {
  handover_.reset();
  EndDialog(window_, id);
  PostQuitMessage(0);
}

}  // namespace kestrune::win32
