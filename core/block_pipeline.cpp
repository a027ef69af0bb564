#include "core/block_pipeline.h"

#include <condition_variable>
#include <mutex>
#include <new>
#include <optional>
#include <system_error>
#include <thread>

namespace kestrune {
namespace {

Outcome run_blocks_in_turn(Block& block, const PipelineStages& stages) {
  std::uint64_t done = 0;
  for (;;) {
    for (const auto* stage : {&stages.read, &stages.code, &stages.write})
      if (Outcome outcome = (*stage)(block); !outcome.ok()) return outcome;
    done += block.input_bytes;
    if (!stages.progress(done)) return Outcome::cancelled();
    if (block.last) return Outcome::done();
  }
}

// Memory running out in a stage ends the file as a failure of its coding;
// nothing may escape a thread.
Outcome run_in_turn(Block& block, const PipelineStages& stages) {
  try {
    return run_blocks_in_turn(block, stages);
  } catch (const std::bad_alloc&) {
    return Outcome::out_of_memory(stages.out_of_memory);
  }
}

// Hands blocks from stage to stage: each block's state says which stage may
// take it next. The first failure stops every stage.
class Ring {
 public:
  enum class State { free, read, coded };

  explicit Ring(std::size_t size) : states_(size, State::free), waiting_(size, 0) {}

  // Waits until block `index` is in `state`; false when stopped instead.
  bool wait_for(std::size_t index, State state) {
    return wait_for_either(index, state, state).has_value();
  }

  // Waits until block `index` is in one of two states; which one, or none
  // when stopped instead.
  std::optional<State> wait_for_either(std::size_t index, State first, State second) {
    std::unique_lock lock(mutex_);
    ++waiting_[index];
    changed_.wait(lock,
                  [&] { return stopped_ || states_[index] == first || states_[index] == second; });
    --waiting_[index];
    if (stopped_) return std::nullopt;
    return states_[index];
  }

  // Passes block `index` on as read, not coded, if another thread is
  // waiting for it right now: that thread is idle and can code it.
  bool hand_over_if_awaited(std::size_t index) {
    {
      std::lock_guard lock(mutex_);
      if (waiting_[index] == 0) return false;
      states_[index] = State::read;
    }
    changed_.notify_all();
    return true;
  }

  void set(std::size_t index, State state) {
    {
      std::lock_guard lock(mutex_);
      states_[index] = state;
    }
    changed_.notify_all();
  }

  void stop(const Outcome& outcome) {
    {
      std::lock_guard lock(mutex_);
      if (!stopped_) first_stop_ = outcome;
      stopped_ = true;
    }
    changed_.notify_all();
  }

  Outcome result() {
    std::lock_guard lock(mutex_);
    return stopped_ ? first_stop_ : Outcome::done();
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<State> states_;
  std::vector<std::size_t> waiting_;  // threads waiting for each block
  bool stopped_ = false;
  Outcome first_stop_;
};

// Codes every `stride`-th block from `first`, in ring order, as each is
// read; ends after the last block of the file.
void code_own_blocks(std::span<Block> blocks, Ring& ring, const PipelineStages& stages,
                     std::size_t first, std::size_t stride) {
  for (std::size_t index = first;; index = (index + stride) % blocks.size()) {
    if (!ring.wait_for(index, Ring::State::read)) return;
    if (Outcome outcome = stages.code(blocks[index]); !outcome.ok()) return ring.stop(outcome);
    const bool last = blocks[index].last;
    ring.set(index, Ring::State::coded);
    if (last) return;
  }
}

// Reads every block, and codes it too when no coder thread will, unless
// the writer may code it and is already waiting for it.
void read_all_blocks(std::span<Block> blocks, Ring& ring, const PipelineStages& stages,
                     Overlap overlap) {
  const bool code = overlap.coders == 0;
  std::uint64_t done = 0;
  for (std::size_t index = 0;; index = (index + 1) % blocks.size()) {
    if (!ring.wait_for(index, Ring::State::free)) return;
    Block& block = blocks[index];
    if (Outcome outcome = stages.read(block); !outcome.ok()) return ring.stop(outcome);
    done += block.input_bytes;
    const bool last = block.last;
    if (!(code && overlap.writer_codes && ring.hand_over_if_awaited(index))) {
      if (code)
        if (Outcome outcome = stages.code(block); !outcome.ok()) return ring.stop(outcome);
      ring.set(index, code ? Ring::State::coded : Ring::State::read);
    }
    if (!stages.progress(done)) return ring.stop(Outcome::cancelled());
    if (last) return;
  }
}

// Writes every block in ring order, first coding any the reader handed over
// uncoded; the writer takes read blocks only when no coder thread runs.
void write_all_blocks(std::span<Block> blocks, Ring& ring, const PipelineStages& stages,
                      bool writer_codes) {
  const Ring::State uncoded = writer_codes ? Ring::State::read : Ring::State::coded;
  for (std::size_t index = 0;; index = (index + 1) % blocks.size()) {
    const auto state = ring.wait_for_either(index, Ring::State::coded, uncoded);
    if (!state) return;
    Block& block = blocks[index];
    if (*state == Ring::State::read)
      if (Outcome outcome = stages.code(block); !outcome.ok()) return ring.stop(outcome);
    if (Outcome outcome = stages.write(block); !outcome.ok()) return ring.stop(outcome);
    const bool last = block.last;
    ring.set(index, Ring::State::free);
    // Once the last block is written, a second coder still waiting for a
    // block of its own must be let go.
    if (last) return ring.stop(Outcome::done());
  }
}

// A stage loop as a thread runs it: nothing may escape a thread, so running
// out of memory stops the ring as a failure of that stage.
template <auto loop, typename... Rest>
void stop_when_out_of_memory(std::span<Block> blocks, Ring& ring, const PipelineStages& stages,
                             Rest... rest) {
  try {
    loop(blocks, ring, stages, rest...);
  } catch (const std::bad_alloc&) {
    ring.stop(Outcome::out_of_memory(stages.out_of_memory));
  }
}

// Threads that always end: the ring's stop releases any that wait.
class StageThreads {
 public:
  StageThreads() = default;
  StageThreads(const StageThreads&) = delete;
  StageThreads& operator=(const StageThreads&) = delete;
  ~StageThreads() {
    for (std::thread& thread : threads_) thread.join();
  }

  // False when the system has no thread to give; nothing has run then.
  template <typename... Arguments>
  bool start(Arguments&&... arguments) {
    try {
      threads_.emplace_back(std::forward<Arguments>(arguments)...);
      return true;
    } catch (const std::system_error&) {
      return false;
    } catch (const std::bad_alloc&) {
      return false;
    }
  }

 private:
  std::vector<std::thread> threads_;
};

}  // namespace

Outcome run_pipeline(std::span<Block> blocks, const PipelineStages& stages, Overlap overlap) {
  if (!overlap.write_behind) return run_in_turn(blocks[0], stages);
  Ring ring(blocks.size());
  bool started = true;
  {
    StageThreads threads;
    // CipherContexts and the writer wait for blocks that are read, so they can start
    // first; when one cannot start, nothing has been read yet.
    started = threads.start(stop_when_out_of_memory<write_all_blocks, bool>, blocks, std::ref(ring),
                            std::cref(stages), overlap.coders == 0 && overlap.writer_codes);
    for (std::size_t coder = 0; started && coder < overlap.coders; ++coder)
      started = threads.start(stop_when_out_of_memory<code_own_blocks, std::size_t, std::size_t>,
                              blocks, std::ref(ring), std::cref(stages), coder, overlap.coders);
    if (started)
      stop_when_out_of_memory<read_all_blocks>(blocks, ring, stages, overlap);
    else
      ring.stop(Outcome::done());
  }
  return started ? ring.result() : run_in_turn(blocks[0], stages);
}

}  // namespace kestrune
