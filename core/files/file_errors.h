// Causes the system has no error number for, told the way its own errors
// are: the command line adds them to the fixed text in parentheses.
#pragma once

#include <system_error>

namespace kestrune {

enum class FileError {
  changed_while_read = 1,  // another program wrote to the input meanwhile
  not_regular_file,        // a FIFO, a device or a socket
  output_exists,           // the output's name was taken, and was not to be replaced
};

const std::error_category& file_error_category();

inline std::error_code make_error_code(FileError error) {
  return {static_cast<int>(error), file_error_category()};
}

}  // namespace kestrune

template <>
struct std::is_error_code_enum<kestrune::FileError> : std::true_type {};
