// The boundary to the cryptographic library. It speaks in the container's
// terms: a key derived from a password digest as the platform's CryptDeriveKey
// derives it, and batches of records, each record one complete CBC message
// with an all-zero IV and PKCS#5 padding. Back ends never see files.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <system_error>
#include <type_traits>

#include "core/algorithms.h"
#include "core/secret_memory.h"

namespace kestrune {

// One record's place in a block: `offset` of its first byte and its length.
struct RecordSlot {
  std::uint32_t offset;
  std::uint32_t length;
  bool operator==(const RecordSlot&) const = default;
};

// Many records coded by one call, so a back end can work on several at once.
struct RecordBatch {
  std::span<std::uint8_t> block;
  std::span<RecordSlot> records;
};

// Every record is a message of its own, coded from this IV.
alignas(16) inline constexpr std::array<std::uint8_t, kMaxBlockSize> kZeroIv{};

class RecordKey {
 public:
  explicit RecordKey(std::size_t block_size) : block_size_(block_size) {}
  virtual ~RecordKey() = default;

  // Whatever a back end keeps in its key object (round keys) lives on
  // secret pages. Key schedules kept inside a library are the library's.
  static void* operator new(std::size_t size) { return allocate_secret_pages(size); }
  static void operator delete(void* data, std::size_t size) { release_secret_pages(data, size); }

  // Encrypts every record in place. On entry a slot's length is its chunk
  // length; on success it is the body length. False, before anything is
  // coded, when a padded body would not fit the block behind its offset or
  // the reader's record buffer; otherwise false leaves the block undefined.
  bool encrypt(RecordBatch batch);

  // Decrypts every record in place. On entry a slot's length is its body
  // length; on success it is the plain length. False, before anything is
  // coded, when a body is not a valid body length or does not fit the
  // block; otherwise false when any record's padding is not valid.
  bool decrypt(RecordBatch batch);

  // True when two threads may code separate batches with this key at once.
  virtual bool works_on_two_threads() const { return false; }

  std::size_t cipher_block_size() const { return block_size_; }

 protected:
  // The back end's coding of a batch that encrypt() or decrypt() checked.
  virtual bool do_encrypt(RecordBatch batch) = 0;
  virtual bool do_decrypt(RecordBatch batch) = 0;

 private:
  std::size_t block_size_;
};

// Causes a crypto library gives without a system error of its own.
enum class CryptoError {
  algorithm_unavailable = 1,  // its provider or module is missing
  library_failed,
};
std::error_code make_error_code(CryptoError error);

// Like the file-system seam, every call reports failure as its cause; none
// throws but std::bad_alloc.
class CryptoService {
 public:
  virtual ~CryptoService() = default;

  // Puts the digest of `data` in `digest`; on failure `digest` is empty.
  virtual std::error_code digest(HashAlgorithm hash, std::span<const std::uint8_t> data,
                                 SecureBytes& digest) = 0;

  // Digests `key_material` with `hash` and derives `key` for `cipher`. On
  // failure, when the back end cannot offer the pair, nothing is held.
  virtual std::error_code derive_key(HashAlgorithm hash, CipherAlgorithm cipher,
                                     std::span<const std::uint8_t> key_material,
                                     std::unique_ptr<RecordKey>& key) = 0;
};

}  // namespace kestrune

template <>
struct std::is_error_code_enum<kestrune::CryptoError> : std::true_type {};
