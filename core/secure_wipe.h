// Keys and passwords must not outlive their use in freed memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kestrune {

void secure_wipe(void* data, std::size_t size);

// A byte buffer that wipes itself when it goes away.
class SecureBytes {
 public:
  SecureBytes() = default;
  explicit SecureBytes(std::size_t size) : bytes_(size) {}
  SecureBytes(const SecureBytes&) = delete;
  SecureBytes& operator=(const SecureBytes&) = delete;
  SecureBytes(SecureBytes&&) = default;
  SecureBytes& operator=(SecureBytes&&) = default;
  ~SecureBytes() { secure_wipe(bytes_.data(), bytes_.size()); }

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
  std::vector<std::uint8_t> bytes_;
};

}  // namespace kestrune
