#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "secure_wipe.h"

namespace kestrune {

// Strict UTF-8 to UTF-16: overlong forms, surrogates and values past
// U+10FFFF are refused rather than guessed, since a guessed password would
// make a key nobody can reproduce. The result is on secret pages.
std::optional<SecretU16String> utf8_to_utf16(std::string_view text);

}  // namespace kestrune
