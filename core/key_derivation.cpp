#include "core/key_derivation.h"

#include <algorithm>
#include <array>

namespace kestrune {
namespace {

// The expanded form digests the digest XORed into two 64-byte buffers of
// 0x36 and 0x5C and concatenates the two results.
SecureBytes expand(std::span<const std::uint8_t> digest, const DigestFunction& digest_of) {
  constexpr std::size_t kBufferSize = 64;
  SecureBytes inner(kBufferSize);
  SecureBytes outer(kBufferSize);
  for (std::size_t i = 0; i < kBufferSize; ++i) {
    const std::uint8_t d = i < digest.size() ? digest[i] : 0;
    inner.data()[i] = static_cast<std::uint8_t>(0x36 ^ d);
    outer.data()[i] = static_cast<std::uint8_t>(0x5C ^ d);
  }
  SecureBytes first = digest_of({inner.data(), inner.size()});
  SecureBytes second = digest_of({outer.data(), outer.size()});
  SecureBytes joined(first.size() + second.size());
  std::copy_n(first.data(), first.size(), joined.data());
  std::copy_n(second.data(), second.size(), joined.data() + first.size());
  return joined;
}

}  // namespace

bool uses_expanded_derivation(HashAlgorithm hash, CipherAlgorithm cipher) {
  return !is_sha2(hash) && cipher != CipherAlgorithm::des;
}

SecureBytes derive_key_bytes(HashAlgorithm hash, CipherAlgorithm cipher,
                             std::span<const std::uint8_t> digest,
                             const DigestFunction& digest_of) {
  SecureBytes key;
  if (uses_expanded_derivation(hash, cipher)) {
    key = expand(digest, digest_of);
  } else {
    key = SecureBytes(digest.size());
    std::copy(digest.begin(), digest.end(), key.data());
  }
  key.resize_down(key_length(cipher));
  return key;
}

}  // namespace kestrune
