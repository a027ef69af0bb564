// Internal to the core: what each platform supplies for secret memory.
#pragma once

#include <cstddef>

namespace kestrune {

std::size_t secret_page_size();

// Whole pages, locked in memory where the process may lock them and kept
// out of core dumps where the platform offers it. Throws std::bad_alloc.
void* map_secret_pages(std::size_t length);
void unmap_secret_pages(void* pages, std::size_t length);

}  // namespace kestrune
