// What ordinary files and habits meet on POSIX systems: read-only outputs,
// permissions and owners, edits saved during a conversion, impossible
// names, devices, and inputs whose contents stay after they are converted.
#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <set>

#include "core/files/file_errors.h"
#include "core/kestrune.h"
#include "core/messages.h"
#include "core/services.h"
#include "tests/forwarding_file_system.h"
#include "tests/test_support.h"

namespace kestrune::test {
namespace {

ShownFailure shown(const Failure& failure) {
  return {std::string(failure.text), std::string(failure.caption)};
}

struct stat status_of(const std::filesystem::path& path) {
  struct stat info {};
  EXPECT_EQ(::lstat(path.c_str(), &info), 0) << path;
  return info;
}

// Puts a file's times an hour back, so any later change is seen even where
// the clock's grain is coarse.
void age(const std::filesystem::path& path) {
  const struct timespec old[2] = {{::time(nullptr) - 3600, 0}, {::time(nullptr) - 3600, 0}};
  ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), old, 0), 0);
}

class PosixEdges : public ::testing::Test {
 protected:
  void drop(std::initializer_list<std::filesystem::path> paths) {
    const std::vector<std::filesystem::path> list(paths);
    dispatch_dropped_files(env, u"pw", list);
  }

  ScratchFolder folder;
  std::unique_ptr<FileSystem> file_system = make_native_file_system();
  RecordingFrontEnd front_end;
  ConversionEnv env{*file_system, native_crypto_service(), front_end, fixed_clock(1700000000)};
};

TEST_F(PosixEdges, ExistingOutputWithoutWritePermissionIsRefusedBeforeAnyWork) {
  write_file(folder / "a", pattern_bytes(3000));
  write_file(folder / "a.enc", {'o', 'l', 'd'});
  ASSERT_EQ(::chmod((folder / "a.enc").c_str(), 0444), 0);
  write_file(folder / "b", pattern_bytes(20));
  drop({folder / "b"});
  write_file(folder / "b", {'r', 'o'});
  ASSERT_EQ(::chmod((folder / "b").c_str(), 0400), 0);
  drop({folder / "a", folder / "b.enc"});
  // Mode bits decide, so root is refused as well.
  EXPECT_EQ(front_end.failures,
            (std::vector{shown(kCantOpenEncryptionFile), shown(kCantOpenDecryptionFile)}));
  EXPECT_EQ(folder.entries(), (std::vector<std::string>{"a", "a.enc", "b", "b.enc"}));
  EXPECT_EQ(read_file(folder / "a.enc"), (Bytes{'o', 'l', 'd'}));
  EXPECT_EQ(read_file(folder / "a"), pattern_bytes(3000));
  EXPECT_EQ(read_file(folder / "b"), (Bytes{'r', 'o'}));
}

TEST_F(PosixEdges, OutputKeepsTheInputsPermissionsAndOwner) {
  const mode_t saved_umask = ::umask(022);
  const bool root = ::geteuid() == 0;
  for (const mode_t mode : {0600, 0640, 0750, 06755, 0604}) {
    SCOPED_TRACE("mode " + std::to_string(mode));
    write_file(folder / "f", pattern_bytes(100));
    ASSERT_EQ(::chmod((folder / "f").c_str(), mode), 0);
    if (root) {
      ASSERT_EQ(::chown((folder / "f").c_str(), 1234, 5678), 0);
    }
    drop({folder / "f"});
    const struct stat container = status_of(folder / "f.enc");
    EXPECT_EQ(container.st_mode & 07777, mode & 0777);
    drop({folder / "f.enc"});
    const struct stat plain = status_of(folder / "f");
    EXPECT_EQ(plain.st_mode & 07777, mode & 0777);
    if (root) {
      EXPECT_EQ(container.st_uid, 1234u);
      EXPECT_EQ(plain.st_gid, 5678u);
    }
    std::filesystem::remove(folder / "f");
  }
  ::umask(saved_umask);
  EXPECT_TRUE(front_end.failures.empty());
}

// The value of an extended attribute, empty when there is none.
std::string attribute_of(const std::filesystem::path& path, const char* name) {
  char value[4096];
  const ssize_t size = ::lgetxattr(path.c_str(), name, value, sizeof value);
  return size < 0 ? std::string() : std::string(value, static_cast<std::size_t>(size));
}

bool run(const std::string& command) { return std::system(command.c_str()) == 0; }

// An ACL that makes a file private (its group denied, one other account
// allowed) and the attributes a browser puts on a download must survive
// both directions, while an ACL the input never had (one its output would
// inherit from the folder) must not appear.
TEST_F(PosixEdges, OutputKeepsTheInputsAccessRulesAndAttributesExactly) {
  const auto input = folder / "priv";
  write_file(input, pattern_bytes(300));
  ASSERT_EQ(::chmod(input.c_str(), 0640), 0);
  if (!run("setfacl -m g::---,u:daemon:r-- " + input.native()) ||
      ::setxattr(input.c_str(), "user.xdg.origin.url", "https://x/", 10, 0) != 0)
    GTEST_SKIP() << "this file system keeps no ACLs or user attributes";
  const std::string acl = attribute_of(input, "system.posix_acl_access");
  ASSERT_FALSE(acl.empty());
  write_file(folder / "plain", pattern_bytes(30));
  ASSERT_TRUE(run("setfacl -d -m u:daemon:rw- " + folder.path().native()));
  drop({input, folder / "plain"});
  drop({folder / "priv.enc", folder / "plain.enc"});
  EXPECT_TRUE(front_end.failures.empty());
  EXPECT_EQ(attribute_of(input, "system.posix_acl_access"), acl);
  EXPECT_EQ(attribute_of(input, "user.xdg.origin.url"), "https://x/");
  EXPECT_EQ(status_of(input).st_mode & 0777, 0640u);
  EXPECT_EQ(attribute_of(folder / "plain", "system.posix_acl_access"), "");
}

// A temporary whose removal fails (its folder made read-only meanwhile)
// holds what was converted so far: it stays readable by its owner only,
// whatever the input's mode, and the front end is told its name.
class UnremovableFileSystem final : public ForwardingFileSystem {
 public:
  using ForwardingFileSystem::ForwardingFileSystem;
  std::error_code create_temporary(const std::filesystem::path& target,
                                   std::unique_ptr<WritableFile>& file,
                                   std::filesystem::path& temporary) override {
    struct FailingFlush final : WritableFile {
      std::unique_ptr<WritableFile> real;
      std::error_code write(std::span<const std::uint8_t> data) override {
        return real->write(data);
      }
      std::error_code take_permissions(const FileStatus& input) override {
        return real->take_permissions(input);
      }
      std::error_code sync() override { return std::make_error_code(std::errc::io_error); }
      std::error_code check_name() override { return real->check_name(); }
      std::error_code rename_into_place(bool replace_existing) override {
        return real->rename_into_place(replace_existing);
      }
      std::error_code close() override { return real->close(); }
      std::error_code discard() override {
        return std::make_error_code(std::errc::permission_denied);
      }
      std::error_code sync_folder() override { return real->sync_folder(); }
    };
    auto failing = std::make_unique<FailingFlush>();
    if (auto error = real_.create_temporary(target, failing->real, temporary)) return error;
    file = std::move(failing);
    return {};
  }
};

TEST_F(PosixEdges, TemporaryThatCannotBeRemovedStaysPrivateAndIsNamed) {
  write_file(folder / "f", pattern_bytes(5000));
  ASSERT_EQ(::chmod((folder / "f").c_str(), 0644), 0);
  UnremovableFileSystem unremovable(*file_system);
  ConversionEnv stuck{unremovable, native_crypto_service(), front_end, fixed_clock(5)};
  encrypt_file(stuck, folder / "f", u"pw");
  EXPECT_EQ(front_end.failures, std::vector{shown(kCantWriteEncryptionFile)});
  ASSERT_EQ(front_end.left.size(), 1u);
  EXPECT_TRUE(front_end.left[0].filename().native().starts_with(".f.enc.kestrune-"));
  EXPECT_EQ(status_of(front_end.left[0]).st_mode & 0777, 0600u);
  EXPECT_EQ(read_file(folder / "f"), pattern_bytes(5000));
}

// Writes new bytes of the same length into the input, by its name, once the
// conversion has read its first block, as an editor saving in place does.
// With `coarse_clock`, every time it reports is cut to the second, as on
// exFAT or ext4 with small inodes, so only a watch can see the edit.
class EditingFileSystem final : public ForwardingFileSystem {
 public:
  EditingFileSystem(FileSystem& real, bool coarse_clock)
      : ForwardingFileSystem(real), coarse_clock_(coarse_clock) {}
  std::error_code open_for_reading(const std::filesystem::path& path,
                                   std::unique_ptr<ReadableFile>& file,
                                   FileStatus& status) override {
    struct Editing final : ReadableFile {
      std::unique_ptr<ReadableFile> real;
      std::filesystem::path path;
      bool edited = false;
      std::error_code read(std::span<std::uint8_t> buffer, std::size_t& got) override {
        const std::error_code error = real->read(buffer, got);
        if (!edited) {
          const int fd = ::open(path.c_str(), O_WRONLY);
          edited = fd >= 0 && ::pwrite(fd, "EDIT", 4, 10) == 4;
          if (fd >= 0) ::close(fd);
        }
        return error;
      }
      std::error_code status(FileStatus& now) override {
        const std::error_code error = real->status(now);
        if (coarse_clock) to_seconds(now);
        return error;
      }
      bool coarse_clock = false;
    };
    auto editing = std::make_unique<Editing>();
    editing->path = path;
    editing->coarse_clock = coarse_clock_;
    if (auto error = real_.open_for_reading(path, editing->real, status)) return error;
    if (coarse_clock_) to_seconds(status);
    file = std::move(editing);
    return {};
  }

 private:
  static void to_seconds(FileStatus& status) {
    status.modified -= status.modified % 1000000000;
    status.changed -= status.changed % 1000000000;
  }
  bool coarse_clock_;
};

TEST_F(PosixEdges, InputEditedInPlaceDuringItsConversionIsKept) {
  const Bytes plain = random_bytes(3u << 20, 8);
  write_file(folder / "doc", plain);
  drop({folder / "doc"});
  const Bytes container = read_file(folder / "doc.enc");
  const std::vector<std::filesystem::path> encrypted{folder / "doc.enc"};
  const std::vector<std::filesystem::path> plain_file{folder / "doc"};
  for (const bool coarse_clock : {false, true}) {
    SCOPED_TRACE(coarse_clock ? "times in whole seconds" : "fine times");
    EditingFileSystem editing(*file_system, coarse_clock);
    ConversionEnv editing_env{editing, native_crypto_service(), front_end, fixed_clock(1700000000)};
    write_file(folder / "doc.enc", container);
    std::filesystem::remove(folder / "doc");
    front_end.failures.clear();
    front_end.causes.clear();
    age(folder / "doc.enc");
    dispatch_dropped_files(editing_env, u"pw", encrypted);
    write_file(folder / "doc", plain);
    age(folder / "doc");
    dispatch_dropped_files(editing_env, u"pw", plain_file);
    EXPECT_EQ(front_end.failures, (std::vector{shown(kCantReadEncrypted), shown(kCantReadSource)}));
    const std::error_code changed = FileError::changed_while_read;
    EXPECT_EQ(front_end.causes, std::vector(2, changed));
    EXPECT_EQ(folder.entries(), (std::vector<std::string>{"doc", "doc.enc"}));
    Bytes edited = plain;
    std::copy_n("EDIT", 4, edited.begin() + 10);
    EXPECT_EQ(read_file(folder / "doc"), edited);
    EXPECT_NE(read_file(folder / "doc.enc"), container);  // edited too, and kept
  }
}

// More parts than one readv takes, empty ones among them, and a file that
// ends inside a part: each part is filled in turn, and the count stops
// where the file did.
TEST_F(PosixEdges, ScatteredReadsFillEveryPartInTurnUntilTheEnd) {
  const Bytes plain = random_bytes(6000, 9);
  write_file(folder / "f", plain);
  std::unique_ptr<ReadableFile> file;
  FileStatus status;
  ASSERT_FALSE(file_system->open_for_reading(folder / "f", file, status));
  Bytes buffer(3 * 2500, 0);
  std::vector<std::span<std::uint8_t>> parts;
  for (std::size_t offset = 0, i = 0; i < 2500; offset += i % 6, ++i)
    parts.push_back(std::span(buffer).subspan(offset, i % 6));
  std::size_t got = 0;
  ASSERT_FALSE(file->read_scattered(parts, got));
  EXPECT_EQ(got, plain.size());
  EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + 6000), plain);
  EXPECT_FALSE(file->read_scattered(parts, got));
  EXPECT_EQ(got, 0u);
}

// The files a file system reads share its watch for edits: an edit counts
// for the file edited only, also when a look at another file took in its
// event, and for as long as any reader of that file is open.
TEST_F(PosixEdges, EditsCountForTheEditedFileAloneAndEachOfItsReaders) {
  write_file(folder / "a", pattern_bytes(10));
  write_file(folder / "b", pattern_bytes(10));
  std::unique_ptr<ReadableFile> a, b, a_again;
  FileStatus status;
  ASSERT_FALSE(file_system->open_for_reading(folder / "a", a, status));
  ASSERT_FALSE(file_system->open_for_reading(folder / "b", b, status));
  ASSERT_FALSE(file_system->open_for_reading(folder / "a", a_again, status));
  a.reset();
  write_file(folder / "a", pattern_bytes(10));
  const std::error_code changed = FileError::changed_while_read;
  EXPECT_FALSE(b->status(status));
  EXPECT_EQ(a_again->status(status), changed);
  write_file(folder / "b", pattern_bytes(10));
  EXPECT_EQ(b->status(status), changed);
}

TEST_F(PosixEdges, NamesWithoutAFileAreRefusedBeforeReading) {
  std::filesystem::create_directory(folder / "sub");
  write_file(folder / "sub" / "x", pattern_bytes(5000));
  drop({folder / "sub" / "x"});
  for (const char* name : {".enc", "..enc"})
    std::filesystem::copy_file(folder / "sub" / "x.enc", folder / "sub" / name);
  // A bare ".enc" in the working folder: its plain name is empty.
  const std::filesystem::path saved = std::filesystem::current_path();
  std::filesystem::current_path(folder / "sub");
  drop({".enc", folder / "sub" / "..enc"});
  std::filesystem::current_path(saved);
  EXPECT_EQ(front_end.failures, std::vector(2, shown(kCantOpenDecryptionFile)));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder / "sub"), {}), 3);
}

TEST_F(PosixEdges, DevicesAndFifosAreNeverOpened) {
  ASSERT_EQ(::mkfifo((folder / "pipe").c_str(), 0600), 0);
  std::vector<std::filesystem::path> paths{folder / "pipe"};
  // A node for the null device, where the system lets us make one.
  if (::mknod((folder / "null").c_str(), S_IFCHR | 0600, makedev(1, 3)) == 0)
    paths.push_back(folder / "null");
  const int watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  ASSERT_GE(watch, 0);
  for (const auto& path : paths) ASSERT_GE(::inotify_add_watch(watch, path.c_str(), IN_OPEN), 0);
  dispatch_dropped_files(env, u"pw", paths);
  char events[4096];
  EXPECT_EQ(::read(watch, events, sizeof events), -1) << "a device or FIFO was opened";
  ::close(watch);
  paths.push_back(folder.path());
  dispatch_dropped_files(env, u"pw", paths);
  EXPECT_EQ(front_end.failures, std::vector(2 * paths.size() - 1, shown(kCantOpenSource)));
  // Each says what the path is, never an error that did not happen.
  const std::error_code not_regular = FileError::not_regular_file;
  EXPECT_EQ(front_end.causes.back(), std::errc::is_a_directory);
  EXPECT_EQ(front_end.causes.front(), not_regular);
}

TEST_F(PosixEdges, InputsWhoseContentsStayAreNamed) {
  write_file(folder / "target", pattern_bytes(40));
  std::filesystem::create_symlink("target", folder / "link");
  write_file(folder / "linked", pattern_bytes(50));
  std::filesystem::create_hard_link(folder / "linked", folder / "other-name");
  write_file(folder / "locked", pattern_bytes(60));
  ASSERT_EQ(::chmod((folder / "locked").c_str(), 0444), 0);
  drop({folder / "link", folder / "linked", folder / "locked"});
  EXPECT_TRUE(front_end.failures.empty());
  EXPECT_EQ(front_end.kept,
            (std::vector<std::string>{std::string(kKeptBehindLink), std::string(kKeptOtherLinks),
                                      std::string(kKeptReadOnly)}));
  EXPECT_EQ(folder.entries(), (std::vector<std::string>{"link", "link.enc", "linked.enc", "locked",
                                                        "locked.enc", "other-name", "target"}));
  EXPECT_EQ(read_file(folder / "target"), pattern_bytes(40));
}

// Another account in a shared folder: just after a call of the conversion's
// output file it moves the named file away and leaves a symbolic link to
// `victim` in its place; the temporary's name after its flush, or the final
// name just after the rename.
class NameSwappingFileSystem final : public ForwardingFileSystem {
 public:
  NameSwappingFileSystem(FileSystem& real, std::filesystem::path victim, bool after_rename)
      : ForwardingFileSystem(real), victim_(std::move(victim)), after_rename_(after_rename) {}
  std::error_code create_temporary(const std::filesystem::path& target,
                                   std::unique_ptr<WritableFile>& file,
                                   std::filesystem::path& temporary) override {
    struct Swapping final : WritableFile {
      std::unique_ptr<WritableFile> real;
      std::filesystem::path name, victim;
      bool after_rename = false;
      std::error_code swap(std::error_code error) const {
        std::filesystem::rename(name, name.native() + ".moved");
        std::filesystem::create_symlink(victim, name);
        return error;
      }
      std::error_code write(std::span<const std::uint8_t> data) override {
        return real->write(data);
      }
      std::error_code take_permissions(const FileStatus& input) override {
        return real->take_permissions(input);
      }
      std::error_code sync() override { return after_rename ? real->sync() : swap(real->sync()); }
      std::error_code check_name() override { return real->check_name(); }
      std::error_code rename_into_place(bool replace_existing) override {
        const std::error_code error = real->rename_into_place(replace_existing);
        return after_rename ? swap(error) : error;
      }
      std::error_code close() override { return real->close(); }
      std::error_code discard() override { return real->discard(); }
      std::error_code sync_folder() override { return real->sync_folder(); }
    };
    auto swapping = std::make_unique<Swapping>();
    if (auto error = real_.create_temporary(target, swapping->real, temporary)) return error;
    swapping->name = after_rename_ ? target : temporary;
    swapping->victim = victim_;
    swapping->after_rename = after_rename_;
    file = std::move(swapping);
    return {};
  }

 private:
  std::filesystem::path victim_;
  bool after_rename_;
};

TEST_F(PosixEdges, NameSwappedForALinkInASharedFolderIsNeitherFollowedNorKept) {
  std::filesystem::create_directory(folder / "home");
  const auto victim = folder / "home" / "private";
  write_file(victim, {'m', 'i', 'n', 'e'});
  ASSERT_EQ(::chmod(victim.c_str(), 0600), 0);
  std::filesystem::create_directory(folder / "shared");
  for (const bool after_rename : {false, true}) {
    SCOPED_TRACE(after_rename ? "swapped after the rename" : "swapped before the rename");
    const auto input = folder / "shared" / (after_rename ? "b" : "a");
    write_file(input, pattern_bytes(5000));
    ASSERT_EQ(::chmod(input.c_str(), 0644), 0);
    NameSwappingFileSystem swapping(*file_system, victim, after_rename);
    ConversionEnv shared{swapping, native_crypto_service(), front_end, fixed_clock(5)};
    front_end.failures.clear();
    encrypt_file(shared, input, u"pw");
    EXPECT_EQ(front_end.failures, std::vector{shown(kCantWriteEncryptionFile)});
    EXPECT_EQ(read_file(input), pattern_bytes(5000));
    EXPECT_EQ(status_of(victim).st_mode & 07777, 0600u);
    EXPECT_EQ(read_file(victim), (Bytes{'m', 'i', 'n', 'e'}));
  }
  // Before the rename, the link left in the temporary's place is removed
  // (the link, never what it leads to) and nothing is renamed onto a.enc.
  EXPECT_FALSE(
      std::filesystem::exists(std::filesystem::symlink_status(folder / "shared" / "a.enc")));
  EXPECT_TRUE(std::filesystem::is_symlink(folder / "shared" / "b.enc"));
}

// Moves the folder of the file converting once its first block is coded,
// then stops the file.
class FolderMovingFrontEnd final : public FrontEnd {
 public:
  FolderMovingFrontEnd(std::filesystem::path from, std::filesystem::path to)
      : from_(std::move(from)), to_(std::move(to)) {}
  void show_failure(const Outcome&) override {}
  void set_busy(bool) override {}
  void progress(const std::filesystem::path&, std::uint64_t, std::uint64_t) override {
    if (!moved_) std::filesystem::rename(from_, to_);
    moved_ = true;
  }
  bool cancel_requested() override { return moved_; }

 private:
  std::filesystem::path from_;
  std::filesystem::path to_;
  bool moved_ = false;
};

TEST_F(PosixEdges, FolderMovedMidFileKeepsNoTemporary) {
  std::filesystem::create_directory(folder / "before");
  const Bytes big = random_bytes(3u << 20, 4);
  write_file(folder / "before" / "big", big);
  FolderMovingFrontEnd mover(folder / "before", folder / "after");
  ConversionEnv moving{*file_system, native_crypto_service(), mover, fixed_clock(5)};
  EXPECT_EQ(encrypt_file(moving, folder / "before" / "big", u"pw").kind, Outcome::Kind::cancelled);
  std::vector<std::string> left;
  for (const auto& entry : std::filesystem::directory_iterator(folder / "after"))
    left.push_back(entry.path().filename().string());
  EXPECT_EQ(left, std::vector<std::string>{"big"});
  EXPECT_EQ(read_file(folder / "after" / "big"), big);
}

TEST_F(PosixEdges, TemporaryNamesAreDrawnAfreshEachTime) {
  std::set<std::string> names;
  for (int i = 0; i < 50; ++i) {
    std::unique_ptr<WritableFile> file;
    std::filesystem::path temporary;
    ASSERT_FALSE(file_system->create_temporary(folder / "x", file, temporary));
    EXPECT_TRUE(temporary.filename().native().starts_with(".x.kestrune-"));
    names.insert(temporary.filename().native());
    file.reset();
    std::filesystem::remove(temporary);
  }
  EXPECT_EQ(names.size(), 50u);
}

}  // namespace
}  // namespace kestrune::test
