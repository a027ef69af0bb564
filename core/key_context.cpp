#include "key_context.h"

#include <memory>

namespace kestrune {
namespace {

struct KeyContext {
  std::unique_ptr<RecordKey> key;
};

KeyContext g_key_context;

}  // namespace

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

RecordKey* open_key_context(std::u16string_view password, Choices choices, CryptoService& service) {
  close_key_context();
  const SecureBytes material = password_key_material(password);
  g_key_context.key =
      service.derive_key(choices.hash, choices.cipher, {material.data(), material.size()});
  wipe_stack_below();
  return g_key_context.key.get();
}

void close_key_context() { g_key_context.key.reset(); }

}  // namespace kestrune
