// Passes every call to another file system; test wrappers override only
// the calls they change.
#pragma once

#include "core/files/file_system.h"

namespace kestrune::test {

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
