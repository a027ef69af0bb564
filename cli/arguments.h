// kestrune-cli's command line: what it asks for, read without printing
// anything, so the caller decides what is shown and how the program ends.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "core/algorithms.h"

namespace kestrune {

// Which way paths are converted: as each one's name says, or one way only
// (-e, -d), the others refused when given and passed over in folders.
enum class Direction { by_name, encrypt, decrypt };

// More files at once than this gains nothing (every one waits on the same
// disk), and -j takes no more.
inline constexpr unsigned kMostJobs = 64;

// The processors, but at least 2 (one file's flush overlaps another's
// work even on one) and at most 8.
unsigned default_job_count();

struct CliOptions {
  HashAlgorithm hash = kDefaultChoices.hash;
  CipherAlgorithm cipher = kDefaultChoices.cipher;
  bool password_from_stdin = false;
  bool allow_empty_password = false;
  bool keep = false;
  bool test = false;  // implies decrypting
  bool recursive = false;
  bool force = false;  // outputs replace what bears their names
  Direction direction = Direction::by_name;
  bool verbose = false;
  bool quiet = false;
  bool progress = true;
  unsigned jobs = default_job_count();  // files converted at the same time
  std::vector<std::filesystem::path> paths;
};

struct ParsedArguments {
  enum class Request { convert, show_help, show_version, usage_error };

  Request request = Request::convert;
  CliOptions options;
  // For a usage error: what is wrong, with any argument it quotes escaped
  // for the terminal.
  std::string error;
};

// `arguments` holds the program name first. Parsing stops at --help,
// --version or the first mistake, as the program does.
ParsedArguments parse_arguments(const std::vector<std::string>& arguments);

// The text --help shows.
std::string_view usage_text();

}  // namespace kestrune
