// What front ends call: an environment to convert in, and one entry point
// per kind of conversion, each returning how its file ended. Failures are
// also shown through the environment's front end, once, after the failed
// file has been cleaned up. Everything else under core/ is internal.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <span>
#include <string_view>

#include "core/algorithms.h"
#include "core/files/file_system.h"
#include "core/front_end.h"
#include "core/outcome.h"

namespace kestrune {

class CryptoService;

// Seconds since the epoch; injectable so tests can pin the chunk layout.
using Clock = std::function<std::int64_t()>;
std::int64_t system_clock_seconds();

// The block memory conversions work in, allocated once per environment.
struct ConversionBlocks;
struct ConversionBlocksDeleter {
  void operator()(ConversionBlocks* blocks) const;
};
using ConversionBlocksPtr = std::unique_ptr<ConversionBlocks, ConversionBlocksDeleter>;
// Throws std::bad_alloc when the memory cannot be had.
ConversionBlocksPtr allocate_conversion_blocks();

// What conversions run against: the two seams (the native ones come from
// services.h), the front end, the clock, whether inputs stay once their
// outputs are in place, whether an output replaces a file of its name (the
// dialogs replace; without, such a file, even one appearing while the
// output is written, fails the conversion with kOutputExists and stays as
// it was), the choices each file starts with, and the block
// memory (so a front end makes one environment and keeps it). An
// environment serves one conversion at a time; conversions in separate
// environments share nothing and may run at once.
struct ConversionEnv {
  FileSystem& file_system;
  CryptoService& crypto_service;
  FrontEnd& front_end;
  Clock clock = system_clock_seconds;
  bool keep_inputs = false;
  bool replace_existing_output = true;
  SelectedChoices choices{};
  ConversionBlocksPtr blocks = allocate_conversion_blocks();
};

// Encrypts `path` into "<path>.enc" with the choices read as it starts, and
// removes `path` once the container is safely in place. On failure the
// plain file is untouched and no output remains, unless the failure came
// after the container was renamed into place (the check of its name, giving
// it the input's owner, mode and access rules, its close or the flush of its
// folder failed): it then stays, its owner's alone at the least, beside the
// untouched plain file.
Outcome encrypt_file(ConversionEnv& env, const std::filesystem::path& path,
                     std::u16string_view password);

// Decrypts the container `path` (a name ending in ".enc") into the path
// without that suffix and removes the container once the plain file is
// safely in place. A wrong password or choice, or a damaged container,
// fails; the container is then untouched and, as for encrypt_file, no
// output remains unless the failure came after the rename.
Outcome decrypt_file(ConversionEnv& env, const std::filesystem::path& path,
                     std::u16string_view password);

// Decrypts every record of the container `path` in memory and checks its
// padding and length code, creating, changing and removing nothing. Fails
// as decrypt_file fails; success shows nothing.
Outcome verify_container(ConversionEnv& env, const std::filesystem::path& path,
                         std::u16string_view password);

// Decrypts `path` when its name ends in ".enc", encrypts it otherwise.
Outcome convert_by_name(ConversionEnv& env, const std::filesystem::path& path,
                        std::u16string_view password);

// Converts each dropped path in order, by name. Each file gets its own key
// and seed; a failure of one does not stop the others, a cancellation does.
void dispatch_dropped_files(ConversionEnv& env, std::u16string_view password,
                            std::span<const std::filesystem::path> paths);

}  // namespace kestrune
