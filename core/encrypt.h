#pragma once

#include <filesystem>
#include <string_view>

#include "conversion.h"

namespace kestrune {

// Encrypts `path` into "<path>.enc" with the current choices and removes
// `path` once the container is safely in place. Failures are shown through
// the front end; the plain file is then untouched and no output remains.
void encrypt_file(ConversionEnv& env, const std::filesystem::path& path,
                  std::u16string_view password);

}  // namespace kestrune
