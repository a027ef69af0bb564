#include <sys/mman.h>
#include <sys/resource.h>
#include <unistd.h>
#if __has_include(<sys/prctl.h>)
#include <sys/prctl.h>
#endif

#include <new>

#include "core/secret_memory.h"
#include "core/secret_pages.h"

namespace kestrune {

void keep_process_out_of_dumps() {
#ifdef PR_SET_DUMPABLE
  prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
#endif
  const rlimit no_core{0, 0};
  setrlimit(RLIMIT_CORE, &no_core);
}

std::size_t secret_page_size() { return static_cast<std::size_t>(sysconf(_SC_PAGESIZE)); }

void* map_secret_pages(std::size_t length) {
  void* pages = mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (pages == MAP_FAILED) throw std::bad_alloc();
  mlock(pages, length);
#ifdef MADV_DONTDUMP
  madvise(pages, length, MADV_DONTDUMP);
#endif
  return pages;
}

void unmap_secret_pages(void* pages, std::size_t length) {
  munlock(pages, length);
  munmap(pages, length);
}

}  // namespace kestrune
