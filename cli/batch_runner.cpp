#include "cli/batch_runner.h"

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <span>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "cli/cli_front_end.h"
#include "cli/file_action.h"
#include "cli/progress_line.h"
#include "cli/stop_signals.h"
#include "core/container_names.h"
#include "core/kestrune.h"
#include "core/messages.h"
#include "core/services.h"

namespace kestrune {
namespace {

// Files finished while an earlier one still converts wait with their lines;
// past this many, no more start, so one slow file cannot make the lines of
// all the others pile up.
constexpr std::size_t kMostWaitingFiles = 1024;

// Each file under way holds a slot of the stop signals' for its temporary.
static_assert(kMostJobs <= kMostFollowedTemporaries);

// Says why each of `paths` cannot start when memory has run out; how many.
// Naming them needs memory too: when even that fails, one line says so
// without any.
int report_unstartable(std::span<const PlannedPath> paths, CliFrontEnd& front_end) {
  try {
    for (const PlannedPath& planned : paths) {
      front_end.start_file(planned.path);
      const Failure start =
          is_container_name(planned.path) ? kCantStartDecryption : kCantStartEncryption;
      front_end.show_failure(Outcome::out_of_memory(start));
    }
  } catch (const std::bad_alloc&) {
    std::fputs("kestrune-cli: out of memory\n", stderr);
  }
  return static_cast<int>(paths.size());
}

// What converts one file after another: a front end and the blocks.
struct Converter {
  Converter(const CliOptions& options, FileSystem& file_system, BatchProgressLine* batch,
            bool show_progress)
      : front_end(batch != nullptr ? CliFrontEnd(options.quiet, *batch)
                                   : CliFrontEnd(options.quiet, show_progress)),
        env{file_system, native_crypto_service(), front_end} {
    env.keep_inputs = options.keep;
    env.replace_existing_output = options.force;
    env.choices.set_hash(options.hash);
    env.choices.set_cipher(options.cipher);
  }

  CliFrontEnd front_end;
  ConversionEnv env;
};

// What a finished file leaves to print once every file before it has.
struct FinishedFile {
  std::string lines;
  bool failed = false;
};

class Batch {
 public:
  Batch(const CliOptions& options, std::span<const PlannedPath> paths,
        std::u16string_view password, bool show_progress)
      : options_(options),
        paths_(paths),
        password_(password),
        jobs_(std::min<std::size_t>(options.jobs, paths.size())),
        show_progress_(show_progress),
        progress_(show_progress && jobs_ > 1, paths.size()) {}

  int run(FileSystem& file_system);

 private:
  std::vector<std::unique_ptr<Converter>> make_converters(FileSystem& file_system);
  void convert_with(Converter& converter);
  void convert(Converter& converter, std::size_t index);
  std::optional<std::size_t> take_path();
  void finish(std::size_t index, FinishedFile finished);
  void run_out_of_memory();
  int report_unstarted();

  const CliOptions& options_;
  std::span<const PlannedPath> paths_;
  std::u16string_view password_;
  std::size_t jobs_;
  bool show_progress_;
  BatchProgressLine progress_;
  std::mutex mutex_;  // guards what follows
  std::condition_variable room_to_wait_;
  std::size_t next_to_start_ = 0;
  std::size_t first_unprinted_ = 0;
  // From first_unprinted_ on, each path started; filled once it finishes.
  std::deque<std::optional<FinishedFile>> unprinted_;
  bool out_of_memory_ = false;
  int failures_ = 0;
};

// As many as the jobs, fewer when memory runs out: each holds its blocks.
// With one job its front end prints as things happen, as it always did.
std::vector<std::unique_ptr<Converter>> Batch::make_converters(FileSystem& file_system) {
  std::vector<std::unique_ptr<Converter>> converters;
  BatchProgressLine* batch = jobs_ > 1 ? &progress_ : nullptr;
  try {
    while (converters.size() < jobs_)
      converters.push_back(
          std::make_unique<Converter>(options_, file_system, batch, show_progress_));
  } catch (const std::bad_alloc&) {
  }
  return converters;
}

int Batch::run(FileSystem& file_system) {
  const std::vector<std::unique_ptr<Converter>> converters = make_converters(file_system);
  if (converters.empty()) {
    CliFrontEnd front_end(options_.quiet, false);
    return report_unstartable(paths_, front_end);
  }
  {
    std::vector<std::jthread> threads;
    try {
      for (std::size_t i = 1; i < converters.size(); ++i)
        threads.emplace_back([this, &converter = *converters[i]] { convert_with(converter); });
    } catch (const std::system_error&) {  // fewer threads do the same work
    } catch (const std::bad_alloc&) {
    }
    convert_with(*converters.front());
  }
  progress_.clear();
  return failures_ + report_unstarted();
}

// Nothing may escape a thread: memory that runs out between files stops
// the batch as it stops a single conversion.
void Batch::convert_with(Converter& converter) {
  try {
    while (const std::optional<std::size_t> index = take_path()) convert(converter, *index);
  } catch (const std::bad_alloc&) {
    run_out_of_memory();
  }
}

// A file whose conversion ran out of memory around it did not start, as
// far as anyone can tell.
void Batch::convert(Converter& converter, std::size_t index) {
  const PlannedPath& path = paths_[index];
  FinishedFile finished;
  try {
    const Outcome outcome = act_on_file(options_, converter.env, converter.front_end, path,
                                        password_);
    finished.failed = outcome.kind == Outcome::Kind::failed;
  } catch (const std::bad_alloc&) {
    report_unstartable({&path, 1}, converter.front_end);
    finished.failed = true;
    run_out_of_memory();
  }
  finished.lines = converter.front_end.take_lines();
  finish(index, std::move(finished));
}

// The next path to convert, once there is room for its lines to wait;
// none when every path has started or none may start any more.
std::optional<std::size_t> Batch::take_path() {
  std::unique_lock lock(mutex_);
  room_to_wait_.wait(lock, [this] { return unprinted_.size() < kMostWaitingFiles; });
  if (next_to_start_ == paths_.size() || out_of_memory_ || stop_signal() != 0)
    return std::nullopt;
  unprinted_.emplace_back();
  return next_to_start_++;
}

// Prints the lines of every file finished with all those before it.
void Batch::finish(std::size_t index, FinishedFile finished) {
  const std::lock_guard lock(mutex_);
  if (finished.failed) ++failures_;
  progress_.file_done();
  unprinted_[index - first_unprinted_] = std::move(finished);
  while (!unprinted_.empty() && unprinted_.front().has_value()) {
    progress_.print(unprinted_.front()->lines);
    unprinted_.pop_front();
    ++first_unprinted_;
  }
  room_to_wait_.notify_all();
}

void Batch::run_out_of_memory() {
  const std::lock_guard lock(mutex_);
  out_of_memory_ = true;
}

// The paths memory left unstarted; a stop signal leaves the rest unnamed.
int Batch::report_unstarted() {
  if (!out_of_memory_) return 0;
  CliFrontEnd front_end(options_.quiet, false);
  return report_unstartable(paths_.subspan(next_to_start_), front_end);
}

}  // namespace

int convert_in_batch(const CliOptions& options, std::span<const PlannedPath> paths,
                     FileSystem& file_system, std::u16string_view password) {
  Batch batch(options, paths, password, options.progress && stderr_redraws_in_place());
  return batch.run(file_system);
}

}  // namespace kestrune
