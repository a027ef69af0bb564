#include <windows.h>

#include <string>

#include "password_prompt.h"

namespace kestrune {
namespace {

// The console's own input and output, even when standard input is a file.
class Console {
 public:
  Console()
      : input_(CreateFileW(L"CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           nullptr, OPEN_EXISTING, 0, nullptr)),
        output_(CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE,
                            FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr)) {
    if (is_open()) echo_off_ = GetConsoleMode(input_, &saved_mode_) &&
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

  // One line without its ending; nothing when the input ends first.
  std::optional<std::wstring> read_line() {
    std::wstring line;
    wchar_t unit = 0;
    DWORD got = 0;
    while (ReadConsoleW(input_, &unit, 1, &got, nullptr) && got == 1) {
      if (unit == L'\n') return strip_return(line);
      line.push_back(unit);
    }
    if (line.empty()) return std::nullopt;
    return strip_return(line);
  }

 private:
  static std::wstring strip_return(std::wstring& line) {
    if (!line.empty() && line.back() == L'\r') line.pop_back();
    return line;
  }

  HANDLE input_;
  HANDLE output_;
  DWORD saved_mode_ = 0;
  bool echo_off_ = false;
};

std::optional<std::string> to_utf8(const std::wstring& text) {
  if (text.empty()) return std::string();
  const int size = WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, text.data(),
                                       static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  if (size <= 0) return std::nullopt;
  std::string utf8(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, text.data(), static_cast<int>(text.size()),
                      utf8.data(), size, nullptr, nullptr);
  return utf8;
}

}  // namespace

std::optional<std::string> prompt_without_echo(const char* prompt) {
  Console console;
  if (!console.is_open() || !console.echo_off()) return std::nullopt;
  console.write(std::wstring(prompt, prompt + std::char_traits<char>::length(prompt)));
  const std::optional<std::wstring> line = console.read_line();
  console.write(L"\r\n");
  if (!line) return std::nullopt;
  return to_utf8(*line);
}

}  // namespace kestrune
