#include "core/crypto/crypto_service.h"

#include "core/container.h"
#include "core/padding.h"

namespace kestrune {
namespace {

bool fits(std::span<const std::uint8_t> block, std::size_t offset, std::size_t length) {
  return offset <= block.size() && length <= block.size() - offset;
}

class CryptoErrorCategory final : public std::error_category {
 public:
  const char* name() const noexcept override { return "crypto"; }
  std::string message(int code) const override {
    switch (static_cast<CryptoError>(code)) {
      case CryptoError::algorithm_unavailable:
        return "the crypto library does not offer this algorithm";
      case CryptoError::library_failed: return "the crypto library failed";
    }
    return "unknown crypto error";
  }
};

}  // namespace

std::error_code make_error_code(CryptoError error) {
  static const CryptoErrorCategory category;
  return {static_cast<int>(error), category};
}

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
