#include "crypto_service.h"

#ifdef _WIN32
#include "crypto_service_cryptoapi.h"
#else
#include "crypto_service_openssl.h"
#endif

namespace kestrune {

#ifdef _WIN32
CryptoService& native_crypto_service() { return cryptoapi_crypto_service(); }
#else
CryptoService& native_crypto_service() { return openssl_crypto_service(); }
#endif

}  // namespace kestrune
