#include "core/padding.h"

#include <algorithm>

namespace kestrune {

std::size_t add_padding(std::span<std::uint8_t> record, std::size_t plain_length,
                        std::size_t block_size) {
  const std::size_t total = padded_length(plain_length, block_size);
  const auto pad = static_cast<std::uint8_t>(total - plain_length);
  std::fill(record.begin() + static_cast<std::ptrdiff_t>(plain_length),
            record.begin() + static_cast<std::ptrdiff_t>(total), pad);
  return total;
}

std::optional<std::size_t> strip_padding(std::span<const std::uint8_t> body,
                                         std::size_t block_size) {
  if (body.empty() || body.size() % block_size != 0) return std::nullopt;
  const std::uint8_t pad = body.back();
  if (pad == 0 || pad > block_size) return std::nullopt;
  for (std::size_t i = body.size() - pad; i < body.size(); ++i)
    if (body[i] != pad) return std::nullopt;
  return body.size() - pad;
}

}  // namespace kestrune
