#include <fcntl.h>
#include <stdio.h>  // renameat2
#include <sys/inotify.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <climits>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <string_view>
#include <unordered_map>

#include "core/files/file_errors.h"
#include "core/files/file_system_posix.h"
#include "core/files/path_look.h"
#include "core/files/temporary_name.h"

namespace kestrune {
namespace {

std::error_code last_error() { return {errno, std::generic_category()}; }

// Closes a descriptor that was not closed explicitly.
class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  Descriptor(Descriptor&& other) noexcept : fd_(other.release()) {}
  Descriptor& operator=(Descriptor&& other) noexcept {
    if (this != &other) {
      Descriptor old(fd_);
      fd_ = other.release();
    }
    return *this;
  }
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

// Every change an edit or another writer makes to a file, seen as it
// happens: one-second (or two-second) file times cannot tell an edit in
// the second a conversion started from none.
constexpr std::uint32_t kEditEvents =
    IN_MODIFY | IN_ATTRIB | IN_CLOSE_WRITE | IN_MOVE_SELF | IN_DELETE_SELF;

// The watches on every file one file system reads, in one inotify instance:
// closing an instance waits out the kernel's grace period, about 10 ms,
// which with many small files took longer than converting them. Events are
// told apart by watch; files read at once, on several threads, share it.
class EditWatches {
 public:
  EditWatches() : inotify_(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {}

  // Watches the open file itself, through its descriptor's name in /proc,
  // so the watch is on the file read even if its path was swapped
  // meanwhile. -1 when no watch can be had (no inotify left, no /proc):
  // the size and time checks alone catch edits then. The same file read
  // twice at once gets the same watch, and an edit counts for both.
  int watch(int fd) {
    const std::string own_name = "/proc/self/fd/" + std::to_string(fd);
    std::lock_guard lock(mutex_);
    if (inotify_.get() < 0) return -1;
    const int watch = ::inotify_add_watch(inotify_.get(), own_name.c_str(), kEditEvents);
    if (watch >= 0) ++watched_[watch].readers;
    return watch;
  }

  void unwatch(int watch) {
    std::lock_guard lock(mutex_);
    const auto found = watched_.find(watch);
    if (found == watched_.end() || --found->second.readers > 0) return;
    watched_.erase(found);
    ::inotify_rm_watch(inotify_.get(), watch);
  }

  // Any event at all is an edit: the watches ask for nothing else. An
  // overflowing queue may have lost any file's events, so it counts for all.
  bool edited(int watch) {
    std::lock_guard lock(mutex_);
    alignas(struct inotify_event) char events[4096];
    ssize_t length = 0;
    while ((length = ::read(inotify_.get(), events, sizeof events)) > 0) {
      for (ssize_t at = 0; at < length;) {
        const auto* event = reinterpret_cast<const struct inotify_event*>(events + at);
        note_event(*event);
        at += static_cast<ssize_t>(sizeof(struct inotify_event) + event->len);
      }
    }
    const auto found = watched_.find(watch);
    return found != watched_.end() && found->second.edited;
  }

 private:
  struct Watched {
    std::size_t readers = 0;
    bool edited = false;
  };

  void note_event(const struct inotify_event& event) {
    if ((event.mask & IN_Q_OVERFLOW) != 0)
      for (auto& [watch, watched] : watched_) watched.edited = true;
    // A watch already removed has nobody left to tell.
    if (const auto found = watched_.find(event.wd); found != watched_.end())
      found->second.edited = true;
  }

  std::mutex mutex_;
  Descriptor inotify_;
  std::unordered_map<int, Watched> watched_;
};

// How far a scattered read has got: the part being filled and how much of
// it is. Empty and full parts are stepped over.
class ScatterCursor {
 public:
  explicit ScatterCursor(std::span<const std::span<std::uint8_t>> parts) : parts_(parts) {
    skip_full_parts();
  }
  bool done() const { return part_ == parts_.size(); }
  // Describes the room left, in as many parts as `vectors` holds; returns
  // how many it used.
  int describe_room(std::span<struct iovec> vectors) const {
    std::size_t count = 0;
    for (std::size_t i = part_; i < parts_.size() && count < vectors.size(); ++i) {
      const std::span<std::uint8_t> room = parts_[i].subspan(i == part_ ? offset_ : 0);
      vectors[count++] = {room.data(), room.size()};
    }
    return static_cast<int>(count);
  }
  void advance(std::size_t bytes) {
    offset_ += bytes;
    skip_full_parts();
  }

 private:
  void skip_full_parts() {
    while (part_ < parts_.size() && offset_ >= parts_[part_].size()) {
      offset_ -= parts_[part_].size();
      ++part_;
    }
  }

  std::span<const std::span<std::uint8_t>> parts_;
  std::size_t part_ = 0;
  std::size_t offset_ = 0;
};

class PosixReadableFile final : public ReadableFile {
 public:
  PosixReadableFile(Descriptor fd, std::shared_ptr<EditWatches> watches)
      : fd_(std::move(fd)), watches_(std::move(watches)), watch_(watches_->watch(fd_.get())) {}
  PosixReadableFile(const PosixReadableFile&) = delete;
  PosixReadableFile& operator=(const PosixReadableFile&) = delete;
  ~PosixReadableFile() override {
    if (watch_ >= 0) watches_->unwatch(watch_);
  }
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
  // A short count from readv only says where it stopped (a signal, the
  // end); the next call goes on from there, and only 0 is the end.
  std::error_code read_scattered(std::span<const std::span<std::uint8_t>> parts,
                                 std::size_t& bytes_read) override {
    bytes_read = 0;
    ScatterCursor cursor(parts);
    while (!cursor.done()) {
      std::array<struct iovec, IOV_MAX> vectors;
      const ssize_t n = ::readv(fd_.get(), vectors.data(), cursor.describe_room(vectors));
      if (n < 0) {
        if (errno == EINTR) continue;
        return last_error();
      }
      if (n == 0) return {};
      bytes_read += static_cast<std::size_t>(n);
      cursor.advance(static_cast<std::size_t>(n));
    }
    return {};
  }
  std::error_code status(FileStatus& status) override {
    if (watch_ >= 0 && watches_->edited(watch_)) return FileError::changed_while_read;
    struct stat info {};
    if (::fstat(fd_.get(), &info) != 0) return last_error();
    status = status_of(info);
    return {};
  }

 private:
  Descriptor fd_;
  std::shared_ptr<EditWatches> watches_;
  int watch_;
};

bool is_carried_attribute(std::string_view name) {
  return name == "system.posix_acl_access" || name.starts_with("user.") ||
         name.starts_with("security.");
}

// A label the system gives every file by itself; the output takes the
// input's only where the process may set it.
bool is_label(std::string_view name) { return name.starts_with("security."); }

// The value of one attribute; `present` is false when it went away since
// it was listed.
std::error_code read_attribute(int fd, const std::string& name, std::vector<std::uint8_t>& value,
                               bool& present) {
  present = false;
  for (;;) {
    const ssize_t size = ::fgetxattr(fd, name.c_str(), nullptr, 0);
    if (size < 0) return errno == ENODATA ? std::error_code{} : last_error();
    value.resize(static_cast<std::size_t>(size));
    const ssize_t got = ::fgetxattr(fd, name.c_str(), value.data(), value.size());
    if (got < 0 && errno == ERANGE) continue;  // it grew between the two calls
    if (got < 0) return errno == ENODATA ? std::error_code{} : last_error();
    value.resize(static_cast<std::size_t>(got));
    present = true;
    return {};
  }
}

// The names of a file's extended attributes, NUL-separated; none where the
// file system keeps none.
std::error_code list_attributes(int fd, std::string& names) {
  for (;;) {
    const ssize_t size = ::flistxattr(fd, nullptr, 0);
    if (size < 0) return errno == ENOTSUP ? std::error_code{} : last_error();
    names.resize(static_cast<std::size_t>(size));
    if (size == 0) return {};
    const ssize_t got = ::flistxattr(fd, names.data(), names.size());
    if (got < 0 && errno == ERANGE) continue;
    if (got < 0) return last_error();
    names.resize(static_cast<std::size_t>(got));
    return {};
  }
}

// The access ACL and the user's and the system's attributes of the open
// input, for its output to take.
std::error_code read_carried_attributes(int fd, std::vector<CarriedAttribute>& carried) {
  std::string names;
  if (auto error = list_attributes(fd, names)) return error;
  for (std::size_t start = 0; start < names.size();) {
    const std::string name = names.c_str() + start;
    start += name.size() + 1;
    if (!is_carried_attribute(name)) continue;
    CarriedAttribute attribute{name, {}};
    bool present = false;
    if (auto error = read_attribute(fd, name, attribute.value, present)) {
      if (is_label(name)) continue;
      return error;
    }
    if (present) carried.push_back(std::move(attribute));
  }
  return {};
}

// Gives `fd` the input's carried attributes; without an access ACL of its
// own, the input's mode bits alone decide, so any ACL the output inherited
// from its folder goes. Sets `changed` when it changed anything.
std::error_code take_carried_attributes(int fd, const std::vector<CarriedAttribute>& carried,
                                        bool& changed) {
  bool has_acl = false;
  for (const CarriedAttribute& attribute : carried) {
    has_acl = has_acl || attribute.name == "system.posix_acl_access";
    if (::fsetxattr(fd, attribute.name.c_str(), attribute.value.data(), attribute.value.size(),
                    0) == 0)
      changed = true;
    else if (!is_label(attribute.name))
      return last_error();
  }
  if (has_acl) return {};
  if (::fremovexattr(fd, "system.posix_acl_access") == 0) {
    changed = true;
    return {};
  }
  return errno == ENODATA || errno == ENOTSUP ? std::error_code{} : last_error();
}

// Giving a file away is for root; anyone may keep a group they belong to.
// Neither refusal is an error: the file stays the user's own.
std::error_code take_owner(int fd, const FileStatus& input) {
  if (::fchown(fd, input.owner, input.group) == 0) return {};
  if (errno == EPERM && ::fchown(fd, static_cast<uid_t>(-1), input.group) == 0) return {};
  return errno == EPERM ? std::error_code{} : last_error();
}

// A new file in a folder held open by descriptor, so that its names are
// always looked up in that folder, whatever happens to the folder's path.
struct PlacedFile {
  Descriptor folder;
  Descriptor file;
  FileStatus created;  // which file it is, and whose, as created
  std::string name;    // the temporary's name in `folder`
  std::string target;  // the name it is renamed to
};

class PosixWritableFile final : public WritableFile {
 public:
  explicit PosixWritableFile(PlacedFile placed) : placed_(std::move(placed)) {}
  std::error_code write(std::span<const std::uint8_t> data) override {
    while (!data.empty()) {
      const ssize_t n = ::write(placed_.file.get(), data.data(), data.size());
      if (n < 0) {
        if (errno == EINTR) continue;
        return last_error();
      }
      data = data.subspan(static_cast<std::size_t>(n));
    }
    return {};
  }
  // The owner first: a change of owner may clear mode bits; the access
  // rules last, as the mode bits are part of them. What changed is flushed,
  // since the file was already flushed before it was renamed.
  std::error_code take_permissions(const FileStatus& input) override {
    const int fd = placed_.file.get();
    bool changed = false;
    if (auto error = take_owner_and_mode(input, changed)) return error;
    if (auto error = take_carried_attributes(fd, input.carried, changed)) return error;
    return changed ? sync() : std::error_code{};
  }
  std::error_code sync() override {
    return ::fsync(placed_.file.get()) == 0 ? std::error_code{} : last_error();
  }
  // Not following links: a link put in place of the name is not our file.
  std::error_code check_name() override {
    const std::string& name = renamed_ ? placed_.target : placed_.name;
    struct stat info {};
    if (::fstatat(placed_.folder.get(), name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0)
      return last_error();
    return status_of(info).same_file_as(placed_.created)
               ? std::error_code{}
               : std::make_error_code(std::errc::file_exists);
  }
  std::error_code rename_into_place(bool replace_existing) override {
    if (!replace_existing) return rename_without_replacing();
    const int folder = placed_.folder.get();
    if (::renameat(folder, placed_.name.c_str(), folder, placed_.target.c_str()) != 0)
      return last_error();
    renamed_ = true;
    return {};
  }
  std::error_code close() override { return placed_.file.close(); }
  std::error_code discard() override {
    return ::unlinkat(placed_.folder.get(), placed_.name.c_str(), 0) == 0 ? std::error_code{}
                                                                          : last_error();
  }
  // The folder held open since the temporary was created: opening it again
  // by its path would cost a lookup per file and could reach another folder.
  std::error_code sync_folder() override {
    if (::fsync(placed_.folder.get()) != 0) return last_error();
    return placed_.folder.close();
  }

 private:
  // The system refuses the rename when the target's name is taken. File
  // systems without that kind of rename (some network and FUSE ones) get
  // a second name, which is refused the same way, and lose the first: the
  // output is in place once the second name is.
  std::error_code rename_without_replacing() {
    const int folder = placed_.folder.get();
    const char* name = placed_.name.c_str();
    const char* target = placed_.target.c_str();
    if (::renameat2(folder, name, folder, target, RENAME_NOREPLACE) == 0) {
      renamed_ = true;
      return {};
    }
    if (errno != EINVAL && errno != ENOSYS) return last_error();
    if (::linkat(folder, name, folder, target, 0) != 0) return last_error();
    renamed_ = true;
    return ::unlinkat(folder, name, 0) == 0 ? std::error_code{} : last_error();
  }

  // A file made by the input's owner in its group, with its mode, needs no
  // call: with many small files of one's own, every call counts.
  std::error_code take_owner_and_mode(const FileStatus& input, bool& changed) {
    const int fd = placed_.file.get();
    const FileStatus& created = placed_.created;
    const std::uint32_t mode = input.permissions & 0777;
    if (created.owner != input.owner || created.group != input.group) {
      if (auto error = take_owner(fd, input)) return error;
    } else if (created.permissions == mode) {
      return {};
    }
    changed = true;
    return ::fchmod(fd, mode) == 0 ? std::error_code{} : last_error();
  }

  PlacedFile placed_;
  bool renamed_ = false;
};

// Every common file system takes names of 143 bytes (eCryptfs is the
// tightest), so only longer ones cost a question to the file system.
constexpr std::size_t kNameMaxEverywhere = 143;

// The longest name `folder` takes, when a name of `length` bytes might not
// fit; 0 when it need not be asked or cannot tell.
std::size_t name_max_if_tight(int folder, std::size_t length) {
  if (length <= kNameMaxEverywhere) return 0;
  const long name_max = ::fpathconf(folder, _PC_NAME_MAX);
  return name_max > 0 ? static_cast<std::size_t>(name_max) : 0;
}

// The folder a path lies in; "." for a bare file name.
std::filesystem::path folder_of(const std::filesystem::path& path) {
  const std::filesystem::path parent = path.parent_path();
  return parent.empty() ? std::filesystem::path(".") : parent;
}

PathLook::Kind kind_of(mode_t mode) {
  if (S_ISREG(mode)) return PathLook::Kind::regular_file;
  return S_ISDIR(mode) ? PathLook::Kind::folder : PathLook::Kind::other;
}

// An existing file under the output's name is replaced only where the user
// could write it; its mode bits decide, as for inputs, so root is refused
// too.
std::error_code check_target_writable(int folder, const std::string& target) {
  struct stat existing {};
  if (::fstatat(folder, target.c_str(), &existing, 0) != 0) return {};
  if (S_ISDIR(existing.st_mode)) return std::make_error_code(std::errc::is_a_directory);
  if ((existing.st_mode & 0222) == 0) return std::make_error_code(std::errc::permission_denied);
  return {};
}

class PosixFileSystem final : public FileSystem {
 public:
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
    if (auto error = why_not_regular(kind_of(info.st_mode))) return error;
    status = status_of(info);
    status.through_symbolic_link = through_link;
    if (auto error = read_carried_attributes(fd.get(), status.carried)) return error;
    // O_NONBLOCK is the only status flag it was opened with.
    if (::fcntl(fd.get(), F_SETFL, 0) != 0) return last_error();
    file = std::make_unique<PosixReadableFile>(std::move(fd), watches_);
    return {};
  }

  std::error_code create_temporary(const std::filesystem::path& target,
                                   std::unique_ptr<WritableFile>& file,
                                   std::filesystem::path& temporary) override {
    if (names_no_file<char>(target.filename().native()))
      return std::make_error_code(std::errc::is_a_directory);
    PlacedFile placed{
        Descriptor(::open(folder_of(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)),
        Descriptor(-1),
        {},
        {},
        target.filename().native()};
    if (placed.folder.get() < 0) return last_error();
    // The final name must be possible before any work is done for it, and
    // the temporary's, longer by its pattern, is cut to fit the folder.
    const std::size_t name_length = placed.target.size();
    const std::size_t name_max =
        name_max_if_tight(placed.folder.get(), name_length + kTemporaryNameOverhead);
    if (name_max > 0 && name_length > name_max)
      return std::make_error_code(std::errc::filename_too_long);
    if (auto error = check_target_writable(placed.folder.get(), placed.target)) return error;
    const std::size_t stem_limit =
        name_max > 0 ? temporary_stem_limit(name_max) : kLongestTemporaryStem;
    if (auto error = create_in_folder(placed, stem_limit)) return error;
    // Memory that runs out now must not leave the new file unnamed to anyone.
    try {
      temporary = target.parent_path() / placed.name;
      file = std::make_unique<PosixWritableFile>(std::move(placed));
    } catch (const std::bad_alloc&) {
      ::unlinkat(placed.folder.get(), placed.name.c_str(), 0);
      return std::make_error_code(std::errc::not_enough_memory);
    }
    return {};
  }

  // Not following links: a link put in the input's place is another file.
  // The look and the removal both go through one open folder, so a folder
  // moved or swapped meanwhile cannot make them reach different files; POSIX
  // has no way to remove a name only if it still leads to a given file, so
  // the name itself may still be replaced between the two calls.
  std::error_code remove_input(const std::filesystem::path& path, const FileStatus& converted,
                               bool& another_file) override {
    const Descriptor folder(::open(folder_of(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder.get() < 0) return last_error();
    const std::string name = path.filename().native();
    struct stat info {};
    if (::fstatat(folder.get(), name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) return last_error();
    another_file = !status_of(info).same_file_as(converted);
    if (another_file) return {};
    return ::unlinkat(folder.get(), name.c_str(), 0) == 0 ? std::error_code{} : last_error();
  }

 private:
  // Creates the temporary under a fresh name in the open folder, never
  // through a link, and notes which file it is.
  static std::error_code create_in_folder(PlacedFile& placed, std::size_t stem_limit) {
    return create_under_fresh_name<char>(
        placed.target, stem_limit, [&placed](std::string name, bool& taken) {
          const int fd =
              ::openat(placed.folder.get(), name.c_str(),
                       O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY, 0600);
          taken = fd < 0 && errno == EEXIST;
          if (fd < 0) return last_error();
          placed.name = std::move(name);
          placed.file = Descriptor(fd);
          return note_created(placed);
        });
  }

  // Which file the new one is; one that cannot tell is removed again.
  static std::error_code note_created(PlacedFile& placed) {
    struct stat info {};
    if (::fstat(placed.file.get(), &info) != 0) {
      const std::error_code error = last_error();
      ::unlinkat(placed.folder.get(), placed.name.c_str(), 0);
      return error;
    }
    placed.created = status_of(info);
    return {};
  }

  // Shared with every file read, which may outlive this.
  std::shared_ptr<EditWatches> watches_ = std::make_shared<EditWatches>();
};

}  // namespace

std::error_code random_tag(TemporaryTagBytes& tag) {
  if (::getrandom(tag.data(), tag.size(), 0) != static_cast<ssize_t>(tag.size()))
    return last_error();
  return {};
}

std::error_code look_at(const std::filesystem::path& path, PathLook& look) {
  struct stat info {};
  if (::lstat(path.c_str(), &info) != 0) return last_error();
  look.through_link = S_ISLNK(info.st_mode);
  if (look.through_link && ::stat(path.c_str(), &info) != 0) return last_error();
  look.kind = kind_of(info.st_mode);
  return {};
}

std::unique_ptr<FileSystem> make_posix_file_system() { return std::make_unique<PosixFileSystem>(); }

}  // namespace kestrune
