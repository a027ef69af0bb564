#include "cli/utf8.h"

#include <algorithm>

namespace kestrune {
namespace {

// Length of the sequence a lead byte starts, or 0 when it cannot start one.
int sequence_length(unsigned char lead) {
  if (lead < 0x80) return 1;
  if (lead >= 0xC2 && lead <= 0xDF) return 2;
  if (lead >= 0xE0 && lead <= 0xEF) return 3;
  if (lead >= 0xF0 && lead <= 0xF4) return 4;
  return 0;
}

constexpr char32_t kMinimumForLength[] = {0, 0, 0x80, 0x800, 0x10000};

void append_utf16(SecretU16String& out, char32_t code_point) {
  if (code_point < 0x10000) {
    out.push_back(static_cast<char16_t>(code_point));
    return;
  }
  const char32_t offset = code_point - 0x10000;
  out.push_back(static_cast<char16_t>(0xD800 + (offset >> 10)));
  out.push_back(static_cast<char16_t>(0xDC00 + (offset & 0x3FF)));
}

// Decodes the sequence at the start of `text`; its length, or 0 when it is
// not valid UTF-8.
std::size_t decode_one(std::string_view text, char32_t& code_point) {
  const auto lead = static_cast<unsigned char>(text[0]);
  const int length = sequence_length(lead);
  if (length == 0 || static_cast<std::size_t>(length) > text.size()) return 0;
  code_point = length == 1 ? lead : lead & (0x7F >> length);
  for (int k = 1; k < length; ++k) {
    const auto next = static_cast<unsigned char>(text[static_cast<std::size_t>(k)]);
    if ((next & 0xC0) != 0x80) return 0;
    code_point = (code_point << 6) | (next & 0x3F);
  }
  if (code_point < kMinimumForLength[length] || code_point > 0x10FFFF ||
      (code_point >= 0xD800 && code_point <= 0xDFFF))
    return 0;
  return static_cast<std::size_t>(length);
}

// C0 and C1 controls and DEL: each can move or reprogram a terminal.
bool is_control(char32_t code_point) {
  return code_point < 0x20 || (code_point >= 0x7F && code_point <= 0x9F);
}

void append_escaped_bytes(std::string& out, std::string_view bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  for (const char byte : bytes) {
    const auto value = static_cast<unsigned char>(byte);
    switch (value) {
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default: out += {'\\', 'x', kDigits[value >> 4], kDigits[value & 0xF]};
    }
  }
}

}  // namespace

std::optional<SecretU16String> utf8_to_utf16(std::string_view text) {
  SecretU16String out;
  // Room for the whole text at once (never more units than bytes), and never
  // the inline buffer: growth or a move would leave copies behind.
  out.reserve(std::max(text.size(), out.capacity() + 1));
  for (std::size_t i = 0; i < text.size();) {
    char32_t code_point = 0;
    const std::size_t length = decode_one(text.substr(i), code_point);
    if (length == 0) return std::nullopt;
    append_utf16(out, code_point);
    i += length;
  }
  return out;
}

std::string escaped_for_terminal(std::string_view text, bool escape_backslash) {
  std::string out;
  for (std::size_t i = 0; i < text.size();) {
    char32_t code_point = 0;
    const std::size_t length = decode_one(text.substr(i), code_point);
    if (length == 0 || is_control(code_point)) {
      append_escaped_bytes(out, text.substr(i, std::max<std::size_t>(length, 1)));
    } else if (code_point == '\\' && escape_backslash) {
      out += "\\\\";
    } else {
      out += text.substr(i, length);
    }
    i += std::max<std::size_t>(length, 1);
  }
  return out;
}

}  // namespace kestrune
