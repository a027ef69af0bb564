#include "cli/progress_line.h"

#include <array>
#include <cmath>
#include <iostream>

namespace kestrune {
namespace {

constexpr auto kQuietStart = std::chrono::seconds(1);
// With the figures (at most 60 columns) the line fits 80 columns: a line
// that wraps cannot be redrawn in place.
constexpr std::size_t kLongestShownName = 19;
// Often enough to look alive, seldom enough to cost nothing.
constexpr auto kRedrawInterval = std::chrono::milliseconds(200);

std::string fixed_one_decimal(double value) {
  std::array<char, 32> text{};
  std::snprintf(text.data(), text.size(), "%.1f", value);
  return text.data();
}

std::string format_duration(double seconds) {
  const auto whole = static_cast<long long>(std::llround(seconds));
  std::array<char, 32> text{};
  if (whole >= 3600)
    std::snprintf(text.data(), text.size(), "%lld:%02lld:%02lld", whole / 3600, whole / 60 % 60,
                  whole % 60);
  else
    std::snprintf(text.data(), text.size(), "%lld:%02lld", whole / 60, whole % 60);
  return text.data();
}

// The end of a long name (its extension tells most), cut between UTF-8
// characters.
std::string shortened_name(const std::string& name) {
  if (name.size() <= kLongestShownName) return name;
  std::size_t from = name.size() - (kLongestShownName - 3);
  while (from < name.size() && (static_cast<unsigned char>(name[from]) & 0xC0) == 0x80) ++from;
  return "..." + name.substr(from);
}

std::string format_rate(std::uint64_t bytes, double seconds) {
  if (seconds <= 0) return "-";
  return format_size(static_cast<std::uint64_t>(static_cast<double>(bytes) / seconds)) + "/s";
}

}  // namespace

std::string format_size(std::uint64_t bytes) {
  static constexpr std::array<const char*, 6> kUnits{"KiB", "MiB", "GiB", "TiB", "PiB", "EiB"};
  if (bytes < 1024) return std::to_string(bytes) + " B";
  double value = static_cast<double>(bytes) / 1024;
  std::size_t unit = 0;
  // Round first, so 1023.96 KiB shows as 1.0 MiB rather than 1024.0 KiB.
  while (std::round(value * 10) / 10 >= 1024 && unit + 1 < kUnits.size()) {
    value /= 1024;
    ++unit;
  }
  return fixed_one_decimal(value) + " " + kUnits[unit];
}

std::string conversion_summary(const std::string& input, const std::string& output,
                               std::uint64_t bytes, double seconds) {
  return input + " -> " + output + " (" + format_size(bytes) + ", " + format_rate(bytes, seconds) +
         ")";
}

std::string progress_text(const std::string& name, std::uint64_t done, std::uint64_t total,
                          double seconds) {
  const unsigned percent = total == 0 ? 100 : static_cast<unsigned>(done * 100 / total);
  std::string text = name + "  " + std::to_string(percent) + "%  " + format_size(done) + " of " +
                     format_size(total) + "  " + format_rate(done, seconds);
  if (done > 0 && done < total && seconds > 0) {
    const double left = seconds * static_cast<double>(total - done) / static_cast<double>(done);
    text += "  " + format_duration(left) + " left";
  }
  return text;
}

std::string batch_progress_text(std::size_t files_done, std::size_t files, std::uint64_t bytes,
                                double seconds) {
  return std::to_string(files_done) + " of " + std::to_string(files) + " files  " +
         format_size(bytes) + "  " + format_rate(bytes, seconds);
}

void ProgressLine::start(const std::string& name) {
  clear();
  name_ = shortened_name(name);
  started_ = Clock::now();
}

void ProgressLine::update(std::uint64_t done, std::uint64_t total) {
  redraw([&] { return progress_text(name_, done, total, seconds_since_start()); });
}

void ProgressLine::redraw(const std::function<std::string()>& make_text) {
  if (!enabled_) return;
  const Clock::time_point now = Clock::now();
  if (now - started_ < kQuietStart || (showing_ && now - drawn_ < kRedrawInterval)) return;
  const std::string text = make_text();
  // Erase to the line's end, so a shorter text leaves nothing of the last.
  std::fprintf(stderr, "\r%s\033[K", text.c_str());
  std::fflush(stderr);
  showing_ = true;
  drawn_ = now;
}

void ProgressLine::clear() {
  if (!showing_) return;
  std::fputs("\r\033[K", stderr);
  std::fflush(stderr);
  showing_ = false;
}

double ProgressLine::seconds_since_start() const {
  return std::chrono::duration<double>(Clock::now() - started_).count();
}

BatchProgressLine::BatchProgressLine(bool enabled, std::size_t files)
    : line_(enabled), files_(files) {
  line_.start({});
}

void BatchProgressLine::add_bytes(std::uint64_t bytes) {
  const std::lock_guard lock(mutex_);
  bytes_ += bytes;
  redraw();
}

void BatchProgressLine::file_done() {
  const std::lock_guard lock(mutex_);
  ++files_done_;
  redraw();
}

void BatchProgressLine::print(std::string_view lines) {
  if (lines.empty()) return;
  const std::lock_guard lock(mutex_);
  line_.clear();
  std::cerr << lines;
}

void BatchProgressLine::clear() {
  const std::lock_guard lock(mutex_);
  line_.clear();
}

void BatchProgressLine::redraw() {
  line_.redraw([this] {
    return batch_progress_text(files_done_, files_, bytes_, line_.seconds_since_start());
  });
}

}  // namespace kestrune
