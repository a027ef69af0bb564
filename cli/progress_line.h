// What kestrune-cli tells a person watching: one line per file with -v, and
// a line redrawn in place while a long file converts on a terminal.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>

namespace kestrune {

// "512 B", "12.4 MiB", "1.1 GiB": binary units, one decimal past bytes.
std::string format_size(std::uint64_t bytes);

// "report.txt -> report.txt.enc (12.4 MiB, 1.1 GiB/s)".
std::string conversion_summary(const std::string& input, const std::string& output,
                               std::uint64_t bytes, double seconds);

// "big.iso  45%  450.0 MiB of 1.0 GiB  1.1 GiB/s  0:03 left".
std::string progress_text(const std::string& name, std::uint64_t done, std::uint64_t total,
                          double seconds);

// "37 of 1000 files  45.0 MiB  12.3 MiB/s".
std::string batch_progress_text(std::size_t files_done, std::size_t files, std::uint64_t bytes,
                                double seconds);

// True when standard error is a terminal that can redraw a line in place
// (on Windows, a console that takes the escape sequences).
bool stderr_redraws_in_place();

// The line redrawn in place on standard error. It stays away until a file
// has taken about a second, so short files leave no flicker, and it is
// always erased before anything else is printed.
class ProgressLine {
 public:
  using Clock = std::chrono::steady_clock;

  explicit ProgressLine(bool enabled) : enabled_(enabled) {}
  ProgressLine(const ProgressLine&) = delete;
  ProgressLine& operator=(const ProgressLine&) = delete;
  ~ProgressLine() { clear(); }

  void start(const std::string& name);
  void update(std::uint64_t done, std::uint64_t total);
  // Draws what `text` makes, when it is time to.
  void redraw(const std::function<std::string()>& text);
  // Erases the line if it is showing.
  void clear();
  double seconds_since_start() const;

 private:
  bool enabled_;
  bool showing_ = false;
  std::string name_;
  Clock::time_point started_{};
  Clock::time_point drawn_{};
};

// The line for many files converting at once, and the one way onto standard
// error while they do, so that no line is printed into the middle of it.
// Every member may be called from any thread.
class BatchProgressLine {
 public:
  BatchProgressLine(bool enabled, std::size_t files);

  void add_bytes(std::uint64_t bytes);
  void file_done();
  // Prints whole lines above the progress line.
  void print(std::string_view lines);
  void clear();

 private:
  void redraw();  // with mutex_ held

  std::mutex mutex_;
  ProgressLine line_;
  std::size_t files_;
  std::size_t files_done_ = 0;
  std::uint64_t bytes_ = 0;
};

}  // namespace kestrune
