// The container: no header, just records back to back, each a 2-byte
// little-endian length code and a body that is one chunk of the plain file
// encrypted as a message of its own. Chunk lengths are drawn from the
// Microsoft C runtime's rand(), seeded with the time, so the same file,
// password, choices and second give the same bytes everywhere.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "core/algorithms.h"
#include "core/container_names.h"
#include "core/padding.h"

namespace kestrune {

inline constexpr std::size_t kLengthCodeSize = 2;
// Readers hold one body at a time in a buffer of this size; writers never
// produce bodies longer than kMaxWrittenBody.
inline constexpr std::size_t kRecordBufferSize = 4096;
inline constexpr std::size_t kMinChunkRequest = 1024;
inline constexpr std::size_t kMaxChunkRequest = 2047;
inline constexpr std::size_t kMaxWrittenBody = padded_length(kMaxChunkRequest, kMaxBlockSize);
inline constexpr std::size_t kMaxRecordSize = kLengthCodeSize + kRecordBufferSize;
// The smallest record: a body of one block of the smaller block size.
inline constexpr std::size_t kMinRecordSize = kLengthCodeSize + kMinBlockSize;

std::uint16_t encode_length_code(std::uint32_t body_length);
std::uint32_t decode_length_code(std::uint16_t code);

// The length code of a `body_length` body, written little-endian into the
// first kLengthCodeSize bytes of `record`; and read back from there.
void store_length_code(std::span<std::uint8_t> record, std::uint32_t body_length);
std::uint32_t load_length_code(std::span<const std::uint8_t> record);

// A body length a reader can take: nonzero, whole cipher blocks, and no more
// than the record buffer holds.
bool is_valid_body_length(std::uint32_t body_length, std::size_t cipher_block_size);

// Microsoft's rand(): state * 214013 + 2531011, the value (state >> 16) & 0x7FFF.
class ChunkLengthGenerator {
 public:
  explicit ChunkLengthGenerator(std::uint32_t seed) : state_(seed) {}
  // The length of the next chunk to read: 1024 + (rand() & 1023).
  std::uint32_t next_request();

 private:
  std::uint32_t state_;
};

}  // namespace kestrune
