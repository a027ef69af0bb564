#pragma once

#include <cstddef>
#include <string_view>

#include "core/secret_memory.h"

namespace kestrune {

// The longest password line read, in bytes: reading stops there rather than
// growing without bound on endless input.
inline constexpr std::size_t kMaxPasswordLine = 64 * 1024;

// A password line as UTF-8 bytes on secret pages, without its line ending.
struct PasswordLine {
  enum class Status { read, none, too_long, no_terminal, not_unicode };
  Status status = Status::none;
  SecureBytes bytes;

  std::string_view text() const {
    return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
  }
};

// Reads one line, without its ending, through `read_byte(fd, byte)`: 1 for
// a byte, 0 at the end of the input, less on an error. Both platforms read
// standard input with it, and POSIX its terminal too; the Windows console
// is read in UTF-16 units of its own instead.
PasswordLine read_password_line(int (*read_byte)(int fd, char& byte), int fd);

// Asks for a line on the controlling terminal with echo turned off. A
// signal that ends or stops the program at the prompt gives the terminal
// its echo back first; continuing turns it off again.
PasswordLine prompt_without_echo(const char* prompt);

// The first line of standard input, read past no buffer of the C library's.
PasswordLine read_first_line();

}  // namespace kestrune
