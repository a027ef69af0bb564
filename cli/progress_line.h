// What kestrune-cli tells a person watching: one line per file with -v, and
// a line redrawn in place while a long file converts on a terminal.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>

namespace kestrune {

// "512 B", "12.4 MiB", "1.1 GiB": binary units, one decimal past bytes.
std::string format_size(std::uint64_t bytes);

// "report.txt -> report.txt.enc (12.4 MiB, 1.1 GiB/s)".
std::string conversion_summary(const std::string& input, const std::string& output,
                               std::uint64_t bytes, double seconds);

// "big.iso  45%  450.0 MiB of 1.0 GiB  1.1 GiB/s  0:03 left".
std::string progress_text(const std::string& name, std::uint64_t done, std::uint64_t total,
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

}  // namespace kestrune
