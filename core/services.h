// The back ends this build runs on. They are chosen here and nowhere else:
// the seams (CryptoService, FileSystem) and the conversion know none of them,
// and tests inject their own.
#pragma once

#include <memory>

#include "core/files/file_system.h"

namespace kestrune {

class CryptoService;

// CryptoAPI on Windows, where containers were always made with it; the
// multi-buffer back end when it is built and the CPU has its instructions;
// OpenSSL otherwise.
CryptoService& native_crypto_service();

// The multi-buffer back end; null where it is not built or cannot run.
CryptoService* multi_buffer_crypto_service();

// Loads every crypto library this build may use. Each registers its
// exit-time clean-up as it loads, and exit handlers run last registered
// first: a handler registered after this call runs while they still work.
void load_crypto_libraries();

// The operating system's own file system.
std::unique_ptr<FileSystem> make_native_file_system();

}  // namespace kestrune
