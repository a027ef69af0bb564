// Stands in for the core's dispatch in dialog tests: records what each call
// was given and, per file, can hold the conversion (as a large file would)
// or report a failure through the front end (as an unreadable file would).
#pragma once

#include <condition_variable>
#include <filesystem>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "core/algorithms.h"
#include "core/messages.h"
#include "ui/qt/conversion_worker.h"

namespace kestrune::test {

class ScriptedCore {
 public:
  struct Call {
    std::u16string password;
    std::vector<std::filesystem::path> paths;
    HashAlgorithm hash;
    CipherAlgorithm cipher;
  };

  // The converter to give the dialog; it must not outlive this object.
  qt::DropConverter converter();

  // The conversion of `path` reports 50 % and then waits for release() (or
  // for the front end to cancel it).
  void hold(const std::filesystem::path& path);
  void release();
  // The conversion of `path` shows `failure`, with `cause`, through the
  // front end.
  void fail(const std::filesystem::path& path, Failure failure, std::error_code cause = {});

  std::vector<Call> calls() const;
  // Every path handed over so far, in order.
  std::vector<std::filesystem::path> converted_paths() const;
  bool is_converting(const std::filesystem::path& path) const;
  // True if a conversion ever started while another was running.
  bool overlapped() const;
  // True if a held conversion ended because the front end cancelled it.
  bool was_cancelled() const;

 private:
  void convert(ConversionEnv& env, std::u16string_view password,
               std::span<const std::filesystem::path> paths);
  void wait_for_release(ConversionEnv& env);

  mutable std::mutex mutex_;
  std::condition_variable released_changed_;
  std::vector<Call> calls_;
  std::set<std::filesystem::path> held_;
  std::map<std::filesystem::path, Outcome> failures_;
  std::filesystem::path converting_;
  bool released_ = false;
  bool overlapped_ = false;
  bool cancelled_ = false;
  int running_ = 0;
};

}  // namespace kestrune::test
