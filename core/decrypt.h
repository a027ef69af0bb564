#pragma once

#include <filesystem>
#include <string_view>

#include "conversion.h"

namespace kestrune {

// Decrypts the container `path` (a name ending in ".enc") into the path
// without that suffix and removes the container once the plain file is
// safely in place. A wrong password or choice, or a damaged container, is
// shown as a failure; the container is then untouched and no output remains.
void decrypt_file(ConversionEnv& env, const std::filesystem::path& path,
                  std::u16string_view password);

// Decrypts every record of the container `path` in memory and checks its
// padding and length code, creating, changing and removing nothing. A
// failure is shown as decrypt_file shows it; success shows nothing.
void verify_container(ConversionEnv& env, const std::filesystem::path& path,
                      std::u16string_view password);

}  // namespace kestrune
