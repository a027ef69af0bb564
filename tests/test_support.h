// Shared helpers: scratch folders, a front end that records what it was
// told, and file utilities.
#pragma once

#include <cstdint>
#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#include "core/crypto/crypto_service.h"
#include "core/front_end.h"
#include "core/kestrune.h"

namespace kestrune::test {

using Bytes = std::vector<std::uint8_t>;

struct ShownFailure {
  std::string text;
  std::string caption;
  bool operator==(const ShownFailure&) const = default;
  friend void PrintTo(const ShownFailure& failure, std::ostream* out) {
    *out << '"' << failure.caption << ": " << failure.text << '"';
  }
};

class RecordingFrontEnd final : public FrontEnd {
 public:
  void show_failure(const Outcome& failed) override {
    failures.push_back({std::string(failed.failure.text), std::string(failed.failure.caption)});
    causes.push_back(failed.cause);
    if (failed.cause == std::errc::not_enough_memory) ++allocation_failures;
  }
  void input_kept(std::string_view reason, std::error_code) override { kept.emplace_back(reason); }
  void temporary_left(const std::filesystem::path& temporary, std::error_code) override {
    left.push_back(temporary);
  }
  void set_busy(bool busy) override { busy_changes.push_back(busy); }
  void progress(const std::filesystem::path&, std::uint64_t done, std::uint64_t total) override {
    last_done = done;
    last_total = total;
  }

  std::vector<ShownFailure> failures;
  std::vector<std::error_code> causes;  // one a failure, empty where none was given
  int allocation_failures = 0;
  std::vector<std::string> kept;            // the reasons, in order
  std::vector<std::filesystem::path> left;  // temporaries that could not be removed
  std::vector<bool> busy_changes;
  std::uint64_t last_done = 0;
  std::uint64_t last_total = 0;
};

// A fresh folder, removed with everything in it at the end of the test.
class ScratchFolder {
 public:
  ScratchFolder();
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;
  ~ScratchFolder();
  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }
  // Names of everything in the folder, sorted.
  std::vector<std::string> entries() const;

 private:
  std::filesystem::path path_;
};

// The plain text of the known-answer vectors: byte i is (i*31 + 7) & 0xFF.
Bytes pattern_bytes(std::size_t size);
Bytes random_bytes(std::size_t size, std::uint32_t seed);

void write_file(const std::filesystem::path& path, const Bytes& bytes);
Bytes read_file(const std::filesystem::path& path);

std::string to_hex(const std::uint8_t* data, std::size_t size);
inline std::string to_hex(const Bytes& bytes) { return to_hex(bytes.data(), bytes.size()); }
Bytes from_hex(const std::string& hex);

// A clock stopped at `seconds`.
inline Clock fixed_clock(std::int64_t seconds) {
  return [seconds] { return seconds; };
}

// What a service derives or digests; null or empty when it fails.
std::unique_ptr<RecordKey> key_from(CryptoService& service, HashAlgorithm hash,
                                    CipherAlgorithm cipher, std::span<const std::uint8_t> material);
SecureBytes digest_from(CryptoService& service, HashAlgorithm hash,
                        std::span<const std::uint8_t> data);

}  // namespace kestrune::test
