// Usage: file_steps_baseline [--with-checks] PATH...
// Moves each PATH to PATH.enc with no cryptography, so the benchmark can tell
// what the crypto and the core add to many small files.
//
// Plain: the bare steps of a safe replacement (open the input, create a
// temporary beside the target, copy through one reused buffer, fsync,
// rename, fsync the folder, unlink the input).
// --with-checks: exactly the system calls a conversion makes on POSIX, its
// safety checks included (the input's type looked at before it is opened and
// taken again from the descriptor, the folder held open, a writable target,
// a random name, a private temporary given the input's owner and mode, the
// input's times looked at again, both names checked around the rename, and
// the input's name checked to still lead to it before the unlink).
#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

bool copy_through(int input, int output, std::vector<char>& buffer) {
  for (;;) {
    const ssize_t got = ::read(input, buffer.data(), buffer.size());
    if (got <= 0) return got == 0;
    for (ssize_t put = 0; put < got;) {
      const ssize_t wrote = ::write(output, buffer.data() + put, static_cast<size_t>(got - put));
      if (wrote < 0) return false;
      put += wrote;
    }
  }
}

bool sync_folder_of(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash);
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  const bool synced = fd >= 0 && ::fsync(fd) == 0;
  return ::close(fd) == 0 && synced;
}

std::string hidden_temporary_for(const std::string& target) {
  const std::size_t slash = target.rfind('/');
  const std::size_t name_at = slash == std::string::npos ? 0 : slash + 1;
  return target.substr(0, name_at) + "." + target.substr(name_at) + ".tmp";
}

bool open_input(const std::string& path, bool with_checks, int& input, struct stat& opened) {
  if (!with_checks) return (input = ::open(path.c_str(), O_RDONLY | O_CLOEXEC)) >= 0;
  struct stat looked {};
  if (::lstat(path.c_str(), &looked) != 0 || !S_ISREG(looked.st_mode)) return false;
  input = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  return input >= 0 && ::fstat(input, &opened) == 0 && S_ISREG(opened.st_mode) &&
         ::fcntl(input, F_SETFL, 0) == 0;
}

std::string name_in_folder(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool leads_to(int folder, const std::string& name, const struct stat& file) {
  struct stat now {};
  return ::fstatat(folder, name.c_str(), &now, AT_SYMLINK_NOFOLLOW) == 0 &&
         now.st_dev == file.st_dev && now.st_ino == file.st_ino;
}

bool move_bare(const std::string& path, std::vector<char>& buffer) {
  int input = -1;
  struct stat opened {};
  if (!open_input(path, false, input, opened)) return false;
  const std::string target = path + ".enc";
  const std::string temporary = hidden_temporary_for(target);
  const int output =
      ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, 0666);
  const bool moved = output >= 0 && copy_through(input, output, buffer) && ::fsync(output) == 0 &&
                     ::close(output) == 0 && ::rename(temporary.c_str(), target.c_str()) == 0 &&
                     sync_folder_of(target);
  return ::close(input) == 0 && moved && ::unlink(path.c_str()) == 0;
}

// Only the calls that change something, as a conversion does.
bool take_owner_and_mode(int output, const struct stat& created, const struct stat& opened) {
  const bool same_owner = created.st_uid == opened.st_uid && created.st_gid == opened.st_gid;
  if (!same_owner && ::fchown(output, opened.st_uid, opened.st_gid) != 0) return false;
  if (same_owner && (created.st_mode & 0777) == (opened.st_mode & 0777)) return true;
  return ::fchmod(output, opened.st_mode & 0777) == 0;
}

bool write_checked(int input, const struct stat& opened, int folder, const std::string& target,
                   std::vector<char>& buffer) {
  struct stat existing {};
  if (::fstatat(folder, target.c_str(), &existing, 0) == 0 &&
      (S_ISDIR(existing.st_mode) || (existing.st_mode & 0222) == 0))
    return false;
  char tag[8];
  if (::getrandom(tag, sizeof tag, 0) != sizeof tag) return false;
  const std::string temporary = name_in_folder(hidden_temporary_for(target));
  const int output =
      ::openat(folder, temporary.c_str(),
               O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY, 0600);
  struct stat created {
  }, now{};
  const bool moved = output >= 0 && ::fstat(output, &created) == 0 &&
                     copy_through(input, output, buffer) &&
                     take_owner_and_mode(output, created, opened) && ::fsync(output) == 0 &&
                     ::fstat(input, &now) == 0 && leads_to(folder, temporary, created) &&
                     ::renameat(folder, temporary.c_str(), folder, target.c_str()) == 0 &&
                     leads_to(folder, target, created);
  return ::close(output) == 0 && moved && ::fsync(folder) == 0;
}

bool move_checked(const std::string& path, std::vector<char>& buffer) {
  int input = -1;
  struct stat opened {};
  if (!open_input(path, true, input, opened)) return false;
  const std::string target = path + ".enc";
  const std::size_t slash = target.rfind('/');
  const std::string folder_name = slash == std::string::npos ? "." : target.substr(0, slash);
  const int folder = ::open(folder_name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  const bool moved = folder >= 0 &&
                     write_checked(input, opened, folder, name_in_folder(target), buffer) &&
                     ::close(folder) == 0;
  struct stat now {};
  return ::close(input) == 0 && moved && ::lstat(path.c_str(), &now) == 0 &&
         now.st_dev == opened.st_dev && now.st_ino == opened.st_ino && ::unlink(path.c_str()) == 0;
}

bool move_without_crypto(const std::string& path, bool with_checks, std::vector<char>& buffer) {
  return with_checks ? move_checked(path, buffer) : move_bare(path, buffer);
}

}  // namespace

int main(int argc, char** argv) {
  const bool with_checks = argc > 1 && std::strcmp(argv[1], "--with-checks") == 0;
  std::vector<char> buffer(std::size_t{1} << 20);
  int failures = 0;
  for (int i = with_checks ? 2 : 1; i < argc; ++i) {
    if (!move_without_crypto(argv[i], with_checks, buffer)) {
      std::perror(argv[i]);
      ++failures;
    }
  }
  return failures == 0 ? 0 : 1;
}
