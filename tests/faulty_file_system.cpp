#include "tests/faulty_file_system.h"

namespace kestrune::test {
namespace {

class FaultyReadableFile final : public ForwardingReadableFile {
 public:
  FaultyReadableFile(std::unique_ptr<ReadableFile> real, FaultyFileSystem& faults)
      : ForwardingReadableFile(std::move(real)), faults_(faults) {}
  std::error_code read(std::span<std::uint8_t> buffer, std::size_t& bytes_read) override {
    bytes_read = 0;
    if (error_pending_) return faults_.fault_error();
    if (!faults_.should_fail(Call::read)) return real_->read(buffer, bytes_read);
    if (!faults_.after_some_data() || buffer.size() < 2) return faults_.fault_error();
    error_pending_ = true;
    const std::error_code error = real_->read(buffer.first(buffer.size() / 2), bytes_read);
    // With no data left to give, the error cannot wait for the next read.
    return error || bytes_read > 0 ? error : faults_.fault_error();
  }
  std::error_code read_scattered(std::span<const std::span<std::uint8_t>> parts,
                                 std::size_t& bytes_read) override {
    bytes_read = 0;
    if (!faults_.should_fail(Call::read_scattered)) return real_->read_scattered(parts, bytes_read);
    // Failing part way, as a second readv would, after the first part came.
    if (faults_.after_some_data() && !parts.empty())
      real_->read_scattered(parts.first(1), bytes_read);
    return faults_.fault_error();
  }
  std::error_code status(FileStatus& status) override {
    return faults_.should_fail(Call::input_status) ? faults_.fault_error() : real_->status(status);
  }

 private:
  FaultyFileSystem& faults_;
  bool error_pending_ = false;
};

class FaultyWritableFile final : public ForwardingWritableFile {
 public:
  FaultyWritableFile(std::unique_ptr<WritableFile> real, FaultyFileSystem& faults)
      : ForwardingWritableFile(std::move(real)), faults_(faults) {}
  std::error_code write(std::span<const std::uint8_t> data) override {
    // A failing write may have put part of the data on disk, as a full disk does.
    if (faults_.should_fail(Call::write)) {
      real_->write(data.first(data.size() / 2));
      return faults_.fault_error();
    }
    return real_->write(data);
  }
  std::error_code take_permissions(const FileStatus& input) override {
    return faults_.should_fail(Call::take_permissions) ? faults_.fault_error()
                                                       : real_->take_permissions(input);
  }
  std::error_code sync() override {
    return faults_.should_fail(Call::sync) ? faults_.fault_error() : real_->sync();
  }
  std::error_code check_name() override {
    return faults_.should_fail(Call::check_name) ? faults_.fault_error() : real_->check_name();
  }
  std::error_code rename_into_place(bool replace_existing) override {
    return faults_.should_fail(Call::rename_into_place)
               ? faults_.fault_error()
               : real_->rename_into_place(replace_existing);
  }
  std::error_code close() override {
    if (faults_.should_fail(Call::close)) {
      real_->close();
      return faults_.fault_error();
    }
    return real_->close();
  }
  std::error_code discard() override {
    return faults_.should_fail(Call::discard) ? faults_.fault_error() : real_->discard();
  }
  std::error_code sync_folder() override {
    return faults_.should_fail(Call::sync_folder) ? faults_.fault_error() : real_->sync_folder();
  }

 private:
  FaultyFileSystem& faults_;
};

}  // namespace

std::string_view name_of(Call call) {
  static constexpr std::string_view kNames[] = {"open_for_reading",
                                                "read",
                                                "read_scattered",
                                                "create_temporary",
                                                "write",
                                                "sync",
                                                "close",
                                                "rename",
                                                "discard",
                                                "remove_input",
                                                "sync_folder",
                                                "check_name",
                                                "take_permissions",
                                                "input_status"};
  static_assert(std::size(kNames) == kCallKinds, "a name for every call kind");
  return kNames[static_cast<std::size_t>(call)];
}

bool FaultyFileSystem::should_fail(Call call) {
  const std::size_t ordinal = ++counts_[static_cast<std::size_t>(call)];
  if (call != fault_call_ || ordinal != fault_ordinal_) return false;
  fault_fired_ = true;
  return true;
}

std::error_code FaultyFileSystem::open_for_reading(const std::filesystem::path& path,
                                                   std::unique_ptr<ReadableFile>& file,
                                                   FileStatus& status) {
  if (should_fail(Call::open_for_reading)) return fault_error_;
  std::unique_ptr<ReadableFile> real;
  if (auto error = real_.open_for_reading(path, real, status)) return error;
  file = std::make_unique<FaultyReadableFile>(std::move(real), *this);
  return {};
}

std::error_code FaultyFileSystem::create_temporary(const std::filesystem::path& target,
                                                   std::unique_ptr<WritableFile>& file,
                                                   std::filesystem::path& temporary) {
  if (should_fail(Call::create_temporary)) return fault_error_;
  std::unique_ptr<WritableFile> real;
  if (auto error = real_.create_temporary(target, real, temporary)) return error;
  file = std::make_unique<FaultyWritableFile>(std::move(real), *this);
  return {};
}

std::error_code FaultyFileSystem::remove_input(const std::filesystem::path& path,
                                               const FileStatus& converted, bool& another_file) {
  if (should_fail(Call::remove_input)) return fault_error_;
  return real_.remove_input(path, converted, another_file);
}

}  // namespace kestrune::test
