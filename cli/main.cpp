// kestrune-cli: the dialog's conversions for scripts and servers. Each path
// is converted as a drop of its own, with the same rules and messages.
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "cli/arguments.h"
#include "cli/batch_runner.h"
#include "cli/command_line.h"
#include "cli/folder_walk.h"
#include "cli/password_prompt.h"
#include "cli/stop_safe_file_system.h"
#include "cli/stop_signals.h"
#include "cli/utf8.h"
#include "core/container_names.h"
#include "core/secret_memory.h"
#include "core/services.h"

namespace {

constexpr int kExitConverted = 0;
constexpr int kExitHelpOrVersionShown = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

int usage_error(const std::string& message) {
  std::cerr << "kestrune-cli: " << message << "\nTry 'kestrune-cli --help'.\n";
  return kExitUsage;
}

// Prints what was asked for; a full disk or a closed output is an error,
// as for any program whose output a script relies on.
int print_to_stdout(std::string_view text) {
  const bool written = std::fwrite(text.data(), 1, text.size(), stdout) == text.size();
  if (written && std::fflush(stdout) == 0) return kExitHelpOrVersionShown;
  const std::error_code cause(errno, std::generic_category());
  std::cerr << "kestrune-cli: write error: " << cause.message() << '\n';
  return kExitFailed;
}

// Nothing when the command line asks for conversions; otherwise prints the
// help, the version or the usage error, and gives the exit status.
std::optional<int> answer_without_converting(const kestrune::ParsedArguments& parsed) {
  using Request = kestrune::ParsedArguments::Request;
  switch (parsed.request) {
    case Request::convert: return std::nullopt;
    case Request::show_help: return print_to_stdout(kestrune::usage_text());
    case Request::show_version: return print_to_stdout("kestrune-cli " KESTRUNE_VERSION "\n");
    case Request::usage_error: return usage_error(parsed.error);
  }
  return std::nullopt;
}

bool any_will_be_encrypted(const kestrune::CliOptions& options) {
  if (options.direction != kestrune::Direction::by_name)
    return options.direction == kestrune::Direction::encrypt;
  for (const auto& path : options.paths)
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
kestrune::PasswordLine obtain_password(const kestrune::CliOptions& options, std::string& error) {
  if (options.password_from_stdin) {
    kestrune::PasswordLine line = kestrune::read_first_line();
    error = line_error(line, true);
    return line;
  }
  kestrune::PasswordLine first = kestrune::prompt_without_echo("Password: ");
  error = line_error(first, false);
  if (!error.empty() || !any_will_be_encrypted(options)) return first;
  const kestrune::PasswordLine second = kestrune::prompt_without_echo("Confirm password: ");
  error = line_error(second, false);
  if (error.empty() && first.text() != second.text()) error = "the passwords do not match";
  return first;
}

// Converts (or with -t tests) each path as a drop of its own; the exit status.
int convert_paths(const kestrune::CliOptions& options, std::u16string_view password) {
  const auto file_system =
      kestrune::make_stop_safe_file_system(kestrune::make_native_file_system());
  const std::vector<kestrune::PlannedPath> paths = kestrune::plan_paths(options);
  const int failures = kestrune::convert_in_batch(options, paths, *file_system, password);
  return failures == 0 ? kExitConverted : kExitFailed;
}

// Everything from the command line to the exit status.
int run(int argc, char** argv) {
  // Past a file-size limit, a write should fail and be reported, not kill
  // the process midway.
#ifdef SIGXFSZ  // Windows has no file-size signal
  std::signal(SIGXFSZ, SIG_IGN);
#endif
  const kestrune::ParsedArguments parsed =
      kestrune::parse_arguments(kestrune::command_line_arguments(argc, argv));
  if (const auto status = answer_without_converting(parsed)) return *status;
  const kestrune::CliOptions& options = parsed.options;

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

// Says that nothing started, without needing memory to say it.
int report_no_path_started() {
  std::fprintf(stderr, "kestrune-cli: no path was started (%s)\n", std::strerror(ENOMEM));
  return kExitFailed;
}

// The C++ runtime sets its memory for exceptions aside as the program
// loads; when there was no heap even for that, running out of memory later
// could not be reported but only abort. A block of that size tells.
bool heap_available() {
  void* volatile probe = std::malloc(128 * 1024);
  std::free(probe);
  return probe != nullptr;
}

}  // namespace

// Memory can run out before any file starts (the arguments, the password's
// pages): that ends the program with a message, never an abort.
int main(int argc, char** argv) {
  kestrune::keep_process_out_of_dumps();
  if (!heap_available()) return report_no_path_started();
  try {
    return run(argc, argv);
  } catch (const std::bad_alloc&) {
    return report_no_path_started();
  }
}
