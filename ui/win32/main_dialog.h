// The application's one window: the modal main dialog. It collects the
// password and the two choices, converts dropped files on the UI thread and
// ends the application when it closes. Files given on the command line, or
// handed over by a later launch, wait for the password until Enter.
#pragma once

#include <windows.h>
#include <shellapi.h>

#include <deque>
#include <filesystem>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "core/kestrune.h"
#include "ui/win32/handover.h"
#include "ui/win32/message_box_front_end.h"

namespace kestrune::win32 {

class MainDialog {
 public:
  // `waiting`: the files that wait for the password from the start.
  explicit MainDialog(HINSTANCE instance, std::vector<std::filesystem::path> waiting = {});
  MainDialog(const MainDialog&) = delete;
  MainDialog& operator=(const MainDialog&) = delete;

  // Shows the dialog until QUIT, Enter, Escape or the close box ends it,
  // and posts the quit message (exit code 0) on the way out. Returns the
  // identifier that ended it (IDOK or IDCANCEL), or -1 if it could not open.
  INT_PTR run();

  // What the next file to start is converted with.
  const SelectedChoices& choices() const { return env_.choices; }

 private:
  // A drop, an Enter for the waiting files or a QUIT that arrived while a
  // failure message of an earlier conversion was shown; taken in order once
  // that conversion has finished.
  struct DeferredInput {
    HDROP drop = nullptr;
    int end_id = 0;
    bool convert_waiting = false;
  };

  static INT_PTR CALLBACK procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
  INT_PTR handle(UINT message, WPARAM wparam);
  INT_PTR initialise();
  INT_PTR command(int id);
  bool is_enter(int id) const;
  void drop_files(HDROP drop);
  void enter_with_files_waiting();
  void convert_exclusively(const DeferredInput& input);
  void convert_drop(HDROP drop);
  void convert_waiting_files();
  void convert(std::span<const std::filesystem::path> paths);
  void take_deferred_input();
  bool take_handed_over(std::vector<std::filesystem::path> paths);
  bool end_is_pending() const;
  void show_waiting_count();
  void end(int id);

  HINSTANCE instance_;
  HWND window_ = nullptr;
  MessageBoxFrontEnd front_end_;
  std::unique_ptr<FileSystem> file_system_;
  ConversionEnv env_;
  bool converting_ = false;
  std::deque<DeferredInput> deferred_;
  std::vector<std::filesystem::path> waiting_;
  HWND hint_line_ = nullptr;
  std::wstring hint_;
  std::unique_ptr<HandoverWindow> handover_;
};

}  // namespace kestrune::win32
