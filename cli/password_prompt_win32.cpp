#include <windows.h>
#include <fcntl.h>
#include <io.h>

#include <optional>
#include <string>

#include "cli/password_prompt.h"
#include "cli/utf16_win32.h"

namespace kestrune {
namespace {

using SecretWString =
    std::basic_string<wchar_t, std::char_traits<wchar_t>, SecretAllocator<wchar_t>>;

// The console's own input and output, even when standard input is a file.
class Console {
 public:
  Console()
      : input_(CreateFileW(L"CONIN$", GENERIC_READ | GENERIC_WRITE,
                           FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr)),
        output_(CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE,
                            FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                            nullptr)) {
    if (is_open())
      echo_off_ = GetConsoleMode(input_, &saved_mode_) &&
                  SetConsoleMode(input_, saved_mode_ & ~DWORD{ENABLE_ECHO_INPUT});
  }
  Console(const Console&) = delete;
  Console& operator=(const Console&) = delete;
  // Restores the echo on every path, including a failed read.
  ~Console() {
    if (echo_off_) SetConsoleMode(input_, saved_mode_);
    if (input_ != INVALID_HANDLE_VALUE) CloseHandle(input_);
    if (output_ != INVALID_HANDLE_VALUE) CloseHandle(output_);
  }

  bool is_open() const { return input_ != INVALID_HANDLE_VALUE && output_ != INVALID_HANDLE_VALUE; }
  bool echo_off() const { return echo_off_; }

  void write(std::wstring_view text) {
    DWORD written = 0;
    WriteConsoleW(output_, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  }

  // One line without its ending, in a buffer sized once; nothing when the
  // input ends first.
  std::optional<SecretWString> read_line() {
    SecretWString line;
    line.reserve(kMaxPasswordLine + 1);
    wchar_t unit = 0;
    DWORD got = 0;
    bool ended = true;
    while (line.size() <= kMaxPasswordLine && ReadConsoleW(input_, &unit, 1, &got, nullptr) &&
           got == 1) {
      if (unit == L'\n') {
        ended = false;
        break;
      }
      line.push_back(unit);
    }
    if (!line.empty() && line.back() == L'\r') line.pop_back();
    if (ended && line.empty()) return std::nullopt;
    return line;
  }

 private:
  HANDLE input_;
  HANDLE output_;
  DWORD saved_mode_ = 0;
  bool echo_off_ = false;
};

PasswordLine to_utf8(const SecretWString& text) {
  if (text.empty()) return {PasswordLine::Status::read, {}};
  const std::size_t size = utf8_size(text, true);
  if (size == 0) return {PasswordLine::Status::not_unicode, {}};
  if (size > kMaxPasswordLine) return {PasswordLine::Status::too_long, {}};
  PasswordLine line{PasswordLine::Status::read, SecureBytes(size)};
  if (!write_utf8(text, {reinterpret_cast<char*>(line.bytes.data()), size}, true))
    return {PasswordLine::Status::not_unicode, {}};
  return line;
}

int read_byte(int fd, char& byte) { return _read(fd, &byte, 1); }

}  // namespace

// Byte for byte, as on Linux: in text mode a Ctrl-Z byte would end the line
// and a container made elsewhere with it would never open here.
PasswordLine read_first_line() {
  if (_setmode(0, _O_BINARY) == -1) return {PasswordLine::Status::none, {}};
  return read_password_line(read_byte, 0);
}

PasswordLine prompt_without_echo(const char* prompt) {
  Console console;
  if (!console.is_open() || !console.echo_off()) return {PasswordLine::Status::no_terminal, {}};
  console.write(std::wstring(prompt, prompt + std::char_traits<char>::length(prompt)));
  const std::optional<SecretWString> line = console.read_line();
  console.write(L"\r\n");
  if (!line) return {PasswordLine::Status::none, {}};
  if (line->size() > kMaxPasswordLine) return {PasswordLine::Status::too_long, {}};
  return to_utf8(*line);
}

}  // namespace kestrune
