// Windows hands text over as UTF-16; the CLI works in UTF-8. One wrapper of
// the system's conversion for the command line and the console password.
#pragma once

#include <cstddef>
#include <span>
#include <string_view>

namespace kestrune {

// How many UTF-8 bytes `text` takes. With `strict`, 0 for text holding a
// lone surrogate half, the only text the conversion refuses; without, such
// a half becomes U+FFFD.
std::size_t utf8_size(std::wstring_view text, bool strict);

// Writes `text` as UTF-8 into `out`, which holds utf8_size(text, strict)
// bytes; false when it could not.
bool write_utf8(std::wstring_view text, std::span<char> out, bool strict);

}  // namespace kestrune
