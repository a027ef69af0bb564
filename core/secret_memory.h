// Keys and passwords must not outlive their use in freed memory, nor reach
// a core dump, the swap or another process while they are in use.
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>
#include <string>
#include <vector>

namespace kestrune {

void secure_wipe(void* data, std::size_t size);

// Zeroes the stack below the caller's frame, where the functions it just
// called (a key schedule, a digest's last block) may have left copies of a
// key that no secret page holds.
void wipe_stack_below();

// Makes the process non-dumpable and its core dumps empty (on Windows:
// keeps error reporting away from it), for as long as it runs. Called first
// thing by every program that is given a password.
void keep_process_out_of_dumps();

// Whole pages of their own, locked in memory and left out of core dumps
// where the system allows (a refusal is no error: the pages still work),
// wiped before they are given back. Throws std::bad_alloc when none are left.
void* allocate_secret_pages(std::size_t size);
void release_secret_pages(void* data, std::size_t size);

// Puts a container's storage on secret pages: every buffer it frees,
// including those left behind by growth, is wiped first.
template <typename T>
struct SecretAllocator {
  using value_type = T;
  SecretAllocator() = default;
  template <typename U>
  SecretAllocator(const SecretAllocator<U>&) {}
  T* allocate(std::size_t count) {
    if (count > SIZE_MAX / sizeof(T)) throw std::bad_alloc();
    return static_cast<T*>(allocate_secret_pages(count * sizeof(T)));
  }
  void deallocate(T* data, std::size_t count) { release_secret_pages(data, count * sizeof(T)); }
  template <typename U>
  bool operator==(const SecretAllocator<U>&) const {
    return true;
  }
};

// A password in UTF-16. Keep it longer than the string's inline buffer
// (reserve), so it lives on secret pages and a move leaves no copy behind.
using SecretU16String =
    std::basic_string<char16_t, std::char_traits<char16_t>, SecretAllocator<char16_t>>;

// A byte buffer on secret pages.
class SecureBytes {
 public:
  SecureBytes() = default;
  explicit SecureBytes(std::size_t size) : bytes_(size) {}
  SecureBytes(const SecureBytes&) = delete;
  SecureBytes& operator=(const SecureBytes&) = delete;
  // The allocator wipes what a move-assignment frees, as it wipes on every release.
  SecureBytes(SecureBytes&&) = default;
  SecureBytes& operator=(SecureBytes&&) = default;

  std::uint8_t* data() { return bytes_.data(); }
  const std::uint8_t* data() const { return bytes_.data(); }
  std::size_t size() const { return bytes_.size(); }
  void resize_down(std::size_t size) {
    if (size < bytes_.size()) {
      secure_wipe(bytes_.data() + size, bytes_.size() - size);
      bytes_.resize(size);
    }
  }

 private:
  std::vector<std::uint8_t, SecretAllocator<std::uint8_t>> bytes_;
};

}  // namespace kestrune
