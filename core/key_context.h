// The process-wide key context: one derived key, made from the password and
// the choices when a file's conversion starts and released when it ends.
// Conversions never overlap, so one context serves them all; only
// run_conversion opens it, and hands the key to the stages.
#pragma once

#include <cstddef>
#include <string_view>

#include "crypto/crypto_service.h"
#include "secure_wipe.h"

namespace kestrune {

// Passwords longer than this are used cut to their first 259 UTF-16 units,
// as the platform's dialog field hands them over.
inline constexpr std::size_t kMaxPasswordLength = 259;

std::u16string_view limit_password(std::u16string_view password);

// The bytes that are hashed: the first n bytes of the (limited) password's
// UTF-16LE form, n being its length in UTF-16 units. Containers already made
// depend on this half-length quirk.
SecureBytes password_key_material(std::u16string_view password);

// Derives the key for `choices` through `service`. The key, valid until the
// context closes; null when it cannot be made, the context then closed.
RecordKey* open_key_context(std::u16string_view password, Choices choices, CryptoService& service);

// Releases the key. Safe to call when the context is closed.
void close_key_context();

// Closes the context when it goes out of scope, on every path.
class KeyContextGuard {
 public:
  KeyContextGuard() = default;
  KeyContextGuard(const KeyContextGuard&) = delete;
  KeyContextGuard& operator=(const KeyContextGuard&) = delete;
  ~KeyContextGuard() { close_key_context(); }
};

}  // namespace kestrune
