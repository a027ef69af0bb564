#include "cli/stop_safe_file_system.h"

#include <new>

#include "cli/stop_signals.h"

namespace kestrune {
namespace {

// From the rename on, the file finishes whatever signals come; it had no
// temporary left to remove once the rename succeeded.
class StopSafeWritableFile final : public WritableFile {
 public:
  StopSafeWritableFile(std::unique_ptr<WritableFile> real,
                       std::unique_ptr<FollowedTemporary> followed)
      : real_(std::move(real)), followed_(std::move(followed)) {}
  // The file is closed before its slot goes.
  ~StopSafeWritableFile() override { real_.reset(); }
  std::error_code write(std::span<const std::uint8_t> data) override { return real_->write(data); }
  std::error_code take_permissions(const FileStatus& input) override {
    return real_->take_permissions(input);
  }
  std::error_code sync() override { return real_->sync(); }
  std::error_code check_name() override { return real_->check_name(); }
  std::error_code rename_into_place(bool replace_existing) override {
    followed_->committing();
    return real_->rename_into_place(replace_existing);
  }
  std::error_code close() override { return real_->close(); }
  // Once this returns there is no temporary left for a signal to remove.
  std::error_code discard() override {
    const std::error_code error = real_->discard();
    followed_->removed();
    return error;
  }
  std::error_code sync_folder() override { return real_->sync_folder(); }

 private:
  std::unique_ptr<WritableFile> real_;
  std::unique_ptr<FollowedTemporary> followed_;
};

class StopSafeFileSystem final : public FileSystem {
 public:
  explicit StopSafeFileSystem(std::unique_ptr<FileSystem> native) : native_(std::move(native)) {}

  std::error_code open_for_reading(const std::filesystem::path& path,
                                   std::unique_ptr<ReadableFile>& file,
                                   FileStatus& status) override {
    return native_->open_for_reading(path, file, status);
  }
  std::error_code create_temporary(const std::filesystem::path& target,
                                   std::unique_ptr<WritableFile>& file,
                                   std::filesystem::path& temporary) override {
    std::unique_ptr<WritableFile> real;
    const StopSignalsHeld held;
    std::unique_ptr<FollowedTemporary> followed;
    try {
      followed = std::make_unique<FollowedTemporary>();
    } catch (const std::bad_alloc&) {
      return std::make_error_code(std::errc::not_enough_memory);
    }
    if (auto error = native_->create_temporary(target, real, temporary)) return error;
    // Memory that runs out now must not leave the new file unnamed to anyone.
    try {
      followed->writing(temporary);
      file = std::make_unique<StopSafeWritableFile>(std::move(real), std::move(followed));
    } catch (const std::bad_alloc&) {
      real->discard();
      return std::make_error_code(std::errc::not_enough_memory);
    }
    return {};
  }
  std::error_code remove_input(const std::filesystem::path& path, const FileStatus& converted,
                               bool& another_file) override {
    return native_->remove_input(path, converted, another_file);
  }

 private:
  std::unique_ptr<FileSystem> native_;
};

}  // namespace

std::unique_ptr<FileSystem> make_stop_safe_file_system(std::unique_ptr<FileSystem> native) {
  return std::make_unique<StopSafeFileSystem>(std::move(native));
}

}  // namespace kestrune
