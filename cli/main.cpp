// kestrune-cli: the dialog's conversions for scripts and servers. Each path
// is converted as a drop of its own, with the same rules and messages.
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "algorithms.h"
#include "command_line.h"
#include "container.h"
#include "dispatch.h"
#include "messages.h"
#include "password_prompt.h"
#include "secure_wipe.h"
#include "services.h"
#include "stop_signals.h"
#include "utf8.h"

namespace {

constexpr int kExitConverted = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

constexpr const char* kUsage =
    "Usage: kestrune-cli [--hash NAME] [--cipher NAME] [--password-stdin]\n"
    "                    [--allow-empty-password] PATH...\n"
    "\n"
    "Encrypts each PATH into PATH.enc, or decrypts PATH when its name ends in\n"
    ".enc, and removes the input once the output is safely written.\n"
    "\n"
    "  --hash NAME        SHA1, SHA256 (default), SHA384, SHA512 or MD5\n"
    "  --cipher NAME      DES, 3DES, AES128, AES192 or AES256 (default)\n"
    "  --password-stdin   read the password from the first line of standard input\n"
    "                     instead of asking on the terminal (64 KiB at most)\n"
    "  --allow-empty-password  accept an empty password, whose key anyone can make\n"
    "  --help             show this text\n"
    "  --version          show the version\n"
    "\n"
    "Exit status: 0 when every path converted, 1 when any failed, 2 for a usage error,\n"
    "128 + N when signal N stopped it (the file under way is left as it was).\n";

struct Options {
  kestrune::HashAlgorithm hash = kestrune::kDefaultChoices.hash;
  kestrune::CipherAlgorithm cipher = kestrune::kDefaultChoices.cipher;
  bool password_from_stdin = false;
  bool allow_empty_password = false;
  std::vector<std::filesystem::path> paths;
};

// Prints each failure, and each input that still holds its contents, with
// the path it belongs to: one line each.
class CliFrontEnd final : public kestrune::FrontEnd {
 public:
  void show_failure(std::string_view text, std::string_view caption) override {
    std::cerr << kestrune::printable_path(current_path_) << ": " << caption << ": " << text << '\n';
    ++failures_;
  }
  void show_allocation_failure(std::string_view text, std::string_view caption) override {
    std::cerr << kestrune::printable_path(current_path_) << ": " << caption << ": " << text
              << " (out of memory)\n";
    ++failures_;
  }
  void input_kept(std::string_view reason, std::error_code cause) override {
    std::cerr << kestrune::printable_path(current_path_) << ": kept: " << reason;
    if (cause) std::cerr << " (" << cause.message() << ')';
    std::cerr << '\n';
  }
  void set_busy(bool) override {}
  void progress(const std::filesystem::path&, std::uint64_t, std::uint64_t) override {}

  bool cancel_requested() override { return kestrune::stop_signal() != 0; }

  void set_current_path(const std::filesystem::path& path) { current_path_ = path; }
  int failures() const { return failures_; }

 private:
  std::filesystem::path current_path_;
  int failures_ = 0;
};

int usage_error(const std::string& message) {
  std::cerr << "kestrune-cli: " << message << "\nTry 'kestrune-cli --help'.\n";
  return kExitUsage;
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
    } else if (argument == "--help") {
      std::cout << kUsage;
      return kExitConverted;
    } else if (argument == "--version") {
      std::cout << "kestrune-cli 1.0.4\n";
      return kExitConverted;
    } else if (argument == "--password-stdin") {
      options.password_from_stdin = true;
    } else if (argument == "--allow-empty-password") {
      options.allow_empty_password = true;
    } else if (argument == "--hash" || argument == "--cipher") {
      if (i + 1 >= argc) return usage_error(argument + " needs a name");
      const std::string& name = arguments[++i];
      if (argument == "--hash") {
        const auto hash = kestrune::hash_from_label(name);
        if (!hash) return usage_error("unknown hash '" + name + "'");
        options.hash = *hash;
      } else {
        const auto cipher = kestrune::cipher_from_label(name);
        if (!cipher) return usage_error("unknown cipher '" + name + "'");
        options.cipher = *cipher;
      }
    } else {
      return usage_error("unknown option '" + argument + "'");
    }
  }
  if (options.paths.empty()) return usage_error("no PATH given");
  return std::nullopt;
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
    case kestrune::PasswordLine::Status::too_long:
      return "the password line is longer than 64 KiB";
    case kestrune::PasswordLine::Status::no_terminal:
      return "no terminal to ask for the password (use --password-stdin)";
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

// Converts each path as a drop of its own; the exit status.
int convert_paths(const std::vector<std::filesystem::path>& paths, std::u16string_view password) {
  const auto file_system = kestrune::make_native_file_system();
  CliFrontEnd front_end;
  std::size_t next = 0;
  try {
    kestrune::ConversionEnv env{*file_system, kestrune::native_crypto_service(), front_end};
    for (; next < paths.size(); ++next) {
      front_end.set_current_path(paths[next]);
      kestrune::dispatch_dropped_files(env, password, {&paths[next], 1});
    }
  } catch (const std::bad_alloc&) {
    // Conversions catch their own; this is the memory they all share, so
    // no path from here on can start.
    for (; next < paths.size(); ++next) {
      front_end.set_current_path(paths[next]);
      const kestrune::Failure start = kestrune::is_container_name(paths[next])
                                          ? kestrune::kCantStartDecryption
                                          : kestrune::kCantStartEncryption;
      front_end.show_allocation_failure(start.text, start.caption);
    }
  }
  return front_end.failures() == 0 ? kExitConverted : kExitFailed;
}

}  // namespace

int main(int argc, char** argv) {
  kestrune::keep_process_out_of_dumps();
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

  kestrune::set_hash_choice(options.hash);
  kestrune::set_cipher_choice(options.cipher);
  kestrune::catch_stop_signals();
  const int status = convert_paths(options.paths, *password);
  if (const int signal = kestrune::stop_signal()) return 128 + signal;
  return status;
}
