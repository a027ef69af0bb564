#include "cli/path_checks.h"

#include <system_error>

#include "cli/command_line.h"
#include "core/container_names.h"

namespace kestrune {
namespace {

// A path given in a direction its name does not take, which it would be
// a mistake to convert as asked.
std::optional<PathLeft> against_direction(const CliOptions& options,
                                          const std::filesystem::path& path) {
  const bool container = is_container_name(path);
  const std::string name = printable_path(path);
  if (options.direction == Direction::encrypt && container)
    return PathLeft{name + ": already a container (.enc); not encrypted again", true};
  if (options.direction == Direction::decrypt && !container)
    return PathLeft{name + ": not a container (no .enc suffix); " +
                        (options.test ? "not tested" : "not decrypted"),
                    true};
  return std::nullopt;
}

// Any entry at all under the output's name, a dangling link too. Only an
// input that can be converted is asked about: anything else (a folder, a
// missing name) fails with its own message, as it always has.
bool output_in_the_way(const std::filesystem::path& path) {
  std::error_code error;
  if (!std::filesystem::is_regular_file(path, error)) return false;
  return std::filesystem::exists(std::filesystem::symlink_status(output_name_for(path), error));
}

// A file met in a folder and not of the direction asked is passed over
// unremarked; one given is refused.
std::optional<PathLeft> file_left(const CliOptions& options, const PlannedPath& planned) {
  const std::filesystem::path& path = planned.path;
  if (auto against = against_direction(options, path))
    return planned.kind == PlannedPath::Kind::found ? PathLeft{} : *against;
  if (!options.test && !options.force && output_in_the_way(path))
    return PathLeft{output_exists_line(path), true};
  return std::nullopt;
}

}  // namespace

std::filesystem::path output_name_for(const std::filesystem::path& path) {
  return is_container_name(path) ? plain_name_for(path) : container_name_for(path);
}

std::string output_exists_line(const std::filesystem::path& path) {
  return printable_path(path) + ": " + printable_path(output_name_for(path)) +
         " exists; not replaced (use -f to replace it)";
}

std::optional<PathLeft> reason_to_leave(const CliOptions& options, const PlannedPath& planned) {
  const std::string name = printable_path(planned.path);
  switch (planned.kind) {
    case PlannedPath::Kind::leftover:
      return PathLeft{name + ": left by an interrupted run; not converted"};
    case PlannedPath::Kind::unreadable:
      return PathLeft{name + ": can't read this folder (" + planned.error.message() + ")", true};
    case PlannedPath::Kind::given:
    case PlannedPath::Kind::found: return file_left(options, planned);
  }
  return std::nullopt;
}

}  // namespace kestrune
