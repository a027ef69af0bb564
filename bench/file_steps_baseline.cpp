// Usage: file_steps_baseline [--with-checks] PATH...
// Moves each PATH to PATH.enc with no cryptography, so the benchmark can tell
// what the crypto and the core add to many small files.
//
// Plain: the bare steps of a safe replacement (open the input, create a
// temporary beside the target, copy through one reused buffer, fsync,
// rename, fsync the folder, unlink the input).
// --with-checks: exactly the system calls a conversion makes on POSIX, its
// safety checks included (the input's type, mode and identity taken from the
// descriptor, no folder where the output goes, a private temporary given its
// final mode, and the name checked to still lead to the input before the
// unlink).
#include <fcntl.h>
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
  input = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  return input >= 0 && ::fstat(input, &opened) == 0 && S_ISREG(opened.st_mode) &&
         ::fcntl(input, F_SETFL, ::fcntl(input, F_GETFL) & ~O_NONBLOCK) == 0;
}

bool target_is_free(const std::string& target) {
  struct stat existing {};
  return ::stat(target.c_str(), &existing) != 0 || !S_ISDIR(existing.st_mode);
}

bool still_the_input(const std::string& path, const struct stat& opened) {
  struct stat now {};
  return ::stat(path.c_str(), &now) == 0 && now.st_dev == opened.st_dev &&
         now.st_ino == opened.st_ino;
}

bool move_without_crypto(const std::string& path, bool with_checks, std::vector<char>& buffer) {
  int input = -1;
  struct stat opened {};
  if (!open_input(path, with_checks, input, opened)) return false;
  const std::string target = path + ".enc";
  if (with_checks && !target_is_free(target)) return false;
  const std::string temporary = hidden_temporary_for(target);
  const int output = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY,
                            with_checks ? 0600 : 0666);
  const bool moved = output >= 0 && copy_through(input, output, buffer) && ::fsync(output) == 0 &&
                     ::close(output) == 0 &&
                     (!with_checks || ::chmod(temporary.c_str(), 0644) == 0) &&
                     ::rename(temporary.c_str(), target.c_str()) == 0 && sync_folder_of(target);
  return ::close(input) == 0 && moved && (!with_checks || still_the_input(path, opened)) &&
         ::unlink(path.c_str()) == 0;
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
