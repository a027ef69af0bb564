// The Win32 file-system seam, alone and under whole conversions: hidden
// temporaries beside the target, replacing renames, devices refused,
// read-only inputs kept, paths past the old 260-unit limit, and the access
// rules, attributes and mark of the web an output takes from its input.
#include <windows.h>

#include <aclapi.h>
#include <sddl.h>

#include <gtest/gtest.h>

#include "core/algorithms.h"
#include "core/conversion.h"
#include "core/kestrune.h"
#include "core/services.h"
#include "tests/forwarding_file_system.h"
#include "tests/test_support.h"

namespace kestrune::test {
namespace {

DWORD attributes_of(const std::filesystem::path& path) {
  return GetFileAttributesW((LR"(\\?\)" + path.native()).c_str());
}

bool exists_long(const std::filesystem::path& path) {
  return attributes_of(path) != INVALID_FILE_ATTRIBUTES;
}

// A folder whose path is `length` units long, under `base`; made and
// removed with the long-path API, which std::filesystem here cannot use.
class DeepFolder {
 public:
  DeepFolder(const std::filesystem::path& base, std::size_t length) : path_(base) {
    while (path_.native().size() + 1 < length) {
      const std::size_t room = length - path_.native().size() - 1;
      path_ /= std::wstring(std::min<std::size_t>(room, 100), L'd');
      CreateDirectoryW((LR"(\\?\)" + path_.native()).c_str(), nullptr);
      made_.push_back(path_);
    }
  }
  DeepFolder(const DeepFolder&) = delete;
  DeepFolder& operator=(const DeepFolder&) = delete;
  ~DeepFolder() {
    for (auto it = made_.rbegin(); it != made_.rend(); ++it)
      RemoveDirectoryW((LR"(\\?\)" + it->native()).c_str());
  }
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
  std::vector<std::filesystem::path> made_;
};

// Wine reports no named streams, yet may take "name:stream" for a file of
// that whole name: the volume's word is what counts.
bool keeps_named_streams(const std::filesystem::path& folder) {
  const HANDLE handle = CreateFileW(folder.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  DWORD flags = 0;
  GetVolumeInformationByHandleW(handle, nullptr, 0, nullptr, nullptr, &flags, nullptr, 0);
  CloseHandle(handle);
  return (flags & FILE_NAMED_STREAMS) != 0;
}

// The mark-of-the-web stream of `path`; reading gives nothing where there
// is none.
bool write_stream(const std::filesystem::path& path, const std::string& bytes) {
  const HANDLE stream = CreateFileW((path.native() + L":Zone.Identifier").c_str(), GENERIC_WRITE, 0,
                                    nullptr, CREATE_ALWAYS, 0, nullptr);
  if (stream == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  const bool wrote =
      WriteFile(stream, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  return CloseHandle(stream) && wrote && written == bytes.size();
}

std::string read_stream(const std::filesystem::path& path) {
  const HANDLE stream = CreateFileW((path.native() + L":Zone.Identifier").c_str(), GENERIC_READ,
                                    FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (stream == INVALID_HANDLE_VALUE) return {};
  std::string bytes(4096, '\0');
  DWORD got = 0;
  if (!ReadFile(stream, bytes.data(), static_cast<DWORD>(bytes.size()), &got, nullptr)) got = 0;
  CloseHandle(stream);
  bytes.resize(got);
  return bytes;
}

Bytes read_through_seam(FileSystem& file_system, const std::filesystem::path& path) {
  std::unique_ptr<ReadableFile> file;
  FileStatus status;
  if (file_system.open_for_reading(path, file, status)) return {};
  Bytes bytes(1 << 16);
  std::size_t got = 0;
  if (read_fully(*file, bytes, got)) return {};
  bytes.resize(got);
  return bytes;
}

class Win32FileSystemTest : public ::testing::Test {
 protected:
  ScratchFolder folder;
  std::unique_ptr<FileSystem> file_system = make_native_file_system();
  RecordingFrontEnd front_end;
  ConversionEnv env{*file_system, native_crypto_service(), front_end, fixed_clock(1700000000)};
};

TEST_F(Win32FileSystemTest, TemporaryIsHiddenBesideTheTargetAndRenameReplacesIt) {
  const auto target = folder / "report.txt.enc";
  write_file(target, {1, 2, 3});
  std::unique_ptr<WritableFile> file;
  std::filesystem::path temporary;
  ASSERT_FALSE(file_system->create_temporary(target, file, temporary));
  EXPECT_EQ(temporary.parent_path(), folder.path());
  EXPECT_NE(attributes_of(temporary) & FILE_ATTRIBUTE_HIDDEN, 0u);
  ASSERT_FALSE(file->write(Bytes{9, 8}));
  ASSERT_FALSE(file->take_permissions({}));
  ASSERT_FALSE(file->sync());
  ASSERT_FALSE(file->rename_into_place(true));
  ASSERT_FALSE(file->close());
  EXPECT_FALSE(file->sync_folder());
  EXPECT_EQ(read_file(target), (Bytes{9, 8}));
  EXPECT_EQ(attributes_of(target) & FILE_ATTRIBUTE_HIDDEN, 0u);
  EXPECT_FALSE(exists_long(temporary));
}

// A name taken while the output was written stays as it was.
TEST_F(Win32FileSystemTest, RenameWithoutReplacingLeavesATakenNameAsItWas) {
  const auto target = folder / "report.txt";
  std::unique_ptr<WritableFile> file;
  std::filesystem::path temporary;
  ASSERT_FALSE(file_system->create_temporary(target, file, temporary));
  write_file(target, {1, 2, 3});
  ASSERT_FALSE(file->write(Bytes{9}));
  EXPECT_EQ(file->rename_into_place(false), std::errc::file_exists);
  ASSERT_FALSE(file->discard());
  EXPECT_EQ(read_file(target), (Bytes{1, 2, 3}));
  EXPECT_FALSE(exists_long(temporary));
}

TEST_F(Win32FileSystemTest, TemporariesNeverShareANameAndKeepOthersOut) {
  const auto target = folder / "x";
  std::unique_ptr<WritableFile> first, second;
  std::filesystem::path first_name, second_name;
  ASSERT_FALSE(file_system->create_temporary(target, first, first_name));
  ASSERT_FALSE(file_system->create_temporary(target, second, second_name));
  EXPECT_NE(first_name, second_name);
  std::unique_ptr<ReadableFile> reader;
  FileStatus status;
  EXPECT_TRUE(file_system->open_for_reading(first_name, reader, status));
}

TEST_F(Win32FileSystemTest, OnlyRegularFilesOpenForReading) {
  std::unique_ptr<ReadableFile> file;
  FileStatus status;
  EXPECT_TRUE(file_system->open_for_reading(folder.path(), file, status));
  // Device names are refused before anything is opened.
  for (const wchar_t* device : {L"NUL", L"con", L"COM1", L"lpt2.txt", L"nul.tar.gz", LR"(\\.\NUL)",
                                LR"(//./NUL)", LR"(//?/NUL)", LR"(\\?\GLOBALROOT\Device\Null)"})
    EXPECT_TRUE(file_system->open_for_reading(folder.path() / device, file, status));
  EXPECT_TRUE(file_system->open_for_reading(L"NUL", file, status));
  EXPECT_TRUE(file_system->open_for_reading(folder / "missing", file, status));
  write_file(folder / "plain", {7});
  EXPECT_FALSE(file_system->open_for_reading(folder / "plain", file, status));
}

TEST_F(Win32FileSystemTest, StatusTellsReadOnlyAndWhichFileAndOnlyThatFileIsRemoved) {
  const auto path = folder / "locked.txt";
  write_file(path, pattern_bytes(300));
  SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_READONLY);
  FileStatus opened;
  std::unique_ptr<ReadableFile> file;
  ASSERT_FALSE(file_system->open_for_reading(path, file, opened));
  EXPECT_TRUE(opened.is_regular);
  EXPECT_TRUE(opened.read_only);
  EXPECT_EQ(opened.size, 300u);
  FileStatus now;
  ASSERT_FALSE(file->status(now));
  EXPECT_TRUE(now.same_file_as(opened));
  EXPECT_EQ(now.modified, opened.modified);
  file.reset();
  SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);

  // Another file under the converted file's name is not removed.
  write_file(folder / "other.txt", {1});
  bool another_file = false;
  ASSERT_FALSE(file_system->remove_input(folder / "other.txt", opened, another_file));
  EXPECT_TRUE(another_file);
  EXPECT_TRUE(exists_long(folder / "other.txt"));
  ASSERT_FALSE(file_system->remove_input(path, opened, another_file));
  EXPECT_FALSE(another_file);
  EXPECT_FALSE(exists_long(path));
}

// Refused before any work is done: a name longer than a folder entry may be,
// and a folder where the output belongs.
TEST_F(Win32FileSystemTest, ImpossibleOutputNamesAreOpenFailures) {
  const auto plain = folder / std::string(253, 'n');
  std::unique_ptr<WritableFile> file;
  std::filesystem::path temporary;
  EXPECT_EQ(file_system->create_temporary(std::filesystem::path(plain.native() + L".enc"), file,
                                          temporary),
            std::errc::filename_too_long);

  std::filesystem::create_directory(folder / "dir");
  write_file(folder / "dir.enc", {});
  decrypt_file(env, folder / "dir.enc", u"pw");
  // A container whose plain name is empty, or names the folder.
  std::filesystem::create_directory(folder / "sub");
  for (const char* name : {".enc", "..enc"}) {
    write_file(folder / "sub" / name, {1, 2});
    decrypt_file(env, folder / "sub" / name, u"pw");
  }
  // An existing read-only file, which the rename would refuse at the end.
  write_file(folder / "a", pattern_bytes(3000));
  write_file(folder / "a.enc", {'o', 'l', 'd'});
  SetFileAttributesW((folder / "a.enc").c_str(), FILE_ATTRIBUTE_READONLY);
  encrypt_file(env, folder / "a", u"pw");
  SetFileAttributesW((folder / "a.enc").c_str(), FILE_ATTRIBUTE_NORMAL);
  // An existing output another program holds open, which the rename would
  // also refuse only at the end.
  write_file(folder / "b", pattern_bytes(30));
  write_file(folder / "b.enc", {'o', 'l', 'd'});
  const HANDLE held = CreateFileW((folder / "b.enc").c_str(), GENERIC_READ, FILE_SHARE_READ,
                                  nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  encrypt_file(env, folder / "b", u"pw");
  CloseHandle(held);
  EXPECT_EQ(front_end.failures,
            (std::vector<ShownFailure>{{"Can't open decryption file.", "File open ERROR"},
                                       {"Can't open decryption file.", "File open ERROR"},
                                       {"Can't open decryption file.", "File open ERROR"},
                                       {"Can't open encryption file.", "File open ERROR"},
                                       {"Can't open encryption file.", "File open ERROR"}}));
  EXPECT_EQ(folder.entries(),
            (std::vector<std::string>{"a", "a.enc", "b", "b.enc", "dir", "dir.enc", "sub"}));
  EXPECT_EQ(read_file(folder / "a.enc"), (Bytes{'o', 'l', 'd'}));
}

// Sharing keeps writers out while the input is read, but its times can
// still be set; a change of them means the input is not what was read.
TEST_F(Win32FileSystemTest, InputWhoseTimesChangeDuringItsConversionIsKept) {
  class Touching final : public ForwardingFileSystem {
   public:
    using ForwardingFileSystem::ForwardingFileSystem;
    std::error_code open_for_reading(const std::filesystem::path& path,
                                     std::unique_ptr<ReadableFile>& file,
                                     FileStatus& status) override {
      const std::error_code error = real_.open_for_reading(path, file, status);
      const HANDLE other = CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                       nullptr, OPEN_EXISTING, 0, nullptr);
      FILETIME later{};
      GetSystemTimeAsFileTime(&later);
      later.dwHighDateTime += 1;
      EXPECT_TRUE(SetFileTime(other, nullptr, nullptr, &later));
      CloseHandle(other);
      return error;
    }
  };
  write_file(folder / "doc", pattern_bytes(70000));
  Touching touching(*file_system);
  ConversionEnv touching_env{touching, native_crypto_service(), front_end, fixed_clock(5)};
  encrypt_file(touching_env, folder / "doc", u"pw");
  EXPECT_EQ(front_end.failures,
            (std::vector<ShownFailure>{{"Can't read source file.", "Encrypt ERROR"}}));
  EXPECT_EQ(folder.entries(), std::vector<std::string>{"doc"});
}

// DeleteFileW leaves a read-only file alone; the container is made anyway,
// and the input is named as kept.
TEST_F(Win32FileSystemTest, ReadOnlyInputStaysAfterEncryption) {
  const auto path = folder / "locked.txt";
  write_file(path, pattern_bytes(5000));
  SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_READONLY);
  encrypt_file(env, path, u"pw");
  EXPECT_TRUE(front_end.failures.empty());
  EXPECT_TRUE(exists_long(path));
  EXPECT_TRUE(exists_long(folder / "locked.txt.enc"));
  SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  // Another name of the file keeps its contents.
  write_file(folder / "linked", pattern_bytes(50));
  ASSERT_TRUE(
      CreateHardLinkW((folder / "other-name").c_str(), (folder / "linked").c_str(), nullptr));
  encrypt_file(env, folder / "linked", u"pw");
  EXPECT_EQ(front_end.kept,
            (std::vector<std::string>{"it has no write permission",
                                      "it has other hard links, which keep its contents"}));
  EXPECT_EQ(read_file(folder / "other-name"), pattern_bytes(50));
}

// A plain path just under the limit gives a container name and a temporary
// name past it; both must work, and nothing may be cut.
TEST_F(Win32FileSystemTest, PathsPastTheOldLimitConvertBothWays) {
  const DeepFolder deep(folder.path(), 300);
  const auto plain = deep.path() / L"\u30C7\u30FC\u30BF\U0001F600-plain-text.bin";
  ASSERT_GT(plain.native().size(), 255u);
  const Bytes content = pattern_bytes(9000);
  {
    std::unique_ptr<WritableFile> file;
    std::filesystem::path temporary;
    ASSERT_FALSE(file_system->create_temporary(plain, file, temporary));
    ASSERT_FALSE(file->write(content));
    ASSERT_FALSE(file->rename_into_place(true));
    ASSERT_FALSE(file->close());
  }
  encrypt_file(env, plain, u"long");
  ASSERT_TRUE(front_end.failures.empty()) << front_end.failures[0].text;
  const auto container = std::filesystem::path(plain.native() + L".enc");
  EXPECT_TRUE(exists_long(container));
  EXPECT_FALSE(exists_long(plain));

  decrypt_file(env, container, u"long");
  ASSERT_TRUE(front_end.failures.empty()) << front_end.failures[0].text;
  EXPECT_EQ(read_through_seam(*file_system, plain), content);
  EXPECT_FALSE(exists_long(container));

  // The same file named relative to the working folder, 300 characters
  // and more once made whole.
  const std::filesystem::path saved = std::filesystem::current_path();
  std::filesystem::current_path(folder.path());
  const std::filesystem::path relative = plain.lexically_relative(folder.path());
  ASSERT_GT(std::filesystem::absolute(relative).native().size(), 300u);
  encrypt_file(env, relative, u"long");
  decrypt_file(env, std::filesystem::path(relative.native() + L".enc"), u"long");
  std::filesystem::current_path(saved);
  EXPECT_TRUE(front_end.failures.empty());
  EXPECT_EQ(read_through_seam(*file_system, plain), content);
  std::unique_ptr<ReadableFile> reader;
  FileStatus status;
  ASSERT_FALSE(file_system->open_for_reading(plain, reader, status));
  reader.reset();
  bool another_file = true;
  EXPECT_FALSE(file_system->remove_input(plain, status, another_file));
  EXPECT_FALSE(another_file);
  EXPECT_FALSE(exists_long(plain));
}

// An input made private by a DACL of its own (protected from its folder's)
// gives its output the same DACL, in both directions.
TEST_F(Win32FileSystemTest, OwnDaclIsKeptExactly) {
  write_file(folder / "p", pattern_bytes(40));
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(
      L"D:P(A;;FA;;;SY)(A;;FR;;;BA)", SDDL_REVISION_1, &descriptor, nullptr));
  BOOL present = FALSE, defaulted = FALSE;
  PACL dacl = nullptr;
  ASSERT_TRUE(GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted));
  const DWORD set =
      SetNamedSecurityInfoW(const_cast<wchar_t*>((folder / "p").c_str()), SE_FILE_OBJECT,
                            DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                            nullptr, nullptr, dacl, nullptr);
  LocalFree(descriptor);
  ASSERT_EQ(set, static_cast<DWORD>(ERROR_SUCCESS));
  const auto dacl_of = [](const std::filesystem::path& path) {
    PSECURITY_DESCRIPTOR found = nullptr;
    GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                          nullptr, nullptr, &found);
    wchar_t* text = nullptr;
    ConvertSecurityDescriptorToStringSecurityDescriptorW(found, SDDL_REVISION_1,
                                                         DACL_SECURITY_INFORMATION, &text, nullptr);
    const std::wstring result = text != nullptr ? text : L"";
    LocalFree(text);
    LocalFree(found);
    return result;
  };
  const std::wstring before = dacl_of(folder / "p");
  // Wine accepts the call but reports a DACL of its own making.
  if (!before.starts_with(L"D:P")) GTEST_SKIP() << "the file system keeps no DACL set on a file";
  encrypt_file(env, folder / "p", u"pw");
  const std::wstring container = dacl_of(folder / "p.enc");
  decrypt_file(env, folder / "p.enc", u"pw");
  EXPECT_TRUE(front_end.failures.empty());
  EXPECT_EQ(container, before);
  EXPECT_EQ(dacl_of(folder / "p"), before);
}

// A hidden or system file's output is hidden, or a system file, too.
TEST_F(Win32FileSystemTest, HiddenInputGivesAHiddenOutput) {
  write_file(folder / "h", pattern_bytes(40));
  SetFileAttributesW((folder / "h").c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
  encrypt_file(env, folder / "h", u"pw");
  const DWORD container = GetFileAttributesW((folder / "h.enc").c_str());
  decrypt_file(env, folder / "h.enc", u"pw");
  const DWORD plain = GetFileAttributesW((folder / "h").c_str());
  EXPECT_TRUE(front_end.failures.empty());
  constexpr DWORD kKept = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
  EXPECT_EQ(container & kKept, kKept);
  EXPECT_EQ(plain & kKept, kKept);
  SetFileAttributesW((folder / "h").c_str(), FILE_ATTRIBUTE_NORMAL);
}

// A downloaded file's mark of the web is given to its output in both
// directions. Wine keeps no named streams (its volumes lack
// FILE_NAMED_STREAMS, and a relative NtCreateFile of ":Zone.Identifier"
// fails), so there the mark is put into the input's status as the seam
// would read it, and the conversion must leave it out without failing or
// making anything else.
TEST_F(Win32FileSystemTest, MarkOfTheWebIsKeptBothWays) {
  class Marking final : public ForwardingFileSystem {
   public:
    Marking(FileSystem& real, std::string mark) : ForwardingFileSystem(real), mark_(mark) {}
    std::error_code open_for_reading(const std::filesystem::path& path,
                                     std::unique_ptr<ReadableFile>& file,
                                     FileStatus& status) override {
      const std::error_code error = real_.open_for_reading(path, file, status);
      if (!mark_.empty())
        status.carried.push_back({"Zone.Identifier", Bytes(mark_.begin(), mark_.end())});
      return error;
    }

   private:
    std::string mark_;
  };
  const std::string mark = "[ZoneTransfer]\r\nZoneId=3\r\nHostUrl=https://example.org/d\r\n";
  write_file(folder / "d", pattern_bytes(40));
  const bool keeps_streams = keeps_named_streams(folder.path());
  if (keeps_streams) {
    ASSERT_TRUE(write_stream(folder / "d", mark));
  }
  Marking marking(*file_system, keeps_streams ? "" : mark);
  ConversionEnv marking_env{marking, native_crypto_service(), front_end, fixed_clock(5)};
  encrypt_file(marking_env, folder / "d", u"pw");
  const std::string container = read_stream(folder / "d.enc");
  decrypt_file(marking_env, folder / "d.enc", u"pw");
  EXPECT_TRUE(front_end.failures.empty());
  EXPECT_EQ(folder.entries(), std::vector<std::string>{"d"});
  EXPECT_EQ(read_file(folder / "d"), pattern_bytes(40));
  const std::string kept = keeps_streams ? mark : "";
  EXPECT_EQ(container, kept);
  EXPECT_EQ(read_stream(folder / "d"), kept);
}

}  // namespace
}  // namespace kestrune::test
