// The CryptoAPI back end on its own, beyond what the known-answer vectors
// cover: record sizes at the edges, bodies the core would never pass, and
// slots at the very end of a block.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

// clang-format off
#include <windows.h>
#include <wincrypt.h>
// clang-format on

#include "core/crypto/crypto_service_cryptoapi.h"
#include "core/key_context.h"
#include "core/padding.h"
#include "tests/test_support.h"

namespace kestrune::test {
namespace {

std::unique_ptr<RecordKey> key_for(HashAlgorithm hash, CipherAlgorithm cipher,
                                   std::u16string_view password) {
  const SecureBytes material = password_key_material(password);
  return key_from(cryptoapi_crypto_service(), hash, cipher, {material.data(), material.size()});
}

// Codes one record that starts at `offset` of a block of `block_size` bytes.
struct OneRecord {
  Bytes block;
  RecordSlot slot;
  RecordBatch batch() { return {block, {&slot, 1}}; }
};

OneRecord record_of(const Bytes& plain, std::size_t offset, std::size_t block_size) {
  OneRecord record{Bytes(block_size),
                   {static_cast<std::uint32_t>(offset), static_cast<std::uint32_t>(plain.size())}};
  std::copy(plain.begin(), plain.end(), record.block.begin() + static_cast<std::ptrdiff_t>(offset));
  return record;
}

// Every combination the dialog offers, including DES and 3DES with the SHA-2
// hashes that the SChannel provider type does not have.
TEST(CryptoApiBackEnd, EveryCombinationRoundTripsRecordsOfEdgeLengths) {
  for (HashAlgorithm hash : kAllHashes) {
    for (CipherAlgorithm cipher : kAllCiphers) {
      SCOPED_TRACE(std::string(label(hash)) + "/" + std::string(label(cipher)));
      const auto key = key_for(hash, cipher, u"Kestrune");
      ASSERT_NE(key, nullptr);
      const std::size_t block = block_size(cipher);
      for (std::size_t length :
           {std::size_t{0}, std::size_t{1}, block - 1, block, std::size_t{2047}}) {
        const Bytes plain = random_bytes(length, static_cast<std::uint32_t>(length));
        OneRecord record = record_of(plain, 2, 2 + 2048);
        ASSERT_TRUE(key->encrypt(record.batch())) << length;
        EXPECT_EQ(record.slot.length, padded_length(length, block));
        ASSERT_TRUE(key->decrypt(record.batch())) << length;
        ASSERT_EQ(record.slot.length, length);
        EXPECT_EQ(Bytes(record.block.begin() + 2, record.block.begin() + 2 + length), plain);
      }
    }
  }
}

// Each record is a message of its own: equal chunks give equal bodies.
TEST(CryptoApiBackEnd, EveryRecordStartsFromTheSameInitialisationVector) {
  const auto key = key_for(HashAlgorithm::sha256, CipherAlgorithm::aes256, u"");
  ASSERT_NE(key, nullptr);
  Bytes block(2 * 48);
  const Bytes plain = pattern_bytes(40);
  std::copy(plain.begin(), plain.end(), block.begin());
  std::copy(plain.begin(), plain.end(), block.begin() + 48);
  RecordSlot slots[] = {{0, 40}, {48, 40}};
  ASSERT_TRUE(key->encrypt({block, slots}));
  EXPECT_EQ(slots[0].length, 48u);
  EXPECT_EQ(Bytes(block.begin(), block.begin() + 48), Bytes(block.begin() + 48, block.end()));
}

TEST(CryptoApiBackEnd, RefusesBodiesTheServiceMustNeverSee) {
  const auto key = key_for(HashAlgorithm::sha256, CipherAlgorithm::aes256, u"pw");
  ASSERT_NE(key, nullptr);
  Bytes block(8192);
  for (std::uint32_t length : {0u, 15u, 4112u}) {
    RecordSlot slot{0, length};
    EXPECT_FALSE(key->decrypt({block, {&slot, 1}})) << "body of " << length << " bytes";
  }
  RecordSlot past_the_end{8192 - 16, 32};
  EXPECT_FALSE(key->decrypt({block, {&past_the_end, 1}}));
}

TEST(CryptoApiBackEnd, WrongKeyFailsOnThePadding) {
  const auto right = key_for(HashAlgorithm::sha256, CipherAlgorithm::aes256, u"right");
  const auto wrong = key_for(HashAlgorithm::sha256, CipherAlgorithm::aes256, u"wrong");
  ASSERT_NE(right, nullptr);
  ASSERT_NE(wrong, nullptr);
  OneRecord record = record_of(pattern_bytes(100), 0, 112);
  ASSERT_TRUE(right->encrypt(record.batch()));
  EXPECT_FALSE(wrong->decrypt(record.batch()));
}

// The back end copies each record through its own 4096-byte buffer, so a
// slot that ends exactly at the end of the block is fine, and one without
// room for its padding is refused instead of overrunning the block.
TEST(CryptoApiBackEnd, SlotsAtTheEndOfTheBlockStayInside) {
  const auto key = key_for(HashAlgorithm::md5, CipherAlgorithm::triple_des, u"x");
  ASSERT_NE(key, nullptr);
  const Bytes plain = pattern_bytes(2047);
  OneRecord exact = record_of(plain, 2, 2 + 2048);
  ASSERT_TRUE(key->encrypt(exact.batch()));
  ASSERT_TRUE(key->decrypt(exact.batch()));
  EXPECT_EQ(Bytes(exact.block.begin() + 2, exact.block.begin() + 2 + 2047), plain);

  OneRecord cramped = record_of(plain, 2, 2 + 2047);
  EXPECT_FALSE(key->encrypt(cramped.batch()));
}

// Deleting the user's key containers is only for a throwaway Wine prefix,
// never for a real Windows profile.
bool runs_under_wine() {
  const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

void delete_default_key_containers() {
  for (DWORD type : {PROV_RSA_AES, PROV_RSA_SCHANNEL}) {
    HCRYPTPROV unused = 0;
    CryptAcquireContextW(&unused, nullptr, nullptr, type, CRYPT_DELETEKEYSET);
  }
}

// On a new profile the default key container does not exist yet; files
// that start at the same moment must all get their keys, not only the one
// that happened to create it.
TEST(CryptoApiBackEnd, KeysDerivedAtOnceOnANewProfileAllSucceed) {
  if (!runs_under_wine()) GTEST_SKIP() << "would delete this profile's key containers";
  for (int round = 0; round < 20; ++round) {
    delete_default_key_containers();
    std::vector<std::thread> threads;
    int derived[8] = {};
    for (int i = 0; i < 8; ++i)
      threads.emplace_back([&derived, i] {
        const CipherAlgorithm cipher = i % 2 ? CipherAlgorithm::des : CipherAlgorithm::aes128;
        derived[i] = key_for(HashAlgorithm::md5, cipher, u"at once") != nullptr;
      });
    for (std::thread& thread : threads) thread.join();
    for (int i = 0; i < 8; ++i) EXPECT_EQ(derived[i], 1) << "round " << round << " thread " << i;
  }
}

}  // namespace
}  // namespace kestrune::test
