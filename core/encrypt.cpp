#include "encrypt.h"

#include <cstring>

#include "container.h"
#include "key_context.h"
#include "padding.h"

namespace kestrune {
namespace {

constexpr DirectionTexts kEncryptionTexts{kCantOpenSource, kCantOpenEncryptionFile,
                                          kCantStartEncryption, kCantReadSource,
                                          kCantWriteEncryptionFile};

// The largest a record can grow: a 2047-byte chunk padded to 2048.
constexpr std::size_t kMaxWrittenRecord = kLengthCodeSize + 2048;

// Draws chunk requests until the block could not hold another record;
// returns how many, with their lengths in the slots.
std::size_t plan_requests(ChunkLengthGenerator& generator, BlockBuffer& buffer,
                          std::size_t cipher_block) {
  std::size_t used = 0;
  std::size_t count = 0;
  while (used + kMaxWrittenRecord <= buffer.bytes.size() && count < buffer.slots.size()) {
    const std::uint32_t request = generator.next_request();
    buffer.slots[count++].length = request;
    used += kLengthCodeSize + padded_length(request, cipher_block);
  }
  return count;
}

// Cuts `plain_bytes` read bytes into the requested chunks (the last one may
// be short) and moves each to where its record's body goes, last first, so
// that no chunk overwrites one not yet moved. Returns the record count.
std::size_t lay_out_records(BlockBuffer& buffer, std::size_t requests, std::size_t plain_bytes,
                            std::size_t cipher_block) {
  std::size_t records = 0;
  std::size_t plain_offset = 0;
  std::size_t record_offset = 0;
  for (; records < requests && plain_offset < plain_bytes; ++records) {
    RecordSlot& slot = buffer.slots[records];
    slot.length = static_cast<std::uint32_t>(std::min<std::size_t>(slot.length, plain_bytes - plain_offset));
    slot.offset = static_cast<std::uint32_t>(record_offset + kLengthCodeSize);
    plain_offset += slot.length;
    record_offset += kLengthCodeSize + padded_length(slot.length, cipher_block);
  }
  for (std::size_t i = records; i-- > 0;) {
    plain_offset -= buffer.slots[i].length;
    std::memmove(buffer.bytes.data() + buffer.slots[i].offset,
                 buffer.bytes.data() + plain_offset, buffer.slots[i].length);
  }
  return records;
}

// Puts each body's length code in front of it; returns the bytes to write.
std::size_t write_length_codes(BlockBuffer& buffer, std::size_t records) {
  std::size_t end = 0;
  for (std::size_t i = 0; i < records; ++i) {
    const RecordSlot& slot = buffer.slots[i];
    const std::uint16_t code = encode_length_code(slot.length);
    buffer.bytes[slot.offset - 2] = static_cast<std::uint8_t>(code & 0xFF);
    buffer.bytes[slot.offset - 1] = static_cast<std::uint8_t>(code >> 8);
    end = slot.offset + slot.length;
  }
  return end;
}

Outcome encrypt_records(ConversionEnv& env, RecordStreams& streams, std::uint32_t seed) {
  BlockBuffer& buffer = env.buffer;
  const std::size_t cipher_block = block_size(key_context_cipher());
  ChunkLengthGenerator generator(seed);
  std::uint64_t done = 0;
  for (;;) {
    const std::size_t requests = plan_requests(generator, buffer, cipher_block);
    std::size_t wanted = 0;
    for (std::size_t i = 0; i < requests; ++i) wanted += buffer.slots[i].length;
    std::size_t plain_bytes = 0;
    if (read_fully(streams.input, {buffer.bytes.data(), wanted}, plain_bytes))
      return Outcome::failed(kCantReadSource);
    const std::size_t records = lay_out_records(buffer, requests, plain_bytes, cipher_block);
    if (records == 0) return Outcome::done();
    if (!key_context_key().encrypt({buffer.bytes, {buffer.slots.data(), records}}))
      return Outcome::failed(kCantEncryptData);
    const std::size_t block_end = write_length_codes(buffer, records);
    if (streams.output.write({buffer.bytes.data(), block_end}))
      return Outcome::failed(kCantWriteEncryptionFile);
    done += plain_bytes;
    if (!report_progress(env, streams, done)) return Outcome::cancelled();
    if (plain_bytes < wanted) return Outcome::done();
  }
}

}  // namespace

void encrypt_file(ConversionEnv& env, const std::filesystem::path& path,
                  std::u16string_view password) {
  // The time is taken once per file: the same second gives the same chunks.
  const auto seed = static_cast<std::uint32_t>(env.clock());
  const ConversionPlan plan{path, container_name_for(path), kEncryptionTexts,
                            [seed](ConversionEnv& e, RecordStreams& s) {
                              return encrypt_records(e, s, seed);
                            }};
  convert_file(env, plan, password);
}

}  // namespace kestrune
