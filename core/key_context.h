// The key a file is converted with: derived from the password and the
// choices when the file's conversion starts, owned by that conversion and
// released when it ends, so conversions on other threads never share one.
#pragma once

#include <cstddef>
#include <memory>
#include <string_view>
#include <system_error>

#include "core/crypto/crypto_service.h"
#include "core/secret_memory.h"

namespace kestrune {

// Passwords longer than this are used cut to their first 259 UTF-16 units,
// as the platform's dialog field hands them over.
inline constexpr std::size_t kMaxPasswordLength = 259;

std::u16string_view limit_password(std::u16string_view password);

// The bytes that are hashed: the first n bytes of the (limited) password's
// UTF-16LE form, n being its length in UTF-16 units. Containers already made
// depend on this half-length quirk.
SecureBytes password_key_material(std::u16string_view password);

// Derives `key` for `choices` through `service`; on failure the service's
// cause, with nothing held.
std::error_code derive_file_key(std::u16string_view password, Choices choices,
                                CryptoService& service, std::unique_ptr<RecordKey>& key);

}  // namespace kestrune
