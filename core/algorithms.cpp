#include "core/algorithms.h"

namespace kestrune {
namespace {

struct HashInfo {
  HashAlgorithm id;
  std::string_view label;
  std::size_t digest_length;
};

struct CipherInfo {
  CipherAlgorithm id;
  std::string_view label;
  std::size_t key_length;
  std::size_t block_size;
};

constexpr HashInfo kHashes[] = {
    {HashAlgorithm::sha1, "SHA1", 20},     {HashAlgorithm::sha256, "SHA256", 32},
    {HashAlgorithm::sha384, "SHA384", 48}, {HashAlgorithm::sha512, "SHA512", 64},
    {HashAlgorithm::md5, "MD5", 16},
};

constexpr CipherInfo kCiphers[] = {
    {CipherAlgorithm::des, "DES", 8, 8},         {CipherAlgorithm::triple_des, "3DES", 24, 8},
    {CipherAlgorithm::aes128, "AES128", 16, 16}, {CipherAlgorithm::aes192, "AES192", 24, 16},
    {CipherAlgorithm::aes256, "AES256", 32, 16},
};

const HashInfo& info(HashAlgorithm hash) {
  for (const auto& entry : kHashes)
    if (entry.id == hash) return entry;
  return kHashes[1];  // unreachable for a valid enumerator
}

const CipherInfo& info(CipherAlgorithm cipher) {
  for (const auto& entry : kCiphers)
    if (entry.id == cipher) return entry;
  return kCiphers[4];  // unreachable for a valid enumerator
}

}  // namespace

std::string_view label(HashAlgorithm hash) { return info(hash).label; }
std::string_view label(CipherAlgorithm cipher) { return info(cipher).label; }

std::optional<HashAlgorithm> hash_from_label(std::string_view text) {
  for (const auto& entry : kHashes)
    if (entry.label == text) return entry.id;
  return std::nullopt;
}

std::optional<CipherAlgorithm> cipher_from_label(std::string_view text) {
  for (const auto& entry : kCiphers)
    if (entry.label == text) return entry.id;
  return std::nullopt;
}

std::size_t digest_length(HashAlgorithm hash) { return info(hash).digest_length; }
std::size_t key_length(CipherAlgorithm cipher) { return info(cipher).key_length; }
std::size_t block_size(CipherAlgorithm cipher) { return info(cipher).block_size; }

bool is_sha2(HashAlgorithm hash) {
  return hash == HashAlgorithm::sha256 || hash == HashAlgorithm::sha384 ||
         hash == HashAlgorithm::sha512;
}

bool is_slow_cipher(CipherAlgorithm cipher) {
  return cipher == CipherAlgorithm::des || cipher == CipherAlgorithm::triple_des;
}

}  // namespace kestrune
