#include "core/crypto/crypto_service_openssl.h"

#include <openssl/evp.h>
#include <openssl/provider.h>

#include <algorithm>
#include <array>
#include <iterator>
#include <mutex>

#include "core/key_derivation.h"
#include "core/padding.h"

namespace kestrune {
namespace {

const char* openssl_name(HashAlgorithm hash) {
  switch (hash) {
    case HashAlgorithm::sha1: return "SHA1";
    case HashAlgorithm::sha256: return "SHA256";
    case HashAlgorithm::sha384: return "SHA384";
    case HashAlgorithm::sha512: return "SHA512";
    case HashAlgorithm::md5: return "MD5";
  }
  return "";
}

const char* openssl_name(CipherAlgorithm cipher) {
  switch (cipher) {
    case CipherAlgorithm::des: return "DES-CBC";
    case CipherAlgorithm::triple_des: return "DES-EDE3-CBC";
    case CipherAlgorithm::aes128: return "AES-128-CBC";
    case CipherAlgorithm::aes192: return "AES-192-CBC";
    case CipherAlgorithm::aes256: return "AES-256-CBC";
  }
  return "";
}

// Providers and fetched algorithms live as long as the process: fetching per
// file would cost a lookup and a lock each time.
class Library {
 public:
  Library() : context_(OSSL_LIB_CTX_new()) {
    if (context_ == nullptr) return;
    default_provider_ = OSSL_PROVIDER_load(context_, "default");
    legacy_provider_ = OSSL_PROVIDER_load(context_, "legacy");  // single DES lives here
    for (std::size_t i = 0; i < digests_.size(); ++i)
      digests_[i] = EVP_MD_fetch(context_, openssl_name(kAllHashes[i]), nullptr);
    for (std::size_t i = 0; i < ciphers_.size(); ++i)
      ciphers_[i] = EVP_CIPHER_fetch(context_, openssl_name(kAllCiphers[i]), nullptr);
  }
  ~Library() {
    for (EVP_MD* md : digests_) EVP_MD_free(md);
    for (EVP_CIPHER* cipher : ciphers_) EVP_CIPHER_free(cipher);
    if (legacy_provider_ != nullptr) OSSL_PROVIDER_unload(legacy_provider_);
    if (default_provider_ != nullptr) OSSL_PROVIDER_unload(default_provider_);
    OSSL_LIB_CTX_free(context_);
  }
  Library(const Library&) = delete;
  Library& operator=(const Library&) = delete;

  // Null when the algorithm's provider could not be loaded.
  const EVP_MD* digest(HashAlgorithm hash) const { return digests_[index_of(kAllHashes, hash)]; }
  const EVP_CIPHER* cipher(CipherAlgorithm cipher) const {
    return ciphers_[index_of(kAllCiphers, cipher)];
  }

 private:
  template <typename Algorithm, std::size_t N>
  static std::size_t index_of(const Algorithm (&all)[N], Algorithm wanted) {
    return static_cast<std::size_t>(std::find(all, all + N, wanted) - all);
  }

  OSSL_LIB_CTX* context_;
  OSSL_PROVIDER* default_provider_ = nullptr;
  OSSL_PROVIDER* legacy_provider_ = nullptr;
  std::array<EVP_MD*, std::size(kAllHashes)> digests_{};
  std::array<EVP_CIPHER*, std::size(kAllCiphers)> ciphers_{};
};

Library& library() {
  static Library instance;
  return instance;
}

struct CipherContextDeleter {
  void operator()(EVP_CIPHER_CTX* context) const { EVP_CIPHER_CTX_free(context); }
};
using CipherContext = std::unique_ptr<EVP_CIPHER_CTX, CipherContextDeleter>;

SecureBytes digest_with(const EVP_MD* md, std::span<const std::uint8_t> data) {
  SecureBytes out(static_cast<std::size_t>(EVP_MD_get_size(md)));
  unsigned int length = 0;
  if (EVP_Digest(data.data(), data.size(), out.data(), &length, md, nullptr) != 1) return {};
  return out;
}

CipherContext keyed_context(const EVP_CIPHER* cipher, const SecureBytes& key, int encrypt) {
  CipherContext context(EVP_CIPHER_CTX_new());
  if (!context ||
      EVP_CipherInit_ex2(context.get(), cipher, key.data(), kZeroIv.data(), encrypt, nullptr) !=
          1 ||
      EVP_CIPHER_CTX_set_padding(context.get(), 0) != 1)
    return nullptr;
  return context;
}

// One thread's means of coding: a context holds the state of the message
// under way, so no two threads may share one.
struct CipherContexts {
  CipherContext encryptor;
  CipherContext decryptor;
  std::mutex in_use;
};

// Keyed once per file, with a pair of contexts for each of two coding
// threads; only the IV is re-armed for each record, since every record is a
// message of its own.
class OpenSslRecordKey final : public RecordKey {
 public:
  // Null when the library cannot key `cipher` with `key`.
  static std::unique_ptr<OpenSslRecordKey> make(const EVP_CIPHER* cipher, const SecureBytes& key,
                                                std::size_t block_size) {
    std::unique_ptr<OpenSslRecordKey> record_key(new OpenSslRecordKey(block_size));
    for (CipherContexts& coders : record_key->coders_) {
      coders.encryptor = keyed_context(cipher, key, 1);
      coders.decryptor = keyed_context(cipher, key, 0);
      if (!coders.encryptor || !coders.decryptor) return nullptr;
    }
    return record_key;
  }

  bool works_on_two_threads() const override { return true; }

 private:
  explicit OpenSslRecordKey(std::size_t block_size) : RecordKey(block_size) {}

  bool do_encrypt(RecordBatch batch) override {
    return with_coders([&batch, this](CipherContexts& coders) {
      for (RecordSlot& slot : batch.records) {
        std::uint8_t* record = batch.block.data() + slot.offset;
        const std::size_t body_length =
            add_padding(batch.block.subspan(slot.offset), slot.length, cipher_block_size());
        if (!code_in_place(coders.encryptor.get(), record, body_length)) return false;
        slot.length = static_cast<std::uint32_t>(body_length);
      }
      return true;
    });
  }

  bool do_decrypt(RecordBatch batch) override {
    return with_coders([&batch, this](CipherContexts& coders) {
      for (RecordSlot& slot : batch.records) {
        std::uint8_t* record = batch.block.data() + slot.offset;
        if (!code_in_place(coders.decryptor.get(), record, slot.length)) return false;
        const auto plain = strip_padding({record, slot.length}, cipher_block_size());
        if (!plain) return false;
        slot.length = static_cast<std::uint32_t>(*plain);
      }
      return true;
    });
  }

  // Codes with the first pair no other thread holds; a third thread waits.
  template <typename Code>
  bool with_coders(Code code) {
    for (CipherContexts& coders : coders_) {
      std::unique_lock lock(coders.in_use, std::try_to_lock);
      if (lock.owns_lock()) return code(coders);
    }
    std::lock_guard lock(coders_.back().in_use);
    return code(coders_.back());
  }

  static bool code_in_place(EVP_CIPHER_CTX* context, std::uint8_t* data, std::size_t length) {
    int written = 0;
    return EVP_CipherInit_ex2(context, nullptr, nullptr, kZeroIv.data(), -1, nullptr) == 1 &&
           EVP_CipherUpdate(context, data, &written, data, static_cast<int>(length)) == 1 &&
           static_cast<std::size_t>(written) == length;
  }

  std::array<CipherContexts, 2> coders_;
};

class OpenSslCryptoService final : public CryptoService {
 public:
  // Loads the library with the service, so that whoever holds the service
  // has the library's exit-time clean-up registered by then.
  OpenSslCryptoService() { library(); }

  std::error_code digest(HashAlgorithm hash, std::span<const std::uint8_t> data,
                         SecureBytes& digest) override {
    const EVP_MD* md = library().digest(hash);
    if (md == nullptr) return CryptoError::algorithm_unavailable;
    digest = digest_with(md, data);
    return digest.size() != 0 ? std::error_code{} : CryptoError::library_failed;
  }

  std::error_code derive_key(HashAlgorithm hash, CipherAlgorithm cipher,
                             std::span<const std::uint8_t> key_material,
                             std::unique_ptr<RecordKey>& record_key) override {
    const EVP_MD* md = library().digest(hash);
    const EVP_CIPHER* evp_cipher = library().cipher(cipher);
    if (md == nullptr || evp_cipher == nullptr) return CryptoError::algorithm_unavailable;
    const SecureBytes digest = digest_with(md, key_material);
    if (digest.size() == 0) return CryptoError::library_failed;
    const SecureBytes key = derive_key_bytes(
        hash, cipher, {digest.data(), digest.size()},
        [&md](std::span<const std::uint8_t> data) { return digest_with(md, data); });
    if (key.size() != key_length(cipher) ||
        static_cast<std::size_t>(EVP_CIPHER_get_key_length(evp_cipher)) != key.size())
      return CryptoError::library_failed;
    record_key = OpenSslRecordKey::make(evp_cipher, key, block_size(cipher));
    return record_key != nullptr ? std::error_code{} : CryptoError::library_failed;
  }
};

}  // namespace

CryptoService& openssl_crypto_service() {
  static OpenSslCryptoService service;
  return service;
}

}  // namespace kestrune
