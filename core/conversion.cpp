#include "core/conversion.h"

#include <ctime>
#include <new>
#include <thread>

#include "core/files/file_errors.h"
#include "core/key_context.h"

namespace kestrune {
namespace {

class BusyGuard {
 public:
  explicit BusyGuard(FrontEnd& front_end) : front_end_(front_end) { front_end_.set_busy(true); }
  BusyGuard(const BusyGuard&) = delete;
  BusyGuard& operator=(const BusyGuard&) = delete;
  ~BusyGuard() { front_end_.set_busy(false); }

 private:
  FrontEnd& front_end_;
};

// A temporary that could not be removed, for the front end to name.
struct LeftTemporary {
  std::filesystem::path path;
  std::error_code cause;
};

// The output under construction. Unless it was renamed into place, it is
// removed when this goes away, so no failure leaves a partial file behind;
// one that cannot be removed is noted in `left`.
class TemporaryOutput {
 public:
  TemporaryOutput(FileSystem& file_system, LeftTemporary& left)
      : file_system_(file_system), left_(left) {}
  TemporaryOutput(const TemporaryOutput&) = delete;
  TemporaryOutput& operator=(const TemporaryOutput&) = delete;
  ~TemporaryOutput() {
    if (file_ == nullptr || renamed_) return;
    if (auto error = file_->discard()) left_ = {path_, error};
  }

  std::error_code create(const std::filesystem::path& target) {
    return file_system_.create_temporary(target, file_, path_);
  }

  WritableFile& file() { return *file_; }

  // Puts the output's bytes on disk.
  std::error_code finish() { return file_->sync(); }

  // Puts the finished output under its final name, durably, making sure
  // both names led to it: no name swapped for a link is renamed or kept.
  // Only then does it get the input's owner, mode and access rules: until
  // it has its final name it stays its owner's alone, so a temporary left
  // by a failure never shows its contents to anyone else. A name taken
  // that must not be replaced fails as FileError::output_exists.
  std::error_code place(const FileStatus& input, bool replace_existing) {
    if (auto error = file_->check_name()) return error;
    if (auto error = file_->rename_into_place(replace_existing))
      return !replace_existing && error == std::errc::file_exists ? FileError::output_exists
                                                                  : error;
    renamed_ = true;
    if (auto error = file_->check_name()) return error;
    if (auto error = file_->take_permissions(input)) return error;
    if (auto error = file_->close()) return error;
    return file_->sync_folder();
  }

 private:
  FileSystem& file_system_;
  LeftTemporary& left_;
  std::unique_ptr<WritableFile> file_;
  std::filesystem::path path_;
  bool renamed_ = false;
};

// An edit saved in place while the input was read, even one that keeps its
// size, must not be lost with the input: it fails as `failure`, saying so.
Outcome check_unchanged(ReadableFile& input, const FileStatus& opened, Failure failure) {
  FileStatus now;
  if (auto error = input.status(now)) return Outcome::failed(failure, error);
  const bool unchanged =
      now.size == opened.size && now.modified == opened.modified && now.changed == opened.changed;
  return unchanged ? Outcome::done() : Outcome::failed(failure, FileError::changed_while_read);
}

// Removes the converted input, or tells the front end why its contents
// stay. The platform cannot delete a read-only file and keeps it; Linux
// would delete it regardless of its mode, so the mode decides here. A link
// stays with the file it leads to. A name that now leads to another file
// than the one converted is kept too: that file was put there by someone
// else while we worked.
void remove_input(FileSystem& file_system, FrontEnd& front_end, const std::filesystem::path& input,
                  const FileStatus& converted) {
  if (converted.read_only) return front_end.input_kept(kKeptReadOnly, {});
  if (converted.through_symbolic_link) return front_end.input_kept(kKeptBehindLink, {});
  bool another_file = false;
  if (auto error = file_system.remove_input(input, converted, another_file))
    return front_end.input_kept(kKeptUnremovable, error);
  if (another_file) return front_end.input_kept(kKeptReplaced, {});
  if (converted.links > 1) front_end.input_kept(kKeptOtherLinks, {});
}

// The steps of a conversion; `stage` says what a failure now would be.
Outcome convert_steps(ConversionEnv& env, const ConversionPlan& plan, std::u16string_view password,
                      Failure& stage, LeftTemporary& left) {
  FileSystem& file_system = env.file_system;
  const DirectionTexts& texts = plan.texts;
  std::unique_ptr<ReadableFile> input;
  FileStatus status;
  if (auto error = file_system.open_for_reading(plan.input, input, status))
    return Outcome::failed(texts.open_input, error);
  const bool writes_output = plan.output_name_for != nullptr;
  TemporaryOutput output(file_system, left);
  if (writes_output)
    if (auto error = output.create(plan.output_name_for(plan.input)))
      return Outcome::failed(texts.open_output, error);
  const Choices choices = env.choices.current();
  std::unique_ptr<RecordKey> key;
  if (auto error = derive_file_key(password, choices, env.crypto_service, key))
    return Outcome::failed(texts.start, error);
  const RecordCipher coding{*key, choices, block_size(choices.cipher)};
  RecordStreams streams{*input, writes_output ? &output.file() : nullptr, plan.input, status.size};
  stage = texts.data;
  if (Outcome coded = plan.code_records(env, streams, coding); !coded.ok()) return coded;
  if (!writes_output) return Outcome::done();
  stage = texts.write;
  if (auto error = output.finish()) return Outcome::failed(texts.write, error);
  if (Outcome unchanged = check_unchanged(*input, status, texts.read); !unchanged.ok())
    return unchanged;
  if (auto error = output.place(status, env.replace_existing_output))
    return Outcome::failed(error == FileError::output_exists ? kOutputExists : texts.write, error);
  if (env.keep_inputs) return Outcome::done();
  input.reset();  // Windows cannot delete a file that is still open
  remove_input(file_system, env.front_end, plan.input, status);
  return Outcome::done();
}

// Running out of memory ends the file as a failure of the step it hit;
// unwinding has removed the temporary and closed everything by then.
Outcome run_conversion(ConversionEnv& env, const ConversionPlan& plan, std::u16string_view password,
                       LeftTemporary& left) {
  Failure stage = plan.texts.start;
  try {
    return convert_steps(env, plan, password, stage, left);
  } catch (const std::bad_alloc&) {
    return Outcome::out_of_memory(stage);
  }
}

// Threads pay off only past one block. A fast cipher is coded by the reader
// and, where its key can code on two threads at once, by the writer too. A
// slow cipher is coded on threads of its own, two where its key allows.
Overlap overlap_for(std::uint64_t input_size, const RecordCipher& coding) {
  if (input_size <= Block::kSize) return {};
  if (!is_slow_cipher(coding.choices.cipher)) return {true, 0, coding.key.works_on_two_threads()};
  const bool second_coder =
      coding.key.works_on_two_threads() && std::thread::hardware_concurrency() > 1;
  return {true, second_coder ? 2u : 1u};
}

}  // namespace

std::int64_t system_clock_seconds() { return static_cast<std::int64_t>(std::time(nullptr)); }

void ConversionBlocksDeleter::operator()(ConversionBlocks* blocks) const { delete blocks; }

ConversionBlocksPtr allocate_conversion_blocks() {
  return ConversionBlocksPtr(new ConversionBlocks);
}

Outcome convert_file(ConversionEnv& env, const ConversionPlan& plan, std::u16string_view password) {
  BusyGuard busy(env.front_end);
  LeftTemporary left;
  const Outcome outcome = run_conversion(env, plan, password, left);
  if (outcome.kind == Outcome::Kind::failed) env.front_end.show_failure(outcome);
  if (!left.path.empty()) env.front_end.temporary_left(left.path, left.cause);
  return outcome;
}

std::error_code read_fully(ReadableFile& file, std::span<std::uint8_t> buffer,
                           std::size_t& bytes_read) {
  bytes_read = 0;
  while (bytes_read < buffer.size()) {
    std::size_t got = 0;
    if (auto error = file.read(buffer.subspan(bytes_read), got)) return error;
    if (got == 0) break;
    bytes_read += got;
  }
  return {};
}

Outcome write_block(WritableFile* output, const Block& block, Failure failure) {
  if (output == nullptr || block.output_bytes == 0) return Outcome::done();
  if (auto error = output->write({block.bytes.data(), block.output_bytes}))
    return Outcome::failed(failure, error);
  return Outcome::done();
}

Outcome run_stages(ConversionEnv& env, const RecordStreams& streams, const RecordCipher& coding,
                   PipelineStages stages) {
  stages.progress = [&env, &streams](std::uint64_t done) {
    env.front_end.progress(streams.input_path, done, streams.input_size);
    return !env.front_end.cancel_requested();
  };
  return run_pipeline(env.blocks->blocks, stages, overlap_for(streams.input_size, coding));
}

}  // namespace kestrune
