#include "core/container.h"

#include <algorithm>

#include "core/files/temporary_name.h"

namespace kestrune {
namespace {

using Native = std::filesystem::path::string_type;
const Native kSuffix = std::filesystem::path(".enc").native();

}  // namespace

bool is_container_name(const std::filesystem::path& path) {
  const Native& name = path.native();
  return name.size() >= kSuffix.size() &&
         std::equal(kSuffix.rbegin(), kSuffix.rend(), name.rbegin());
}

std::filesystem::path container_name_for(const std::filesystem::path& plain) {
  return std::filesystem::path(plain.native() + kSuffix);
}

std::filesystem::path plain_name_for(const std::filesystem::path& container) {
  const Native& name = container.native();
  return std::filesystem::path(name.substr(0, name.size() - kSuffix.size()));
}

bool is_temporary_name(const std::filesystem::path& path) {
  const Native name = path.filename().native();
  return is_hidden_temporary_name<Native::value_type>(name);
}

std::uint16_t encode_length_code(std::uint32_t body_length) {
  if (body_length <= 1024) return static_cast<std::uint16_t>(0x8000 | body_length);
  return static_cast<std::uint16_t>(body_length - 1024);
}

std::uint32_t decode_length_code(std::uint16_t code) {
  if ((code & 0x8000) != 0) return code & 0x7FFFu;
  return static_cast<std::uint32_t>(code) + 1024;
}

void store_length_code(std::span<std::uint8_t> record, std::uint32_t body_length) {
  const std::uint16_t code = encode_length_code(body_length);
  record[0] = static_cast<std::uint8_t>(code & 0xFF);
  record[1] = static_cast<std::uint8_t>(code >> 8);
}

std::uint32_t load_length_code(std::span<const std::uint8_t> record) {
  return decode_length_code(static_cast<std::uint16_t>(record[0] | record[1] << 8));
}

bool is_valid_body_length(std::uint32_t body_length, std::size_t cipher_block_size) {
  return body_length != 0 && body_length <= kRecordBufferSize &&
         body_length % cipher_block_size == 0;
}

std::uint32_t ChunkLengthGenerator::next_request() {
  state_ = state_ * 214013u + 2531011u;
  const std::uint32_t value = (state_ >> 16) & 0x7FFFu;
  return static_cast<std::uint32_t>(kMinChunkRequest) + (value & 1023u);
}

}  // namespace kestrune
