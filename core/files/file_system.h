// Every file-system call a conversion makes goes through this seam, so tests
// can fail any of them (disk full, I/O errors, crashes) and a port only has
// to supply one small class. Every call reports failure as an error code;
// none throws.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <span>
#include <system_error>

namespace kestrune {

struct FileStatus {
  bool is_regular = false;
  // No write permission: the platform keeps such an input after converting it.
  bool read_only = false;
  std::uint64_t size = 0;
  // Which file the name leads to (device and file number), so a conversion
  // can tell that its input was replaced under it.
  std::uint64_t device = 0;
  std::uint64_t file_number = 0;

  bool same_file_as(const FileStatus& other) const {
    return device == other.device && file_number == other.file_number;
  }
};

class ReadableFile {
 public:
  virtual ~ReadableFile() = default;
  // Reads up to buffer.size() bytes; `bytes_read` of 0 without an error is
  // the end of the file. A short count is not an error and not the end.
  virtual std::error_code read(std::span<std::uint8_t> buffer, std::size_t& bytes_read) = 0;
};

class WritableFile {
 public:
  virtual ~WritableFile() = default;  // closes without reporting, if still open
  // Writes all of `data`, or fails.
  virtual std::error_code write(std::span<const std::uint8_t> data) = 0;
  // Flushes what was written to stable storage.
  virtual std::error_code sync() = 0;
  virtual std::error_code close() = 0;
};

class FileSystem {
 public:
  virtual ~FileSystem() = default;

  // Opens a regular file for reading and tells what it is: the file opened,
  // not whatever the name leads to a moment later. Anything else (a folder,
  // a device, a FIFO) fails without blocking.
  virtual std::error_code open_for_reading(const std::filesystem::path& path,
                                           std::unique_ptr<ReadableFile>& file,
                                           FileStatus& status) = 0;

  // Creates a new, hidden file in the folder of `target`, readable by its
  // owner only, never one that already exists. `temporary` receives its name.
  virtual std::error_code create_temporary(const std::filesystem::path& target,
                                           std::unique_ptr<WritableFile>& file,
                                           std::filesystem::path& temporary) = 0;

  // Gives the closed temporary the permissions a newly created file gets and
  // renames it onto `target`, replacing any file there in one step.
  virtual std::error_code rename_into_place(const std::filesystem::path& temporary,
                                            const std::filesystem::path& target) = 0;

  virtual std::error_code remove(const std::filesystem::path& path) = 0;

  // Makes the renames and removals in `folder` durable.
  virtual std::error_code sync_folder(const std::filesystem::path& folder) = 0;

  virtual std::error_code status(const std::filesystem::path& path, FileStatus& status) = 0;
};

}  // namespace kestrune
