#include "tests/ui_qt/scripted_core.h"

#include <chrono>

namespace kestrune::test {

qt::DropConverter ScriptedCore::converter() {
  return [this](ConversionEnv& env, std::u16string_view password,
                std::span<const std::filesystem::path> paths) { convert(env, password, paths); };
}

void ScriptedCore::hold(const std::filesystem::path& path) {
  std::lock_guard lock(mutex_);
  held_.insert(path);
}

void ScriptedCore::release() {
  {
    std::lock_guard lock(mutex_);
    released_ = true;
  }
  released_changed_.notify_all();
}

void ScriptedCore::fail(const std::filesystem::path& path, Failure failure, std::error_code cause) {
  std::lock_guard lock(mutex_);
  failures_[path] = Outcome::failed(failure, cause);
}

std::vector<ScriptedCore::Call> ScriptedCore::calls() const {
  std::lock_guard lock(mutex_);
  return calls_;
}

std::vector<std::filesystem::path> ScriptedCore::converted_paths() const {
  std::vector<std::filesystem::path> paths;
  for (const Call& call : calls()) paths.insert(paths.end(), call.paths.begin(), call.paths.end());
  return paths;
}

bool ScriptedCore::is_converting(const std::filesystem::path& path) const {
  std::lock_guard lock(mutex_);
  return running_ > 0 && converting_ == path;
}

bool ScriptedCore::overlapped() const {
  std::lock_guard lock(mutex_);
  return overlapped_;
}

bool ScriptedCore::was_cancelled() const {
  std::lock_guard lock(mutex_);
  return cancelled_;
}

void ScriptedCore::convert(ConversionEnv& env, std::u16string_view password,
                           std::span<const std::filesystem::path> paths) {
  {
    std::lock_guard lock(mutex_);
    overlapped_ = overlapped_ || running_ > 0;
    ++running_;
    calls_.push_back({std::u16string(password),
                      {paths.begin(), paths.end()},
                      env.choices.hash(),
                      env.choices.cipher()});
  }
  for (const std::filesystem::path& path : paths) {
    bool held = false;
    std::optional<Outcome> failure;
    {
      std::lock_guard lock(mutex_);
      converting_ = path;
      held = held_.contains(path);
      if (const auto found = failures_.find(path); found != failures_.end())
        failure = found->second;
    }
    if (held) {
      env.front_end.progress(path, 50, 100);
      wait_for_release(env);
    }
    if (failure) env.front_end.show_failure(*failure);
  }
  std::lock_guard lock(mutex_);
  --running_;
}

// Polls for cancellation as the core does between blocks.
void ScriptedCore::wait_for_release(ConversionEnv& env) {
  std::unique_lock lock(mutex_);
  while (!released_ && !cancelled_) {
    released_changed_.wait_for(lock, std::chrono::milliseconds(5));
    cancelled_ = env.front_end.cancel_requested();
  }
}

}  // namespace kestrune::test
