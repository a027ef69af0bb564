#include "core/services.h"

#include "core/crypto/crypto_service_ipsec_mb.h"

namespace kestrune {

CryptoService* multi_buffer_crypto_service() { return ipsec_mb_crypto_service(); }

}  // namespace kestrune
