#include <windows.h>

#include <aclapi.h>
#include <bcrypt.h>
#include <winternl.h>

#include <algorithm>
#include <cwctype>
#include <new>
#include <string>
#include <vector>

#include "core/files/file_errors.h"
#include "core/files/file_system_win32.h"
#include "core/files/path_look.h"
#include "core/files/temporary_name.h"

namespace kestrune {
namespace {

std::error_code last_error() { return {static_cast<int>(GetLastError()), std::system_category()}; }

// Paths get the "\\?\" form, relative ones made absolute first, so a path
// near the 260-unit limit still works once ".enc" or a temporary name is
// added to it, wherever the working folder is.
std::wstring native_name(const std::filesystem::path& given) {
  std::error_code error;
  const std::filesystem::path path =
      given.is_absolute() || given.native().starts_with(LR"(\\?\)") || given.empty()
          ? given
          : std::filesystem::absolute(given, error);
  if (error) return given.native();
  const std::wstring name = path.lexically_normal().make_preferred().native();
  if (!path.is_absolute() || name.starts_with(LR"(\\?\)")) return path.native();
  if (name.starts_with(LR"(\\)")) return LR"(\\?\UNC\)" + name.substr(2);
  return LR"(\\?\)" + name;
}

// The whole name a rename through a handle needs. A name already in the
// "\\?\" form is whole; std::filesystem would take it for a relative one.
std::error_code absolute_name(const std::filesystem::path& path, std::wstring& name) {
  if (path.native().starts_with(LR"(\\?\)")) {
    name = path.native();
    return {};
  }
  std::error_code error;
  name = native_name(std::filesystem::absolute(path, error));
  return error;
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
  status.hidden_and_system =
      info.dwFileAttributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
  return {};
}

constexpr const char* kExplicitDacl = "dacl";
constexpr const char* kProtectedDacl = "protected-dacl";

// Frees what the security functions allocated.
struct LocalMemory {
  PSECURITY_DESCRIPTOR memory = nullptr;
  ~LocalMemory() {
    if (memory != nullptr) LocalFree(memory);
  }
};

// Whether any entry of `dacl` is the file's own rather than its folder's.
bool has_explicit_entry(PACL dacl) {
  for (DWORD i = 0; i < dacl->AceCount; ++i) {
    void* entry = nullptr;
    if (GetAce(dacl, i, &entry) && (static_cast<ACE_HEADER*>(entry)->AceFlags & INHERITED_ACE) == 0)
      return true;
  }
  return false;
}

// The input's DACL, when it has rules of its own (or refuses its folder's);
// one of inherited entries only is left for the output's folder to give,
// as is a file whose rules cannot be read (FAT, some shares): its output
// takes its folder's, as any new file there would.
void read_own_dacl(HANDLE file, std::vector<CarriedAttribute>& carried) {
  LocalMemory descriptor;
  PACL dacl = nullptr;
  if (GetSecurityInfo(file, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl,
                      nullptr, &descriptor.memory) != ERROR_SUCCESS)
    return;
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  if (dacl == nullptr || !GetSecurityDescriptorControl(descriptor.memory, &control, &revision))
    return;
  const bool is_protected = (control & SE_DACL_PROTECTED) != 0;
  if (!is_protected && !has_explicit_entry(dacl)) return;
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(dacl);
  carried.push_back({is_protected ? kProtectedDacl : kExplicitDacl,
                     std::vector<std::uint8_t>(bytes, bytes + dacl->AclSize)});
}

// Gives `file` the input's own DACL; inherited entries come from its folder
// unless the input refused them.
std::error_code take_dacl(HANDLE file, const std::vector<CarriedAttribute>& carried) {
  for (const CarriedAttribute& attribute : carried) {
    const bool is_protected = attribute.name == kProtectedDacl;
    if (!is_protected && attribute.name != kExplicitDacl) continue;
    std::vector<std::uint8_t> dacl = attribute.value;  // the call takes no const
    const SECURITY_INFORMATION what =
        DACL_SECURITY_INFORMATION | (is_protected ? PROTECTED_DACL_SECURITY_INFORMATION
                                                  : UNPROTECTED_DACL_SECURITY_INFORMATION);
    const DWORD result = SetSecurityInfo(file, SE_FILE_OBJECT, what, nullptr, nullptr,
                                         reinterpret_cast<PACL>(dacl.data()), nullptr);
    if (result != ERROR_SUCCESS) return {static_cast<int>(result), std::system_category()};
  }
  return {};
}

// Writes all of `data`, or fails.
std::error_code write_all(HANDLE file, std::span<const std::uint8_t> data) {
  while (!data.empty()) {
    DWORD written = 0;
    if (!WriteFile(file, data.data(), chunk_size(data.size()), &written, nullptr))
      return last_error();
    data = data.subspan(written);
  }
  return {};
}

constexpr const char* kMarkOfTheWeb = "Zone.Identifier";
// Far beyond any mark a browser writes; a bigger stream is not read whole
// into memory, and not silently dropped either.
constexpr std::size_t kLargestMark = std::size_t{1} << 20;

// FAT and exFAT keep no named streams, and neither does Wine.
bool keeps_named_streams(HANDLE file) {
  DWORD flags = 0;
  return GetVolumeInformationByHandleW(file, nullptr, 0, nullptr, nullptr, &flags, nullptr, 0) &&
         (flags & FILE_NAMED_STREAMS) != 0;
}

// Opens the mark-of-the-web stream of the open `file` relative to its
// handle, so no name is looked up: whatever its path leads to meanwhile,
// the stream is this file's.
std::error_code open_mark_stream(HANDLE file, ACCESS_MASK access, ULONG disposition,
                                 HANDLE& stream) {
  wchar_t name[] = L":Zone.Identifier";
  UNICODE_STRING unicode{sizeof name - sizeof(wchar_t), sizeof name, name};
  OBJECT_ATTRIBUTES attributes;
  InitializeObjectAttributes(&attributes, &unicode, OBJ_CASE_INSENSITIVE, file, nullptr);
  IO_STATUS_BLOCK io{};
  stream = INVALID_HANDLE_VALUE;
  const NTSTATUS status =
      NtCreateFile(&stream, access | SYNCHRONIZE, &attributes, &io, nullptr, FILE_ATTRIBUTE_NORMAL,
                   FILE_SHARE_READ, disposition,
                   FILE_SYNCHRONOUS_IO_NONALERT | FILE_NON_DIRECTORY_FILE, nullptr, 0);
  if (NT_SUCCESS(status)) return {};
  stream = INVALID_HANDLE_VALUE;
  return {static_cast<int>(RtlNtStatusToDosError(status)), std::system_category()};
}

std::error_code read_whole_mark(HANDLE stream, std::vector<std::uint8_t>& mark) {
  std::uint8_t chunk[4096];
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(stream, chunk, sizeof chunk, &got, nullptr)) return last_error();
    if (got == 0) return {};
    if (mark.size() + got > kLargestMark) return {ERROR_FILE_TOO_LARGE, std::system_category()};
    mark.insert(mark.end(), chunk, chunk + got);
  }
}

// The input's mark of the web, which browsers and mail clients put on
// downloads, so that its output is still treated as downloaded. A mark that
// is there but cannot be read fails the opening: it would be lost with the
// input.
std::error_code read_mark_of_the_web(HANDLE file, std::vector<CarriedAttribute>& carried) {
  if (!keeps_named_streams(file)) return {};
  HANDLE opened = INVALID_HANDLE_VALUE;
  const std::error_code error = open_mark_stream(file, GENERIC_READ, FILE_OPEN, opened);
  if (error.value() == ERROR_FILE_NOT_FOUND) return {};  // not downloaded
  if (error) return error;
  FileHandle stream(opened);
  CarriedAttribute mark{kMarkOfTheWeb, {}};
  if (auto failed = read_whole_mark(stream.get(), mark.value)) return failed;
  carried.push_back(std::move(mark));
  return {};
}

// Gives `file` the input's mark of the web, flushed as the file was. An
// output on a volume without named streams (reached through a link) cannot
// keep one, and that is no failure.
std::error_code take_mark_of_the_web(HANDLE file, const std::vector<CarriedAttribute>& carried) {
  const auto mark = std::find_if(carried.begin(), carried.end(),
                                 [](const CarriedAttribute& a) { return a.name == kMarkOfTheWeb; });
  if (mark == carried.end() || !keeps_named_streams(file)) return {};
  HANDLE opened = INVALID_HANDLE_VALUE;
  if (auto error = open_mark_stream(file, GENERIC_WRITE, FILE_OVERWRITE_IF, opened)) return error;
  FileHandle stream(opened);
  if (auto error = write_all(stream.get(), mark->value)) return error;
  if (!FlushFileBuffers(stream.get())) return last_error();
  return stream.close();
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

bool name_taken(DWORD error) { return error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS; }

// The temporary, open with DELETE access and without sharing: nobody else
// can open, rename or remove it, and it is renamed through its handle.
class Win32WritableFile final : public WritableFile {
 public:
  Win32WritableFile(HANDLE handle, std::wstring target)
      : file_(handle), target_(std::move(target)) {}
  std::error_code write(std::span<const std::uint8_t> data) override {
    return write_all(file_.get(), data);
  }
  // New files take the folder's inherited access rules, plus the input's
  // own DACL where it has one; the temporary's hidden attribute goes,
  // unless the input was hidden (or a system file) too, so a hidden file's
  // container stays out of sight. The mark of the web comes first: its
  // stream is opened anew, which the input's DACL might not allow.
  std::error_code take_permissions(const FileStatus& input) override {
    if (auto error = take_mark_of_the_web(file_.get(), input.carried)) return error;
    if (auto error = take_dacl(file_.get(), input.carried)) return error;
    FILE_BASIC_INFO basic{};  // times of zero stay as they are
    basic.FileAttributes =
        input.hidden_and_system != 0 ? input.hidden_and_system : FILE_ATTRIBUTE_NORMAL;
    return SetFileInformationByHandle(file_.get(), FileBasicInfo, &basic, sizeof basic)
               ? std::error_code{}
               : last_error();
  }
  std::error_code sync() override {
    return FlushFileBuffers(file_.get()) ? std::error_code{} : last_error();
  }
  // No name is looked up: the rename goes through the handle, which no one
  // else can open meanwhile.
  std::error_code check_name() override { return {}; }
  // Flushed again afterwards, so the rename is on disk as
  // MOVEFILE_WRITE_THROUGH would leave it. Without replacing, the system
  // refuses a taken name in the same step as the rename.
  std::error_code rename_into_place(bool replace_existing) override {
    const std::size_t name_bytes = target_.size() * sizeof(wchar_t);
    std::vector<std::uint8_t> buffer(sizeof(FILE_RENAME_INFO) + name_bytes);
    auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    rename->ReplaceIfExists = replace_existing ? TRUE : FALSE;
    rename->RootDirectory = nullptr;
    rename->FileNameLength = static_cast<DWORD>(name_bytes);
    std::copy(target_.begin(), target_.end(), rename->FileName);
    if (!SetFileInformationByHandle(file_.get(), FileRenameInfo, rename,
                                    static_cast<DWORD>(buffer.size())))
      return name_taken(GetLastError()) ? std::make_error_code(std::errc::file_exists)
                                        : last_error();
    return sync();
  }
  std::error_code close() override { return file_.close(); }
  // Through the handle, which nobody else can open: no name is looked up.
  std::error_code discard() override {
    FILE_DISPOSITION_INFO disposition{TRUE};
    if (!SetFileInformationByHandle(file_.get(), FileDispositionInfo, &disposition,
                                    sizeof disposition))
      return last_error();
    return file_.close();
  }
  // Nothing to do: the rename was flushed through the file's handle, and
  // Windows offers no way to flush a folder without administrator rights.
  std::error_code sync_folder() override { return {}; }

 private:
  FileHandle file_;
  std::wstring target_;  // the absolute name the file is renamed to
};

// An existing output another program holds open without letting it be
// deleted would refuse the rename only at the very end.
std::error_code check_not_held_open(const std::filesystem::path& target) {
  FileHandle existing(CreateFileW(native_name(target).c_str(), DELETE,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (existing.is_open() || GetLastError() != ERROR_SHARING_VIOLATION) return {};
  return last_error();
}

// The final name must be possible before any work is done for it: a name,
// no longer than a folder entry may be, no folder in its place, and no
// read-only file, which the rename would refuse only at the very end.
std::error_code check_target_name(const std::filesystem::path& target) {
  constexpr std::size_t kMaxNameLength = 255;
  const std::wstring name = target.filename().native();
  if (names_no_file<wchar_t>(name)) return std::make_error_code(std::errc::is_a_directory);
  if (name.size() > kMaxNameLength) return std::make_error_code(std::errc::filename_too_long);
  const DWORD attributes = GetFileAttributesW(native_name(target).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return {};
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
    return std::make_error_code(std::errc::is_a_directory);
  if ((attributes & FILE_ATTRIBUTE_READONLY) != 0)
    return std::make_error_code(std::errc::permission_denied);
  return check_not_held_open(target);
}

// The device namespace in any spelling ("\\.\", "//./", "\??\"), and the
// "\\?\" form of anything but a drive path or a share.
bool names_a_namespace(std::wstring name) {
  std::replace(name.begin(), name.end(), L'/', L'\\');
  if (name.starts_with(LR"(\\.\)") || name.starts_with(LR"(\??\)")) return true;
  if (!name.starts_with(LR"(\\?\)")) return false;
  const std::wstring rest = name.substr(4);
  const bool drive = rest.size() >= 2 && std::iswalpha(rest[0]) && rest[1] == L':';
  const bool share = rest.size() >= 4 && _wcsnicmp(rest.c_str(), L"UNC\\", 4) == 0;
  return !drive && !share;
}

// Names that lead to devices wherever they stand: CON, NUL, COM1 and the
// like (with any extension), and the device namespace.
bool names_a_device(const std::filesystem::path& path) {
  if (names_a_namespace(path.native())) return true;
  std::wstring stem = path.filename().native();
  stem = stem.substr(0, std::min(stem.find(L'.'), stem.find(L':')));
  while (!stem.empty() && stem.back() == L' ') stem.pop_back();
  for (wchar_t& c : stem) c = static_cast<wchar_t>(towupper(c));
  static constexpr const wchar_t* kDevices[] = {L"CON",    L"PRN",     L"AUX",   L"NUL",
                                                L"CONIN$", L"CONOUT$", L"CLOCK$"};
  for (const wchar_t* device : kDevices)
    if (stem == device) return true;
  return stem.size() == 4 && (stem.starts_with(L"COM") || stem.starts_with(L"LPT")) &&
         stem[3] >= L'0' && stem[3] <= L'9';
}

// Memory that runs out now must not leave the new file unnamed to anyone.
std::error_code adopt_temporary(HANDLE handle, const std::filesystem::path& name,
                                const std::wstring& final_name, std::unique_ptr<WritableFile>& file,
                                std::filesystem::path& temporary) {
  try {
    temporary = name;
    file = std::make_unique<Win32WritableFile>(handle, final_name);
    return {};
  } catch (const std::bad_alloc&) {
    FILE_DISPOSITION_INFO disposition{TRUE};
    SetFileInformationByHandle(handle, FileDispositionInfo, &disposition, sizeof disposition);
    CloseHandle(handle);
    return std::make_error_code(std::errc::not_enough_memory);
  }
}

class Win32FileSystem final : public FileSystem {
 public:
  std::error_code open_for_reading(const std::filesystem::path& path,
                                   std::unique_ptr<ReadableFile>& file,
                                   FileStatus& status) override {
    bool through_link = false;
    if (auto error = check_is_regular_file(path, through_link)) return error;
    // Others may read along but not write: the input is deleted afterwards,
    // so it must not change underneath. A folder cannot be opened this way.
    FileHandle handle(CreateFileW(native_name(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!handle.is_open()) return last_error();
    // Consoles, pipes and devices are not files to convert.
    if (GetFileType(handle.get()) != FILE_TYPE_DISK) return FileError::not_regular_file;
    if (auto error = status_of(handle.get(), status)) return error;
    read_own_dacl(handle.get(), status.carried);
    if (auto error = read_mark_of_the_web(handle.get(), status.carried)) return error;
    status.through_symbolic_link = through_link;
    file = std::make_unique<Win32ReadableFile>(handle.release());
    return {};
  }

  std::error_code create_temporary(const std::filesystem::path& target,
                                   std::unique_ptr<WritableFile>& file,
                                   std::filesystem::path& temporary) override {
    if (auto error = check_target_name(target)) return error;
    std::wstring final_name;
    if (auto error = absolute_name(target, final_name)) return error;
    // Every Windows file system takes names of 255 units.
    std::filesystem::path name;
    HANDLE handle = INVALID_HANDLE_VALUE;
    const std::error_code error = create_under_fresh_name<wchar_t>(
        target.filename().native(), kLongestTemporaryStem,
        [&](const std::wstring& fresh, bool& taken) {
          name = target.parent_path() / fresh;
          // The new file inherits the folder's access rules, as any file
          // the user creates there would.
          handle = CreateFileW(native_name(name).c_str(), GENERIC_WRITE | DELETE | WRITE_DAC, 0,
                               nullptr, CREATE_NEW, FILE_ATTRIBUTE_HIDDEN, nullptr);
          if (handle != INVALID_HANDLE_VALUE) return std::error_code{};
          taken = GetLastError() == ERROR_FILE_EXISTS;
          return last_error();
        });
    if (error) return error;
    return adopt_temporary(handle, name, final_name, file, temporary);
  }

  // One handle, opened for deletion, both tells which file the name leads
  // to and removes it, so no other file can be removed in its place. A link
  // is opened itself, never what it leads to.
  std::error_code remove_input(const std::filesystem::path& path, const FileStatus& converted,
                               bool& another_file) override {
    FileHandle handle(CreateFileW(native_name(path).c_str(), DELETE | FILE_READ_ATTRIBUTES,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!handle.is_open()) return last_error();
    FileStatus now;
    if (auto error = status_of(handle.get(), now)) return error;
    another_file = !now.same_file_as(converted);
    if (another_file) return {};
    FILE_DISPOSITION_INFO disposition{TRUE};
    if (!SetFileInformationByHandle(handle.get(), FileDispositionInfo, &disposition,
                                    sizeof disposition))
      return last_error();
    return handle.close();
  }
};

}  // namespace

std::error_code random_tag(TemporaryTagBytes& tag) {
  if (BCryptGenRandom(nullptr, tag.data(), static_cast<ULONG>(tag.size()),
                      BCRYPT_USE_SYSTEM_PREFERRED_RNG) != 0)
    return std::make_error_code(std::errc::io_error);
  return {};
}

std::error_code look_at(const std::filesystem::path& path, PathLook& look) {
  if (names_a_device(path)) return {};  // PathLook::Kind::other
  const DWORD attributes = GetFileAttributesW(native_name(path).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return last_error();
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
    look.kind = PathLook::Kind::folder;
  else if ((attributes & FILE_ATTRIBUTE_DEVICE) == 0)
    look.kind = PathLook::Kind::regular_file;
  look.through_link = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
  return {};
}

std::unique_ptr<FileSystem> make_win32_file_system() { return std::make_unique<Win32FileSystem>(); }

}  // namespace kestrune
