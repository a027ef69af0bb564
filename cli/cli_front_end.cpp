#include "cli/cli_front_end.h"

#include <iostream>

#include "cli/command_line.h"
#include "cli/path_checks.h"
#include "cli/stop_signals.h"
#include "core/messages.h"

namespace kestrune {
namespace {

// The system's word for what went wrong, when it gave one.
void end_line(std::error_code cause) {
  if (cause) std::cerr << " (" << cause.message() << ')';
  std::cerr << '\n';
}

}  // namespace

// An output's name taken while it was written reads as one taken before.
void CliFrontEnd::show_failure(const Outcome& failed) {
  if (failed.failure.text == kOutputExists.text) return note(output_exists_line(current_path_));
  progress_line_.clear();
  std::cerr << printable_path(current_path_) << ": " << failed.failure.caption << ": "
            << failed.failure.text;
  end_line(failed.cause);
}

void CliFrontEnd::temporary_left(const std::filesystem::path& temporary, std::error_code cause) {
  progress_line_.clear();
  std::cerr << printable_path(current_path_) << ": left " << printable_path(temporary)
            << ": remove it";
  end_line(cause);
}

void CliFrontEnd::input_kept(std::string_view reason, std::error_code cause) {
  if (quiet_) return;
  progress_line_.clear();
  std::cerr << printable_path(current_path_) << ": kept: " << reason;
  end_line(cause);
}

void CliFrontEnd::set_busy(bool busy) {
  if (!busy) progress_line_.clear();
}

void CliFrontEnd::progress(const std::filesystem::path&, std::uint64_t done, std::uint64_t total) {
  bytes_done_ = done;
  progress_line_.update(done, total);
}

void CliFrontEnd::note(const std::string& line) {
  progress_line_.clear();
  std::cerr << line << '\n';
}

bool CliFrontEnd::cancel_requested() { return stop_signal() != 0; }

void CliFrontEnd::start_file(const std::filesystem::path& path) {
  current_path_ = path;
  bytes_done_ = 0;
  progress_line_.start(printable_path(path.filename()));
}

}  // namespace kestrune
