#include "cli/cli_front_end.h"

#include <iostream>

#include "cli/command_line.h"
#include "cli/path_checks.h"
#include "cli/stop_signals.h"
#include "core/messages.h"

namespace kestrune {
namespace {

// The system's word for what went wrong, when it gave one.
std::string cause_text(std::error_code cause) {
  return cause ? " (" + cause.message() + ')' : std::string();
}

}  // namespace

// An output's name taken while it was written reads as one taken before.
void CliFrontEnd::show_failure(const Outcome& failed) {
  if (failed.failure.text == kOutputExists.text) return note(output_exists_line(current_path_));
  print_line(printable_path(current_path_) + ": " + std::string(failed.failure.caption) + ": " +
             std::string(failed.failure.text) + cause_text(failed.cause));
}

void CliFrontEnd::temporary_left(const std::filesystem::path& temporary, std::error_code cause) {
  print_line(printable_path(current_path_) + ": left " + printable_path(temporary) +
             ": remove it" + cause_text(cause));
}

void CliFrontEnd::input_kept(std::string_view reason, std::error_code cause) {
  if (quiet_) return;
  print_line(printable_path(current_path_) + ": kept: " + std::string(reason) + cause_text(cause));
}

void CliFrontEnd::set_busy(bool busy) {
  if (!busy) progress_line_.clear();
}

void CliFrontEnd::progress(const std::filesystem::path&, std::uint64_t done, std::uint64_t total) {
  if (batch_ != nullptr && done > bytes_done_) batch_->add_bytes(done - bytes_done_);
  bytes_done_ = done;
  progress_line_.update(done, total);
}

void CliFrontEnd::note(const std::string& line) { print_line(line); }

std::string CliFrontEnd::take_lines() {
  std::string taken;
  taken.swap(held_lines_);
  return taken;
}

void CliFrontEnd::print_line(const std::string& line) {
  if (batch_ != nullptr) {
    held_lines_ += line;
    held_lines_ += '\n';
    return;
  }
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
