#include "secure_wipe.h"

#include <cstring>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/mman.h>
#include <sys/resource.h>
#include <unistd.h>
#ifdef __linux__
#include <sys/prctl.h>
#endif
#endif

namespace kestrune {

void secure_wipe(void* data, std::size_t size) {
  if (size == 0) return;  // an empty buffer may have no address at all
  std::memset(data, 0, size);
  // The empty statement claims to read the memory, so the compiler cannot
  // drop the zeroing as a store nobody reads.
  asm volatile("" : : "r"(data) : "memory");
}

#ifdef _WIN32

// A portable program writes no registry key to opt out of error reporting
// (WerAddExcludedApplication would); the error mode is the process's own.
void keep_process_out_of_dumps() { SetErrorMode(GetErrorMode() | SEM_NOGPFAULTERRORBOX); }

void* allocate_secret_pages(std::size_t size) {
  void* pages = VirtualAlloc(nullptr, size, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
  if (pages == nullptr) throw std::bad_alloc();
  VirtualLock(pages, size);
  return pages;
}

void release_secret_pages(void* data, std::size_t size) {
  secure_wipe(data, size);
  VirtualUnlock(data, size);
  VirtualFree(data, 0, MEM_RELEASE);
}

#else

void keep_process_out_of_dumps() {
#ifdef __linux__
  prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
#endif
  const rlimit no_core{0, 0};
  setrlimit(RLIMIT_CORE, &no_core);
}

namespace {

std::size_t whole_pages(std::size_t size) {
  const auto page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
  return (size + page - 1) / page * page;
}

}  // namespace

void* allocate_secret_pages(std::size_t size) {
  const std::size_t length = whole_pages(size);
  void* pages = mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (pages == MAP_FAILED) throw std::bad_alloc();
  mlock(pages, length);
#ifdef MADV_DONTDUMP
  madvise(pages, length, MADV_DONTDUMP);
#endif
  return pages;
}

void release_secret_pages(void* data, std::size_t size) {
  secure_wipe(data, size);
  const std::size_t length = whole_pages(size);
  munlock(data, length);
  munmap(data, length);
}

#endif

}  // namespace kestrune
