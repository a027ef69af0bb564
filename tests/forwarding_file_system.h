// Passes every call to another file system, and every file call to the
// file it wraps; test wrappers override only the calls they change.
#pragma once

#include <memory>

#include "core/files/file_system.h"

namespace kestrune::test {

class ForwardingReadableFile : public ReadableFile {
 public:
  explicit ForwardingReadableFile(std::unique_ptr<ReadableFile> real) : real_(std::move(real)) {}

  std::error_code read(std::span<std::uint8_t> buffer, std::size_t& bytes_read) override {
    return real_->read(buffer, bytes_read);
  }
  std::error_code read_scattered(std::span<const std::span<std::uint8_t>> parts,
                                 std::size_t& bytes_read) override {
    return real_->read_scattered(parts, bytes_read);
  }
  std::error_code status(FileStatus& status) override { return real_->status(status); }

 protected:
  std::unique_ptr<ReadableFile> real_;
};

class ForwardingWritableFile : public WritableFile {
 public:
  explicit ForwardingWritableFile(std::unique_ptr<WritableFile> real) : real_(std::move(real)) {}

  std::error_code write(std::span<const std::uint8_t> data) override { return real_->write(data); }
  std::error_code take_permissions(const FileStatus& input) override {
    return real_->take_permissions(input);
  }
  std::error_code sync() override { return real_->sync(); }
  std::error_code check_name() override { return real_->check_name(); }
  std::error_code rename_into_place(bool replace_existing) override {
    return real_->rename_into_place(replace_existing);
  }
  std::error_code close() override { return real_->close(); }
  std::error_code discard() override { return real_->discard(); }
  std::error_code sync_folder() override { return real_->sync_folder(); }

 protected:
  std::unique_ptr<WritableFile> real_;
};

class ForwardingFileSystem : public FileSystem {
 public:
  explicit ForwardingFileSystem(FileSystem& real) : real_(real) {}

  std::error_code open_for_reading(const std::filesystem::path& path,
                                   std::unique_ptr<ReadableFile>& file,
                                   FileStatus& status) override {
    return real_.open_for_reading(path, file, status);
  }
  std::error_code create_temporary(const std::filesystem::path& target,
                                   std::unique_ptr<WritableFile>& file,
                                   std::filesystem::path& temporary) override {
    return real_.create_temporary(target, file, temporary);
  }
  std::error_code remove_input(const std::filesystem::path& path, const FileStatus& converted,
                               bool& another_file) override {
    return real_.remove_input(path, converted, another_file);
  }

 protected:
  FileSystem& real_;
};

}  // namespace kestrune::test
