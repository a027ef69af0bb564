#include "password_prompt.h"

#include <istream>

// Windows asks on its console instead: password_prompt_win32.cpp.
#ifndef _WIN32
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#endif

namespace kestrune {
namespace {

void strip_line_ending(std::string& line) {
  if (!line.empty() && line.back() == '\n') line.pop_back();
  if (!line.empty() && line.back() == '\r') line.pop_back();
}

#ifndef _WIN32
// Restores the terminal's echo on every path, including a failed read.
class EchoOff {
 public:
  explicit EchoOff(int fd) : fd_(fd) {
    if (tcgetattr(fd_, &saved_) != 0) return;
    termios quiet = saved_;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    // TCSANOW keeps what was typed ahead of the prompt.
    active_ = tcsetattr(fd_, TCSANOW, &quiet) == 0;
  }
  EchoOff(const EchoOff&) = delete;
  EchoOff& operator=(const EchoOff&) = delete;
  ~EchoOff() {
    if (active_) tcsetattr(fd_, TCSANOW, &saved_);
  }

 private:
  int fd_;
  termios saved_{};
  bool active_ = false;
};

#endif

}  // namespace

#ifndef _WIN32
std::optional<std::string> prompt_without_echo(const char* prompt) {
  FILE* terminal = std::fopen("/dev/tty", "r+");
  if (terminal == nullptr) return std::nullopt;
  std::optional<std::string> line;
  {
    EchoOff echo_off(fileno(terminal));
    std::fputs(prompt, terminal);
    std::fflush(terminal);
    std::string text;
    int c = 0;
    while ((c = std::fgetc(terminal)) != EOF && c != '\n') text.push_back(static_cast<char>(c));
    if (c == '\n' || !text.empty()) line = std::move(text);
    std::fputs("\n", terminal);
  }
  std::fclose(terminal);
  if (line) strip_line_ending(*line);
  return line;
}

#endif

std::optional<std::string> read_first_line(std::istream& in) {
  std::string line;
  if (!std::getline(in, line) && line.empty()) return std::nullopt;
  strip_line_ending(line);
  return line;
}

}  // namespace kestrune
