#include "core/crypto/crypto_service.h"

#include "core/container.h"
#include "core/padding.h"

namespace kestrune {
namespace {

bool fits(std::span<const std::uint8_t> block, std::size_t offset, std::size_t length) {
  return offset <= block.size() && length <= block.size() - offset;
}

}  // namespace

bool RecordKey::encrypt(RecordBatch batch) {
  for (const RecordSlot& slot : batch.records) {
    const std::size_t body_length = padded_length(slot.length, block_size_);
    if (body_length > kRecordBufferSize || !fits(batch.block, slot.offset, body_length))
      return false;
  }
  return do_encrypt(batch);
}

bool RecordKey::decrypt(RecordBatch batch) {
  for (const RecordSlot& slot : batch.records)
    if (!is_valid_body_length(slot.length, block_size_) ||
        !fits(batch.block, slot.offset, slot.length))
      return false;
  return do_decrypt(batch);
}

}  // namespace kestrune
