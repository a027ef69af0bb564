// What the core needs of a front end (dialog, command line, tests): a way to
// show a failure, the busy indicator and progress. The core shows every
// failure here, once, and also returns it to its caller.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string_view>
#include <system_error>

#include "core/outcome.h"

namespace kestrune {

class FrontEnd {
 public:
  virtual ~FrontEnd() = default;

  // Shows the failure's text under its caption with one OK button and
  // returns when the user has closed it. Called after the failed file has
  // been cleaned up; `failed.cause` is for front ends that can say more.
  virtual void show_failure(const Outcome& failed) = 0;

  // The conversion succeeded, but its input (or another name of the file)
  // still holds what was converted, for `reason`; `cause` is the error
  // behind it, if any. The dialogs stay silent, as the Windows build does.
  virtual void input_kept(std::string_view /*reason*/, std::error_code /*cause*/) {}

  // A failed file's temporary could not be removed: `temporary` holds part
  // or all of the output, readable by its owner only, and `cause` says why
  // it stays. Told after the failure itself; the dialogs stay silent.
  virtual void temporary_left(const std::filesystem::path& /*temporary*/,
                              std::error_code /*cause*/) {}

  // The wait cursor: on while a file converts, off when it has finished.
  virtual void set_busy(bool busy) = 0;

  // `done` of `total` input bytes of `file` converted so far.
  virtual void progress(const std::filesystem::path& file, std::uint64_t done,
                        std::uint64_t total) = 0;

  // Asked between blocks and between files: true abandons the current file
  // as a failure would, silently, and skips the rest of the drop.
  virtual bool cancel_requested() { return false; }
};

}  // namespace kestrune
