#include "core/conversion.h"

#include <array>
#include <cstring>

#include "core/container.h"
#include "core/files/file_errors.h"

namespace kestrune {
namespace {

constexpr DirectionTexts kDecryptionTexts{kCantOpenEncrypted,   kCantOpenDecryptionFile,
                                          kCantStartDecryption, kCantReadEncrypted,
                                          kCantDecryptData,     kCantWriteDecryptionFile};

struct ParsedBlock {
  std::size_t records = 0;
  std::size_t consumed = 0;  // bytes of whole records; the rest waits for more
  bool damaged = false;
};

// Finds the whole records in the first `held` bytes of the block.
ParsedBlock parse_records(Block& block, std::size_t held, std::size_t cipher_block) {
  ParsedBlock parsed;
  while (parsed.consumed + kLengthCodeSize <= held) {
    const std::uint32_t body_length = load_length_code(block.bytes.subspan(parsed.consumed));
    if (!is_valid_body_length(body_length, cipher_block)) {
      parsed.damaged = true;
      return parsed;
    }
    const std::size_t record_end = parsed.consumed + kLengthCodeSize + body_length;
    if (record_end > held) break;
    block.record_slots[parsed.records++] = {
        static_cast<std::uint32_t>(parsed.consumed + kLengthCodeSize), body_length};
    parsed.consumed = record_end;
  }
  return parsed;
}

// Packs the plain bytes of the decrypted records to the front of the block;
// returns their total length. Plain data is never longer than its record,
// so each move only goes backwards.
std::size_t gather_plain(Block& block) {
  std::size_t end = 0;
  for (std::size_t i = 0; i < block.records; ++i) {
    const RecordSlot& slot = block.record_slots[i];
    std::memmove(block.bytes.data() + end, block.bytes.data() + slot.offset, slot.length);
    end += slot.length;
  }
  return end;
}

// Records do not line up with blocks: the reader carries the start of an
// unfinished record over to the next block.
class DecryptionStages {
 public:
  DecryptionStages(RecordStreams& streams, const RecordCipher& coding)
      : streams_(streams), key_(coding.key), cipher_block_(coding.cipher_block) {}

  Outcome read(Block& block) {
    std::memcpy(block.bytes.data(), carry_.data(), carried_);
    std::size_t got = 0;
    if (auto error = read_fully(streams_.input, block.bytes.subspan(carried_), got))
      return Outcome::failed(kCantReadEncrypted, error);
    read_so_far_ += got;
    const std::size_t held = carried_ + got;
    const ParsedBlock parsed = parse_records(block, held, cipher_block_);
    if (parsed.damaged) return Outcome::failed(kCantDecryptData);
    block.records = parsed.records;
    block.input_bytes = parsed.consumed;
    carried_ = held - parsed.consumed;
    std::memcpy(carry_.data(), block.bytes.data() + parsed.consumed, carried_);
    block.last = held < block.bytes.size();
    if (!block.last) return Outcome::done();
    // A container that ends inside a length code or a body is damaged.
    if (carried_ != 0) return Outcome::failed(kCantDecryptData);
    return read_so_far_ == streams_.input_size
               ? Outcome::done()
               : Outcome::failed(kCantReadEncrypted, FileError::changed_while_read);
  }

  Outcome code(Block& block) const {
    block.output_bytes = 0;
    if (block.records == 0) return Outcome::done();
    if (!key_.decrypt({block.bytes, block.record_slots.first(block.records)}))
      return Outcome::failed(kCantDecryptData);
    block.output_bytes = gather_plain(block);
    return Outcome::done();
  }

  Outcome write(const Block& block) {
    return write_block(streams_.output, block, kCantWriteDecryptionFile);
  }

 private:
  RecordStreams& streams_;
  RecordKey& key_;
  std::size_t cipher_block_;
  // An unfinished record is shorter than the largest whole one.
  std::array<std::uint8_t, kMaxRecordSize> carry_{};
  std::size_t carried_ = 0;
  std::uint64_t read_so_far_ = 0;
};

Outcome decrypt_records(ConversionEnv& env, RecordStreams& streams, const RecordCipher& coding) {
  DecryptionStages stages(streams, coding);
  return run_stages(env, streams, coding,
                    {[&](Block& block) { return stages.read(block); },
                     [&](Block& block) { return stages.code(block); },
                     [&](Block& block) { return stages.write(block); },
                     {},
                     kCantDecryptData});
}

}  // namespace

Outcome decrypt_file(ConversionEnv& env, const std::filesystem::path& path,
                     std::u16string_view password) {
  const ConversionPlan plan{path, plain_name_for, kDecryptionTexts, decrypt_records};
  return convert_file(env, plan, password);
}

Outcome verify_container(ConversionEnv& env, const std::filesystem::path& path,
                         std::u16string_view password) {
  const ConversionPlan plan{path, nullptr, kDecryptionTexts, decrypt_records};
  return convert_file(env, plan, password);
}

}  // namespace kestrune
