// Usage: file_steps_baseline PATH...
// Moves each PATH to PATH.enc through the system calls a conversion makes on
// POSIX (open and check the input, create a hidden temporary beside the
// target, copy through one reused buffer, fsync, chmod, rename, fsync the
// folder, unlink the input), with no cryptography, so the benchmark can tell
// what the crypto and the core add to many small files.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
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
  const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  const bool synced = fd >= 0 && ::fsync(fd) == 0;
  return ::close(fd) == 0 && synced;
}

std::string hidden_temporary_for(const std::string& target) {
  const std::size_t slash = target.rfind('/');
  const std::size_t name_at = slash == std::string::npos ? 0 : slash + 1;
  return target.substr(0, name_at) + "." + target.substr(name_at) + ".tmp";
}

bool move_without_crypto(const std::string& path, std::vector<char>& buffer) {
  const int input = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  struct stat info {};
  if (input < 0 || ::fstat(input, &info) != 0 || !S_ISREG(info.st_mode) ||
      ::fcntl(input, F_SETFL, ::fcntl(input, F_GETFL) & ~O_NONBLOCK) != 0 ||
      ::stat(path.c_str(), &info) != 0)
    return false;
  const std::string target = path + ".enc";
  const std::string temporary = hidden_temporary_for(target);
  const int output =
      ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, 0600);
  const bool moved = output >= 0 && copy_through(input, output, buffer) && ::fsync(output) == 0 &&
                     ::close(output) == 0 && ::chmod(temporary.c_str(), 0644) == 0 &&
                     ::rename(temporary.c_str(), target.c_str()) == 0 && sync_folder_of(target);
  return ::close(input) == 0 && moved && ::unlink(path.c_str()) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<char> buffer(std::size_t{1} << 20);
  int failures = 0;
  for (int i = 1; i < argc; ++i) {
    if (!move_without_crypto(argv[i], buffer)) {
      std::perror(argv[i]);
      ++failures;
    }
  }
  return failures == 0 ? 0 : 1;
}
