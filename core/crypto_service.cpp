#include "crypto_service.h"

#include "crypto_service_openssl.h"
#ifdef KESTRUNE_HAVE_IPSEC_MB
#include "crypto_service_ipsec_mb.h"
#endif

namespace kestrune {

CryptoService& native_crypto_service() {
#ifdef KESTRUNE_HAVE_IPSEC_MB
  if (CryptoService* multi_buffer = ipsec_mb_crypto_service()) return *multi_buffer;
#endif
  return openssl_crypto_service();
}

}  // namespace kestrune
