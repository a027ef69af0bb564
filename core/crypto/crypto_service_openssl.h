// The OpenSSL 3 back end: libcrypto's digests and CBC ciphers, single DES
// from the legacy provider, all in a library context of our own so that the
// host process's OpenSSL configuration is neither used nor changed.
#pragma once

#include "core/crypto/crypto_service.h"

namespace kestrune {

CryptoService& openssl_crypto_service();

}  // namespace kestrune
