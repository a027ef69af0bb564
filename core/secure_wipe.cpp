#include "secure_wipe.h"

#include <cstring>

namespace kestrune {

void secure_wipe(void* data, std::size_t size) {
  if (size == 0) return;  // an empty buffer may have no address at all
  std::memset(data, 0, size);
  // The empty statement claims to read the memory, so the compiler cannot
  // drop the zeroing as a store nobody reads.
  asm volatile("" : : "r"(data) : "memory");
}

}  // namespace kestrune
