// Internal to the core: the frame every conversion shares. Open the input,
// create a temporary output beside the final name, derive the key, code the
// records block by block, then flush, rename into place and only then
// remove the input.
// Every failure path releases everything before its message is shown, so
// nothing is half-done while the user reads it.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <span>
#include <string_view>

#include "core/block_pipeline.h"
#include "core/crypto/crypto_service.h"
#include "core/kestrune.h"
#include "core/messages.h"

namespace kestrune {

// The blocks an environment's conversions pass through the pipeline.
struct ConversionBlocks {
  std::array<Block, kPipelineDepth> blocks{};
};

// The open files of one conversion, as the record loop sees them. A check
// of the records alone has no output.
struct RecordStreams {
  ReadableFile& input;
  WritableFile* output;
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

// What one file's records are coded with, fixed when its conversion starts:
// the open key, the choices it was made for and the cipher's block size.
struct RecordCipher {
  RecordKey& key;
  Choices choices;
  std::size_t cipher_block;
};

// Nothing here allocates, so running out of memory is caught inside the
// conversion, as a failure of the step it hit.
struct ConversionPlan {
  const std::filesystem::path& input;
  // Null to only check the records: nothing is created and the input stays.
  std::filesystem::path (*output_name_for)(const std::filesystem::path& input);
  const DirectionTexts& texts;
  // Codes every record of the open streams.
  std::function<Outcome(ConversionEnv&, RecordStreams&, const RecordCipher&)> code_records;
};

// Runs `plan` with the wait cursor shown, shows its failure, if any, and
// returns how it ended.
Outcome convert_file(ConversionEnv& env, const ConversionPlan& plan, std::u16string_view password);

// Reads until `buffer` is full or the file ends; `bytes_read` says how far.
std::error_code read_fully(ReadableFile& file, std::span<std::uint8_t> buffer,
                           std::size_t& bytes_read);

// Writes what coding a block produced, if there is an output; `failure`
// when the output refuses it.
Outcome write_block(WritableFile* output, const Block& block, Failure failure);

// Runs a direction's stages over the whole file, overlapping I/O with the
// coding when the file spans several blocks, and reporting progress.
Outcome run_stages(ConversionEnv& env, const RecordStreams& streams, const RecordCipher& coding,
                   PipelineStages stages);

}  // namespace kestrune
