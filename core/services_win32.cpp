#include "core/services.h"

#include "core/crypto/crypto_service.h"
#include "core/crypto/crypto_service_cryptoapi.h"
#include "core/files/file_system_win32.h"

namespace kestrune {

// Containers were always made with the platform's own service.
CryptoService& native_crypto_service() { return cryptoapi_crypto_service(); }

void load_crypto_libraries() { native_crypto_service(); }

std::unique_ptr<FileSystem> make_native_file_system() { return make_win32_file_system(); }

}  // namespace kestrune
