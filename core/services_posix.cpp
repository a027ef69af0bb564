#include "core/services.h"

#include "core/crypto/crypto_service.h"

#ifdef _WIN32
#include "core/crypto/crypto_service_cryptoapi.h"
#include "core/files/file_system_win32.h"
#else
#include "core/crypto/crypto_service_openssl.h"
#include "core/files/file_system_posix.h"
#endif
#ifdef KESTRUNE_HAVE_IPSEC_MB
#include "core/crypto/crypto_service_ipsec_mb.h"
#endif

namespace kestrune {

CryptoService& native_crypto_service() {
#ifdef _WIN32
  return cryptoapi_crypto_service();
#else
  // The multi-buffer library codes many records at once; it declines CPUs
  // it cannot serve well, and OpenSSL takes over.
  if (CryptoService* multi_buffer = multi_buffer_crypto_service()) return *multi_buffer;
  return openssl_crypto_service();
#endif
}

CryptoService* multi_buffer_crypto_service() {
#ifdef KESTRUNE_HAVE_IPSEC_MB
  return ipsec_mb_crypto_service();
#else
  return nullptr;
#endif
}

void load_crypto_libraries() {
  native_crypto_service();
  multi_buffer_crypto_service();
#ifndef _WIN32
  openssl_crypto_service();  // the multi-buffer back end digests through it
#endif
}

std::unique_ptr<FileSystem> make_native_file_system() {
#ifdef _WIN32
  return make_win32_file_system();
#else
  return make_posix_file_system();
#endif
}

}  // namespace kestrune
