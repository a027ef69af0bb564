// PKCS#5 padding as the platform's service applies it to each record: one to
// `block_size` bytes, each holding the pad length, always at least one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace kestrune {

constexpr std::size_t padded_length(std::size_t plain_length, std::size_t block_size) {
  return (plain_length / block_size + 1) * block_size;
}

// Pads the `plain_length` bytes at the front of `record`, which must hold
// padded_length(plain_length, block_size) bytes. Returns the padded length.
std::size_t add_padding(std::span<std::uint8_t> record, std::size_t plain_length,
                        std::size_t block_size);

// The plain length of a decrypted body, or nothing when any pad byte is wrong.
std::optional<std::size_t> strip_padding(std::span<const std::uint8_t> body,
                                         std::size_t block_size);

}  // namespace kestrune
