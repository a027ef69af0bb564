#include "core/key_context.h"

#include <memory>

namespace kestrune {
std::u16string_view limit_password(std::u16string_view password) {
  return password.substr(0, kMaxPasswordLength);
}

SecureBytes password_key_material(std::u16string_view password) {
  const std::u16string_view limited = limit_password(password);
  const std::size_t n = limited.size();
  SecureBytes material(n);
  for (std::size_t i = 0; i < n; ++i) {
    const char16_t unit = limited[i / 2];
    material.data()[i] = static_cast<std::uint8_t>(i % 2 == 0 ? unit & 0xFF : unit >> 8);
  }
  return material;
}

std::error_code derive_file_key(std::u16string_view password, Choices choices,
                                CryptoService& service, std::unique_ptr<RecordKey>& key) {
  const SecureBytes material = password_key_material(password);
  const std::error_code error =
      service.derive_key(choices.hash, choices.cipher, {material.data(), material.size()}, key);
  wipe_stack_below();
  return error;
}

}  // namespace kestrune
