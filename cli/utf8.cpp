#include "utf8.h"

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

}  // namespace

std::optional<SecretU16String> utf8_to_utf16(std::string_view text) {
  SecretU16String out;
  // Room for the whole text at once (never more units than bytes), and never
  // the inline buffer: growth or a move would leave copies behind.
  out.reserve(std::max(text.size(), out.capacity() + 1));
  for (std::size_t i = 0; i < text.size();) {
    const auto lead = static_cast<unsigned char>(text[i]);
    const int length = sequence_length(lead);
    if (length == 0 || i + static_cast<std::size_t>(length) > text.size()) return std::nullopt;
    char32_t code_point = length == 1 ? lead : lead & (0x7F >> length);
    for (int k = 1; k < length; ++k) {
      const auto next = static_cast<unsigned char>(text[i + static_cast<std::size_t>(k)]);
      if ((next & 0xC0) != 0x80) return std::nullopt;
      code_point = (code_point << 6) | (next & 0x3F);
    }
    if (code_point < kMinimumForLength[length] || code_point > 0x10FFFF ||
        (code_point >= 0xD800 && code_point <= 0xDFFF))
      return std::nullopt;
    append_utf16(out, code_point);
    i += static_cast<std::size_t>(length);
  }
  return out;
}

}  // namespace kestrune
