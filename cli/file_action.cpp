#include "cli/file_action.h"

#include <string>

#include "cli/command_line.h"
#include "core/container_names.h"

namespace kestrune {
namespace {

// The -v line of a file that converted or tested good.
std::string verbose_line(const std::filesystem::path& path, bool tested,
                         const CliFrontEnd& front_end) {
  const std::string name = printable_path(path);
  if (tested) return name + ": OK";
  const std::filesystem::path output =
      is_container_name(path) ? plain_name_for(path) : container_name_for(path);
  return conversion_summary(name, printable_path(output), front_end.bytes_done(),
                            front_end.seconds());
}

}  // namespace

Outcome act_on_file(const CliOptions& options, ConversionEnv& env, CliFrontEnd& front_end,
                    const std::filesystem::path& path, std::u16string_view password) {
  front_end.start_file(path);
  const Outcome outcome = options.test ? verify_container(env, path, password)
                                       : convert_by_name(env, path, password);
  if (options.verbose && outcome.kind == Outcome::Kind::cancelled)
    front_end.note(printable_path(path) + ": stopped");
  else if (options.verbose && outcome.ok())
    front_end.note(verbose_line(path, options.test, front_end));
  return outcome;
}

}  // namespace kestrune
