// Cuts the power at every file-system call of a conversion and examines
// every state the disk may come back in: the input must be there as it was,
// or the output complete; a file that had the output's name keeps its old
// content unless the output is complete; nothing else but temporaries.
#include <gtest/gtest.h>

#include <iostream>

#include "core/kestrune.h"
#include "core/services.h"
#include "tests/simulated_disk.h"

namespace kestrune::test {
namespace {

const Bytes kOldOutput = {'o', 'l', 'd'};

struct Case {
  const char* direction;
  std::size_t plain_size;
  friend void PrintTo(const Case& c, std::ostream* out) {
    *out << c.direction << ' ' << c.plain_size << " bytes";
  }
};

struct Files {
  std::string input;
  std::string output;
  Bytes input_bytes;
  Bytes output_bytes;  // what a complete conversion produces
};

void convert(const std::string& direction, SimulatedDisk& disk, const std::string& input) {
  RecordingFrontEnd front_end;
  ConversionEnv env{disk, native_crypto_service(), front_end, fixed_clock(77)};
  const std::filesystem::path path = std::filesystem::path("/disk") / input;
  if (direction == "encrypt")
    encrypt_file(env, path, u"pw");
  else
    decrypt_file(env, path, u"pw");
}

// Runs a conversion with the power on throughout; returns its files and the
// number of file-system calls it made.
std::size_t normal_run(const Case& c, Files& files) {
  // The container comes from the real disk, so it does not depend on the
  // simulation it is meant to check.
  const Bytes plain = random_bytes(c.plain_size, 11);
  ScratchFolder folder;
  write_file(folder / "f", plain);
  RecordingFrontEnd front_end;
  auto real = make_native_file_system();
  ConversionEnv env{*real, native_crypto_service(), front_end, fixed_clock(77)};
  encrypt_file(env, folder / "f", u"pw");
  const Bytes container = read_file(folder / "f.enc");
  const bool encrypt = std::string(c.direction) == "encrypt";
  files = encrypt ? Files{"f", "f.enc", plain, container} : Files{"f.enc", "f", container, plain};
  SimulatedDisk disk;
  disk.add_durable_file(files.input, files.input_bytes);
  convert(c.direction, disk, files.input);
  return disk.calls();
}

bool is_temporary(const std::string& name) { return name.front() == '.' && name.ends_with(".tmp"); }

void check_state(const FolderState& state, const Files& files) {
  const auto input = state.find(files.input);
  const auto output = state.find(files.output);
  const bool input_intact = input != state.end() && input->second == files.input_bytes;
  const bool output_complete = output != state.end() && output->second == files.output_bytes;
  EXPECT_TRUE(input_intact || output_complete) << "both the input and the output are lost";
  EXPECT_TRUE(input == state.end() || input_intact) << "input changed";
  EXPECT_TRUE(output_complete || (output != state.end() && output->second == kOldOutput))
      << "the old output was lost or changed";
  for (const auto& [name, content] : state) {
    const bool ours = name == files.input || name == files.output || is_temporary(name);
    EXPECT_TRUE(ours) << "unexpected file " << name;
  }
}

class PowerLoss : public ::testing::TestWithParam<Case> {};

TEST_P(PowerLoss, EveryMomentLeavesTheInputOrACompleteOutput) {
  Files files;
  const std::size_t calls = normal_run(GetParam(), files);
  std::size_t states_checked = 0;
  for (std::size_t call = 1; call <= calls + 1; ++call) {
    SCOPED_TRACE("power fails at call " + std::to_string(call));
    SimulatedDisk disk;
    disk.add_durable_file(files.input, files.input_bytes);
    disk.add_durable_file(files.output, kOldOutput);
    disk.fail_power_at(call);
    convert(GetParam().direction, disk, files.input);
    for (const FolderState& state : disk.states_after_power_loss()) {
      check_state(state, files);
      ++states_checked;
    }
  }
  std::cout << "power loss: " << GetParam().direction << ' ' << GetParam().plain_size
            << " bytes: failed at each of " << calls + 1 << " calls, " << states_checked
            << " states examined\n";
  EXPECT_GT(states_checked, calls);
}

INSTANTIATE_TEST_SUITE_P(BothDirectionsAndSizes, PowerLoss,
                         ::testing::Values(Case{"encrypt", 0}, Case{"encrypt", 100},
                                           Case{"encrypt", 3000000}, Case{"decrypt", 0},
                                           Case{"decrypt", 100}, Case{"decrypt", 3000000}),
                         [](const auto& info) {
                           return std::string(info.param.direction) + "_" +
                                  std::to_string(info.param.plain_size);
                         });

}  // namespace
}  // namespace kestrune::test
