// kestrune-cli: the dialog's conversions for scripts and servers. Each path
// is converted as a drop of its own, with the same rules and messages.
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <new>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "cli/command_line.h"
#include "cli/password_prompt.h"
#include "cli/progress_line.h"
#include "cli/stop_safe_file_system.h"
#include "cli/stop_signals.h"
#include "cli/utf8.h"
#include "core/algorithms.h"
#include "core/container_names.h"
#include "core/kestrune.h"
#include "core/messages.h"
#include "core/secret_memory.h"
#include "core/services.h"

namespace {

constexpr int kExitConverted = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

constexpr const char* kUsage =
    "Usage: kestrune-cli [-ktvq] [--no-progress] [--hash NAME] [--cipher NAME]\n"
    "                    [--password-stdin] [--allow-empty-password] [--] PATH...\n"
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
    "Short options combine: -kv is -k -v.\n"
    "\n"
    "Only about the first half of the password's characters count, and at most\n"
    "259 characters: a longer line is accepted, but the rest does not count.\n"
    "\n"
    "Exit status: 0 when every path converted (or tested good), 1 when any failed,\n"
    "2 for a usage error, 128 + N when signal N stopped it: the paths after the\n"
    "one under way were not started, and every path was either converted\n"
    "completely or left as it was (with -v, 'PATH: stopped' names the one left).\n";

struct Options {
  kestrune::HashAlgorithm hash = kestrune::kDefaultChoices.hash;
  kestrune::CipherAlgorithm cipher = kestrune::kDefaultChoices.cipher;
  bool password_from_stdin = false;
  bool allow_empty_password = false;
  bool keep = false;
  bool test = false;
  bool verbose = false;
  bool quiet = false;
  bool progress = true;
  std::vector<std::filesystem::path> paths;
};

// Prints each failure, and each input that still holds its contents unless
// told to be quiet, with the path it belongs to: one line each. Shows the
// progress line while a file converts.
class CliFrontEnd final : public kestrune::FrontEnd {
 public:
  CliFrontEnd(bool quiet, bool show_progress) : quiet_(quiet), progress_line_(show_progress) {}

  void show_failure(const kestrune::Outcome& failed) override {
    progress_line_.clear();
    std::cerr << kestrune::printable_path(current_path_) << ": " << failed.failure.caption << ": "
              << failed.failure.text;
    end_line(failed.cause);
  }
  void temporary_left(const std::filesystem::path& temporary, std::error_code cause) override {
    progress_line_.clear();
    std::cerr << kestrune::printable_path(current_path_) << ": left "
              << kestrune::printable_path(temporary) << ": remove it";
    end_line(cause);
  }
  void input_kept(std::string_view reason, std::error_code cause) override {
    if (quiet_) return;
    progress_line_.clear();
    std::cerr << kestrune::printable_path(current_path_) << ": kept: " << reason;
    end_line(cause);
  }
  void set_busy(bool busy) override {
    if (!busy) progress_line_.clear();
  }
  void progress(const std::filesystem::path&, std::uint64_t done, std::uint64_t total) override {
    bytes_done_ = done;
    progress_line_.update(done, total);
  }

  // The core stops the file under way when this says so.
  bool cancel_requested() override { return kestrune::stop_signal() != 0; }

  void start_file(const std::filesystem::path& path) {
    current_path_ = path;
    bytes_done_ = 0;
    progress_line_.start(kestrune::printable_path(path.filename()));
  }
  // What the file under way has coded so far, and for how long.
  std::uint64_t bytes_done() const { return bytes_done_; }
  double seconds() const { return progress_line_.seconds_since_start(); }

 private:
  // The system's word for what went wrong, when it gave one.
  static void end_line(std::error_code cause) {
    if (cause) std::cerr << " (" << cause.message() << ')';
    std::cerr << '\n';
  }

  bool quiet_;
  kestrune::ProgressLine progress_line_;
  std::filesystem::path current_path_;
  std::uint64_t bytes_done_ = 0;
};

// An argument quoted in a message, harmless to the terminal.
std::string printable_argument(const std::string& argument) {
  return kestrune::printable_path(kestrune::path_from_argument(argument));
}

int usage_error(const std::string& message) {
  std::cerr << "kestrune-cli: " << message << "\nTry 'kestrune-cli --help'.\n";
  return kExitUsage;
}

// Prints what was asked for; a full disk or a closed output is an error,
// as for any program whose output a script relies on.
int print_to_stdout(std::string_view text) {
  const bool written = std::fwrite(text.data(), 1, text.size(), stdout) == text.size();
  if (written && std::fflush(stdout) == 0) return kExitConverted;
  const std::error_code cause(errno, std::generic_category());
  std::cerr << "kestrune-cli: write error: " << cause.message() << '\n';
  return kExitFailed;
}

// Sets the switch `flag` (short or long) names; false when it names none.
bool set_switch(std::string_view flag, Options& options) {
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

// "-kv" is "-k -v"; an empty status when every letter is a switch.
std::optional<int> set_short_switches(const std::string& argument, Options& options) {
  for (const char letter : std::string_view(argument).substr(1)) {
    const std::string flag{'-', letter};
    if (!set_switch(flag, options))
      return usage_error("unknown option '" + printable_argument(flag) + "'");
  }
  return std::nullopt;
}

// Only containers can be tested; a plain name is a mistake in the command.
std::optional<int> check_test_paths(const Options& options) {
  if (!options.test) return std::nullopt;
  for (const auto& path : options.paths)
    if (!kestrune::is_container_name(path))
      return usage_error("--test checks containers only: '" + kestrune::printable_path(path) +
                         "' does not end in .enc");
  return std::nullopt;
}

// Parses the command line; returns an exit status when it should end here.
std::optional<int> parse_arguments(const std::vector<std::string>& arguments, Options& options) {
  bool only_paths = false;
  const std::size_t argc = arguments.size();
  for (std::size_t i = 1; i < argc; ++i) {
    const std::string& argument = arguments[i];
    if (only_paths || argument.empty() || argument[0] != '-' || argument == "-") {
      options.paths.push_back(kestrune::path_from_argument(argument));
    } else if (argument == "--") {
      only_paths = true;
    } else if (argument[1] != '-') {
      if (const auto status = set_short_switches(argument, options)) return status;
    } else if (argument == "--help") {
      return print_to_stdout(kUsage);
    } else if (argument == "--version") {
      return print_to_stdout("kestrune-cli " KESTRUNE_VERSION "\n");
    } else if (argument == "--hash" || argument == "--cipher") {
      if (i + 1 >= argc) return usage_error(argument + " needs a name");
      const std::string& name = arguments[++i];
      if (argument == "--hash") {
        const auto hash = kestrune::hash_from_label(name);
        if (!hash) return usage_error("unknown hash '" + printable_argument(name) + "'");
        options.hash = *hash;
      } else {
        const auto cipher = kestrune::cipher_from_label(name);
        if (!cipher) return usage_error("unknown cipher '" + printable_argument(name) + "'");
        options.cipher = *cipher;
      }
    } else if (!set_switch(argument, options)) {
      return usage_error("unknown option '" + printable_argument(argument) + "'");
    }
  }
  if (options.paths.empty()) return usage_error("no PATH given");
  return check_test_paths(options);
}

bool any_will_be_encrypted(const std::vector<std::filesystem::path>& paths) {
  for (const auto& path : paths)
    if (!kestrune::is_container_name(path)) return true;
  return false;
}

std::string line_error(const kestrune::PasswordLine& line, bool from_stdin) {
  switch (line.status) {
    case kestrune::PasswordLine::Status::read: return {};
    case kestrune::PasswordLine::Status::none:
      return from_stdin ? "no password on standard input" : "no password given";
    case kestrune::PasswordLine::Status::too_long: return "the password line is longer than 64 KiB";
    case kestrune::PasswordLine::Status::no_terminal:
      return "no terminal to ask for the password (use --password-stdin)";
    case kestrune::PasswordLine::Status::not_unicode: return "the password is not valid Unicode";
  }
  return {};
}

// The password as UTF-8, from standard input or the terminal (twice when
// something will be encrypted, so a typo cannot lock a file away). Every
// copy is on secret pages, wiped when it goes.
kestrune::PasswordLine obtain_password(const Options& options, std::string& error) {
  if (options.password_from_stdin) {
    kestrune::PasswordLine line = kestrune::read_first_line();
    error = line_error(line, true);
    return line;
  }
  kestrune::PasswordLine first = kestrune::prompt_without_echo("Password: ");
  error = line_error(first, false);
  if (!error.empty() || !any_will_be_encrypted(options.paths)) return first;
  const kestrune::PasswordLine second = kestrune::prompt_without_echo("Confirm password: ");
  error = line_error(second, false);
  if (error.empty() && first.text() != second.text()) error = "the passwords do not match";
  return first;
}

// The -v line of a file that converted or tested good.
std::string verbose_line(const std::filesystem::path& path, bool tested,
                         const CliFrontEnd& front_end) {
  const std::string name = kestrune::printable_path(path);
  if (tested) return name + ": OK";
  const std::filesystem::path output = kestrune::is_container_name(path)
                                           ? kestrune::plain_name_for(path)
                                           : kestrune::container_name_for(path);
  return kestrune::conversion_summary(name, kestrune::printable_path(output),
                                      front_end.bytes_done(), front_end.seconds());
}

// Says why each of `paths` cannot start when memory has run out; how many.
// Naming them needs memory too: when even that fails, one line says so
// without any.
int report_unstartable(std::span<const std::filesystem::path> paths, CliFrontEnd& front_end) {
  try {
    for (const std::filesystem::path& path : paths) {
      front_end.start_file(path);
      const kestrune::Failure start = kestrune::is_container_name(path)
                                          ? kestrune::kCantStartDecryption
                                          : kestrune::kCantStartEncryption;
      front_end.show_failure(kestrune::Outcome::out_of_memory(start));
    }
  } catch (const std::bad_alloc&) {
    std::fputs("kestrune-cli: out of memory\n", stderr);
  }
  return static_cast<int>(paths.size());
}

// Converts (or with -t tests) each path as a drop of its own; the exit status.
int convert_paths(const Options& options, std::u16string_view password) {
  const std::vector<std::filesystem::path>& paths = options.paths;
  const auto file_system =
      kestrune::make_stop_safe_file_system(kestrune::make_native_file_system());
  CliFrontEnd front_end(options.quiet, options.progress && kestrune::stderr_redraws_in_place());
  std::size_t next = 0;
  int failures = 0;
  try {
    kestrune::ConversionEnv env{*file_system, kestrune::native_crypto_service(), front_end};
    env.keep_inputs = options.keep;
    env.choices.set_hash(options.hash);
    env.choices.set_cipher(options.cipher);
    while (next < paths.size() && kestrune::stop_signal() == 0) {
      const std::filesystem::path& path = paths[next];
      front_end.start_file(path);
      const kestrune::Outcome outcome = options.test
                                            ? kestrune::verify_container(env, path, password)
                                            : kestrune::convert_by_name(env, path, password);
      ++next;  // done with, whatever the -v line below costs
      if (outcome.kind == kestrune::Outcome::Kind::failed) ++failures;
      if (options.verbose && outcome.kind == kestrune::Outcome::Kind::cancelled)
        std::cerr << kestrune::printable_path(path) << ": stopped\n";
      else if (options.verbose && outcome.ok())
        std::cerr << verbose_line(path, options.test, front_end) << '\n';
    }
  } catch (const std::bad_alloc&) {
    // Conversions catch their own; this is the memory they all share, so
    // no path from here on can start.
    failures += report_unstartable({paths.begin() + static_cast<std::ptrdiff_t>(next), paths.end()},
                                   front_end);
  }
  return failures == 0 ? kExitConverted : kExitFailed;
}

// Everything from the command line to the exit status.
int run(int argc, char** argv) {
  // Past a file-size limit, a write should fail and be reported, not kill
  // the process midway.
#ifdef SIGXFSZ  // Windows has no file-size signal
  std::signal(SIGXFSZ, SIG_IGN);
#endif
  Options options;
  if (const auto status = parse_arguments(kestrune::command_line_arguments(argc, argv), options))
    return *status;

  std::optional<kestrune::SecretU16String> password;
  {  // the UTF-8 form goes (wiped) as soon as the UTF-16 one is made
    std::string error;
    const kestrune::PasswordLine password_utf8 = obtain_password(options, error);
    if (!error.empty()) return usage_error(error);
    // An empty password's key is the same for everyone: a script's unset
    // variable must not encrypt under it and remove the plain file.
    if (password_utf8.text().empty() && !options.allow_empty_password)
      return usage_error("the password is empty (use --allow-empty-password to accept it)");
    password = kestrune::utf8_to_utf16(password_utf8.text());
  }
  if (!password) return usage_error("the password is not valid UTF-8");

  kestrune::catch_stop_signals();
  const int status = convert_paths(options, *password);
  if (const int signal = kestrune::stop_signal()) return 128 + signal;
  return status;
}

}  // namespace

// Memory can run out before any file starts (the arguments, the password's
// pages): that ends the program with a message, never an abort.
int main(int argc, char** argv) {
  kestrune::keep_process_out_of_dumps();
  try {
    return run(argc, argv);
  } catch (const std::bad_alloc&) {
    std::cerr << "kestrune-cli: no path was started ("
              << std::make_error_code(std::errc::not_enough_memory).message() << ")\n";
    return kExitFailed;
  }
}
