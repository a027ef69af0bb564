// Fails every file-system call of a normal conversion in turn, with each
// error that call can really give, and checks that nothing is lost: the
// input stays as it was, a file already bearing the output's name survives,
// no temporary is left, and the user sees exactly one message with the
// right text and the injected error as its cause.
#include <gtest/gtest.h>

#include <iostream>

#include "core/kestrune.h"
#include "core/messages.h"
#include "core/services.h"
#include "tests/faulty_file_system.h"
#include "tests/test_support.h"

namespace kestrune::test {
namespace {

const Bytes kOldOutput = {'o', 'l', 'd'};

struct Direction {
  const char* name;
  std::string input;
  std::string output;
  Outcome (*convert)(ConversionEnv&, const std::filesystem::path&, std::u16string_view);
  Failure open_input, open_output, read, write;
};

const Direction kEncryption{"encrypt",       "data.bin",
                            "data.bin.enc",  encrypt_file,
                            kCantOpenSource, kCantOpenEncryptionFile,
                            kCantReadSource, kCantWriteEncryptionFile};
const Direction kDecryption{"decrypt",          "data.bin.enc",          "data.bin",
                            decrypt_file,       kCantOpenEncrypted,      kCantOpenDecryptionFile,
                            kCantReadEncrypted, kCantWriteDecryptionFile};

Failure expected_failure(const Direction& direction, Call call) {
  switch (call) {
    case Call::open_for_reading: return direction.open_input;
    case Call::create_temporary: return direction.open_output;
    case Call::read:
    case Call::read_scattered:
    case Call::input_status: return direction.read;
    default: return direction.write;
  }
}

// The errors each call can really give.
std::vector<std::errc> errors_of(Call call) {
  using E = std::errc;
  switch (call) {
    case Call::open_for_reading: return {E::permission_denied, E::io_error, E::interrupted};
    case Call::read:
    case Call::read_scattered: return {E::io_error, E::interrupted};
    case Call::create_temporary:
      return {E::no_space_on_device, E::permission_denied, E::read_only_file_system};
    case Call::write: return {E::no_space_on_device, E::io_error, E::file_too_large};
    case Call::sync:
    case Call::close: return {E::io_error, E::no_space_on_device};
    case Call::rename_into_place:
      return {E::cross_device_link, E::permission_denied, E::read_only_file_system, E::io_error};
    case Call::remove_input: return {E::permission_denied, E::read_only_file_system, E::io_error};
    case Call::discard: return {E::io_error};
    case Call::sync_folder: return {E::io_error};
    case Call::check_name: return {E::file_exists, E::no_such_file_or_directory, E::io_error};
    case Call::take_permissions:
      return {E::operation_not_permitted, E::not_supported, E::io_error, E::read_only_file_system};
    case Call::input_status: return {E::io_error};
  }
  return {};
}

struct Scenario {
  Scenario(const Direction& d, std::size_t size) : direction(d), plain_size(size) {}
  const Direction& direction;
  std::size_t plain_size;
  ScratchFolder folder;
  Bytes input;
  Bytes expected_output;
};

Outcome convert(Scenario& scenario, FileSystem& file_system, RecordingFrontEnd& front_end) {
  ConversionEnv env{file_system, native_crypto_service(), front_end, fixed_clock(1234)};
  return scenario.direction.convert(env, scenario.folder / scenario.direction.input, u"pw");
}

// Lays out the input and a file under the output's name; knows what a
// complete conversion must produce.
void prepare(Scenario& scenario) {
  const Bytes plain = random_bytes(scenario.plain_size, 7);
  write_file(scenario.folder / "data.bin", plain);
  RecordingFrontEnd front_end;
  auto file_system = make_native_file_system();
  ConversionEnv env{*file_system, native_crypto_service(), front_end, fixed_clock(1234)};
  encrypt_file(env, scenario.folder / "data.bin", u"pw");
  const Bytes container = read_file(scenario.folder / "data.bin.enc");
  const bool encrypting = &scenario.direction == &kEncryption;
  scenario.input = encrypting ? plain : container;
  scenario.expected_output = encrypting ? container : plain;
  write_file(scenario.folder / scenario.direction.input, scenario.input);
  write_file(scenario.folder / scenario.direction.output, kOldOutput);
}

std::size_t calls_in_normal_run(const Direction& direction, std::size_t size, Call call) {
  Scenario scenario(direction, size);
  prepare(scenario);
  auto real = make_native_file_system();
  FaultyFileSystem counting(*real);
  RecordingFrontEnd front_end;
  convert(scenario, counting, front_end);
  EXPECT_TRUE(front_end.failures.empty());
  return counting.count(call);
}

// Checks what the user saw, what the caller got back and what is on disk;
// true when nothing was lost.
bool check_aftermath(const Scenario& scenario, Call call, std::size_t ordinal,
                     const RecordingFrontEnd& front_end, const Outcome& returned,
                     std::error_code injected) {
  const Direction& direction = scenario.direction;
  const auto input_path = scenario.folder / direction.input;
  const auto output_path = scenario.folder / direction.output;
  const bool input_kept =
      std::filesystem::exists(input_path) && read_file(input_path) == scenario.input;
  const Bytes output = read_file(output_path);
  const bool no_temporary = scenario.folder.entries().size() == 2;
  EXPECT_TRUE(input_kept) << "the input was changed or removed";
  EXPECT_TRUE(no_temporary) << "a temporary file was left behind";

  // After the output is in place, the input is kept, with a notice and no
  // failure, when its removal (or the look at it before) fails.
  const bool input_kept_with_notice = call == Call::remove_input;
  EXPECT_EQ(front_end.kept.size(), input_kept_with_notice ? 1u : 0u);
  // The output is complete only where the rename has happened: the steps
  // after it are the second name check, the access rules (given only then,
  // so a temporary is never readable by more than its owner), the close and
  // the folder sync.
  const bool renamed = input_kept_with_notice || call == Call::sync_folder || call == Call::close ||
                       call == Call::take_permissions || (call == Call::check_name && ordinal == 2);
  const bool output_right = output == (renamed ? scenario.expected_output : kOldOutput);
  EXPECT_TRUE(output_right) << "the output is not what it must be";

  const Failure expected = expected_failure(direction, call);
  const std::vector<ShownFailure> wanted =
      input_kept_with_notice
          ? std::vector<ShownFailure>{}
          : std::vector{ShownFailure{std::string(expected.text), std::string(expected.caption)}};
  EXPECT_EQ(front_end.failures, wanted);
  EXPECT_EQ(front_end.causes,
            input_kept_with_notice ? std::vector<std::error_code>{} : std::vector{injected});
  EXPECT_EQ(returned.ok(), input_kept_with_notice);
  if (!input_kept_with_notice) {
    EXPECT_EQ(returned.failure.text, expected.text);
    EXPECT_EQ(returned.cause, injected);
  }
  return input_kept && no_temporary && output_right;
}

struct Tally {
  int faulted = 0;
  int held = 0;
};

void fault_every_call(const Direction& direction, std::size_t size, Call call, Tally& tally) {
  const std::size_t calls = calls_in_normal_run(direction, size, call);
  for (std::size_t ordinal = 1; ordinal <= calls; ++ordinal) {
    for (std::errc error : errors_of(call)) {
      for (bool after_some_data : {false, true}) {
        if (after_some_data && call != Call::read && call != Call::read_scattered) continue;
        SCOPED_TRACE(std::string(name_of(call)) + " call " + std::to_string(ordinal) +
                     " fails with " + std::make_error_code(error).message() +
                     (after_some_data ? " after some data" : ""));
        Scenario scenario(direction, size);
        prepare(scenario);
        auto real = make_native_file_system();
        FaultyFileSystem faults(*real);
        faults.fail(call, ordinal, error, after_some_data);
        RecordingFrontEnd front_end;
        const Outcome returned = convert(scenario, faults, front_end);
        EXPECT_TRUE(faults.fault_fired());
        ++tally.faulted;
        if (check_aftermath(scenario, call, ordinal, front_end, returned, faults.fault_error()))
          ++tally.held;
      }
    }
  }
}

class FaultInjection : public ::testing::TestWithParam<std::tuple<const Direction*, std::size_t>> {
};

TEST_P(FaultInjection, EveryCallOfANormalRunFailsSafely) {
  const auto [direction, size] = GetParam();
  Tally tally;
  for (std::size_t kind = 0; kind < kCallKinds; ++kind)
    fault_every_call(*direction, size, static_cast<Call>(kind), tally);
  std::cout << "faults: " << direction->name << ' ' << size << " bytes: " << tally.faulted
            << " calls faulted, invariant held " << tally.held << ", lost "
            << tally.faulted - tally.held << '\n';
  EXPECT_EQ(tally.held, tally.faulted);
}

// Empty, one record, and several blocks (so reading and writing overlap).
INSTANTIATE_TEST_SUITE_P(BothDirectionsAndSizes, FaultInjection,
                         ::testing::Combine(::testing::Values(&kEncryption, &kDecryption),
                                            ::testing::Values(std::size_t{0}, std::size_t{700},
                                                              std::size_t{(5u << 20) / 2 + 333})),
                         [](const auto& info) {
                           return std::string(std::get<0>(info.param)->name) + "_" +
                                  std::to_string(std::get<1>(info.param));
                         });

}  // namespace
}  // namespace kestrune::test
