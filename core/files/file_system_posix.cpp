#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <random>
#include <string>

#include "files/file_system_posix.h"

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

 private:
  Descriptor fd_;
};

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

FileStatus status_of(const struct stat& info) {
  return {S_ISREG(info.st_mode), (info.st_mode & 0222) == 0,
          static_cast<std::uint64_t>(info.st_size), static_cast<std::uint64_t>(info.st_dev),
          static_cast<std::uint64_t>(info.st_ino)};
}

mode_t current_umask() {
  const mode_t mask = ::umask(022);
  ::umask(mask);
  return mask;
}

class PosixFileSystem final : public FileSystem {
 public:
  PosixFileSystem() : new_file_mode_(0666 & ~current_umask()), random_(std::random_device{}()) {}

  std::error_code open_for_reading(const std::filesystem::path& path,
                                   std::unique_ptr<ReadableFile>& file,
                                   FileStatus& status) override {
    // O_NONBLOCK so that a FIFO cannot hang the open; the type is checked on
    // the descriptor itself, so nothing can be swapped in between.
    Descriptor fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    if (fd.get() < 0) return last_error();
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0) return last_error();
    if (!S_ISREG(info.st_mode)) return std::make_error_code(std::errc::invalid_argument);
    status = status_of(info);
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
    struct stat existing {};
    if (::stat(target.c_str(), &existing) == 0 && S_ISDIR(existing.st_mode))
      return std::make_error_code(std::errc::is_a_directory);
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
    if (::chmod(temporary.c_str(), new_file_mode_) != 0) return last_error();
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
  mode_t new_file_mode_;
  std::mt19937_64 random_;
};

}  // namespace

std::unique_ptr<FileSystem> make_posix_file_system() { return std::make_unique<PosixFileSystem>(); }

}  // namespace kestrune
