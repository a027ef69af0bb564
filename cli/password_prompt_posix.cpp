#include "cli/password_prompt.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <iterator>

namespace kestrune {
namespace {

int read_byte(int fd, char& byte) {
  ssize_t got = 0;
  do {
    got = read(fd, &byte, 1);
  } while (got < 0 && errno == EINTR);
  return static_cast<int>(got);
}

constexpr int kPromptSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGTSTP, SIGCONT};

// What the prompt's signal handlers need: a handler reaches nothing but
// statics. One prompt runs at a time.
struct PromptTerminal {
  int fd = -1;
  termios saved{};
  termios quiet{};
  struct sigaction previous[std::size(kPromptSignals)]{};
};
PromptTerminal g_prompt;

void handle_prompt_signal(int signal);

void catch_prompt_signal(int signal) {
  struct sigaction action {};
  action.sa_handler = handle_prompt_signal;
  action.sa_flags = SA_RESTART;  // the read goes on after a stop
  sigemptyset(&action.sa_mask);
  sigaction(signal, &action, nullptr);
}

const struct sigaction& previous_action(int signal) {
  std::size_t i = 0;
  while (kPromptSignals[i] != signal) ++i;
  return g_prompt.previous[i];
}

// Gives the terminal back and raises the signal again under its previous
// action, which takes effect when this returns: the program ends or stops
// as it would have, with its echo on. SIGCONT turns the echo off again.
void handle_prompt_signal(int signal) {
  if (signal == SIGCONT) {
    tcsetattr(g_prompt.fd, TCSANOW, &g_prompt.quiet);
    if (previous_action(SIGTSTP).sa_handler != SIG_IGN) catch_prompt_signal(SIGTSTP);
    return;
  }
  tcsetattr(g_prompt.fd, TCSANOW, &g_prompt.saved);
  sigaction(signal, &previous_action(signal), nullptr);
  raise(signal);
}

// Echo off for its lifetime, given back on every path: its end, or a
// signal at the prompt.
class EchoOff {
 public:
  explicit EchoOff(int fd) {
    if (tcgetattr(fd, &g_prompt.saved) != 0) return;
    g_prompt.fd = fd;
    g_prompt.quiet = g_prompt.saved;
    g_prompt.quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    for (std::size_t i = 0; i < std::size(kPromptSignals); ++i) {
      sigaction(kPromptSignals[i], nullptr, &g_prompt.previous[i]);
      // An ignored signal stays ignored (nohup, a background job's SIGINT).
      if (g_prompt.previous[i].sa_handler != SIG_IGN) catch_prompt_signal(kPromptSignals[i]);
    }
    // TCSANOW keeps what was typed ahead of the prompt.
    active_ = tcsetattr(fd, TCSANOW, &g_prompt.quiet) == 0;
  }
  EchoOff(const EchoOff&) = delete;
  EchoOff& operator=(const EchoOff&) = delete;
  ~EchoOff() {
    if (g_prompt.fd < 0) return;
    if (active_) tcsetattr(g_prompt.fd, TCSANOW, &g_prompt.saved);
    for (std::size_t i = 0; i < std::size(kPromptSignals); ++i)
      sigaction(kPromptSignals[i], &g_prompt.previous[i], nullptr);
    g_prompt.fd = -1;
  }

 private:
  bool active_ = false;
};

void write_text(int fd, const char* text) {
  for (std::size_t left = std::strlen(text); left > 0;) {
    const ssize_t written = write(fd, text, left);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return;
    text += written;
    left -= static_cast<std::size_t>(written);
  }
}

}  // namespace

PasswordLine prompt_without_echo(const char* prompt) {
  const int terminal = open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (terminal < 0) return {PasswordLine::Status::no_terminal, {}};
  PasswordLine line;
  {
    EchoOff echo_off(terminal);
    write_text(terminal, prompt);
    line = read_password_line(read_byte, terminal);
    write_text(terminal, "\n");
  }
  close(terminal);
  return line;
}

PasswordLine read_first_line() { return read_password_line(read_byte, STDIN_FILENO); }

}  // namespace kestrune
