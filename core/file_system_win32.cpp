#include <windows.h>

#include <algorithm>
#include <cwctype>
#include <random>
#include <string>

#include "file_system.h"

namespace kestrune {
namespace {

std::error_code last_error() {
  return {static_cast<int>(GetLastError()), std::system_category()};
}

// Absolute paths get the "\\?\" form, so a path near the 260-unit limit
// still works once ".enc" or a temporary name is added to it.
std::wstring native_name(const std::filesystem::path& path) {
  const std::wstring name = path.lexically_normal().make_preferred().native();
  if (!path.is_absolute() || name.starts_with(LR"(\\?\)")) return path.native();
  if (name.starts_with(LR"(\\)")) return LR"(\\?\UNC\)" + name.substr(2);
  return LR"(\\?\)" + name;
}

// Closes a handle that was not closed explicitly.
class FileHandle {
 public:
  explicit FileHandle(HANDLE handle) : handle_(handle) {}
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;
  ~FileHandle() {
    if (is_open()) CloseHandle(handle_);
  }
  bool is_open() const { return handle_ != INVALID_HANDLE_VALUE; }
  HANDLE get() const { return handle_; }
  HANDLE release() {
    const HANDLE handle = handle_;
    handle_ = INVALID_HANDLE_VALUE;
    return handle;
  }
  std::error_code close() {
    const HANDLE handle = handle_;
    handle_ = INVALID_HANDLE_VALUE;
    return CloseHandle(handle) ? std::error_code{} : last_error();
  }

 private:
  HANDLE handle_;
};

// Large requests are split: ReadFile and WriteFile take 32-bit counts.
DWORD chunk_size(std::size_t size) {
  return static_cast<DWORD>(std::min<std::size_t>(size, std::size_t{1} << 30));
}

std::int64_t ticks(const LARGE_INTEGER& time) { return time.QuadPart; }

std::error_code status_of(HANDLE handle, FileStatus& status) {
  BY_HANDLE_FILE_INFORMATION info{};
  FILE_BASIC_INFO times{};
  if (!GetFileInformationByHandle(handle, &info) ||
      !GetFileInformationByHandleEx(handle, FileBasicInfo, &times, sizeof times))
    return last_error();
  constexpr DWORD kNotAFile = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE;
  status.is_regular = (info.dwFileAttributes & kNotAFile) == 0;
  status.read_only = (info.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0;
  status.size = (std::uint64_t{info.nFileSizeHigh} << 32) | info.nFileSizeLow;
  status.device = info.dwVolumeSerialNumber;
  status.file_number = (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow;
  status.modified = ticks(times.LastWriteTime);
  status.changed = ticks(times.ChangeTime);
  status.links = info.nNumberOfLinks;
  return {};
}

class Win32ReadableFile final : public ReadableFile {
 public:
  explicit Win32ReadableFile(HANDLE handle) : file_(handle) {}
  std::error_code status(FileStatus& status) override { return status_of(file_.get(), status); }
  std::error_code read(std::span<std::uint8_t> buffer, std::size_t& bytes_read) override {
    DWORD got = 0;
    bytes_read = 0;
    if (!ReadFile(file_.get(), buffer.data(), chunk_size(buffer.size()), &got, nullptr))
      return last_error();
    bytes_read = got;
    return {};
  }

 private:
  FileHandle file_;
};

class Win32WritableFile final : public WritableFile {
 public:
  explicit Win32WritableFile(HANDLE handle) : file_(handle) {}
  std::error_code write(std::span<const std::uint8_t> data) override {
    while (!data.empty()) {
      DWORD written = 0;
      if (!WriteFile(file_.get(), data.data(), chunk_size(data.size()), &written, nullptr))
        return last_error();
      data = data.subspan(written);
    }
    return {};
  }
  // New files take the folder's inherited access rules instead.
  std::error_code take_permissions(const FileStatus&) override { return {}; }
  std::error_code sync() override {
    return FlushFileBuffers(file_.get()) ? std::error_code{} : last_error();
  }
  std::error_code close() override { return file_.close(); }

 private:
  FileHandle file_;
};

std::wstring hidden_temporary_name(const std::wstring& target_name, std::mt19937_64& random) {
  // Keep the name well inside the 255-unit limit of a name, without
  // splitting a surrogate pair.
  std::wstring stem = target_name.substr(0, 160);
  if (stem.size() < target_name.size() && !stem.empty() && stem.back() >= 0xD800 &&
      stem.back() <= 0xDBFF)
    stem.pop_back();
  static constexpr wchar_t kDigits[] = L"0123456789abcdefghijklmnopqrstuvwxyz";
  std::wstring tag;
  for (int i = 0; i < 8; ++i) tag += kDigits[random() % 36];
  return L"." + stem + L".kestrune-" + tag + L".tmp";
}

// The final name must be possible before any work is done for it: a name,
// no longer than a folder entry may be, no folder in its place, and no
// read-only file, which the rename would refuse only at the very end.
std::error_code check_target_name(const std::filesystem::path& target) {
  constexpr std::size_t kMaxNameLength = 255;
  const std::wstring name = target.filename().native();
  if (name.empty() || name == L"." || name == L"..")
    return std::make_error_code(std::errc::is_a_directory);
  if (name.size() > kMaxNameLength) return std::make_error_code(std::errc::filename_too_long);
  const DWORD attributes = GetFileAttributesW(native_name(target).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return {};
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
    return std::make_error_code(std::errc::is_a_directory);
  if ((attributes & FILE_ATTRIBUTE_READONLY) != 0)
    return std::make_error_code(std::errc::permission_denied);
  return {};
}

// Names that lead to devices wherever they stand: CON, NUL, COM1 and the
// like (with any extension), and the device namespace.
bool names_a_device(const std::filesystem::path& path) {
  if (path.native().starts_with(LR"(\\.\)")) return true;
  std::wstring stem = path.filename().native();
  stem = stem.substr(0, std::min(stem.find(L'.'), stem.find(L':')));
  while (!stem.empty() && stem.back() == L' ') stem.pop_back();
  for (wchar_t& c : stem) c = static_cast<wchar_t>(towupper(c));
  static constexpr const wchar_t* kDevices[] = {L"CON", L"PRN", L"AUX", L"NUL", L"CONIN$",
                                                L"CONOUT$", L"CLOCK$"};
  for (const wchar_t* device : kDevices)
    if (stem == device) return true;
  return stem.size() == 4 && (stem.starts_with(L"COM") || stem.starts_with(L"LPT")) &&
         stem[3] >= L'0' && stem[3] <= L'9';
}

// Looks before opening: opening a device can have effects of its own.
std::error_code check_is_regular_file(const std::filesystem::path& path, bool& through_link) {
  if (names_a_device(path)) return std::make_error_code(std::errc::invalid_argument);
  const DWORD attributes = GetFileAttributesW(native_name(path).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return last_error();
  if ((attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) != 0)
    return std::make_error_code(std::errc::invalid_argument);
  through_link = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
  return {};
}

class Win32FileSystem final : public FileSystem {
 public:
  Win32FileSystem() : random_(std::random_device{}()) {}

  std::error_code open_for_reading(const std::filesystem::path& path,
                                   std::unique_ptr<ReadableFile>& file,
                                   FileStatus& status) override {
    bool through_link = false;
    if (auto error = check_is_regular_file(path, through_link)) return error;
    // Others may read along but not write: the input is deleted afterwards,
    // so it must not change underneath. A folder cannot be opened this way.
    FileHandle handle(CreateFileW(native_name(path).c_str(), GENERIC_READ, FILE_SHARE_READ,
                                  nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!handle.is_open()) return last_error();
    // Consoles, pipes and devices are not files to convert.
    if (GetFileType(handle.get()) != FILE_TYPE_DISK)
      return std::make_error_code(std::errc::invalid_argument);
    if (auto error = status_of(handle.get(), status)) return error;
    status.through_symbolic_link = through_link;
    file = std::make_unique<Win32ReadableFile>(handle.release());
    return {};
  }

  std::error_code create_temporary(const std::filesystem::path& target,
                                   std::unique_ptr<WritableFile>& file,
                                   std::filesystem::path& temporary) override {
    if (auto error = check_target_name(target)) return error;
    for (int attempt = 0; attempt < 100; ++attempt) {
      const std::filesystem::path name =
          target.parent_path() / hidden_temporary_name(target.filename().native(), random_);
      // The new file inherits the folder's access rules, as any file the
      // user creates there would.
      const HANDLE handle = CreateFileW(native_name(name).c_str(), GENERIC_WRITE, 0, nullptr,
                                        CREATE_NEW, FILE_ATTRIBUTE_HIDDEN, nullptr);
      if (handle != INVALID_HANDLE_VALUE) {
        file = std::make_unique<Win32WritableFile>(handle);
        temporary = name;
        return {};
      }
      if (GetLastError() != ERROR_FILE_EXISTS) return last_error();
    }
    return std::make_error_code(std::errc::file_exists);
  }

  std::error_code rename_into_place(const std::filesystem::path& temporary,
                                    const std::filesystem::path& target) override {
    const std::wstring from = native_name(temporary);
    if (!SetFileAttributesW(from.c_str(), FILE_ATTRIBUTE_NORMAL)) return last_error();
    return MoveFileExW(from.c_str(), native_name(target).c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)
               ? std::error_code{}
               : last_error();
  }

  std::error_code remove(const std::filesystem::path& path) override {
    return DeleteFileW(native_name(path).c_str()) ? std::error_code{} : last_error();
  }

  // Nothing to do: MOVEFILE_WRITE_THROUGH returns only once the rename is on
  // disk, and Windows offers no way to flush a folder without
  // administrator rights.
  std::error_code sync_folder(const std::filesystem::path&) override { return {}; }

  // Opened without any access, only to learn which file the name leads to;
  // sharing everything, so it disturbs no one.
  std::error_code status(const std::filesystem::path& path, FileStatus& status) override {
    const FileHandle handle(CreateFileW(native_name(path).c_str(), 0,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!handle.is_open()) return last_error();
    return status_of(handle.get(), status);
  }

 private:
  std::mt19937_64 random_;
};

}  // namespace

std::unique_ptr<FileSystem> make_native_file_system() { return std::make_unique<Win32FileSystem>(); }

}  // namespace kestrune
