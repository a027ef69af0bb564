#include "core/secret_memory.h"

#include <array>
#include <cstring>
#include <mutex>

#include "core/secret_pages.h"

namespace kestrune {

void secure_wipe(void* data, std::size_t size) {
  if (size == 0) return;  // an empty buffer may have no address at all
  std::memset(data, 0, size);
  // The empty statement claims to read the memory, so the compiler cannot
  // drop the zeroing as a store nobody reads.
  asm volatile("" : : "r"(data) : "memory");
}

// Deeper than any key derivation or key schedule reaches.
[[gnu::noinline]] void wipe_stack_below() {
  unsigned char below[32 * 1024];
  secure_wipe(below, sizeof below);
}

namespace {

std::size_t whole_pages(std::size_t size) {
  const std::size_t page = secret_page_size();
  return (size + page - 1) / page * page;
}

// Mapping, locking and unlocking pages costs several system calls, and each
// file's key and digest need some: thousands of small files would spend most
// of their time there. Released runs are kept, wiped and still locked, for
// the next secret of the same length.
class SecretPageCache {
 public:
  void* take(std::size_t length) {
    std::lock_guard lock(mutex_);
    for (std::size_t i = 0; i < count_; ++i) {
      if (runs_[i].length != length) continue;
      void* pages = runs_[i].pages;
      runs_[i] = runs_[--count_];
      return pages;
    }
    return nullptr;
  }

  // False when the cache is full and the run must be unmapped. Never
  // allocates: it runs inside destructors, where bad_alloc would terminate.
  bool keep(void* pages, std::size_t length) {
    std::lock_guard lock(mutex_);
    if (count_ == runs_.size()) return false;
    runs_[count_++] = {pages, length};
    return true;
  }

 private:
  struct Run {
    void* pages;
    std::size_t length;
  };
  std::mutex mutex_;
  std::array<Run, 16> runs_{};
  std::size_t count_ = 0;
};

// Never destroyed: secrets may be released by other objects' destructors at
// exit, after this one would have gone.
SecretPageCache& page_cache() {
  static SecretPageCache* const cache = new SecretPageCache;
  return *cache;
}

}  // namespace

void* allocate_secret_pages(std::size_t size) {
  const std::size_t length = whole_pages(size);
  if (void* pages = page_cache().take(length)) return pages;
  return map_secret_pages(length);
}

void release_secret_pages(void* data, std::size_t size) {
  const std::size_t length = whole_pages(size);
  secure_wipe(data, length);
  if (!page_cache().keep(data, length)) unmap_secret_pages(data, length);
}

}  // namespace kestrune
