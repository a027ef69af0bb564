// The key derivation rule the platform documents for CryptDeriveKey, for back
// ends whose library has no such call. Stored containers depend on every
// detail, including the expanded form for MD5 and SHA-1 with AES-128, whose
// digest would be long enough.
#pragma once

#include <cstdint>
#include <functional>
#include <span>

#include "core/algorithms.h"
#include "core/secret_memory.h"

namespace kestrune {

// Digests `data` with the hash the derivation is made for.
using DigestFunction = std::function<SecureBytes(std::span<const std::uint8_t> data)>;

bool uses_expanded_derivation(HashAlgorithm hash, CipherAlgorithm cipher);

// The key bytes for `cipher`, derived from `digest` (the digest of the key
// material). `digest_of` is only used by the expanded form.
SecureBytes derive_key_bytes(HashAlgorithm hash, CipherAlgorithm cipher,
                             std::span<const std::uint8_t> digest, const DigestFunction& digest_of);

}  // namespace kestrune
