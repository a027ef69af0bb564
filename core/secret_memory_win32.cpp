#include <windows.h>

#include <new>

#include "core/secret_memory.h"
#include "core/secret_pages.h"

namespace kestrune {

// A portable program writes no registry key to opt out of error reporting
// (WerAddExcludedApplication would); the error mode is the process's own.
void keep_process_out_of_dumps() { SetErrorMode(GetErrorMode() | SEM_NOGPFAULTERRORBOX); }

std::size_t secret_page_size() {
  SYSTEM_INFO system{};
  GetSystemInfo(&system);
  return system.dwPageSize;
}

void* map_secret_pages(std::size_t length) {
  void* pages = VirtualAlloc(nullptr, length, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
  if (pages == nullptr) throw std::bad_alloc();
  VirtualLock(pages, length);
  return pages;
}

void unmap_secret_pages(void* pages, std::size_t length) {
  VirtualUnlock(pages, length);
  VirtualFree(pages, 0, MEM_RELEASE);
}

}  // namespace kestrune
