// kestrune-cli: the dialog's conversions for scripts and servers. Each path
// is converted as a drop of its own, with the same rules and messages.
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "algorithms.h"
#include "command_line.h"
#include "container.h"
#include "dispatch.h"
#include "file_system.h"
#include "password_prompt.h"
#include "secure_wipe.h"
#include "utf8.h"

namespace {

constexpr int kExitConverted = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

constexpr const char* kUsage =
    "Usage: kestrune-cli [--hash NAME] [--cipher NAME] [--password-stdin] PATH...\n"
    "\n"
    "Encrypts each PATH into PATH.enc, or decrypts PATH when its name ends in\n"
    ".enc, and removes the input once the output is safely written.\n"
    "\n"
    "  --hash NAME        SHA1, SHA256 (default), SHA384, SHA512 or MD5\n"
    "  --cipher NAME      DES, 3DES, AES128, AES192 or AES256 (default)\n"
    "  --password-stdin   read the password from the first line of standard input\n"
    "                     instead of asking on the terminal\n"
    "  --help             show this text\n"
    "  --version          show the version\n"
    "\n"
    "Exit status: 0 when every path converted, 1 when any failed, 2 for a usage error.\n";

struct Options {
  kestrune::HashAlgorithm hash = kestrune::HashAlgorithm::sha256;
  kestrune::CipherAlgorithm cipher = kestrune::CipherAlgorithm::aes256;
  bool password_from_stdin = false;
  std::vector<std::filesystem::path> paths;
};

// Prints each failure with the path it belongs to.
class CliFrontEnd final : public kestrune::FrontEnd {
 public:
  void show_failure(std::string_view text, std::string_view caption) override {
    std::cerr << kestrune::printable_path(current_path_) << ": " << caption << ": " << text << '\n';
    ++failures_;
  }
  void set_busy(bool) override {}
  void progress(const std::filesystem::path&, std::uint64_t, std::uint64_t) override {}

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
      std::cout << "kestrune-cli " KESTRUNE_VERSION "\n";
      return kExitConverted;
    } else if (argument == "--password-stdin") {
      options.password_from_stdin = true;
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

// The password as UTF-8, from standard input or the terminal (twice when
// something will be encrypted, so a typo cannot lock a file away).
std::optional<std::string> obtain_password(const Options& options, std::string& error) {
  if (options.password_from_stdin) {
    auto line = kestrune::read_first_line(std::cin);
    if (!line) error = "no password on standard input";
    return line;
  }
  auto first = kestrune::prompt_without_echo("Password: ");
  if (!first) {
    error = "no terminal to ask for the password (use --password-stdin)";
    return std::nullopt;
  }
  if (any_will_be_encrypted(options.paths)) {
    const auto second = kestrune::prompt_without_echo("Confirm password: ");
    if (!second || *second != *first) {
      error = "the passwords do not match";
      return std::nullopt;
    }
  }
  return first;
}

}  // namespace

int main(int argc, char** argv) {
  // Past a file-size limit, a write should fail and be reported, not kill
  // the process midway.
#ifdef SIGXFSZ  // Windows has no file-size signal
  std::signal(SIGXFSZ, SIG_IGN);
#endif
  Options options;
  if (const auto status = parse_arguments(kestrune::command_line_arguments(argc, argv), options))
    return *status;

  std::string error;
  auto password_utf8 = obtain_password(options, error);
  if (!password_utf8) return usage_error(error);
  auto password = kestrune::utf8_to_utf16(*password_utf8);
  kestrune::secure_wipe(password_utf8->data(), password_utf8->size());
  if (!password) return usage_error("the password is not valid UTF-8");

  kestrune::set_hash_choice(options.hash);
  kestrune::set_cipher_choice(options.cipher);
  const auto file_system = kestrune::make_native_file_system();
  CliFrontEnd front_end;
  kestrune::ConversionEnv env{*file_system, front_end};
  for (const auto& path : options.paths) {
    front_end.set_current_path(path);
    kestrune::dispatch_dropped_files(env, *password, {&path, 1});
  }
  kestrune::secure_wipe(password->data(), password->size() * sizeof(char16_t));
  return front_end.failures() == 0 ? kExitConverted : kExitFailed;
}
