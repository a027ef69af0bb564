#include "dispatch.h"

#include "container.h"
#include "decrypt.h"
#include "encrypt.h"

namespace kestrune {

void dispatch_dropped_files(ConversionEnv& env, std::u16string_view password,
                            std::span<const std::filesystem::path> paths) {
  for (const std::filesystem::path& path : paths) {
    if (env.front_end.cancel_requested()) return;
    if (is_container_name(path))
      decrypt_file(env, path, password);
    else
      encrypt_file(env, path, password);
  }
}

}  // namespace kestrune
