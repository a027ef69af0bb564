#include "cli/arguments.h"

#include <algorithm>
#include <charconv>
#include <cstddef>
#include <thread>

#include "cli/command_line.h"
#include "core/container_names.h"

namespace kestrune {
namespace {

constexpr std::string_view kUsage =
    "Usage: kestrune-cli [-ktvq] [-j N] [--no-progress] [--hash NAME]\n"
    "                    [--cipher NAME] [--password-stdin] [--allow-empty-password]\n"
    "                    [--] PATH...\n"
    "\n"
    "Encrypts each PATH into PATH.enc, or decrypts PATH when its name ends in\n"
    ".enc, and removes the input once the output is safely written.\n"
    "\n"
    "  -k, --keep         keep each input once its output is in place\n"
    "  -t, --test         check each container (PATH.enc) with the password and\n"
    "                     choices given: decrypt every record in memory, write\n"
    "                     and remove nothing. Passing means every record's length\n"
    "                     and padding are right; nothing else in a container can\n"
    "                     tell a wrong password, so on a container of one short\n"
    "                     record a wrong one passes about once in 256\n"
    "  -v, --verbose      one line per file: 'a -> a.enc (SIZE, RATE)', 'a.enc: OK'\n"
    "  -q, --quiet        no 'PATH: kept: REASON' notices; failures still print\n"
    "  -j, --jobs N       convert up to N files (1 to 64) at the same time; the\n"
    "                     default is the number of processors, from 2 to 8.\n"
    "                     Messages still come in the order of the paths\n"
    "      --no-progress  no progress line (it shows only when standard error is\n"
    "                     a terminal and a file takes more than a second)\n"
    "      --hash NAME    SHA1, SHA256 (default), SHA384, SHA512 or MD5\n"
    "      --cipher NAME  DES, 3DES, AES128, AES192 or AES256 (default)\n"
    "      --password-stdin  read the password from the first line of standard\n"
    "                     input instead of asking on the terminal (64 KiB at most)\n"
    "      --allow-empty-password  accept an empty password, whose key anyone can make\n"
    "      --help         show this text\n"
    "      --version      show the version\n"
    "  --                 end of options: every argument after it is a PATH\n"
    "\n"
    "Short options combine: -kv is -k -v; -j4 and --jobs=4 are -j 4.\n"
    "\n"
    "Only about the first half of the password's characters count, and at most\n"
    "259 characters: a longer line is accepted, but the rest does not count.\n"
    "\n"
    "Exit status: 0 when every path converted (or tested good), 1 when any failed,\n"
    "2 for a usage error, 128 + N when signal N stopped it: the paths after the\n"
    "ones under way were not started, and every path was either converted\n"
    "completely or left as it was (with -v, 'PATH: stopped' names each one left).\n";

using Request = ParsedArguments::Request;

// An argument quoted in a message, harmless to the terminal.
std::string printable_argument(std::string_view argument) {
  return printable_path(path_from_argument(argument));
}

ParsedArguments& fail(ParsedArguments& parsed, std::string message) {
  parsed.request = Request::usage_error;
  parsed.error = std::move(message);
  return parsed;
}

// Sets the switch `flag` (short or long) names; false when it names none.
bool set_switch(std::string_view flag, CliOptions& options) {
  if (flag == "-k" || flag == "--keep")
    options.keep = true;
  else if (flag == "-t" || flag == "--test")
    options.test = true;
  else if (flag == "-v" || flag == "--verbose")
    options.verbose = true;
  else if (flag == "-q" || flag == "--quiet")
    options.quiet = true;
  else if (flag == "--no-progress")
    options.progress = false;
  else if (flag == "--password-stdin")
    options.password_from_stdin = true;
  else if (flag == "--allow-empty-password")
    options.allow_empty_password = true;
  else
    return false;
  return true;
}

// The count of -j or --jobs (`option`); false (and the error set) unless it
// is a whole number from 1 to kMostJobs.
bool set_jobs(std::string_view option, std::string_view count, ParsedArguments& parsed) {
  unsigned jobs = 0;
  const char* end = count.data() + count.size();
  const auto [stop, error] = std::from_chars(count.data(), end, jobs);
  if (!count.empty() && error == std::errc{} && stop == end && jobs >= 1 && jobs <= kMostJobs) {
    parsed.options.jobs = jobs;
    return true;
  }
  fail(parsed, std::string(option) + " takes a number from 1 to " + std::to_string(kMostJobs) +
                   ", not '" + printable_argument(count) + "'");
  return false;
}

// The count that follows -j or --jobs as the next argument, which `next`
// then passes; false (and the error set) when there is none.
bool set_jobs_from_next(std::string_view option, const std::vector<std::string>& arguments,
                        std::size_t& next, ParsedArguments& parsed) {
  if (next + 1 >= arguments.size()) {
    fail(parsed, std::string(option) + " needs a number");
    return false;
  }
  return set_jobs(option, arguments[++next], parsed);
}

// "-kv" is "-k -v" and "-kj4" is "-k -j 4"; a -j at the end takes the next
// argument (`next` then passes it). False (and the error set) at the first
// unknown letter or a bad count.
bool set_short_switches(const std::vector<std::string>& arguments, std::size_t& next,
                        ParsedArguments& parsed) {
  const std::string_view argument = arguments[next];
  for (std::size_t at = 1; at < argument.size(); ++at) {
    const std::string flag{'-', argument[at]};
    if (flag == "-j")
      return at + 1 < argument.size() ? set_jobs(flag, argument.substr(at + 1), parsed)
                                      : set_jobs_from_next(flag, arguments, next, parsed);
    if (!set_switch(flag, parsed.options)) {
      fail(parsed, "unknown option '" + printable_argument(flag) + "'");
      return false;
    }
  }
  return true;
}

// --hash NAME or --cipher NAME; false (and the error set) for an unknown name.
bool set_choice(std::string_view option, const std::string& name, ParsedArguments& parsed) {
  if (option == "--hash") {
    const auto hash = hash_from_label(name);
    if (hash)
      parsed.options.hash = *hash;
    else
      fail(parsed, "unknown hash '" + printable_argument(name) + "'");
    return hash.has_value();
  }
  const auto cipher = cipher_from_label(name);
  if (cipher)
    parsed.options.cipher = *cipher;
  else
    fail(parsed, "unknown cipher '" + printable_argument(name) + "'");
  return cipher.has_value();
}

// Only containers can be tested; a plain name is a mistake in the command.
ParsedArguments& check_paths(ParsedArguments& parsed) {
  const CliOptions& options = parsed.options;
  if (options.paths.empty()) return fail(parsed, "no PATH given");
  if (!options.test) return parsed;
  for (const auto& path : options.paths)
    if (!is_container_name(path))
      return fail(parsed, "--test checks containers only: '" + printable_path(path) +
                              "' does not end in .enc");
  return parsed;
}

}  // namespace

unsigned default_job_count() { return std::clamp(std::thread::hardware_concurrency(), 2U, 8U); }

ParsedArguments parse_arguments(const std::vector<std::string>& arguments) {
  ParsedArguments parsed;
  bool only_paths = false;
  const std::size_t count = arguments.size();
  for (std::size_t i = 1; i < count; ++i) {
    const std::string& argument = arguments[i];
    if (only_paths || argument.empty() || argument[0] != '-' || argument == "-") {
      parsed.options.paths.push_back(path_from_argument(argument));
    } else if (argument == "--") {
      only_paths = true;
    } else if (argument[1] != '-') {
      if (!set_short_switches(arguments, i, parsed)) return parsed;
    } else if (argument == "--help") {
      parsed.request = Request::show_help;
      return parsed;
    } else if (argument == "--version") {
      parsed.request = Request::show_version;
      return parsed;
    } else if (argument == "--hash" || argument == "--cipher") {
      if (i + 1 >= count) return fail(parsed, argument + " needs a name");
      if (!set_choice(argument, arguments[++i], parsed)) return parsed;
    } else if (argument == "--jobs") {
      if (!set_jobs_from_next(argument, arguments, i, parsed)) return parsed;
    } else if (argument.starts_with("--jobs=")) {
      if (!set_jobs("--jobs", std::string_view(argument).substr(7), parsed)) return parsed;
    } else if (!set_switch(argument, parsed.options)) {
      return fail(parsed, "unknown option '" + printable_argument(argument) + "'");
    }
  }
  return check_paths(parsed);
}

std::string_view usage_text() { return kUsage; }

}  // namespace kestrune
