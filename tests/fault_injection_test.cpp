// Fails every file-system call of a normal conversion in turn and checks that
// nothing is lost: the input stays as it was, a file already bearing the
// output's name survives, no temporary is left, and the user sees exactly one
// message with the right text.
#include <gtest/gtest.h>

#include "decrypt.h"
#include "encrypt.h"
#include "faulty_file_system.h"
#include "messages.h"
#include "test_support.h"

namespace kestrune::test {
namespace {

constexpr std::size_t kPlainSize = (std::size_t{5} << 20) / 2 + 333;  // several blocks
const Bytes kOldOutput = {'o', 'l', 'd'};

struct Direction {
  const char* name;
  std::string input;
  std::string output;
  void (*convert)(ConversionEnv&, const std::filesystem::path&, std::u16string_view);
  Failure open_input, open_output, read, write;
};

const Direction kEncryption{"encrypt",          "data.bin",       "data.bin.enc",
                            encrypt_file,       kCantOpenSource,  kCantOpenEncryptionFile,
                            kCantReadSource,    kCantWriteEncryptionFile};
const Direction kDecryption{"decrypt",          "data.bin.enc",      "data.bin",
                            decrypt_file,       kCantOpenEncrypted,  kCantOpenDecryptionFile,
                            kCantReadEncrypted, kCantWriteDecryptionFile};

Failure expected_failure(const Direction& direction, Call call) {
  switch (call) {
    case Call::open_for_reading:
    case Call::status: return direction.open_input;
    case Call::create_temporary: return direction.open_output;
    case Call::read: return direction.read;
    default: return direction.write;
  }
}

// The input of a direction, and the output it must produce.
struct Scenario {
  ScratchFolder folder;
  Bytes input;
  Bytes expected_output;
};

void prepare(const Direction& direction, Scenario& scenario) {
  const Bytes plain = random_bytes(kPlainSize, 7);
  write_file(scenario.folder / "data.bin", plain);
  if (&direction == &kDecryption) {
    RecordingFrontEnd front_end;
    auto file_system = make_native_file_system();
    ConversionEnv env{*file_system, front_end, fixed_clock(1234)};
    encrypt_file(env, scenario.folder / "data.bin", u"pw");
    scenario.input = read_file(scenario.folder / "data.bin.enc");
    scenario.expected_output = plain;
  } else {
    scenario.input = plain;
  }
  write_file(scenario.folder / direction.output, kOldOutput);
}

// Runs one conversion with the given fault; returns what the user was shown.
std::vector<ShownFailure> run_with_fault(const Direction& direction, Scenario& scenario,
                                         FaultyFileSystem& faults) {
  RecordingFrontEnd front_end;
  ConversionEnv env{faults, front_end, fixed_clock(1234)};
  direction.convert(env, scenario.folder / direction.input, u"pw");
  return front_end.failures;
}

std::size_t calls_in_normal_run(const Direction& direction, Call call) {
  Scenario scenario;
  prepare(direction, scenario);
  auto real = make_native_file_system();
  FaultyFileSystem counting(*real);
  EXPECT_TRUE(run_with_fault(direction, scenario, counting).empty());
  return counting.count(call);
}

void check_fault(const Direction& direction, Call call, std::size_t ordinal, std::errc error) {
  SCOPED_TRACE(std::string(direction.name) + ": " + std::string(name_of(call)) + " call " +
               std::to_string(ordinal) + " fails with " + std::make_error_code(error).message());
  Scenario scenario;
  prepare(direction, scenario);
  if (scenario.expected_output.empty()) {
    // The container an encryption must produce is the one made at the same second.
    Scenario twin;
    prepare(kDecryption, twin);
    scenario.expected_output = twin.input;
  }
  auto real = make_native_file_system();
  FaultyFileSystem faults(*real);
  faults.fail(call, ordinal, error);
  const std::vector<ShownFailure> shown = run_with_fault(direction, scenario, faults);
  ASSERT_TRUE(faults.fault_fired());

  const auto input_path = scenario.folder / direction.input;
  const auto output_path = scenario.folder / direction.output;
  ASSERT_TRUE(std::filesystem::exists(input_path));
  EXPECT_EQ(read_file(input_path), scenario.input);
  EXPECT_EQ(scenario.folder.entries().size(), 2u) << "a temporary file was left behind";

  if (call == Call::remove) {
    // Only the removal of the converted input can fail in a normal run: the
    // platform keeps such an input silently, beside its complete output.
    EXPECT_TRUE(shown.empty());
    EXPECT_EQ(read_file(output_path), scenario.expected_output);
    return;
  }
  const Failure expected = expected_failure(direction, call);
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0], (ShownFailure{std::string(expected.text), std::string(expected.caption)}));
  if (call == Call::sync_folder) {
    // The rename has happened: the output is complete, the input kept.
    EXPECT_EQ(read_file(output_path), scenario.expected_output);
  } else {
    EXPECT_EQ(read_file(output_path), kOldOutput);
  }
}

class FaultInjection : public ::testing::TestWithParam<const Direction*> {};

TEST_P(FaultInjection, EveryCallOfANormalRunFailsSafely) {
  const Direction& direction = *GetParam();
  int faults_injected = 0;
  for (std::size_t kind = 0; kind < kCallKinds; ++kind) {
    const auto call = static_cast<Call>(kind);
    const std::size_t calls = calls_in_normal_run(direction, call);
    for (std::size_t ordinal = 1; ordinal <= calls; ++ordinal) {
      for (std::errc error : {std::errc::no_space_on_device, std::errc::io_error}) {
        check_fault(direction, call, ordinal, error);
        ++faults_injected;
      }
    }
  }
  RecordProperty("faults_injected", faults_injected);
  EXPECT_GT(faults_injected, 20);
}

INSTANTIATE_TEST_SUITE_P(BothDirections, FaultInjection,
                         ::testing::Values(&kEncryption, &kDecryption),
                         [](const auto& info) { return std::string(info.param->name); });

}  // namespace
}  // namespace kestrune::test
