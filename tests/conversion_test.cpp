// Conversions as a user meets them: round trips, the failure messages, and
// the promise that a failure never costs a file.
#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <functional>
#include <utility>

#include "core/block_pipeline.h"
#include "core/container.h"
#include "core/crypto/crypto_service.h"
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

// A back end that cannot make keys, or whose keys cannot code records;
// either for want of memory, when `exhausted`. Keys that claim to code on
// two threads at once let the writer code too.
class BrokenCryptoService final : public CryptoService {
 public:
  explicit BrokenCryptoService(bool keys_work, bool exhausted = false, bool concurrent = false)
      : keys_work_(keys_work), exhausted_(exhausted), concurrent_(concurrent) {}
  std::error_code digest(HashAlgorithm, std::span<const std::uint8_t>, SecureBytes&) override {
    return CryptoError::library_failed;
  }
  std::error_code derive_key(HashAlgorithm, CipherAlgorithm cipher, std::span<const std::uint8_t>,
                             std::unique_ptr<RecordKey>& key) override {
    struct UselessKey final : RecordKey {
      UselessKey(std::size_t block, bool exhausted, bool concurrent)
          : RecordKey(block), exhausted(exhausted), concurrent(concurrent) {}
      bool do_encrypt(RecordBatch) override { return refuse(); }
      bool do_decrypt(RecordBatch) override { return refuse(); }
      bool works_on_two_threads() const override { return concurrent; }
      bool refuse() const { return exhausted ? throw std::bad_alloc() : false; }
      bool exhausted;
      bool concurrent;
    };
    if (exhausted_ && !keys_work_) throw std::bad_alloc();
    if (!keys_work_) return CryptoError::algorithm_unavailable;
    key = std::make_unique<UselessKey>(block_size(cipher), exhausted_, concurrent_);
    return {};
  }

 private:
  bool keys_work_;
  bool exhausted_;
  bool concurrent_;
};

class Conversion : public ::testing::Test {
 protected:
  void drop(std::initializer_list<std::filesystem::path> paths,
            std::u16string_view password = u"pw") {
    const std::vector<std::filesystem::path> list(paths);
    dispatch_dropped_files(env, password, list);
  }

  ScratchFolder folder;
  std::unique_ptr<FileSystem> file_system = make_native_file_system();
  RecordingFrontEnd front_end;
  ConversionEnv env{*file_system, native_crypto_service(), front_end, fixed_clock(1700000000)};
};

TEST_F(Conversion, RoundTripsEverySizeAndCipherAndRemovesInputs) {
  for (CipherAlgorithm cipher : kAllCiphers) {
    env.choices.set_cipher(cipher);
    for (std::size_t size : {0u, 1u, 1023u, 1024u, 2048u, 70000u, 3u * 1048576u + 17u}) {
      SCOPED_TRACE(std::string(label(cipher)) + " size " + std::to_string(size));
      const Bytes plain = random_bytes(size, static_cast<std::uint32_t>(size));
      write_file(folder / "file.dat", plain);
      drop({folder / "file.dat"});
      EXPECT_EQ(folder.entries(), std::vector<std::string>{"file.dat.enc"});
      drop({folder / "file.dat.enc"});
      EXPECT_EQ(folder.entries(), std::vector<std::string>{"file.dat"});
      EXPECT_EQ(read_file(folder / "file.dat"), plain);
    }
  }
  EXPECT_TRUE(front_end.failures.empty());
  EXPECT_EQ(front_end.busy_changes.size() % 2, 0u);
  EXPECT_FALSE(front_end.busy_changes.back());
}

TEST_F(Conversion, HundredBytesMakeOneRecordOf114Bytes) {
  write_file(folder / "report.txt", pattern_bytes(100));
  drop({folder / "report.txt"});
  Bytes container = read_file(folder / "report.txt.enc");
  ASSERT_EQ(container.size(), 114u);
  EXPECT_EQ(container[0], 0x70);
  EXPECT_EQ(container[1], 0x80);

  env.choices.set_cipher(CipherAlgorithm::des);
  write_file(folder / "des.txt", pattern_bytes(100));
  drop({folder / "des.txt"});
  container = read_file(folder / "des.txt.enc");
  ASSERT_EQ(container.size(), 106u);
  EXPECT_EQ(container[0], 0x68);
}

TEST_F(Conversion, ExistingOutputIsReplacedOnlyBySuccess) {
  write_file(folder / "a.txt", pattern_bytes(5000));
  write_file(folder / "a.txt.enc", {'o', 'l', 'd'});
  drop({folder / "a.txt"});
  const Bytes container = read_file(folder / "a.txt.enc");
  EXPECT_NE(container, (Bytes{'o', 'l', 'd'}));

  // A wrong password leaves both the container and the old plain file.
  write_file(folder / "a.txt", {'k', 'e', 'e', 'p'});
  drop({folder / "a.txt.enc"}, u"wrong password");
  EXPECT_EQ(front_end.failures, std::vector{shown(kCantDecryptData)});
  EXPECT_EQ(read_file(folder / "a.txt.enc"), container);
  EXPECT_EQ(read_file(folder / "a.txt"), (Bytes{'k', 'e', 'e', 'p'}));
  EXPECT_EQ(folder.entries().size(), 2u);

  drop({folder / "a.txt.enc"});
  EXPECT_EQ(read_file(folder / "a.txt"), pattern_bytes(5000));
}

TEST_F(Conversion, KeptInputsStayAndTheContainerIsTheSame) {
  const Bytes plain = random_bytes(70000, 5);
  write_file(folder / "a", plain);
  drop({folder / "a"});
  const Bytes container = read_file(folder / "a.enc");
  env.keep_inputs = true;
  drop({folder / "a.enc"});
  drop({folder / "a"});
  EXPECT_EQ(folder.entries(), (std::vector<std::string>{"a", "a.enc"}));
  EXPECT_EQ(read_file(folder / "a"), plain);
  EXPECT_EQ(read_file(folder / "a.enc"), container);
  EXPECT_TRUE(front_end.failures.empty());
  EXPECT_TRUE(front_end.kept.empty());
}

// Whatever takes the output's name while it is written, a file or a link
// to nowhere, stays as it was when outputs are to replace nothing.
TEST_F(Conversion, NameTakenMeanwhileIsNotReplacedWhenOutputsReplaceNothing) {
  using Intruder = std::function<void(const std::filesystem::path&)>;
  class Intruding final : public ForwardingFileSystem {
   public:
    Intruding(FileSystem& real, Intruder intrude) : ForwardingFileSystem(real), intrude_(intrude) {}
    std::error_code create_temporary(const std::filesystem::path& target,
                                     std::unique_ptr<WritableFile>& file,
                                     std::filesystem::path& temporary) override {
      const std::error_code error = real_.create_temporary(target, file, temporary);
      intrude_(target);
      return error;
    }

   private:
    Intruder intrude_;
  };
  const Intruder intruders[] = {
      [](const std::filesystem::path& target) {
        write_file(target, {'o', 'l', 'd'});
      },
#ifndef _WIN32
      [](const std::filesystem::path& target) { std::filesystem::create_symlink("none", target); },
#endif
  };
  env.keep_inputs = true;
  for (const Intruder& intrude : intruders) {
    for (const bool encrypting : {true, false}) {
      ScratchFolder scratch;
      write_file(scratch / "a", pattern_bytes(3000));
      ASSERT_TRUE(encrypt_file(env, scratch / "a", u"pw").ok());
      const auto input = scratch / (encrypting ? "a" : "a.enc");
      const auto output = scratch / (encrypting ? "a.enc" : "a");
      const Bytes input_bytes = read_file(input);
      std::filesystem::remove(output);
      Intruding intruding(*file_system, intrude);
      ConversionEnv cautious{intruding, native_crypto_service(), front_end, fixed_clock(5)};
      cautious.replace_existing_output = false;
      front_end.failures.clear();
      EXPECT_EQ(convert_by_name(cautious, input, u"pw").failure.text, kOutputExists.text);
      EXPECT_EQ(front_end.failures, std::vector{shown(kOutputExists)});
      EXPECT_EQ(read_file(input), input_bytes);
      if (std::filesystem::is_symlink(output))
        EXPECT_EQ(std::filesystem::read_symlink(output), "none");
      else
        EXPECT_EQ(read_file(output), (Bytes{'o', 'l', 'd'}));
      EXPECT_EQ(scratch.entries().size(), 2u);
    }
  }
}

// FIFOs, NAME_MAX and modes are POSIX matters; tests/win32 covers Windows.
#ifndef _WIN32
TEST_F(Conversion, InputsThatCannotBeOpenedAreReportedAndNothingIsCreated) {
  std::filesystem::create_directory(folder / "folder");
  write_file(folder / "folder" / "inside.txt", {'x'});
  ASSERT_EQ(::mkfifo((folder / "pipe").c_str(), 0600), 0);
  drop({folder / "missing.txt", folder / "folder", folder / "pipe", folder / "missing.enc"});
  EXPECT_EQ(front_end.failures, (std::vector{shown(kCantOpenSource), shown(kCantOpenSource),
                                             shown(kCantOpenSource), shown(kCantOpenEncrypted)}));
  EXPECT_EQ(folder.entries(), (std::vector<std::string>{"folder", "pipe"}));
  EXPECT_EQ(read_file(folder / "folder" / "inside.txt"), Bytes{'x'});
}

TEST_F(Conversion, OutputThatCannotBeCreatedIsAnOpenFailure) {
  // The container's name would be longer than the folder allows.
  const std::string long_name(NAME_MAX - 2, 'n');
  write_file(folder / long_name, {'x'});
  drop({folder / long_name});
  EXPECT_EQ(front_end.failures, std::vector{shown(kCantOpenEncryptionFile)});
  EXPECT_EQ(read_file(folder / long_name), Bytes{'x'});

  // A container whose plain name is a folder.
  std::filesystem::create_directory(folder / "dir");
  write_file(folder / "dir.enc", {});
  front_end.failures.clear();
  drop({folder / "dir.enc"});
  EXPECT_EQ(front_end.failures, std::vector{shown(kCantOpenDecryptionFile)});
  EXPECT_TRUE(std::filesystem::exists(folder / "dir.enc"));
}
#endif

TEST_F(Conversion, BackEndFailuresKeepTheInputAndRemoveTheOutput) {
  write_file(folder / "p.txt", pattern_bytes(3000));
  write_file(folder / "c.enc", {0x10, 0x80, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16});
  const std::vector<std::filesystem::path> drop_list{folder / "p.txt", folder / "c.enc"};
  // Running out of memory is the same failure, said to be one.
  for (const bool exhausted : {false, true}) {
    BrokenCryptoService no_keys(false, exhausted);
    BrokenCryptoService useless_keys(true, exhausted);
    ConversionEnv without_keys{*file_system, no_keys, front_end, fixed_clock(1)};
    ConversionEnv without_coding{*file_system, useless_keys, front_end, fixed_clock(1)};
    front_end.failures.clear();
    front_end.causes.clear();
    dispatch_dropped_files(without_keys, u"pw", drop_list);
    dispatch_dropped_files(without_coding, u"pw", drop_list);
    EXPECT_EQ(front_end.failures,
              (std::vector{shown(kCantStartEncryption), shown(kCantStartDecryption),
                           shown(kCantEncryptData), shown(kCantDecryptData)}));
    EXPECT_EQ(front_end.allocation_failures, exhausted ? 4 : 0);
    // A key that cannot be made says why, as a file that cannot be opened does.
    const std::error_code why_no_key = exhausted
                                           ? std::make_error_code(std::errc::not_enough_memory)
                                           : make_error_code(CryptoError::algorithm_unavailable);
    ASSERT_EQ(front_end.causes.size(), 4u);
    EXPECT_EQ(front_end.causes[0], why_no_key);
    EXPECT_EQ(front_end.causes[1], why_no_key);
    EXPECT_EQ(folder.entries(), (std::vector<std::string>{"c.enc", "p.txt"}));
  }
}

// Files of several blocks are coded on the reading thread (fast ciphers),
// shared with the writer (fast ciphers whose keys allow it) or on coder
// threads (slow ones); a refusal in any must stop every thread.
TEST_F(Conversion, CodingFailureInALongFileStopsEveryThread) {
  // Memory running out on a coding thread must not escape it either.
  for (const auto& [exhausted, concurrent] : {std::pair{false, false}, std::pair{true, false},
                                              std::pair{false, true}, std::pair{true, true}}) {
    BrokenCryptoService useless_keys(true, exhausted, concurrent);
    ConversionEnv without_coding{*file_system, useless_keys, front_end, fixed_clock(1)};
    for (const CipherAlgorithm cipher : {CipherAlgorithm::aes256, CipherAlgorithm::des}) {
      without_coding.choices.set_cipher(cipher);
      write_file(folder / "long", random_bytes(5 * Block::kSize / 2, 9));
      front_end.failures.clear();
      const std::vector<std::filesystem::path> drop_list{folder / "long"};
      dispatch_dropped_files(without_coding, u"pw", drop_list);
      EXPECT_EQ(front_end.failures, std::vector{shown(kCantEncryptData)});
      EXPECT_EQ(folder.entries(), std::vector<std::string>{"long"});
    }
  }
  EXPECT_EQ(front_end.allocation_failures, 4);
}

TEST_F(Conversion, ContainerCutAnywhereButARecordEndIsRefusedAndKept) {
  env.choices.set_cipher(CipherAlgorithm::des);
  write_file(folder / "small", random_bytes(3500, 3));
  drop({folder / "small"});
  const Bytes container = read_file(folder / "small.enc");
  std::vector<std::size_t> record_ends{0};
  for (std::size_t at = 0; at < container.size();) {
    at += kLengthCodeSize + load_length_code(std::span(container).subspan(at));
    record_ends.push_back(at);
  }
  ASSERT_GE(record_ends.size(), 3u);
  for (std::size_t cut = 0; cut < container.size(); ++cut) {
    SCOPED_TRACE("cut at " + std::to_string(cut));
    write_file(folder / "small.enc", Bytes(container.begin(), container.begin() + cut));
    front_end.failures.clear();
    // The check alone gives the decryption's verdict and writes nothing.
    verify_container(env, folder / "small.enc", u"pw");
    EXPECT_EQ(folder.entries(), std::vector<std::string>{"small.enc"});
    drop({folder / "small.enc"});
    const bool whole_records =
        std::find(record_ends.begin(), record_ends.end(), cut) != record_ends.end();
    if (whole_records) {
      // Fewer whole records cannot be told from a shorter file.
      EXPECT_TRUE(front_end.failures.empty());
      EXPECT_EQ(folder.entries(), std::vector<std::string>{"small"});
      std::filesystem::remove(folder / "small");
    } else {
      EXPECT_EQ(front_end.failures, std::vector(2, shown(kCantDecryptData)));
      EXPECT_EQ(folder.entries(), std::vector<std::string>{"small.enc"});
    }
  }
}

TEST_F(Conversion, ImpossibleLengthCodesAreRefused) {
  const Bytes valid_body(16, 0);
  for (Bytes code : {Bytes{0x00, 0x80}, Bytes{0x01, 0x0C}, Bytes{0x0F, 0x80}, Bytes{0xFF, 0x7F}}) {
    Bytes damaged = code;
    damaged.insert(damaged.end(), 5000, 0xAB);
    write_file(folder / "x.enc", damaged);
    front_end.failures.clear();
    drop({folder / "x.enc"});
    EXPECT_EQ(front_end.failures, std::vector{shown(kCantDecryptData)});
    EXPECT_EQ(folder.entries(), std::vector<std::string>{"x.enc"});
  }
}

TEST_F(Conversion, DropsAreConvertedInOrderEachFindingWhatTheLastLeft) {
  write_file(folder / "a.txt", pattern_bytes(10));
  write_file(folder / "b.ENC", pattern_bytes(20));
  write_file(folder / "c", pattern_bytes(30));
  drop({folder / "a.txt", folder / "b.ENC", folder / "a.txt.enc", folder / "c"});
  EXPECT_TRUE(front_end.failures.empty());
  EXPECT_EQ(folder.entries(), (std::vector<std::string>{"a.txt", "b.ENC.enc", "c.enc"}));
  EXPECT_EQ(read_file(folder / "a.txt"), pattern_bytes(10));

  // A failure does not stop the files after it.
  drop({folder / "nothing", folder / "c.enc"});
  EXPECT_EQ(front_end.failures, std::vector{shown(kCantOpenSource)});
  EXPECT_EQ(read_file(folder / "c"), pattern_bytes(30));
}

TEST_F(Conversion, KeyCoversOnlyTheFirstNBytesOfThePassword) {
  write_file(folder / "f", pattern_bytes(100));
  drop({folder / "f"}, u"abcd");
  drop({folder / "f.enc"}, u"abXY");  // same length, same first four bytes of UTF-16LE
  EXPECT_TRUE(front_end.failures.empty());
  EXPECT_EQ(read_file(folder / "f"), pattern_bytes(100));

  const std::u16string long_password(300, u'k');
  drop({folder / "f"}, long_password);
  drop({folder / "f.enc"}, long_password.substr(0, 259));
  EXPECT_TRUE(front_end.failures.empty());

  write_file(folder / "g", random_bytes(5000, 1));
  drop({folder / "g"}, u"abc");
  drop({folder / "g.enc"}, u"abcd");  // a prefix of another length is another key
  EXPECT_EQ(front_end.failures, std::vector{shown(kCantDecryptData)});
}

// FIFOs, NAME_MAX and modes are POSIX matters; tests/win32 covers Windows.
#ifndef _WIN32
TEST_F(Conversion, ReadOnlyInputStaysBesideItsOutput) {
  write_file(folder / "ro.txt", pattern_bytes(50));
  ASSERT_EQ(::chmod((folder / "ro.txt").c_str(), 0444), 0);
  drop({folder / "ro.txt"});
  EXPECT_TRUE(front_end.failures.empty());
  EXPECT_EQ(folder.entries(), (std::vector<std::string>{"ro.txt", "ro.txt.enc"}));
}
#endif

// Windows refuses the swap itself: the input is open, shared for reading only.
#ifndef _WIN32
TEST_F(Conversion, InputReplacedDuringTheConversionIsKept) {
  // A file system that swaps the input for another file just before the
  // converted one would be removed.
  class Swapping final : public ForwardingFileSystem {
   public:
    using ForwardingFileSystem::ForwardingFileSystem;
    std::error_code remove_input(const std::filesystem::path& path, const FileStatus& converted,
                                 bool& another_file) override {
      write_file(path.parent_path() / "newcomer", {'n', 'e', 'w'});
      std::filesystem::rename(path.parent_path() / "newcomer", path);
      return real_.remove_input(path, converted, another_file);
    }
  };
  write_file(folder / "doc", pattern_bytes(4000));
  Swapping swapping(*file_system);
  ConversionEnv env_swapping{swapping, native_crypto_service(), front_end, fixed_clock(5)};
  const std::vector<std::filesystem::path> paths{folder / "doc"};
  dispatch_dropped_files(env_swapping, u"pw", paths);
  EXPECT_TRUE(front_end.failures.empty());
  EXPECT_EQ(front_end.kept, std::vector<std::string>{std::string(kKeptReplaced)});
  EXPECT_EQ(read_file(folder / "doc"), (Bytes{'n', 'e', 'w'}));
  EXPECT_TRUE(std::filesystem::exists(folder / "doc.enc"));
}
#endif

// Reports every file `skew` bytes longer or shorter than it is, as if it
// changed between the look and the read.
class SkewedSizeFileSystem final : public ForwardingFileSystem {
 public:
  SkewedSizeFileSystem(FileSystem& real, std::int64_t skew)
      : ForwardingFileSystem(real), skew_(skew) {}
  std::error_code open_for_reading(const std::filesystem::path& path,
                                   std::unique_ptr<ReadableFile>& file,
                                   FileStatus& status) override {
    const std::error_code error = real_.open_for_reading(path, file, status);
    status.size = static_cast<std::uint64_t>(static_cast<std::int64_t>(status.size) + skew_);
    return error;
  }

 private:
  std::int64_t skew_;
};

TEST_F(Conversion, InputThatChangesSizeWhileReadIsAFailure) {
  const Bytes plain = random_bytes(2u << 20, 4);
  for (std::int64_t skew : {-1, 1}) {
    SCOPED_TRACE("skew " + std::to_string(skew));
    SkewedSizeFileSystem skewed(*file_system, skew);
    ConversionEnv changing{skewed, native_crypto_service(), front_end, fixed_clock(5)};
    write_file(folder / "grows", plain);
    front_end.failures.clear();
    const std::vector<std::filesystem::path> paths{folder / "grows"};
    dispatch_dropped_files(changing, u"pw", paths);
    EXPECT_EQ(front_end.failures, std::vector{shown(kCantReadSource)});
    EXPECT_EQ(folder.entries(), std::vector<std::string>{"grows"});

    drop({folder / "grows"});
    front_end.failures.clear();
    const std::vector<std::filesystem::path> containers{folder / "grows.enc"};
    dispatch_dropped_files(changing, u"pw", containers);
    EXPECT_EQ(front_end.failures, std::vector{shown(kCantReadEncrypted)});
    EXPECT_EQ(folder.entries(), std::vector<std::string>{"grows.enc"});
    drop({folder / "grows.enc"});
    EXPECT_EQ(read_file(folder / "grows"), plain);
  }
}

// Asks to stop as soon as the first block has been coded.
class ImpatientFrontEnd final : public FrontEnd {
 public:
  void show_failure(const Outcome&) override { ++failures; }
  void set_busy(bool) override {}
  void progress(const std::filesystem::path&, std::uint64_t, std::uint64_t) override {
    stop = true;
  }
  bool cancel_requested() override { return stop; }
  bool stop = false;
  int failures = 0;
};

TEST_F(Conversion, CancellingLeavesInputsAndSkipsTheRestOfTheDrop) {
  const Bytes big = random_bytes(3u << 20, 9);
  write_file(folder / "big", big);
  write_file(folder / "next", {'n'});
  ImpatientFrontEnd impatient;
  ConversionEnv cancellable{*file_system, native_crypto_service(), impatient, fixed_clock(5)};
  const std::vector<std::filesystem::path> paths{folder / "big", folder / "next"};
  dispatch_dropped_files(cancellable, u"pw", paths);
  EXPECT_EQ(impatient.failures, 0);
  EXPECT_EQ(folder.entries(), (std::vector<std::string>{"big", "next"}));
  EXPECT_EQ(read_file(folder / "big"), big);
}

}  // namespace
}  // namespace kestrune::test
