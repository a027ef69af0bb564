#include "block_pipeline.h"

#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>

namespace kestrune {
namespace {

Outcome run_in_turn(Block& block, const PipelineStages& stages) {
  std::uint64_t done = 0;
  for (;;) {
    for (const auto* stage : {&stages.read, &stages.code, &stages.write})
      if (Outcome outcome = (*stage)(block); !outcome.ok()) return outcome;
    done += block.input_bytes;
    if (!stages.progress(done)) return Outcome::cancelled();
    if (block.last) return Outcome::done();
  }
}

// Hands blocks from stage to stage: each block's state says which stage may
// take it next. The first failure stops every stage.
class Ring {
 public:
  enum class State { free, read, coded };

  explicit Ring(std::size_t size) : states_(size, State::free) {}

  // Waits until block `index` is in `state`; false when stopped instead.
  bool wait_for(std::size_t index, State state) {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return stopped_ || states_[index] == state; });
    return !stopped_;
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
  bool stopped_ = false;
  Outcome first_stop_;
};

// Runs `stage` over blocks in ring order: waits for each block to reach
// `from`, passes it on as `to`, and ends after the last block.
void run_stage(std::span<Block> blocks, Ring& ring, const std::function<Outcome(Block&)>& stage,
               Ring::State from, Ring::State to) {
  for (std::size_t index = 0;; index = (index + 1) % blocks.size()) {
    if (!ring.wait_for(index, from)) return;
    if (Outcome outcome = stage(blocks[index]); !outcome.ok()) {
      ring.stop(outcome);
      return;
    }
    const bool last = blocks[index].last;
    ring.set(index, to);
    if (last) return;
  }
}

void code_blocks(std::span<Block> blocks, Ring& ring, const PipelineStages& stages) {
  std::uint64_t done = 0;
  for (std::size_t index = 0;; index = (index + 1) % blocks.size()) {
    if (!ring.wait_for(index, Ring::State::read)) return;
    Block& block = blocks[index];
    if (Outcome outcome = stages.code(block); !outcome.ok()) return ring.stop(outcome);
    done += block.input_bytes;
    const bool last = block.last;
    ring.set(index, Ring::State::coded);
    if (!stages.progress(done)) return ring.stop(Outcome::cancelled());
    if (last) return;
  }
}

}  // namespace

Outcome run_pipeline(std::span<Block> blocks, const PipelineStages& stages, bool overlap) {
  if (!overlap || blocks.size() < 2) return run_in_turn(blocks[0], stages);
  Ring ring(blocks.size());
  std::thread writer;
  std::thread reader;
  try {
    // The writer waits for coded blocks, so it can start before anything is
    // read; if the reader cannot start, nothing has been read yet either.
    writer = std::thread(run_stage, blocks, std::ref(ring), std::cref(stages.write),
                         Ring::State::coded, Ring::State::free);
    reader = std::thread(run_stage, blocks, std::ref(ring), std::cref(stages.read),
                         Ring::State::free, Ring::State::read);
  } catch (const std::system_error&) {
    if (writer.joinable()) {
      ring.stop(Outcome::done());
      writer.join();
    }
    return run_in_turn(blocks[0], stages);
  }
  code_blocks(blocks, ring, stages);
  reader.join();
  writer.join();
  return ring.result();
}

}  // namespace kestrune
