#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "core/secret_memory.h"

namespace kestrune {

// Strict UTF-8 to UTF-16: overlong forms, surrogates and values past
// U+10FFFF are refused rather than guessed, since a guessed password would
// make a key nobody can reproduce. The result is on secret pages.
std::optional<SecretU16String> utf8_to_utf16(std::string_view text);

// Text safe to print on a terminal as one line: control characters and
// bytes that are not UTF-8 become escapes (\n, \x1b, \xff), in the manner of
// `ls --quoting-style=escape`; so does the backslash (\\) where it can be
// part of a name rather than the separator.
std::string escaped_for_terminal(std::string_view text, bool escape_backslash);

}  // namespace kestrune
