// How kestrune-cli shows what the core tells it: one line on standard error
// per failure, left temporary or kept input, and the progress line.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>

#include "cli/progress_line.h"
#include "core/front_end.h"

namespace kestrune {

// Prints each failure, and each input that still holds its contents unless
// told to be quiet, with the path it belongs to: one line each. Shows the
// progress line while a file converts.
//
// One of many converting at once holds its lines instead, for the caller to
// print in the order of the paths, and counts its bytes into the batch's line.
class CliFrontEnd final : public FrontEnd {
 public:
  CliFrontEnd(bool quiet, bool show_progress) : quiet_(quiet), progress_line_(show_progress) {}
  CliFrontEnd(bool quiet, BatchProgressLine& batch)
      : quiet_(quiet), progress_line_(false), batch_(&batch) {}

  void show_failure(const Outcome& failed) override;
  void temporary_left(const std::filesystem::path& temporary, std::error_code cause) override;
  void input_kept(std::string_view reason, std::error_code cause) override;
  void set_busy(bool busy) override;
  void progress(const std::filesystem::path&, std::uint64_t done, std::uint64_t total) override;
  // The core stops the file under way when this says so.
  bool cancel_requested() override;

  void start_file(const std::filesystem::path& path);
  // A line of its own about the file under way (the -v lines).
  void note(const std::string& line);
  // What the file under way has converted so far, and for how long.
  std::uint64_t bytes_done() const { return bytes_done_; }
  double seconds() const { return progress_line_.seconds_since_start(); }
  // The lines held since the last call (in a batch; none otherwise).
  std::string take_lines();

 private:
  void print_line(const std::string& line);

  bool quiet_;
  ProgressLine progress_line_;
  BatchProgressLine* batch_ = nullptr;
  std::string held_lines_;
  std::filesystem::path current_path_;
  std::uint64_t bytes_done_ = 0;
};

}  // namespace kestrune
