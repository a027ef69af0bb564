#include "core/crypto/crypto_service_ipsec_mb.h"

#include <intel-ipsec-mb.h>

#include <array>

#include "core/crypto/crypto_service_openssl.h"
#include "core/key_derivation.h"
#include "core/padding.h"

namespace kestrune {
namespace {

struct ManagerDeleter {
  void operator()(IMB_MGR* manager) const { free_mb_mgr(manager); }
};
using Manager = std::unique_ptr<IMB_MGR, ManagerDeleter>;

// Null when the library cannot serve this CPU well: without AES-NI its
// portable code is no faster than OpenSSL's, so OpenSSL is used instead.
Manager make_manager() {
  Manager manager(alloc_mb_mgr(0));
  if (!manager) return nullptr;
  IMB_ARCH arch = IMB_ARCH_NONE;
  init_mb_mgr_auto(manager.get(), &arch);
  if (arch < IMB_ARCH_SSE || imb_get_errno(manager.get()) != 0) return nullptr;
  return manager;
}

// A job manager queues jobs between calls, so two threads must never share
// one; each coding thread keeps its own for its lifetime.
IMB_MGR* thread_manager() {
  thread_local const Manager manager = make_manager();
  return manager.get();
}

// Round keys in the layout the library's jobs point at.
struct alignas(64) RoundKeys {
  static constexpr std::size_t kAesRoundKeyBytes = 16 * 15;
  std::array<std::uint8_t, kAesRoundKeyBytes> aes_encrypt{};
  std::array<std::uint8_t, kAesRoundKeyBytes> aes_decrypt{};
  std::array<std::array<std::uint64_t, IMB_DES_KEY_SCHED_SIZE / 8>, 3> des{};
  // 3DES jobs take the three single-DES schedules through an array of pointers.
  std::array<const void*, 3> des3{};
};

// Round keys are expanded once here; coding a batch only points jobs at them.
class IpsecMbRecordKey final : public RecordKey {
 public:
  IpsecMbRecordKey(const IpsecMbRecordKey&) = delete;
  IpsecMbRecordKey& operator=(const IpsecMbRecordKey&) = delete;
  ~IpsecMbRecordKey() override { secure_wipe(&round_keys_, sizeof round_keys_); }

  // Null when the library cannot expand `key` for `cipher`.
  static std::unique_ptr<IpsecMbRecordKey> make(CipherAlgorithm cipher, const SecureBytes& key) {
    IMB_MGR* manager = thread_manager();
    if (manager == nullptr) return nullptr;
    std::unique_ptr<IpsecMbRecordKey> record_key(new IpsecMbRecordKey(cipher, key.size()));
    if (!record_key->expand(manager, cipher, key.data())) return nullptr;
    return record_key;
  }

  // Each thread codes with a job manager of its own.
  bool works_on_two_threads() const override { return true; }

 private:
  IpsecMbRecordKey(CipherAlgorithm cipher, std::size_t key_length)
      : RecordKey(block_size(cipher)), key_length_(key_length) {}

  bool do_encrypt(RecordBatch batch) override {
    return code_records(batch, IMB_DIR_ENCRYPT, [](RecordSlot&) { return true; });
  }

  bool do_decrypt(RecordBatch batch) override {
    return code_records(batch, IMB_DIR_DECRYPT, [this, &batch](RecordSlot& slot) {
      const auto plain =
          strip_padding(batch.block.subspan(slot.offset, slot.length), cipher_block_size());
      if (!plain) return false;
      slot.length = static_cast<std::uint32_t>(*plain);
      return true;
    });
  }

  bool expand(IMB_MGR* manager, CipherAlgorithm cipher, const std::uint8_t* key) {
    std::uint8_t* encrypt_keys = round_keys_.aes_encrypt.data();
    std::uint8_t* decrypt_keys = round_keys_.aes_decrypt.data();
    switch (cipher) {
      case CipherAlgorithm::aes128:
        IMB_AES_KEYEXP_128(manager, key, encrypt_keys, decrypt_keys);
        use_keys(IMB_CIPHER_CBC, encrypt_keys, decrypt_keys);
        return true;
      case CipherAlgorithm::aes192:
        IMB_AES_KEYEXP_192(manager, key, encrypt_keys, decrypt_keys);
        use_keys(IMB_CIPHER_CBC, encrypt_keys, decrypt_keys);
        return true;
      case CipherAlgorithm::aes256:
        IMB_AES_KEYEXP_256(manager, key, encrypt_keys, decrypt_keys);
        use_keys(IMB_CIPHER_CBC, encrypt_keys, decrypt_keys);
        return true;
      case CipherAlgorithm::des:
        if (!schedule_des(key, 1)) return false;
        // DES jobs use the same schedule in both directions.
        use_keys(IMB_CIPHER_DES, round_keys_.des[0].data(), round_keys_.des[0].data());
        return true;
      case CipherAlgorithm::triple_des:
        if (!schedule_des(key, 3)) return false;
        for (std::size_t i = 0; i < 3; ++i) round_keys_.des3[i] = round_keys_.des[i].data();
        use_keys(IMB_CIPHER_DES3, round_keys_.des3.data(), round_keys_.des3.data());
        return true;
    }
    return false;
  }

  // Schedules `count` single-DES keys of 8 bytes each, in key order.
  bool schedule_des(const std::uint8_t* key, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i)
      if (des_key_schedule(round_keys_.des[i].data(), key + 8 * i) != 0) return false;
    return true;
  }

  void use_keys(IMB_CIPHER_MODE mode, const void* encrypt_keys, const void* decrypt_keys) {
    mode_ = mode;
    encrypt_keys_ = encrypt_keys;
    decrypt_keys_ = decrypt_keys;
  }

  // Fills the manager's next job with one record, coded in place as a
  // message of its own from the zero IV.
  void describe_job(IMB_JOB& job, std::uint8_t* record, RecordSlot& slot,
                    IMB_CIPHER_DIRECTION direction) const {
    job.cipher_mode = mode_;
    job.cipher_direction = direction;
    job.chain_order = direction == IMB_DIR_ENCRYPT ? IMB_ORDER_CIPHER_HASH : IMB_ORDER_HASH_CIPHER;
    job.hash_alg = IMB_AUTH_NULL;
    job.enc_keys = encrypt_keys_;
    job.dec_keys = decrypt_keys_;
    job.key_len_in_bytes = key_length_;
    job.iv = kZeroIv.data();
    job.iv_len_in_bytes = cipher_block_size();
    job.src = record;
    job.dst = record;
    job.cipher_start_src_offset_in_bytes = 0;
    job.msg_len_to_cipher_in_bytes = slot.length;
    job.hash_start_src_offset_in_bytes = 0;
    job.msg_len_to_hash_in_bytes = 0;
    job.auth_tag_output = nullptr;
    job.auth_tag_output_len_in_bytes = 0;
    job.user_data = &slot;
  }

  // Submits a job per record and drains the manager before returning, so no
  // job outlives the batch; `finish` runs on each record as its job completes.
  // Records are padded as they are queued when encrypting.
  template <typename Finish>
  bool code_records(RecordBatch batch, IMB_CIPHER_DIRECTION direction, Finish finish) {
    IMB_MGR* manager = thread_manager();
    if (manager == nullptr) return false;
    std::size_t completed = 0;
    bool all_finished = true;
    const auto take = [&](IMB_JOB* job) {
      ++completed;
      all_finished = all_finished && job->status == IMB_STATUS_COMPLETED &&
                     finish(*static_cast<RecordSlot*>(job->user_data));
    };
    for (RecordSlot& slot : batch.records) {
      if (direction == IMB_DIR_ENCRYPT)
        slot.length = static_cast<std::uint32_t>(
            add_padding(batch.block.subspan(slot.offset), slot.length, cipher_block_size()));
      describe_job(*IMB_GET_NEXT_JOB(manager), batch.block.data() + slot.offset, slot, direction);
      for (IMB_JOB* job = IMB_SUBMIT_JOB(manager); job != nullptr;
           job = IMB_GET_COMPLETED_JOB(manager))
        take(job);
    }
    while (IMB_JOB* job = IMB_FLUSH_JOB(manager)) take(job);
    return all_finished && completed == batch.records.size();
  }

  RoundKeys round_keys_;
  std::size_t key_length_;
  IMB_CIPHER_MODE mode_ = IMB_CIPHER_CBC;
  const void* encrypt_keys_ = nullptr;
  const void* decrypt_keys_ = nullptr;
};

// Below AVX-512 the library codes DES one block at a time, fifty times
// slower than OpenSSL; its AES is fast on every CPU with AES-NI.
bool codes_fast(CipherAlgorithm cipher) {
  if (!is_slow_cipher(cipher)) return true;
  const IMB_MGR* manager = thread_manager();
  return manager != nullptr && manager->used_arch >= IMB_ARCH_AVX512;
}

class IpsecMbCryptoService final : public CryptoService {
 public:
  std::error_code digest(HashAlgorithm hash, std::span<const std::uint8_t> data,
                         SecureBytes& digest) override {
    return openssl_crypto_service().digest(hash, data, digest);
  }

  std::error_code derive_key(HashAlgorithm hash, CipherAlgorithm cipher,
                             std::span<const std::uint8_t> key_material,
                             std::unique_ptr<RecordKey>& record_key) override {
    if (!codes_fast(cipher))
      return openssl_crypto_service().derive_key(hash, cipher, key_material, record_key);
    SecureBytes material_digest;
    if (auto error = digest(hash, key_material, material_digest)) return error;
    // A failed digest comes back empty, and the key's length tells.
    const SecureBytes key =
        derive_key_bytes(hash, cipher, {material_digest.data(), material_digest.size()},
                         [this, hash](std::span<const std::uint8_t> data) {
                           SecureBytes expanded;
                           digest(hash, data, expanded);
                           return expanded;
                         });
    if (key.size() != key_length(cipher)) return CryptoError::library_failed;
    record_key = IpsecMbRecordKey::make(cipher, key);
    return record_key != nullptr ? std::error_code{} : CryptoError::library_failed;
  }
};

}  // namespace

CryptoService* ipsec_mb_crypto_service() {
  static IpsecMbCryptoService service;
  static const bool usable = thread_manager() != nullptr;
  return usable ? &service : nullptr;
}

}  // namespace kestrune
