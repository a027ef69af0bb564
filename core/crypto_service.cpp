#include "crypto_service.h"

#include "crypto_service_openssl.h"

namespace kestrune {

CryptoService& native_crypto_service() { return openssl_crypto_service(); }

}  // namespace kestrune
