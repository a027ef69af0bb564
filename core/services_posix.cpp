#include "core/services.h"

#include "core/crypto/crypto_service.h"
#include "core/crypto/crypto_service_openssl.h"
#include "core/files/file_system_posix.h"

namespace kestrune {

// The multi-buffer library codes many records at once; it declines CPUs it
// cannot serve well, and OpenSSL takes over.
CryptoService& native_crypto_service() {
  if (CryptoService* multi_buffer = multi_buffer_crypto_service()) return *multi_buffer;
  return openssl_crypto_service();
}

void load_crypto_libraries() {
  multi_buffer_crypto_service();
  openssl_crypto_service();  // the multi-buffer back end digests through it
}

std::unique_ptr<FileSystem> make_native_file_system() { return make_posix_file_system(); }

}  // namespace kestrune
