#include "cli/password_prompt.h"

namespace kestrune {

// A byte at a time, so nothing past the line's ending is taken, into a
// buffer sized once: growth would leave copies behind.
PasswordLine read_password_line(int (*read_byte)(int fd, char& byte), int fd) {
  PasswordLine line;
  line.bytes = SecureBytes(kMaxPasswordLine + 1);  // + the '\r' of a "\r\n"
  std::size_t length = 0;
  char byte = 0;
  int got = 0;
  while ((got = read_byte(fd, byte)) == 1 && byte != '\n') {
    if (length == line.bytes.size()) return {PasswordLine::Status::too_long, {}};
    line.bytes.data()[length++] = static_cast<std::uint8_t>(byte);
  }
  secure_wipe(&byte, sizeof byte);
  if (length > 0 && line.bytes.data()[length - 1] == '\r') --length;
  if (length > kMaxPasswordLine) return {PasswordLine::Status::too_long, {}};
  line.bytes.resize_down(length);
  const bool ended_empty = got != 1 && length == 0;
  line.status = ended_empty ? PasswordLine::Status::none : PasswordLine::Status::read;
  return line;
}

}  // namespace kestrune
