#include "gated_file_system.h"

#include <algorithm>
#include <chrono>

namespace kestrune::qt::testing {
namespace {

// Small reads, so the gate falls inside a block rather than after it.
constexpr std::size_t kLargestRead = 64 * 1024;
// A test that forgets its gate fails instead of hanging.
constexpr auto kLongestHold = std::chrono::seconds(20);

}  // namespace

class GatedFileSystem::GatedFile final : public ReadableFile {
 public:
  GatedFile(std::unique_ptr<ReadableFile> file, GatedFileSystem& owner)
      : file_(std::move(file)), owner_(owner) {}

  std::error_code read(std::span<std::uint8_t> buffer, std::size_t& bytes_read) override {
    const auto size = std::min(buffer.size(), kLargestRead);
    owner_.pass_gate(size);
    return file_->read(buffer.first(size), bytes_read);
  }

 private:
  std::unique_ptr<ReadableFile> file_;
  GatedFileSystem& owner_;
};

GatedFileSystem::GatedFileSystem(std::uint64_t bytes_before_gate)
    : bytes_before_gate_(bytes_before_gate) {}

void GatedFileSystem::open_gate() {
  {
    std::lock_guard lock(mutex_);
    open_ = true;
  }
  gate_opened_.notify_all();
}

void GatedFileSystem::pass_gate(std::size_t bytes) {
  std::unique_lock lock(mutex_);
  if (!open_ && bytes_read_ >= bytes_before_gate_) {
    holding_ = true;
    gate_opened_.wait_for(lock, kLongestHold, [this] { return open_; });
    holding_ = false;
  }
  bytes_read_ += bytes;
}

std::error_code GatedFileSystem::open_for_reading(const std::filesystem::path& path,
                                                  std::unique_ptr<ReadableFile>& file) {
  std::unique_ptr<ReadableFile> native_file;
  if (auto error = native_->open_for_reading(path, native_file)) return error;
  file = std::make_unique<GatedFile>(std::move(native_file), *this);
  return {};
}

std::error_code GatedFileSystem::create_temporary(const std::filesystem::path& target,
                                                  std::unique_ptr<WritableFile>& file,
                                                  std::filesystem::path& temporary) {
  return native_->create_temporary(target, file, temporary);
}

std::error_code GatedFileSystem::rename_into_place(const std::filesystem::path& temporary,
                                                   const std::filesystem::path& target) {
  return native_->rename_into_place(temporary, target);
}

std::error_code GatedFileSystem::remove(const std::filesystem::path& path) {
  return native_->remove(path);
}

std::error_code GatedFileSystem::sync_folder(const std::filesystem::path& folder) {
  return native_->sync_folder(folder);
}

std::error_code GatedFileSystem::status(const std::filesystem::path& path, FileStatus& status) {
  return native_->status(path, status);
}

}  // namespace kestrune::qt::testing
