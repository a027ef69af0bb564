// The application's one window: the modal main dialog. It collects the
// password and the two choices, converts dropped files on the UI thread and
// ends the application when it closes.
#pragma once

#include <windows.h>
#include <shellapi.h>

#include <deque>
#include <memory>

#include "core/kestrune.h"
#include "ui/win32/message_box_front_end.h"

namespace kestrune::win32 {

class MainDialog {
 public:
  explicit MainDialog(HINSTANCE instance);
  MainDialog(const MainDialog&) = delete;
  MainDialog& operator=(const MainDialog&) = delete;

  // Shows the dialog until QUIT, Enter, Escape or the close box ends it,
  // and posts the quit message (exit code 0) on the way out. Returns the
  // identifier that ended it (IDOK or IDCANCEL), or -1 if it could not open.
  INT_PTR run();

  // What the next file to start is converted with.
  const SelectedChoices& choices() const { return env_.choices; }

 private:
  // A drop or a QUIT that arrived while a failure message of an earlier
  // drop was shown; taken in order once that drop has finished.
  struct DeferredInput {
    HDROP drop = nullptr;
    int end_id = 0;
  };

  static INT_PTR CALLBACK procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
  INT_PTR handle(UINT message, WPARAM wparam);
  INT_PTR initialise();
  INT_PTR command(int id);
  void drop_files(HDROP drop);
  void convert_drop(HDROP drop);
  void take_deferred_input();
  void end(int id);

  HINSTANCE instance_;
  HWND window_ = nullptr;
  MessageBoxFrontEnd front_end_;
  std::unique_ptr<FileSystem> file_system_;
  ConversionEnv env_;
  bool converting_ = false;
  std::deque<DeferredInput> deferred_;
};

}  // namespace kestrune::win32
