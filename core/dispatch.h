#pragma once

#include <filesystem>
#include <span>
#include <string_view>

#include "conversion.h"

namespace kestrune {

// Converts each dropped path in order: names ending in ".enc" are decrypted,
// all others encrypted. Each file gets its own key context and seed; a
// failure of one does not stop the others.
void dispatch_dropped_files(ConversionEnv& env, std::u16string_view password,
                            std::span<const std::filesystem::path> paths);

}  // namespace kestrune
