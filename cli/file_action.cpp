#include "cli/file_action.h"

#include <string>

#include "cli/command_line.h"
#include "cli/path_checks.h"

namespace kestrune {
namespace {

// The -v line of a file that converted or tested good.
std::string verbose_line(const std::filesystem::path& path, bool tested,
                         const CliFrontEnd& front_end) {
  const std::string name = printable_path(path);
  if (tested) return name + ": OK";
  return conversion_summary(name, printable_path(output_name_for(path)), front_end.bytes_done(),
                            front_end.seconds());
}

// Says why a path stays as it is, when that is worth a line.
Outcome leave(const CliOptions& options, CliFrontEnd& front_end, const PathLeft& left) {
  if (!left.line.empty() && (left.failed || options.verbose)) front_end.note(left.line);
  return left.failed ? Outcome::failed({}) : Outcome::done();
}

}  // namespace

Outcome act_on_file(const CliOptions& options, ConversionEnv& env, CliFrontEnd& front_end,
                    const PlannedPath& planned, std::u16string_view password) {
  const std::filesystem::path& path = planned.path;
  front_end.start_file(path);
  if (const auto left = reason_to_leave(options, planned)) return leave(options, front_end, *left);
  const Outcome outcome = options.test ? verify_container(env, path, password)
                                       : convert_by_name(env, path, password);
  if (options.verbose && outcome.kind == Outcome::Kind::cancelled)
    front_end.note(printable_path(path) + ": stopped");
  else if (options.verbose && outcome.ok())
    front_end.note(verbose_line(path, options.test, front_end));
  return outcome;
}

}  // namespace kestrune
