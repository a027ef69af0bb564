// The real file system, with reads that stop at a gate once a given number
// of bytes has been read, so a test can act while a file is half converted.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>

#include "file_system.h"

namespace kestrune::qt::testing {

class GatedFileSystem final : public FileSystem {
 public:
  explicit GatedFileSystem(std::uint64_t bytes_before_gate);

  // Lets the held reads, and all later ones, go on.
  void open_gate();
  bool is_holding() const { return holding_; }

  std::error_code open_for_reading(const std::filesystem::path& path,
                                   std::unique_ptr<ReadableFile>& file) override;
  std::error_code create_temporary(const std::filesystem::path& target,
                                   std::unique_ptr<WritableFile>& file,
                                   std::filesystem::path& temporary) override;
  std::error_code rename_into_place(const std::filesystem::path& temporary,
                                    const std::filesystem::path& target) override;
  std::error_code remove(const std::filesystem::path& path) override;
  std::error_code sync_folder(const std::filesystem::path& folder) override;
  std::error_code status(const std::filesystem::path& path, FileStatus& status) override;

 private:
  class GatedFile;
  void pass_gate(std::size_t bytes);

  std::unique_ptr<FileSystem> native_ = make_native_file_system();
  const std::uint64_t bytes_before_gate_;
  std::mutex mutex_;
  std::condition_variable gate_opened_;
  std::uint64_t bytes_read_ = 0;
  bool open_ = false;
  std::atomic<bool> holding_ = false;
};

}  // namespace kestrune::qt::testing
