// The boundary to the cryptographic library. It speaks in the container's
// terms: a key derived from a password digest as the platform's CryptDeriveKey
// derives it, and batches of records, each record one complete CBC message
// with an all-zero IV and PKCS#5 padding. Back ends never see files.
#pragma once

#include <cstdint>
#include <memory>
#include <span>

#include "algorithms.h"
#include "secure_wipe.h"

namespace kestrune {

// One record's place in a block: `offset` of its first byte and its length.
struct RecordSlot {
  std::uint32_t offset;
  std::uint32_t length;
};

// Many records coded by one call, so a back end can work on several at once.
struct RecordBatch {
  std::span<std::uint8_t> block;
  std::span<RecordSlot> records;
};

class RecordKey {
 public:
  virtual ~RecordKey() = default;

  // Whatever a back end keeps in its key object (round keys) lives on
  // secret pages. Key schedules kept inside a library are the library's.
  static void* operator new(std::size_t size) { return allocate_secret_pages(size); }
  static void operator delete(void* data, std::size_t size) { release_secret_pages(data, size); }

  // Encrypts every record in place. On entry a slot's length is its chunk
  // length and the block has room for the padded body behind the offset; on
  // success the length is the body length. False leaves the block undefined.
  virtual bool encrypt(RecordBatch batch) = 0;

  // Decrypts every record in place. On entry a slot's length is its body
  // length, a nonzero multiple of the block size; on success it is the plain
  // length. False when any record's padding is not valid.
  virtual bool decrypt(RecordBatch batch) = 0;

  // True when two threads may code separate batches with this key at once.
  virtual bool codes_concurrently() const { return false; }
};

class CryptoService {
 public:
  virtual ~CryptoService() = default;

  // The digest of `data`; empty when the back end cannot compute it.
  virtual SecureBytes digest(HashAlgorithm hash, std::span<const std::uint8_t> data) = 0;

  // Digests `key_material` with `hash` and derives the key for `cipher`.
  // Null when the back end cannot offer the pair; nothing is held then.
  virtual std::unique_ptr<RecordKey> derive_key(HashAlgorithm hash, CipherAlgorithm cipher,
                                                std::span<const std::uint8_t> key_material) = 0;
};

// The back end this build was made with.
CryptoService& native_crypto_service();

// The multi-buffer back end; null where it is not built or cannot run.
CryptoService* multi_buffer_crypto_service();

}  // namespace kestrune
