// The multi-buffer back end for x86-64: records are coded with Intel's
// multi-buffer crypto library (libipsec-mb), which interleaves many
// independent CBC messages in the vector lanes; a batch of records is exactly
// such a set of messages. Digests and key derivation come from the OpenSSL
// back end, so both back ends derive the same keys by construction.
#pragma once

#include "core/crypto/crypto_service.h"

namespace kestrune {

// The multi-buffer service, or null when the library cannot run on this CPU.
// Each thread that codes records gets a job manager of its own on its first
// batch and keeps it until it ends; nothing is allocated per record. So one
// key may code disjoint batches on several threads at once.
CryptoService* ipsec_mb_crypto_service();

}  // namespace kestrune
