#include "core/conversion.h"

#include <algorithm>
#include <array>
#include <span>

#include "core/container.h"
#include "core/files/file_errors.h"
#include "core/padding.h"

namespace kestrune {
namespace {

constexpr DirectionTexts kEncryptionTexts{kCantOpenSource,      kCantOpenEncryptionFile,
                                          kCantStartEncryption, kCantReadSource,
                                          kCantEncryptData,     kCantWriteEncryptionFile};

// The largest a record can grow: the longest chunk, padded.
constexpr std::size_t kMaxWrittenRecord = kLengthCodeSize + kMaxWrittenBody;

// The most chunks one block asks for: each record takes at least a length
// code and the shortest request.
constexpr std::size_t kMaxRequests = Block::kSize / (kLengthCodeSize + kMinChunkRequest) + 1;
static_assert(kMaxRequests <= Block::kMaxRecords);

// Draws chunk requests until the block could not hold another record, or
// until they ask for more than the `remaining` input (the short read then
// tells that the file has ended); returns how many, with their lengths in
// the slots.
std::size_t plan_requests(ChunkLengthGenerator& generator, Block& block, std::size_t cipher_block,
                          std::uint64_t remaining) {
  std::size_t used = 0;
  std::size_t count = 0;
  std::uint64_t wanted = 0;
  while (used + kMaxWrittenRecord <= block.bytes.size() && count < kMaxRequests &&
         wanted <= remaining) {
    const std::uint32_t request = generator.next_request();
    block.record_slots[count++].length = request;
    used += kLengthCodeSize + padded_length(request, cipher_block);
    wanted += request;
  }
  return count;
}

// Gives each requested chunk the place of its record's body, as if every
// chunk came whole: only the file's last chunk can come short, and a
// body's place depends only on the records before it. Fills `parts` with
// those places, for the file to be read straight into them.
void place_requests(Block& block, std::size_t requests, std::size_t cipher_block,
                    std::span<std::span<std::uint8_t>> parts) {
  std::size_t record_offset = 0;
  for (std::size_t i = 0; i < requests; ++i) {
    RecordSlot& slot = block.record_slots[i];
    slot.offset = static_cast<std::uint32_t>(record_offset + kLengthCodeSize);
    parts[i] = block.bytes.subspan(slot.offset, slot.length);
    record_offset += kLengthCodeSize + padded_length(slot.length, cipher_block);
  }
}

// Cuts the placed chunks to the `plain_bytes` read (the last one may be
// short); returns how many records they make.
std::size_t count_records(Block& block, std::size_t requests, std::size_t plain_bytes) {
  std::size_t records = 0;
  for (std::size_t plain_offset = 0; records < requests && plain_offset < plain_bytes; ++records) {
    RecordSlot& slot = block.record_slots[records];
    slot.length =
        static_cast<std::uint32_t>(std::min<std::size_t>(slot.length, plain_bytes - plain_offset));
    plain_offset += slot.length;
  }
  return records;
}

// Puts each body's length code in front of it; returns the bytes to write.
std::size_t write_length_codes(Block& block) {
  std::size_t end = 0;
  for (std::size_t i = 0; i < block.records; ++i) {
    const RecordSlot& slot = block.record_slots[i];
    store_length_code(block.bytes.subspan(slot.offset - kLengthCodeSize), slot.length);
    end = slot.offset + slot.length;
  }
  return end;
}

// The chunk layout follows from the seed alone, so the reader draws it;
// the coder and the writer only see finished blocks.
class EncryptionStages {
 public:
  EncryptionStages(RecordStreams& streams, const RecordCipher& coding, std::uint32_t seed)
      : streams_(streams), key_(coding.key), generator_(seed), cipher_block_(coding.cipher_block) {}

  Outcome read(Block& block) {
    const std::uint64_t remaining =
        streams_.input_size - std::min(read_so_far_, streams_.input_size);
    const std::size_t requests = plan_requests(generator_, block, cipher_block_, remaining);
    std::size_t wanted = 0;
    for (std::size_t i = 0; i < requests; ++i) wanted += block.record_slots[i].length;
    place_requests(block, requests, cipher_block_, parts_);
    std::size_t plain_bytes = 0;
    if (auto error = streams_.input.read_scattered(std::span(parts_).first(requests), plain_bytes))
      return Outcome::failed(kCantReadSource, error);
    read_so_far_ += plain_bytes;
    block.last = plain_bytes < wanted;
    // A file that grows or shrinks while it is read would be cut silently.
    if (read_so_far_ > streams_.input_size || (block.last && read_so_far_ != streams_.input_size))
      return Outcome::failed(kCantReadSource, FileError::changed_while_read);
    block.records = count_records(block, requests, plain_bytes);
    block.input_bytes = plain_bytes;
    return Outcome::done();
  }

  Outcome code(Block& block) const {
    block.output_bytes = 0;
    if (block.records == 0) return Outcome::done();
    if (!key_.encrypt({block.bytes, block.record_slots.first(block.records)}))
      return Outcome::failed(kCantEncryptData);
    block.output_bytes = write_length_codes(block);
    return Outcome::done();
  }

  Outcome write(const Block& block) {
    return write_block(streams_.output, block, kCantWriteEncryptionFile);
  }

 private:
  RecordStreams& streams_;
  RecordKey& key_;
  ChunkLengthGenerator generator_;
  std::size_t cipher_block_;
  std::uint64_t read_so_far_ = 0;
  // Where the chunks of the block being read go.
  std::array<std::span<std::uint8_t>, kMaxRequests> parts_{};
};

Outcome encrypt_records(ConversionEnv& env, RecordStreams& streams, const RecordCipher& coding,
                        std::uint32_t seed) {
  EncryptionStages stages(streams, coding, seed);
  return run_stages(env, streams, coding,
                    {[&](Block& block) { return stages.read(block); },
                     [&](Block& block) { return stages.code(block); },
                     [&](Block& block) { return stages.write(block); },
                     {},
                     kCantEncryptData});
}

}  // namespace

Outcome encrypt_file(ConversionEnv& env, const std::filesystem::path& path,
                     std::u16string_view password) {
  // The time is taken once per file: the same second gives the same chunks.
  const auto seed = static_cast<std::uint32_t>(env.clock());
  const ConversionPlan plan{path, container_name_for, kEncryptionTexts,
                            [seed](ConversionEnv& e, RecordStreams& s, const RecordCipher& c) {
                              return encrypt_records(e, s, c, seed);
                            }};
  return convert_file(env, plan, password);
}

}  // namespace kestrune
