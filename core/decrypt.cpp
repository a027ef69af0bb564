#include "decrypt.h"

#include <cstring>

#include "container.h"
#include "key_context.h"

namespace kestrune {
namespace {

constexpr DirectionTexts kDecryptionTexts{kCantOpenEncrypted, kCantOpenDecryptionFile,
                                          kCantStartDecryption, kCantReadEncrypted,
                                          kCantWriteDecryptionFile};

struct ParsedBlock {
  std::size_t records = 0;
  std::size_t consumed = 0;  // bytes of whole records; the rest waits for more
  bool damaged = false;
};

// Finds the whole records in the first `held` bytes of the block.
ParsedBlock parse_records(BlockBuffer& buffer, std::size_t held, std::size_t cipher_block) {
  ParsedBlock parsed;
  while (parsed.consumed + kLengthCodeSize <= held && parsed.records < buffer.slots.size()) {
    const std::uint8_t* code_bytes = buffer.bytes.data() + parsed.consumed;
    const std::uint32_t body_length = decode_length_code(
        static_cast<std::uint16_t>(code_bytes[0] | (code_bytes[1] << 8)));
    if (!is_valid_body_length(body_length, cipher_block)) {
      parsed.damaged = true;
      return parsed;
    }
    const std::size_t record_end = parsed.consumed + kLengthCodeSize + body_length;
    if (record_end > held) break;
    buffer.slots[parsed.records++] = {
        static_cast<std::uint32_t>(parsed.consumed + kLengthCodeSize), body_length};
    parsed.consumed = record_end;
  }
  return parsed;
}

// Packs the plain bytes of the decrypted records to the front of the block;
// returns their total length. Plain data is never longer than its record,
// so each move only goes backwards.
std::size_t gather_plain(BlockBuffer& buffer, std::size_t records) {
  std::size_t end = 0;
  for (std::size_t i = 0; i < records; ++i) {
    const RecordSlot& slot = buffer.slots[i];
    std::memmove(buffer.bytes.data() + end, buffer.bytes.data() + slot.offset, slot.length);
    end += slot.length;
  }
  return end;
}

Outcome decrypt_records(ConversionEnv& env, RecordStreams& streams) {
  BlockBuffer& buffer = env.buffer;
  const std::size_t cipher_block = block_size(key_context_cipher());
  std::size_t held = 0;  // bytes of an unfinished record carried to the block's front
  std::uint64_t done = 0;
  for (;;) {
    std::size_t got = 0;
    if (read_fully(streams.input, std::span(buffer.bytes).subspan(held), got))
      return Outcome::failed(kCantReadEncrypted);
    held += got;
    const ParsedBlock parsed = parse_records(buffer, held, cipher_block);
    if (parsed.damaged) return Outcome::failed(kCantDecryptData);
    if (parsed.records == 0 && got == 0) {
      // A container that ends inside a length code or a body is damaged too.
      return held == 0 ? Outcome::done() : Outcome::failed(kCantDecryptData);
    }
    if (!key_context_key().decrypt({buffer.bytes, {buffer.slots.data(), parsed.records}}))
      return Outcome::failed(kCantDecryptData);
    const std::size_t plain_bytes = gather_plain(buffer, parsed.records);
    if (streams.output.write({buffer.bytes.data(), plain_bytes}))
      return Outcome::failed(kCantWriteDecryptionFile);
    std::memmove(buffer.bytes.data(), buffer.bytes.data() + parsed.consumed, held - parsed.consumed);
    held -= parsed.consumed;
    done += parsed.consumed;
    if (!report_progress(env, streams, done)) return Outcome::cancelled();
  }
}

}  // namespace

void decrypt_file(ConversionEnv& env, const std::filesystem::path& path,
                  std::u16string_view password) {
  const ConversionPlan plan{path, plain_name_for(path), kDecryptionTexts, decrypt_records};
  convert_file(env, plan, password);
}

}  // namespace kestrune
