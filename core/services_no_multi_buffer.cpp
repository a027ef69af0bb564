#include "core/services.h"

namespace kestrune {

// This build has no multi-buffer back end.
CryptoService* multi_buffer_crypto_service() { return nullptr; }

}  // namespace kestrune
