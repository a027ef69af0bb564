#include "secure_wipe.h"

namespace kestrune {

void secure_wipe(void* data, std::size_t size) {
  // Writes through a volatile pointer are not optimised away as dead stores.
  auto* bytes = static_cast<volatile unsigned char*>(data);
  for (std::size_t i = 0; i < size; ++i) bytes[i] = 0;
}

}  // namespace kestrune
