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
#include <string>
#include <system_error>
#include <vector>

namespace kestrune {

// What decides, besides the mode, who may use a file and what it is, kept
// by name and value as the platform stores it: on POSIX the access ACL
// ("system.posix_acl_access") and the "user." and "security." extended
// attributes; on Windows a DACL with entries of its own ("dacl") or one
// protected from its folder's ("protected-dacl"), and the mark of the web
// ("Zone.Identifier", the bytes of that stream).
struct CarriedAttribute {
  std::string name;
  std::vector<std::uint8_t> value;
};

struct FileStatus {
  bool is_regular = false;
  // No write permission: the platform keeps such an input after converting it.
  bool read_only = false;
  std::uint64_t size = 0;
  // Which file the name leads to (device and file number), so a conversion
  // can tell that its input was replaced under it.
  std::uint64_t device = 0;
  std::uint64_t file_number = 0;
  // When the contents and the status last changed, in the platform's units;
  // only ever compared with each other.
  std::int64_t modified = 0;
  std::int64_t changed = 0;
  // POSIX permission bits, owner and group, which the output takes over.
  std::uint32_t permissions = 0600;
  std::uint32_t owner = 0;
  std::uint32_t group = 0;
  // Filled in when the file is opened for reading, for its output to take.
  std::vector<CarriedAttribute> carried;
  // Windows: whether it is hidden or a system file, which its output keeps.
  std::uint32_t hidden_and_system = 0;
  // Other names of the same file keep its contents when this one goes.
  std::uint64_t links = 1;
  // The path named a symbolic link; the status is of the file it leads to.
  bool through_symbolic_link = false;

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
  // Reads into `parts` one after another, each filled before the next,
  // until all are full or the file ends: fewer bytes than the parts hold
  // means the end. `bytes_read` says how far, on failure too. Puts each
  // piece of the file where it belongs without a second pass over it; a
  // platform that can fill them all in one call does so.
  virtual std::error_code read_scattered(std::span<const std::span<std::uint8_t>> parts,
                                         std::size_t& bytes_read) {
    bytes_read = 0;
    for (std::span<std::uint8_t> part : parts) {
      while (!part.empty()) {
        std::size_t got = 0;
        if (auto error = read(part, got)) return error;
        if (got == 0) return {};
        bytes_read += got;
        part = part.subspan(got);
      }
    }
    return {};
  }
  // The open file's status now (size, times), to tell whether it changed
  // while it was read. Fails with FileError::changed_while_read where the
  // platform saw a write to it since it was opened, whatever its clock.
  virtual std::error_code status(FileStatus& status) = 0;
};

class WritableFile {
 public:
  virtual ~WritableFile() = default;  // closes without reporting, if still open
  // Writes all of `data`, or fails.
  virtual std::error_code write(std::span<const std::uint8_t> data) = 0;
  // Gives the file the input's permission bits, its carried attributes
  // (access rules exactly; labels where the process may) and, where the
  // process may, its owner and group, so the output is never more widely
  // readable; whatever it changed is flushed to stable storage. Fails when
  // the access rules cannot be given.
  virtual std::error_code take_permissions(const FileStatus& input) = 0;
  // Flushes what was written to stable storage.
  virtual std::error_code sync() = 0;
  // Checks that the file's name (the temporary's, or the target's once
  // renamed) still leads to this open file: in a folder others may write
  // to, a name can be swapped for a link at any moment.
  virtual std::error_code check_name() = 0;
  // Renames the open file onto the target it was created for. With
  // `replace_existing`, any file there is replaced in one step; without, an
  // entry of any kind under the target's name (a dangling link too) stays
  // as it is and the rename fails with std::errc::file_exists, however late
  // that entry appeared.
  virtual std::error_code rename_into_place(bool replace_existing) = 0;
  virtual std::error_code close() = 0;
  // Removes the file while it still bears its temporary name: the output of
  // a conversion that failed. The name is found as rename_into_place finds
  // it, never by the folder's path, so a folder moved meanwhile keeps no
  // trace of it.
  virtual std::error_code discard() = 0;
  // Makes the rename durable: flushes the folder the file was created in,
  // through the same handle its names were looked up in.
  virtual std::error_code sync_folder() = 0;
};

class FileSystem {
 public:
  virtual ~FileSystem() = default;

  // Opens a regular file for reading and tells what it is: the file opened,
  // not whatever the name leads to a moment later. Anything else (a folder,
  // a device, a FIFO) fails without being opened: a folder with
  // is_a_directory, anything else with FileError::not_regular_file.
  virtual std::error_code open_for_reading(const std::filesystem::path& path,
                                           std::unique_ptr<ReadableFile>& file,
                                           FileStatus& status) = 0;

  // Creates a new, hidden file in the folder of `target`, readable by its
  // owner only, never one that already exists, under a name drawn from the
  // system's random source. `temporary` receives its name.
  // Fails before creating anything when `target` cannot be written: no name,
  // a folder, or an existing file without write permission.
  virtual std::error_code create_temporary(const std::filesystem::path& target,
                                           std::unique_ptr<WritableFile>& file,
                                           std::filesystem::path& temporary) = 0;

  // Removes the file `path` leads to, but only when it is `converted`, the
  // very file that was read; `another_file` tells when it is not, and then
  // nothing is removed.
  virtual std::error_code remove_input(const std::filesystem::path& path,
                                       const FileStatus& converted, bool& another_file) = 0;
};

}  // namespace kestrune
