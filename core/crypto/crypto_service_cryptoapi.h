// The Windows back end: the platform's own CryptoAPI (advapi32), called the
// way containers made by earlier Windows builds were: provider type by cipher,
// CryptDeriveKey with CRYPT_EXPORTABLE and default key length, and each record
// coded by one CryptEncrypt or CryptDecrypt call with Final = TRUE.
#pragma once

#include "core/crypto/crypto_service.h"

namespace kestrune {

CryptoService& cryptoapi_crypto_service();

}  // namespace kestrune
