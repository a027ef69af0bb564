#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <random>
#include <string>

#include "file_system.h"

namespace kestrune {
namespace {

std::error_code last_error() { return {errno, std::generic_category()}; }

// Closes a descriptor that was not closed explicitly.
class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  int get() const { return fd_; }
  int release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }
  std::error_code close() {
    const int fd = fd_;
    fd_ = -1;
    // After EINTR the descriptor is already gone on Linux; retrying could
    // close another thread's file.
    return ::close(fd) == 0 ? std::error_code{} : last_error();
  }

 private:
  int fd_;
};

std::int64_t nanoseconds(const struct timespec& time) {
  return static_cast<std::int64_t>(time.tv_sec) * 1000000000 + time.tv_nsec;
}

FileStatus status_of(const struct stat& info) {
  FileStatus status;
  status.is_regular = S_ISREG(info.st_mode);
  status.read_only = (info.st_mode & 0222) == 0;
  status.size = static_cast<std::uint64_t>(info.st_size);
  status.device = static_cast<std::uint64_t>(info.st_dev);
  status.file_number = static_cast<std::uint64_t>(info.st_ino);
  status.modified = nanoseconds(info.st_mtim);
  status.changed = nanoseconds(info.st_ctim);
  status.permissions = info.st_mode & 0777;
  status.owner = info.st_uid;
  status.group = info.st_gid;
  status.links = static_cast<std::uint64_t>(info.st_nlink);
  return status;
}

class PosixReadableFile final : public ReadableFile {
 public:
  explicit PosixReadableFile(int fd) : fd_(fd) {}
  std::error_code read(std::span<std::uint8_t> buffer, std::size_t& bytes_read) override {
    bytes_read = 0;
    for (;;) {
      const ssize_t n = ::read(fd_.get(), buffer.data(), buffer.size());
      if (n >= 0) {
        bytes_read = static_cast<std::size_t>(n);
        return {};
      }
      if (errno != EINTR) return last_error();
    }
  }
  std::error_code status(FileStatus& status) override {
    struct stat info {};
    if (::fstat(fd_.get(), &info) != 0) return last_error();
    status = status_of(info);
    return {};
  }

 private:
  Descriptor fd_;
};

// Giving a file away is for root; anyone may keep a group they belong to.
// Neither refusal is an error: the file stays the user's own.
std::error_code take_owner(int fd, const FileStatus& input) {
  if (::fchown(fd, input.owner, input.group) == 0) return {};
  if (errno == EPERM && ::fchown(fd, static_cast<uid_t>(-1), input.group) == 0) return {};
  return errno == EPERM ? std::error_code{} : last_error();
}

class PosixWritableFile final : public WritableFile {
 public:
  explicit PosixWritableFile(int fd) : fd_(fd) {}
  std::error_code write(std::span<const std::uint8_t> data) override {
    while (!data.empty()) {
      const ssize_t n = ::write(fd_.get(), data.data(), data.size());
      if (n < 0) {
        if (errno == EINTR) continue;
        return last_error();
      }
      data = data.subspan(static_cast<std::size_t>(n));
    }
    return {};
  }
  // The owner first: a change of owner may clear mode bits.
  std::error_code take_permissions(const FileStatus& input) override {
    if (auto error = take_owner(fd_.get(), input)) return error;
    return ::fchmod(fd_.get(), input.permissions & 0777) == 0 ? std::error_code{} : last_error();
  }
  std::error_code sync() override {
    return ::fsync(fd_.get()) == 0 ? std::error_code{} : last_error();
  }
  std::error_code close() override { return fd_.close(); }

 private:
  Descriptor fd_;
};

std::string hidden_temporary_name(const std::string& target_name, std::mt19937_64& random) {
  // Keep the name short enough for any file system, cut at a UTF-8 boundary
  // so file managers still show it readably.
  std::string stem = target_name.substr(0, 160);
  while (!stem.empty() && stem.size() < target_name.size() &&
         (static_cast<unsigned char>(target_name[stem.size()]) & 0xC0) == 0x80)
    stem.pop_back();
  static constexpr char kDigits[] = "0123456789abcdefghijklmnopqrstuvwxyz";
  std::string tag;
  for (int i = 0; i < 8; ++i) tag += kDigits[random() % 36];
  return "." + stem + ".kestrune-" + tag + ".tmp";
}

// The folder a path lies in; "." for a bare file name.
std::filesystem::path folder_of(const std::filesystem::path& path) {
  const std::filesystem::path parent = path.parent_path();
  return parent.empty() ? std::filesystem::path(".") : parent;
}

// A name that cannot become a file: none at all, or one naming a folder.
bool names_no_file(const std::filesystem::path& target) {
  const std::filesystem::path name = target.filename();
  return name.empty() || name == "." || name == "..";
}

// Looks before opening: opening a device can have effects of its own (a
// tape rewinds, a watchdog starts), and a FIFO would block.
std::error_code check_is_regular_file(const std::filesystem::path& path, bool& through_link) {
  struct stat info {};
  if (::lstat(path.c_str(), &info) != 0) return last_error();
  through_link = S_ISLNK(info.st_mode);
  if (through_link && ::stat(path.c_str(), &info) != 0) return last_error();
  return S_ISREG(info.st_mode) ? std::error_code{}
                               : std::make_error_code(std::errc::invalid_argument);
}

// An existing file under the output's name is replaced only where the user
// could write it; its mode bits decide, as for inputs, so root is refused
// too.
std::error_code check_target_writable(const std::filesystem::path& target) {
  if (names_no_file(target)) return std::make_error_code(std::errc::is_a_directory);
  struct stat existing {};
  if (::stat(target.c_str(), &existing) != 0) return {};
  if (S_ISDIR(existing.st_mode)) return std::make_error_code(std::errc::is_a_directory);
  if ((existing.st_mode & 0222) == 0) return std::make_error_code(std::errc::permission_denied);
  return {};
}

class PosixFileSystem final : public FileSystem {
 public:
  PosixFileSystem() : random_(std::random_device{}()) {}

  std::error_code open_for_reading(const std::filesystem::path& path,
                                   std::unique_ptr<ReadableFile>& file,
                                   FileStatus& status) override {
    bool through_link = false;
    if (auto error = check_is_regular_file(path, through_link)) return error;
    // O_NONBLOCK so that a FIFO swapped in since the look cannot hang the
    // open; the type is checked again on the descriptor itself.
    Descriptor fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    if (fd.get() < 0) return last_error();
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0) return last_error();
    if (!S_ISREG(info.st_mode)) return std::make_error_code(std::errc::invalid_argument);
    status = status_of(info);
    status.through_symbolic_link = through_link;
    const int flags = ::fcntl(fd.get(), F_GETFL);
    if (flags < 0 || ::fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK) != 0) return last_error();
    file = std::make_unique<PosixReadableFile>(fd.release());
    return {};
  }

  std::error_code create_temporary(const std::filesystem::path& target,
                                   std::unique_ptr<WritableFile>& file,
                                   std::filesystem::path& temporary) override {
    // The final name must be possible before any work is done for it. Every
    // common file system takes 143 bytes (eCryptfs is the tightest), so only
    // longer names cost a question to the file system.
    const std::size_t name_length = target.filename().native().size();
    const long name_max =
        name_length > 143 ? ::pathconf(folder_of(target).c_str(), _PC_NAME_MAX) : -1;
    if (name_max > 0 && name_length > static_cast<std::size_t>(name_max))
      return std::make_error_code(std::errc::filename_too_long);
    if (auto error = check_target_writable(target)) return error;
    for (int attempt = 0; attempt < 100; ++attempt) {
      const std::filesystem::path name =
          target.parent_path() / hidden_temporary_name(target.filename().native(), random_);
      const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, 0600);
      if (fd >= 0) {
        file = std::make_unique<PosixWritableFile>(fd);
        temporary = name;
        return {};
      }
      if (errno != EEXIST) return last_error();
    }
    return std::make_error_code(std::errc::file_exists);
  }

  std::error_code rename_into_place(const std::filesystem::path& temporary,
                                    const std::filesystem::path& target) override {
    return ::rename(temporary.c_str(), target.c_str()) == 0 ? std::error_code{} : last_error();
  }

  std::error_code remove(const std::filesystem::path& path) override {
    return ::unlink(path.c_str()) == 0 ? std::error_code{} : last_error();
  }

  std::error_code sync_folder(const std::filesystem::path& folder) override {
    const std::filesystem::path name = folder.empty() ? std::filesystem::path(".") : folder;
    Descriptor fd(::open(name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.get() < 0) return last_error();
    if (::fsync(fd.get()) != 0) return last_error();
    return fd.close();
  }

  std::error_code status(const std::filesystem::path& path, FileStatus& status) override {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) return last_error();
    status = status_of(info);
    return {};
  }

 private:
  std::mt19937_64 random_;
};

}  // namespace

std::unique_ptr<FileSystem> make_native_file_system() { return std::make_unique<PosixFileSystem>(); }

}  // namespace kestrune
