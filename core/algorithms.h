// The hash and cipher choices, identified by the platform's ALG_ID values so
// that the numbers a user may know from the Windows build mean the same here.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace kestrune {

enum class HashAlgorithm : std::uint32_t {
  sha1 = 0x8004,
  sha256 = 0x800C,
  sha384 = 0x800D,
  sha512 = 0x800E,
  md5 = 0x8003,
};

enum class CipherAlgorithm : std::uint32_t {
  des = 0x6601,
  triple_des = 0x6603,
  aes128 = 0x660E,
  aes192 = 0x660F,
  aes256 = 0x6610,
};

// In the order the dialog lists them.
inline constexpr HashAlgorithm kAllHashes[] = {HashAlgorithm::sha1, HashAlgorithm::sha256,
                                               HashAlgorithm::sha384, HashAlgorithm::sha512,
                                               HashAlgorithm::md5};
inline constexpr CipherAlgorithm kAllCiphers[] = {CipherAlgorithm::des, CipherAlgorithm::triple_des,
                                                  CipherAlgorithm::aes128, CipherAlgorithm::aes192,
                                                  CipherAlgorithm::aes256};

// The dialog's radio-button labels ("SHA256", "3DES", ...).
std::string_view label(HashAlgorithm hash);
std::string_view label(CipherAlgorithm cipher);
std::optional<HashAlgorithm> hash_from_label(std::string_view label);
std::optional<CipherAlgorithm> cipher_from_label(std::string_view label);

std::size_t digest_length(HashAlgorithm hash);
std::size_t key_length(CipherAlgorithm cipher);
std::size_t block_size(CipherAlgorithm cipher);
// The block sizes of DES (and 3DES) and of AES.
inline constexpr std::size_t kMinBlockSize = 8;
inline constexpr std::size_t kMaxBlockSize = 16;
bool is_sha2(HashAlgorithm hash);
// DES and 3DES code an order of magnitude slower than AES: worth a second core.
bool is_slow_cipher(CipherAlgorithm cipher);

// The hash and cipher a file is converted with.
struct Choices {
  HashAlgorithm hash;
  CipherAlgorithm cipher;
};

// What the dialogs and the command line start with.
inline constexpr Choices kDefaultChoices{HashAlgorithm::sha256, CipherAlgorithm::aes256};

// The choices a front end offers while files convert. It changes them from
// any thread; each conversion reads them once, when its file starts, so a
// change applies to the next file and never lands mid-file.
class SelectedChoices {
 public:
  void set_hash(HashAlgorithm hash) { hash_.store(hash); }
  void set_cipher(CipherAlgorithm cipher) { cipher_.store(cipher); }
  HashAlgorithm hash() const { return hash_.load(); }
  CipherAlgorithm cipher() const { return cipher_.load(); }
  Choices current() const { return {hash(), cipher()}; }

 private:
  std::atomic<HashAlgorithm> hash_{kDefaultChoices.hash};
  std::atomic<CipherAlgorithm> cipher_{kDefaultChoices.cipher};
};

}  // namespace kestrune
