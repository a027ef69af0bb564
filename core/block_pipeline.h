// Reading, coding and writing a file block by block. With more than one
// block of input, writing runs on a thread of its own while the calling
// thread reads (and reports progress). A fast cipher is coded on the reading
// thread too, so two threads share two cores without preempting each other;
// where its key allows, the writer codes the blocks it would otherwise wait
// for, so the two threads share the coding. A slow cipher gets coding
// threads of its own, taking alternate blocks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>

#include "core/container.h"
#include "core/crypto/crypto_service.h"
#include "core/outcome.h"

namespace kestrune {

// One block on its way through: memory allocated once and reused.
// Left uninitialised, so that pages a small file never touches cost nothing.
struct Block {
  static constexpr std::size_t kSize = std::size_t{1} << 19;
  // The most records a block can hold: bodies of one cipher block.
  static constexpr std::size_t kMaxRecords = kSize / kMinRecordSize + 1;
  std::unique_ptr<std::uint8_t[]> byte_storage =
      std::make_unique_for_overwrite<std::uint8_t[]>(kSize);
  std::unique_ptr<RecordSlot[]> slot_storage =
      std::make_unique_for_overwrite<RecordSlot[]>(kMaxRecords);
  std::span<std::uint8_t> bytes{byte_storage.get(), kSize};
  std::span<RecordSlot> record_slots{slot_storage.get(), kMaxRecords};
  std::size_t records = 0;
  std::uint64_t input_bytes = 0;  // how much of the input this block holds
  std::size_t output_bytes = 0;   // what to write, from the block's start
  bool last = false;              // no block follows
};

// Enough blocks for one to be read, two coded and one written at once.
inline constexpr std::size_t kPipelineDepth = 4;

struct PipelineStages {
  std::function<Outcome(Block&)> read;
  std::function<Outcome(Block&)> code;
  std::function<Outcome(Block&)> write;
  // Told the input bytes coded so far; false asks to stop.
  std::function<bool(std::uint64_t done)> progress;
  // What running out of memory in any stage ends the file with.
  Failure out_of_memory;
};

// Which threads a file's conversion uses besides the calling one.
struct Overlap {
  bool write_behind = false;  // false: everything in turn on the calling thread
  std::size_t coders = 0;     // 0: the reading thread codes
  bool writer_codes = false;  // with no coders: the writer codes blocks it awaits
};

// Runs the stages over every block of a file, in order.
Outcome run_pipeline(std::span<Block> blocks, const PipelineStages& stages, Overlap overlap);

}  // namespace kestrune
