#include "crypto/crypto_service.h"

#ifdef _WIN32
#include "crypto/crypto_service_cryptoapi.h"
#else
#include "crypto/crypto_service_openssl.h"
#ifdef KESTRUNE_HAVE_IPSEC_MB
#include "crypto/crypto_service_ipsec_mb.h"
#endif
#endif

namespace kestrune {

CryptoService* multi_buffer_crypto_service() {
#ifdef KESTRUNE_HAVE_IPSEC_MB
  return ipsec_mb_crypto_service();
#else
  return nullptr;
#endif
}

#ifdef _WIN32
CryptoService& native_crypto_service() { return cryptoapi_crypto_service(); }
#else
CryptoService& native_crypto_service() {
  // The multi-buffer library codes many records at once; it declines CPUs
  // it cannot serve well, and OpenSSL takes over.
  if (CryptoService* multi_buffer = multi_buffer_crypto_service()) return *multi_buffer;
  return openssl_crypto_service();
}
#endif

}  // namespace kestrune
