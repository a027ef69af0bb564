#include "core/crypto/crypto_service_cryptoapi.h"

// clang-format off
#include <windows.h>
#include <wincrypt.h>
// clang-format on

#include <array>
#include <cstring>

#include "core/container.h"
#include "core/padding.h"

namespace kestrune {
namespace {

// The service wants a valid pointer even for zero bytes.
const BYTE* bytes_of(std::span<const std::uint8_t> data) {
  static const BYTE kNothing = 0;
  return data.empty() ? &kNothing : data.data();
}

// The service's own cause of the call that just failed.
std::error_code last_crypt_error() {
  const DWORD code = GetLastError();
  if (code == 0) return CryptoError::library_failed;
  return {static_cast<int>(code), std::system_category()};
}

DWORD provider_type_for(CipherAlgorithm cipher) {
  return cipher == CipherAlgorithm::des || cipher == CipherAlgorithm::triple_des ? PROV_RSA_SCHANNEL
                                                                                 : PROV_RSA_AES;
}

// The three handles of one key context. They are released in the order the
// service expects (hash, key, provider), on every path, by the destructor.
class CryptHandles {
 public:
  CryptHandles() = default;
  CryptHandles(const CryptHandles&) = delete;
  CryptHandles& operator=(const CryptHandles&) = delete;
  ~CryptHandles() { release(); }

  // Flags 0 first; the second attempt creates the user's default key
  // container on first use. Two conversions starting at once on a new
  // profile both find it missing and only one creates it: the other opens
  // what that one made.
  bool acquire(DWORD provider_type) {
    release();
    if (CryptAcquireContextW(&provider_, nullptr, nullptr, provider_type, 0) ||
        CryptAcquireContextW(&provider_, nullptr, nullptr, provider_type, CRYPT_NEWKEYSET))
      return true;
    return GetLastError() == static_cast<DWORD>(NTE_EXISTS) &&
           CryptAcquireContextW(&provider_, nullptr, nullptr, provider_type, 0);
  }

  bool create_hash(HashAlgorithm hash) {
    return CryptCreateHash(provider_, static_cast<ALG_ID>(hash), 0, 0, &hash_);
  }

  bool hash_data(std::span<const std::uint8_t> data) {
    return CryptHashData(hash_, bytes_of(data), static_cast<DWORD>(data.size()), 0);
  }

  bool derive(CipherAlgorithm cipher) {
    return CryptDeriveKey(provider_, static_cast<ALG_ID>(cipher), hash_, CRYPT_EXPORTABLE, &key_);
  }

  HCRYPTKEY key() const { return key_; }

 private:
  void release() {
    if (hash_ != 0) CryptDestroyHash(hash_);
    if (key_ != 0) CryptDestroyKey(key_);
    if (provider_ != 0) CryptReleaseContext(provider_, 0);
    hash_ = 0;
    key_ = 0;
    provider_ = 0;
  }

  HCRYPTPROV provider_ = 0;
  HCRYPTHASH hash_ = 0;
  HCRYPTKEY key_ = 0;
};

// Acquires the provider for `cipher` and creates a hash object for `hash`.
// The SChannel type offers no SHA-2 hash; the AES type derives the same DES
// and 3DES keys from the same digest, so it stands in rather than leaving
// those combinations unusable.
bool open_hash(CryptHandles& handles, HashAlgorithm hash, CipherAlgorithm cipher) {
  const DWORD provider_type = provider_type_for(cipher);
  if (!handles.acquire(provider_type)) return false;
  if (handles.create_hash(hash)) return true;
  return provider_type == PROV_RSA_SCHANNEL && handles.acquire(PROV_RSA_AES) &&
         handles.create_hash(hash);
}

class CryptoApiRecordKey final : public RecordKey {
 public:
  CryptoApiRecordKey(std::unique_ptr<CryptHandles> handles, std::size_t block_size)
      : RecordKey(block_size), handles_(std::move(handles)) {}
  ~CryptoApiRecordKey() override { secure_wipe(buffer_.data(), buffer_.size()); }

 private:
  bool do_encrypt(RecordBatch batch) override {
    for (RecordSlot& slot : batch.records) {
      DWORD length = slot.length;
      std::memcpy(buffer_.data(), batch.block.data() + slot.offset, length);
      if (!CryptEncrypt(handles_->key(), 0, TRUE, 0, buffer_.data(), &length,
                        static_cast<DWORD>(kRecordBufferSize)))
        return false;
      // The service pads as it likes; what it made must still fit.
      if (length != padded_length(slot.length, cipher_block_size())) return false;
      std::memcpy(batch.block.data() + slot.offset, buffer_.data(), length);
      slot.length = length;
    }
    return true;
  }

  // RecordKey::decrypt() refuses empty bodies: some versions of the service
  // crash on them instead of failing.
  bool do_decrypt(RecordBatch batch) override {
    for (RecordSlot& slot : batch.records) {
      DWORD length = slot.length;
      std::memcpy(buffer_.data(), batch.block.data() + slot.offset, length);
      if (!CryptDecrypt(handles_->key(), 0, TRUE, 0, buffer_.data(), &length)) return false;
      std::memcpy(batch.block.data() + slot.offset, buffer_.data(), length);
      slot.length = length;
    }
    return true;
  }

  std::unique_ptr<CryptHandles> handles_;
  // Each record goes through this buffer, so the service always sees the
  // room the reader has, whatever the block leaves behind.
  std::array<BYTE, kRecordBufferSize> buffer_{};
};

// A verify-only provider for digests: they need no key container, and it is
// kept for the life of the process since acquiring one is slow.
class DigestProvider {
 public:
  DigestProvider() {
    if (!CryptAcquireContextW(&provider_, nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT)) {
      acquire_error_ = last_crypt_error();
      provider_ = 0;
    }
  }
  DigestProvider(const DigestProvider&) = delete;
  DigestProvider& operator=(const DigestProvider&) = delete;
  ~DigestProvider() {
    if (provider_ != 0) CryptReleaseContext(provider_, 0);
  }

  std::error_code digest(HashAlgorithm hash, std::span<const std::uint8_t> data,
                         SecureBytes& digest) const {
    if (provider_ == 0) return acquire_error_;
    HCRYPTHASH hash_object = 0;
    if (!CryptCreateHash(provider_, static_cast<ALG_ID>(hash), 0, 0, &hash_object))
      return last_crypt_error();
    SecureBytes result(digest_length(hash));
    DWORD length = static_cast<DWORD>(result.size());
    const bool ok =
        CryptHashData(hash_object, bytes_of(data), static_cast<DWORD>(data.size()), 0) &&
        CryptGetHashParam(hash_object, HP_HASHVAL, result.data(), &length, 0);
    const std::error_code error = ok ? std::error_code{} : last_crypt_error();
    CryptDestroyHash(hash_object);
    if (error) return error;
    if (length != result.size()) return CryptoError::library_failed;
    digest = std::move(result);
    return {};
  }

 private:
  HCRYPTPROV provider_ = 0;
  std::error_code acquire_error_;
};

class CryptoApiCryptoService final : public CryptoService {
 public:
  std::error_code digest(HashAlgorithm hash, std::span<const std::uint8_t> data,
                         SecureBytes& digest) override {
    return digest_provider_.digest(hash, data, digest);
  }

  std::error_code derive_key(HashAlgorithm hash, CipherAlgorithm cipher,
                             std::span<const std::uint8_t> key_material,
                             std::unique_ptr<RecordKey>& key) override {
    auto handles = std::make_unique<CryptHandles>();
    if (!open_hash(*handles, hash, cipher) || !handles->hash_data(key_material) ||
        !handles->derive(cipher))
      return last_crypt_error();
    key = std::make_unique<CryptoApiRecordKey>(std::move(handles), block_size(cipher));
    return {};
  }

 private:
  DigestProvider digest_provider_;
};

}  // namespace

CryptoService& cryptoapi_crypto_service() {
  static CryptoApiCryptoService service;
  return service;
}

}  // namespace kestrune
