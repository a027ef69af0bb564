// Record coding in memory, per cipher, direction and back end: one 1 MiB
// block of records with chunk lengths drawn as a conversion draws them, coded
// by one batch call. Bytes per second count plain bytes.
#include <benchmark/benchmark.h>

#include <random>
#include <string>
#include <vector>

#include "core/algorithms.h"
#include "core/container.h"
#include "core/crypto/crypto_service_openssl.h"
#include "core/padding.h"
#include "core/services.h"

namespace kestrune {
namespace {

constexpr std::size_t kBlockBytes = std::size_t{1} << 20;

struct BlockOfRecords {
  std::vector<std::uint8_t> bytes;
  std::vector<RecordSlot> slots;
  std::size_t plain_bytes = 0;
};

// Random chunks, each behind room for its length code, until the block is full.
BlockOfRecords plain_block(std::size_t cipher_block) {
  BlockOfRecords block{std::vector<std::uint8_t>(kBlockBytes), {}, 0};
  std::mt19937 random(1700000000);
  std::uniform_int_distribution<int> byte(0, 255);
  for (std::uint8_t& b : block.bytes) b = static_cast<std::uint8_t>(byte(random));
  ChunkLengthGenerator chunks(1700000000);
  std::size_t end = 0;
  for (;;) {
    const std::uint32_t length = chunks.next_request();
    const std::size_t record_end = end + kLengthCodeSize + padded_length(length, cipher_block);
    if (record_end > kBlockBytes) return block;
    block.slots.push_back({static_cast<std::uint32_t>(end + kLengthCodeSize), length});
    block.plain_bytes += length;
    end = record_end;
  }
}

void encrypt_block(benchmark::State& state, RecordKey& key, const BlockOfRecords& plain) {
  BlockOfRecords block = plain;
  for (auto _ : state) {
    block.slots = plain.slots;  // encryption turns chunk lengths into body lengths
    if (!key.encrypt({block.bytes, block.slots})) state.SkipWithError("encryption failed");
  }
}

void decrypt_block(benchmark::State& state, RecordKey& key, const BlockOfRecords& plain) {
  BlockOfRecords sealed = plain;
  if (!key.encrypt({sealed.bytes, sealed.slots})) return state.SkipWithError("encryption failed");
  BlockOfRecords block = sealed;
  for (auto _ : state) {
    // Decryption works in place, so each round starts from the sealed block.
    state.PauseTiming();
    block.bytes = sealed.bytes;
    block.slots = sealed.slots;
    state.ResumeTiming();
    if (!key.decrypt({block.bytes, block.slots})) state.SkipWithError("decryption failed");
  }
}

enum class Direction { encrypt, decrypt };

void code_records(benchmark::State& state, CryptoService* service, CipherAlgorithm cipher,
                  Direction direction) {
  if (service == nullptr) return state.SkipWithError("back end not available on this machine");
  const std::vector<std::uint8_t> material{'b', 'e', 'n', 'c', 'h'};
  std::unique_ptr<kestrune::RecordKey> key;
  service->derive_key(HashAlgorithm::sha256, cipher, material, key);
  if (!key) return state.SkipWithError("no key");
  const BlockOfRecords plain = plain_block(block_size(cipher));
  if (direction == Direction::encrypt)
    encrypt_block(state, *key, plain);
  else
    decrypt_block(state, *key, plain);
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * plain.plain_bytes));
}

void register_benchmarks() {
  const std::pair<const char*, CryptoService*> back_ends[] = {
      {"openssl", &openssl_crypto_service()}, {"multi_buffer", multi_buffer_crypto_service()}};
  for (const CipherAlgorithm cipher : kAllCiphers)
    for (const Direction direction : {Direction::encrypt, Direction::decrypt})
      for (const auto& [back_end, service] : back_ends) {
        const std::string name =
            std::string(direction == Direction::encrypt ? "encrypt/" : "decrypt/") +
            std::string(label(cipher)) + "/" + back_end;
        benchmark::RegisterBenchmark(name.c_str(), code_records, service, cipher, direction)
            ->Unit(benchmark::kMicrosecond);
      }
}

}  // namespace
}  // namespace kestrune

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  kestrune::register_benchmarks();
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
