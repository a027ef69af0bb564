#include "core/container_names.h"
#include "core/kestrune.h"

namespace kestrune {

Outcome convert_by_name(ConversionEnv& env, const std::filesystem::path& path,
                        std::u16string_view password) {
  return is_container_name(path) ? decrypt_file(env, path, password)
                                 : encrypt_file(env, path, password);
}

void dispatch_dropped_files(ConversionEnv& env, std::u16string_view password,
                            std::span<const std::filesystem::path> paths) {
  for (const std::filesystem::path& path : paths) {
    if (env.front_end.cancel_requested()) return;
    convert_by_name(env, path, password);
  }
}

}  // namespace kestrune
