// A file system that passes every call to the real one, counts the calls of
// each kind, and can make the N-th call of one kind fail with a chosen error.
#pragma once

#include <array>
#include <cstddef>
#include <memory>
#include <string_view>
#include <system_error>

#include "tests/forwarding_file_system.h"

namespace kestrune::test {

enum class Call {
  open_for_reading,
  read,
  read_scattered,
  create_temporary,
  write,
  sync,
  close,
  rename_into_place,
  discard,
  remove_input,
  sync_folder,
  check_name,
  take_permissions,
  input_status,  // the last
};
inline constexpr std::size_t kCallKinds = static_cast<std::size_t>(Call::input_status) + 1;
std::string_view name_of(Call call);

class FaultyFileSystem final : public ForwardingFileSystem {
 public:
  using ForwardingFileSystem::ForwardingFileSystem;

  // Makes call number `ordinal` (from 1) of `call` fail with `error`. With
  // `after_some_data`, a read first returns part of what was asked and the
  // error comes with the next read; a scattered read fills its first part,
  // then fails.
  void fail(Call call, std::size_t ordinal, std::errc error, bool after_some_data = false) {
    fault_call_ = call;
    fault_ordinal_ = ordinal;
    fault_error_ = std::make_error_code(error);
    after_some_data_ = after_some_data;
  }
  bool after_some_data() const { return after_some_data_; }
  std::size_t count(Call call) const { return counts_[static_cast<std::size_t>(call)]; }
  bool fault_fired() const { return fault_fired_; }

  // Counts the call; true when it is the one that must fail.
  bool should_fail(Call call);
  std::error_code fault_error() const { return fault_error_; }

  std::error_code open_for_reading(const std::filesystem::path& path,
                                   std::unique_ptr<ReadableFile>& file,
                                   FileStatus& status) override;
  std::error_code create_temporary(const std::filesystem::path& target,
                                   std::unique_ptr<WritableFile>& file,
                                   std::filesystem::path& temporary) override;
  std::error_code remove_input(const std::filesystem::path& path, const FileStatus& converted,
                               bool& another_file) override;

 private:
  std::array<std::size_t, kCallKinds> counts_{};
  Call fault_call_ = Call::open_for_reading;
  std::size_t fault_ordinal_ = 0;
  std::error_code fault_error_;
  bool fault_fired_ = false;
  bool after_some_data_ = false;
};

}  // namespace kestrune::test
