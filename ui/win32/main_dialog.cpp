#include "ui/win32/main_dialog.h"

#include <algorithm>

#include "core/algorithms.h"
#include "core/kestrune.h"
#include "core/services.h"
#include "ui/win32/drop.h"
#include "ui/win32/resource_ids.h"

namespace kestrune::win32 {
namespace {

// The radio button of `choice`: the buttons of `all` have consecutive ids
// from `first_id`, in the same order.
template <typename Algorithm, std::size_t N>
int radio_id(const Algorithm (&all)[N], Algorithm choice, int first_id) {
  return first_id + static_cast<int>(std::find(all, all + N, choice) - all);
}

}  // namespace

MainDialog::MainDialog(HINSTANCE instance)
    : instance_(instance),
      file_system_(make_native_file_system()),
      env_{*file_system_, native_crypto_service(), front_end_} {}

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
  return TRUE;
}

// The radio buttons are laid out in the order the choices are listed.
INT_PTR MainDialog::command(int id) {
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

// A failure message's own message loop serves the dialog, so a drop can
// arrive while an earlier one is still converting; drops share the one
// environment and its blocks, so it waits its turn.
void MainDialog::drop_files(HDROP drop) {
  if (converting_) {
    deferred_.push_back({drop, 0});
    return;
  }
  converting_ = true;
  convert_drop(drop);
  take_deferred_input();
  converting_ = false;
}

void MainDialog::convert_drop(HDROP drop) {
  const SecretU16String password = read_password_field(window_, IDC_PASSWORD);
  const std::vector<std::filesystem::path> paths = dropped_paths(drop);
  dispatch_dropped_files(env_, password, paths);
  DragFinish(drop);
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
    for (const DeferredInput& later : deferred_)
      if (later.drop != nullptr) DragFinish(later.drop);
    deferred_.clear();
    end(input.end_id);
  }
}

void MainDialog::end(int id) {
  EndDialog(window_, id);
  PostQuitMessage(0);
}

}  // namespace kestrune::win32
