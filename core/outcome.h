// How a conversion, or one step of it, ended. A failure carries the fixed
// text and caption the user is shown and, when the system gave one, the
// cause behind it: the error of the file-system call that failed, or memory
// running out. The dialogs show the texts alone; the command line adds the
// cause.
#pragma once

#include <string_view>
#include <system_error>

namespace kestrune {

struct Failure {
  std::string_view text;
  std::string_view caption;
};

struct Outcome {
  enum class Kind { done, failed, cancelled };
  Kind kind = Kind::done;
  Failure failure{};
  std::error_code cause{};

  static Outcome done() { return {}; }
  static Outcome failed(Failure failure, std::error_code cause = {}) {
    return {Kind::failed, failure, cause};
  }
  static Outcome cancelled() { return {Kind::cancelled, {}, {}}; }
  static Outcome out_of_memory(Failure failure) {
    return failed(failure, std::make_error_code(std::errc::not_enough_memory));
  }
  bool ok() const { return kind == Kind::done; }
};

}  // namespace kestrune
