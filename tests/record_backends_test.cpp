// The record back ends must be interchangeable: a container made by one is
// opened by the other, so every batch must code to the same bytes and every
// bad padding must be refused by both.
#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "cli/utf8.h"
#include "core/algorithms.h"
#include "core/container.h"
#include "core/crypto/crypto_service_openssl.h"
#include "core/kestrune.h"
#include "core/key_context.h"
#include "core/padding.h"
#include "core/services.h"
#include "tests/test_support.h"
#include "tests/vector_file.h"

namespace kestrune::test {
namespace {

#define REQUIRE_MULTI_BUFFER() \
  if (multi_buffer_crypto_service() == nullptr) GTEST_SKIP() << "no multi-buffer back end"

// A block laid out as a container block is: each record behind a 2-byte
// length code, with room for its padding.
struct Batch {
  std::vector<std::uint8_t> block;
  std::vector<RecordSlot> slots;

  RecordBatch view() { return {block, slots}; }
  bool operator==(const Batch&) const = default;
};

std::vector<std::uint32_t> random_chunk_lengths(std::mt19937& random, std::size_t records,
                                                std::size_t cipher_block) {
  std::uniform_int_distribution<std::uint32_t> chunk_length(1, kMaxChunkRequest);
  std::vector<std::uint32_t> lengths(records);
  for (std::size_t i = 0; i < records; ++i) {
    lengths[i] = chunk_length(random);
    // Every third chunk is whole blocks, which gains a full block of padding.
    if (i % 3 == 0)
      lengths[i] = std::max<std::uint32_t>(lengths[i] / cipher_block, 1) * cipher_block;
  }
  return lengths;
}

// The chunks of `plain`, in order, each behind room for its length code and
// with room for its padding.
Batch laid_out(std::span<const std::uint32_t> chunk_lengths, std::span<const std::uint8_t> plain,
               std::size_t cipher_block) {
  Batch batch;
  auto next = plain.begin();
  for (const std::uint32_t length : chunk_lengths) {
    const auto offset = static_cast<std::uint32_t>(batch.block.size() + kLengthCodeSize);
    batch.slots.push_back({offset, length});
    batch.block.resize(offset + padded_length(length, cipher_block));
    std::copy_n(next, length, batch.block.begin() + offset);
    next += length;
  }
  return batch;
}

Batch random_batch(std::mt19937& random, std::span<const std::uint32_t> chunk_lengths,
                   std::size_t cipher_block) {
  const auto total = std::accumulate(chunk_lengths.begin(), chunk_lengths.end(), std::size_t{0});
  return laid_out(chunk_lengths, random_bytes(total, random()), cipher_block);
}

Batch random_plain_batch(std::mt19937& random, std::size_t records, std::size_t cipher_block) {
  return random_batch(random, random_chunk_lengths(random, records, cipher_block), cipher_block);
}

// Same slots and the same bytes in each; padding and gaps may differ.
bool same_chunks(const Batch& a, const Batch& b) {
  if (a.slots != b.slots) return false;
  for (const RecordSlot& slot : a.slots) {
    const auto from = static_cast<std::ptrdiff_t>(slot.offset);
    if (!std::equal(a.block.begin() + from, a.block.begin() + from + slot.length,
                    b.block.begin() + from))
      return false;
  }
  return true;
}

struct KeyPair {
  std::unique_ptr<RecordKey> openssl;
  std::unique_ptr<RecordKey> multi_buffer;
};

KeyPair derive_keys(HashAlgorithm hash, CipherAlgorithm cipher,
                    std::span<const std::uint8_t> key_material) {
  KeyPair keys{key_from(openssl_crypto_service(), hash, cipher, key_material),
               key_from(*multi_buffer_crypto_service(), hash, cipher, key_material)};
  EXPECT_TRUE(keys.openssl && keys.multi_buffer);
  return keys;
}

std::vector<std::uint8_t> bytes_of(std::string_view text) { return {text.begin(), text.end()}; }

class EveryHashAndCipher
    : public testing::TestWithParam<std::tuple<HashAlgorithm, CipherAlgorithm>> {};

TEST_P(EveryHashAndCipher, BackEndsCodeRandomBatchesToTheSameBytes) {
  REQUIRE_MULTI_BUFFER();
  const auto [hash, cipher] = GetParam();
  const auto material = bytes_of("kestrune");
  const KeyPair keys = derive_keys(hash, cipher, material);
  std::mt19937 random(static_cast<std::uint32_t>(hash) * 31 + static_cast<std::uint32_t>(cipher));
  // One record, a few, and more than the library's job queue holds at once.
  for (const std::size_t records : {0, 1, 7, 300}) {
    SCOPED_TRACE(records);
    const Batch plain = random_plain_batch(random, records, block_size(cipher));
    Batch by_openssl = plain;
    Batch by_multi_buffer = plain;
    ASSERT_TRUE(keys.openssl->encrypt(by_openssl.view()));
    ASSERT_TRUE(keys.multi_buffer->encrypt(by_multi_buffer.view()));
    ASSERT_EQ(by_openssl, by_multi_buffer);

    // Each decrypts what the other made, back to the plain chunks.
    ASSERT_TRUE(keys.multi_buffer->decrypt(by_openssl.view()));
    ASSERT_TRUE(keys.openssl->decrypt(by_multi_buffer.view()));
    ASSERT_EQ(by_openssl, by_multi_buffer);
    ASSERT_TRUE(same_chunks(by_multi_buffer, plain));
  }
}

INSTANTIATE_TEST_SUITE_P(RecordBackends, EveryHashAndCipher,
                         testing::Combine(testing::ValuesIn(kAllHashes),
                                          testing::ValuesIn(kAllCiphers)),
                         [](const auto& info) {
                           return std::string(label(std::get<0>(info.param))) + "_" +
                                  std::string(label(std::get<1>(info.param)));
                         });

class EveryCipher : public testing::TestWithParam<CipherAlgorithm> {};

// A body whose decryption ends in `tail`: a whole-block chunk encrypted with
// its padding block, then cut before that block. CBC lets the cut body
// decrypt to the chunk exactly, so its tail is the padding the reader checks.
Batch batch_with_tail(RecordKey& key, std::size_t cipher_block, std::size_t records,
                      std::size_t crafted_index, std::span<const std::uint8_t> tail) {
  std::mt19937 random(static_cast<std::uint32_t>(records + crafted_index));
  std::vector<std::uint32_t> lengths = random_chunk_lengths(random, records, cipher_block);
  lengths[crafted_index] = static_cast<std::uint32_t>(4 * cipher_block);
  Batch batch = random_batch(random, lengths, cipher_block);
  RecordSlot& crafted = batch.slots[crafted_index];
  std::copy(tail.begin(), tail.end(),
            batch.block.begin() + crafted.offset + crafted.length - tail.size());
  EXPECT_TRUE(key.encrypt(batch.view()));
  crafted.length -= static_cast<std::uint32_t>(cipher_block);
  return batch;
}

TEST_P(EveryCipher, BothBackEndsRefuseEveryBadPadding) {
  REQUIRE_MULTI_BUFFER();
  const CipherAlgorithm cipher = GetParam();
  const std::size_t b = block_size(cipher);
  const KeyPair keys = derive_keys(HashAlgorithm::sha256, cipher, bytes_of("pw"));
  const auto full = static_cast<std::uint8_t>(b);
  std::vector<std::uint8_t> full_block_first_byte_wrong(b, full);
  full_block_first_byte_wrong[0] = full - 1;
  // Pad length zero, longer than a block, and runs with one wrong byte.
  const std::vector<std::vector<std::uint8_t>> bad_tails = {{0x00},
                                                            {static_cast<std::uint8_t>(b + 1)},
                                                            {2, 4, 4, 4},
                                                            {3, 3, 2},
                                                            full_block_first_byte_wrong};
  // The defect first, mid-queue and last: none may hide behind the others.
  for (const std::size_t crafted_index : {0, 150, 299}) {
    for (const auto& tail : bad_tails) {
      SCOPED_TRACE(testing::Message() << "record " << crafted_index << " tail ends "
                                      << int{tail.back()} << " size " << tail.size());
      Batch batch = batch_with_tail(*keys.openssl, b, 300, crafted_index, tail);
      Batch copy = batch;
      EXPECT_FALSE(keys.openssl->decrypt(batch.view()));
      EXPECT_FALSE(keys.multi_buffer->decrypt(copy.view()));
    }
  }
}

INSTANTIATE_TEST_SUITE_P(RecordBackends, EveryCipher, testing::ValuesIn(kAllCiphers),
                         [](const auto& info) { return std::string(label(info.param)); });

// One key codes on several threads at once: each thread gets a job manager
// or a pair of OpenSSL contexts of its own, whose state would otherwise mix
// up their messages. Three threads: one more than a key has contexts.
TEST(RecordBackends, ThreadsSharingAKeyGetTheirOwnBytes) {
  const auto material = bytes_of("threads");
  std::vector<CryptoService*> services{&openssl_crypto_service()};
  if (multi_buffer_crypto_service() != nullptr) services.push_back(multi_buffer_crypto_service());
  for (CryptoService* service : services) {
    for (const CipherAlgorithm cipher : {CipherAlgorithm::aes256, CipherAlgorithm::triple_des}) {
      SCOPED_TRACE(label(cipher));
      const auto shared_key = key_from(*service, HashAlgorithm::sha512, cipher, material);
      ASSERT_TRUE(shared_key);
      ASSERT_TRUE(shared_key->works_on_two_threads());
      const auto code_many_times = [&](std::uint32_t seed, bool& all_identical) {
        const auto reference =
            key_from(openssl_crypto_service(), HashAlgorithm::sha512, cipher, material);
        std::mt19937 random(seed);
        for (int round = 0; round < 20; ++round) {
          const Batch plain = random_plain_batch(random, 200, block_size(cipher));
          Batch expected = plain;
          Batch actual = plain;
          all_identical = all_identical && reference->encrypt(expected.view()) &&
                          shared_key->encrypt(actual.view()) && expected == actual &&
                          shared_key->decrypt(actual.view()) && same_chunks(actual, plain);
        }
      };
      std::array<bool, 3> identical{true, true, true};
      std::vector<std::thread> threads;
      for (std::uint32_t i = 0; i < identical.size(); ++i)
        threads.emplace_back(code_many_times, i + 1, std::ref(identical[i]));
      for (std::thread& thread : threads) thread.join();
      EXPECT_EQ(identical, (std::array<bool, 3>{true, true, true}));
    }
  }
}

std::vector<std::uint32_t> comma_separated(const std::string& text) {
  std::vector<std::uint32_t> values;
  std::istringstream list(text);
  for (std::string value; std::getline(list, value, ',');)
    values.push_back(static_cast<std::uint32_t>(std::stoul(value)));
  return values;
}

void write_length_codes(Batch& batch) {
  for (const RecordSlot& slot : batch.slots)
    store_length_code(std::span(batch.block).subspan(slot.offset - kLengthCodeSize), slot.length);
}

std::unique_ptr<RecordKey> key_for(CryptoService& service, const VectorRow& row,
                                   CipherAlgorithm cipher) {
  const Bytes utf8 = from_hex(row.at("password_utf8_hex"));
  const auto password = utf8_to_utf16(std::string(utf8.begin(), utf8.end()));
  const auto hash = hash_from_label(row.at("hash"));
  if (!password || !hash) return nullptr;
  const SecureBytes material = password_key_material(*password);
  return key_from(service, *hash, cipher, {material.data(), material.size()});
}

class EveryBackEnd : public testing::TestWithParam<bool> {
 protected:
  CryptoService* service() {
    return GetParam() ? multi_buffer_crypto_service() : &openssl_crypto_service();
  }
};

// Containers that the platform's own service made are made again byte for
// byte by each back end alone, and open to their plain files.
TEST_P(EveryBackEnd, RemakesStoredContainers) {
  if (service() == nullptr) GTEST_SKIP() << "no multi-buffer back end";
  int checked = 0;
  for (const VectorRow& row : read_vector_file("container_vectors.tsv")) {
    if (row.at("records") == "0") continue;
    SCOPED_TRACE(row.at("id"));
    const CipherAlgorithm cipher = cipher_from_label(row.at("cipher")).value();
    const auto key = key_for(*service(), row, cipher);
    ASSERT_TRUE(key);
    const Batch plain =
        laid_out(comma_separated(row.at("chunk_lengths")),
                 pattern_bytes(std::stoul(row.at("plain_size"))), block_size(cipher));
    Batch container = plain;
    ASSERT_TRUE(key->encrypt(container.view()));
    write_length_codes(container);
    const SecureBytes digest =
        digest_from(openssl_crypto_service(), HashAlgorithm::sha256, container.block);
    ASSERT_EQ(to_hex(digest.data(), digest.size()), row.at("container_sha256"));

    ASSERT_TRUE(key->decrypt(container.view()));
    ASSERT_TRUE(same_chunks(container, plain));
    ++checked;
  }
  EXPECT_EQ(checked, 1400);
}

// A batch that does not fit its block, or holds a body no reader could take,
// is refused before any record of it is coded.
TEST_P(EveryBackEnd, RefusesMisshapenBatchesBeforeCodingAny) {
  if (service() == nullptr) GTEST_SKIP() << "no multi-buffer back end";
  const auto key =
      key_from(*service(), HashAlgorithm::sha256, CipherAlgorithm::aes128, bytes_of("pw"));
  ASSERT_TRUE(key);
  std::mt19937 random(5);
  Batch plain = random_plain_batch(random, 5, 16);
  Batch encrypted = plain;
  ASSERT_TRUE(key->encrypt(encrypted.view()));
  // Room behind the records, so that only the last slot is wrong.
  constexpr std::uint32_t kRoom = 2 * kRecordBufferSize;
  for (Batch* batch : {&plain, &encrypted}) batch->block.resize(batch->block.size() + kRoom);
  const auto end = static_cast<std::uint32_t>(plain.block.size());
  struct LastSlot {
    bool encrypting;
    RecordSlot slot;
  };
  const LastSlot last_slots[] = {
      {true, {end, 1}},                                // no room at all
      {true, {end - 16, 16}},                          // its padding block would pass the end
      {true, {end - kRoom, kRecordBufferSize}},        // padded past the reader's buffer
      {false, {end - 16, 0}},                          // an empty body
      {false, {end - 32, 24}},                         // not whole blocks
      {false, {end - 16, 32}},                         // past the end
      {false, {end - kRoom, kRecordBufferSize + 16}},  // past the reader's buffer
  };
  for (const LastSlot& last : last_slots) {
    SCOPED_TRACE(testing::Message() << (last.encrypting ? "encrypting" : "decrypting") << " at "
                                    << last.slot.offset << " length " << last.slot.length);
    Batch batch = last.encrypting ? plain : encrypted;
    batch.slots.back() = last.slot;
    const Batch before = batch;
    EXPECT_FALSE(last.encrypting ? key->encrypt(batch.view()) : key->decrypt(batch.view()));
    EXPECT_EQ(batch, before);
  }
}

INSTANTIATE_TEST_SUITE_P(RecordBackends, EveryBackEnd, testing::Bool(), [](const auto& info) {
  return std::string(info.param ? "multi_buffer" : "openssl");
});

// Whole files: the same plain file, password, choices and second make the
// same container through either back end, at every size and seed, and each
// back end opens the other's container.
TEST(BackEndsOnFiles, RandomSizesAndSecondsGiveTheSameContainers) {
  CryptoService* multi_buffer = multi_buffer_crypto_service();
  if (multi_buffer == nullptr) GTEST_SKIP() << "no multi-buffer back end";
  std::mt19937 random(2024);
  ScratchFolder folder;
  auto file_system = make_native_file_system();
  RecordingFrontEnd front_end;
  for (int trial = 0; trial < 24; ++trial) {
    const std::size_t size = std::uniform_int_distribution<std::size_t>(0, 3u << 20)(random);
    const auto seconds = static_cast<std::int64_t>(random());
    const CipherAlgorithm cipher = kAllCiphers[trial % 5];
    const HashAlgorithm hash = kAllHashes[(trial / 5) % 5];
    SCOPED_TRACE(std::string(label(hash)) + "/" + std::string(label(cipher)) + " size " +
                 std::to_string(size) + " second " + std::to_string(seconds));
    const Bytes plain = random_bytes(size, static_cast<std::uint32_t>(trial));
    Bytes containers[2];
    CryptoService* services[2] = {&openssl_crypto_service(), multi_buffer};
    for (int side = 0; side < 2; ++side) {
      ConversionEnv env{*file_system, *services[side], front_end, fixed_clock(seconds)};
      env.choices.set_hash(hash);
      env.choices.set_cipher(cipher);
      write_file(folder / "f", plain);
      encrypt_file(env, folder / "f", u"same password");
      containers[side] = read_file(folder / "f.enc");
      // The other back end opens it.
      ConversionEnv other{*file_system, *services[1 - side], front_end, fixed_clock(0)};
      other.choices.set_hash(hash);
      other.choices.set_cipher(cipher);
      decrypt_file(other, folder / "f.enc", u"same password");
      EXPECT_EQ(read_file(folder / "f"), plain);
    }
    EXPECT_TRUE(containers[0] == containers[1]);
  }
  EXPECT_TRUE(front_end.failures.empty());
}

}  // namespace
}  // namespace kestrune::test
