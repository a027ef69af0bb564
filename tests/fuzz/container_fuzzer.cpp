// Feeds arbitrary bytes to the container reader as a container, decrypted
// with the empty password and the default choices on an in-memory disk. Any
// input must end in a plain file with the container gone, or in exactly one
// failure with the container kept; never in a crash or an access past a
// buffer (the sanitizers watch for those).
#include <cstdint>
#include <cstdlib>

#include "core/kestrune.h"
#include "core/services.h"
#include "tests/simulated_disk.h"
#include "tests/test_support.h"

namespace {

using kestrune::test::Bytes;
using kestrune::test::FolderState;

void require(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // One environment for all runs: its blocks are allocated once, as in the
  // application.
  static kestrune::test::SimulatedDisk disk;
  static kestrune::test::RecordingFrontEnd front_end;
  static kestrune::ConversionEnv env{disk, kestrune::native_crypto_service(), front_end,
                                     kestrune::test::fixed_clock(0)};
  const Bytes container(data, data + size);
  disk.clear();
  disk.add_durable_file("f.enc", container);
  front_end.failures.clear();
  kestrune::decrypt_file(env, "/disk/f.enc", u"");

  const FolderState state = disk.current_state();
  if (front_end.failures.empty()) {
    require(state.size() == 1 && state.count("f") == 1);
    require(state.at("f").size() <= container.size());
  } else {
    require(front_end.failures.size() == 1);
    require(state.size() == 1 && state.at("f.enc") == container);
  }
  return 0;
}
