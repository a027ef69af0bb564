// The dialog's face for the core: failures as owner-less message boxes with
// one OK button, busy as the wait cursor.
#pragma once

#include "core/front_end.h"

namespace kestrune::win32 {

class MessageBoxFrontEnd final : public FrontEnd {
 public:
  void show_failure(const Outcome& failed) override;
  void set_busy(bool busy) override;
  // The dialog shows no progress; the wait cursor says enough.
  void progress(const std::filesystem::path&, std::uint64_t, std::uint64_t) override {}
};

}  // namespace kestrune::win32
