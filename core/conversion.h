// The frame every conversion shares: open the input, create a temporary
// output beside the final name, open the key context, code the records block
// by block, then flush, rename into place and only then remove the input.
// Every failure path releases everything before its message is shown, so
// nothing is half-done while the user reads it.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <span>
#include <string_view>
#include <vector>

#include "block_pipeline.h"
#include "crypto_service.h"
#include "file_system.h"
#include "front_end.h"
#include "messages.h"

namespace kestrune {

// Seconds since the epoch; injectable so tests can pin the chunk layout.
using Clock = std::function<std::int64_t()>;
std::int64_t system_clock_seconds();

// What conversions run against: the file-system seam, the front end, the
// clock, the crypto back end and the block memory (allocated once here, so
// a front end makes one and keeps it).
struct ConversionEnv {
  FileSystem& file_system;
  FrontEnd& front_end;
  Clock clock = system_clock_seconds;
  CryptoService& crypto_service = native_crypto_service();
  std::array<Block, kPipelineDepth> blocks{};
};

// The two open files of one conversion, as the record loop sees them.
struct RecordStreams {
  ReadableFile& input;
  WritableFile& output;
  const std::filesystem::path& input_path;
  std::uint64_t input_size;
};

// The texts of one direction's failures.
struct DirectionTexts {
  Failure open_input;
  Failure open_output;
  Failure start;
  Failure read;
  Failure data;
  Failure write;
};

// Nothing here allocates, so running out of memory is caught inside the
// conversion, as a failure of the step it hit.
struct ConversionPlan {
  const std::filesystem::path& input;
  std::filesystem::path (*output_name_for)(const std::filesystem::path& input);
  const DirectionTexts& texts;
  // Codes every record with the open key context.
  std::function<Outcome(ConversionEnv&, RecordStreams&)> code_records;
};

// Runs `plan` with the wait cursor shown and reports its failure, if any.
void convert_file(ConversionEnv& env, const ConversionPlan& plan, std::u16string_view password);

// Reads until `buffer` is full or the file ends; `bytes_read` says how far.
std::error_code read_fully(ReadableFile& file, std::span<std::uint8_t> buffer,
                           std::size_t& bytes_read);

// Writes what coding a block produced; `failure` when the output refuses it.
Outcome write_block(WritableFile& output, const Block& block, Failure failure);

// Runs a direction's stages over the whole file, overlapping I/O with the
// coding when the file spans several blocks, and reporting progress.
Outcome run_stages(ConversionEnv& env, const RecordStreams& streams, PipelineStages stages);

}  // namespace kestrune
