#include "core/files/file_errors.h"

#include <string>

namespace kestrune {
namespace {

class FileErrorCategory final : public std::error_category {
 public:
  const char* name() const noexcept override { return "kestrune-file"; }
  std::string message(int value) const override {
    switch (static_cast<FileError>(value)) {
      case FileError::changed_while_read: return "it changed while it was converted";
      case FileError::not_regular_file: return "not a regular file";
      case FileError::output_exists: return "the output's name is taken";
    }
    return "unknown file error";
  }
};

}  // namespace

const std::error_category& file_error_category() {
  static const FileErrorCategory category;
  return category;
}

}  // namespace kestrune
