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
    "Usage: kestrune-cli [-edrfktvq] [-j N] [--no-progress] [--hash NAME]\n"
    "                    [--cipher NAME] [--password-stdin] [--allow-empty-password]\n"
    "                    [--] PATH...\n"
    "\n"
    "Encrypts each PATH into PATH.enc, or decrypts PATH when its name ends in\n"
    ".enc, and removes the input once the output is safely written. An output\n"
    "never replaces a file of its name, unless -f is given.\n"
    "\n"
    "  -e, --encrypt      encrypt only: a PATH ending in .enc is refused\n"
    "  -d, --decrypt      decrypt only: a PATH not ending in .enc is refused\n"
    "  -r, --recursive    also convert every regular file in each folder PATH and\n"
    "                     its subfolders, in the order of their names' bytes. It\n"
    "                     needs -e (files ending in .enc are passed over) or -d\n"
    "                     (only they are converted); with -t, every container\n"
    "                     found is tested. Symbolic links met are neither followed\n"
    "                     nor converted, and no folder on another file system is\n"
    "                     entered (as find -xdev does; on Windows, no reparse point\n"
    "                     is followed). Temporaries an interrupted run left\n"
    "                     (.NAME.kestrune-XXXXXXXX.tmp) are never converted; -v\n"
    "                     names them\n"
    "  -f, --force        replace a file of the output's name (one without write\n"
    "                     permission is still refused)\n"
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

enum class SwitchFound { set, unknown, clashing };

// -e after -d, or -d after -e, asks for both directions at once.
SwitchFound set_direction(Direction direction, CliOptions& options) {
  const bool clashing = options.direction != Direction::by_name && options.direction != direction;
  options.direction = direction;
  return clashing ? SwitchFound::clashing : SwitchFound::set;
}

// Sets the switch `flag` (short or long) names.
SwitchFound set_switch(std::string_view flag, CliOptions& options) {
  if (flag == "-e" || flag == "--encrypt") return set_direction(Direction::encrypt, options);
  if (flag == "-d" || flag == "--decrypt") return set_direction(Direction::decrypt, options);
  if (flag == "-k" || flag == "--keep")
    options.keep = true;
  else if (flag == "-t" || flag == "--test")
    options.test = true;
  else if (flag == "-r" || flag == "--recursive")
    options.recursive = true;
  else if (flag == "-f" || flag == "--force")
    options.force = true;
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
    return SwitchFound::unknown;
  return SwitchFound::set;
}

// Sets the switch `flag` names; false (and the error set) when it names
// none or clashes with one before it.
bool take_switch(std::string_view flag, ParsedArguments& parsed) {
  switch (set_switch(flag, parsed.options)) {
    case SwitchFound::set: return true;
    case SwitchFound::unknown:
      fail(parsed, "unknown option '" + printable_argument(flag) + "'");
      return false;
    case SwitchFound::clashing:
      fail(parsed, "--encrypt and --decrypt cannot go together");
      return false;
  }
  return false;
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
    if (!take_switch(flag, parsed)) return false;
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
// Folders hold files of both kinds, so a walk needs to be told which to
// convert; testing walks as decrypting does.
ParsedArguments& check_paths(ParsedArguments& parsed) {
  CliOptions& options = parsed.options;
  if (options.paths.empty()) return fail(parsed, "no PATH given");
  if (options.test && options.direction == Direction::encrypt)
    return fail(parsed, "--test checks containers: it does not go with --encrypt");
  if (options.test) options.direction = Direction::decrypt;
  if (options.recursive && options.direction == Direction::by_name)
    return fail(parsed, "--recursive needs a direction: add -e to encrypt or -d to decrypt");
  if (!options.test || options.recursive) return parsed;
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
    } else if (!take_switch(argument, parsed)) {
      return parsed;
    }
  }
  return check_paths(parsed);
}

std::string_view usage_text() { return kUsage; }

}  // namespace kestrune
