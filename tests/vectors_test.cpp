// The known-answer vectors, confirmed against the platform's own service:
// every key and every container must come out byte for byte.
#include <gtest/gtest.h>

#include <thread>

#include "cli/utf8.h"
#include "core/algorithms.h"
#include "core/kestrune.h"
#include "core/key_context.h"
#include "core/key_derivation.h"
#include "core/services.h"
#include "tests/test_support.h"
#include "tests/vector_file.h"

namespace kestrune::test {
namespace {

SecretU16String password_of(const VectorRow& row) {
  const Bytes utf8 = from_hex(row.at("password_utf8_hex"));
  return utf8_to_utf16(std::string(utf8.begin(), utf8.end())).value();
}

HashAlgorithm hash_of(const VectorRow& row) { return hash_from_label(row.at("hash")).value(); }
CipherAlgorithm cipher_of(const VectorRow& row) {
  return cipher_from_label(row.at("cipher")).value();
}

std::string digest_hex(HashAlgorithm hash, const Bytes& data) {
  const SecureBytes digest = digest_from(native_crypto_service(), hash, data);
  return to_hex(digest.data(), digest.size());
}

TEST(KeyDerivationVectors, HashedBytesDigestsAndKeysMatch) {
  const auto rows = read_vector_file("kdf_vectors.tsv");
  ASSERT_EQ(rows.size(), 100u);
  for (const VectorRow& row : rows) {
    SCOPED_TRACE(row.at("hash") + "/" + row.at("cipher") + " password " + row.at("password"));
    const HashAlgorithm hash = hash_of(row);
    const CipherAlgorithm cipher = cipher_of(row);
    const SecretU16String password = password_of(row);
    ASSERT_EQ(password.size(), std::stoul(row.at("n")));

    const SecureBytes material = password_key_material(password);
    EXPECT_EQ(to_hex(material.data(), material.size()), row.at("hashed_bytes_hex"));
    const Bytes hashed = from_hex(row.at("hashed_bytes_hex"));
    EXPECT_EQ(digest_hex(hash, hashed), row.at("digest_hex"));

    EXPECT_EQ(uses_expanded_derivation(hash, cipher), row.at("derivation") == "expanded");
    const Bytes digest = from_hex(row.at("digest_hex"));
    const SecureBytes key = derive_key_bytes(hash, cipher, digest, [hash](auto data) {
      return digest_from(native_crypto_service(), hash, data);
    });
    EXPECT_EQ(to_hex(key.data(), key.size()), row.at("key_hex"));
  }
}

class ContainerVectors
    : public ::testing::TestWithParam<std::pair<HashAlgorithm, CipherAlgorithm>> {};

// Encrypts the vector's plain text at the vector's second and compares the
// whole container, then decrypts it back.
void check_container_vector(const VectorRow& row) {
  ScratchFolder folder;
  RecordingFrontEnd front_end;
  auto file_system = make_native_file_system();
  ConversionEnv env{*file_system, native_crypto_service(), front_end,
                    fixed_clock(std::stoll(row.at("seed")))};
  const Bytes plain = pattern_bytes(std::stoul(row.at("plain_size")));
  const auto plain_path = folder / "plain.bin";
  write_file(plain_path, plain);
  env.choices.set_hash(hash_of(row));
  env.choices.set_cipher(cipher_of(row));
  const SecretU16String password = password_of(row);

  encrypt_file(env, plain_path, password);
  ASSERT_TRUE(front_end.failures.empty()) << front_end.failures[0].text;
  const Bytes container = read_file(folder / "plain.bin.enc");
  EXPECT_EQ(container.size(), std::stoul(row.at("container_size")));
  EXPECT_EQ(digest_hex(HashAlgorithm::sha256, container), row.at("container_sha256"));
  if (row.at("container_hex") != "-") {
    EXPECT_EQ(to_hex(container), row.at("container_hex"));
  }
  EXPECT_FALSE(std::filesystem::exists(plain_path));

  decrypt_file(env, folder / "plain.bin.enc", password);
  ASSERT_TRUE(front_end.failures.empty()) << front_end.failures[0].text;
  EXPECT_EQ(read_file(plain_path), plain);
  EXPECT_EQ(folder.entries(), std::vector<std::string>{"plain.bin"});
}

const std::vector<VectorRow>& container_vector_rows() {
  static const auto rows = read_vector_file("container_vectors.tsv");
  return rows;
}

// Checks every vector of one hash and cipher; how many there were.
int check_container_vectors(HashAlgorithm hash, CipherAlgorithm cipher) {
  int checked = 0;
  for (const VectorRow& row : container_vector_rows()) {
    if (hash_of(row) != hash || cipher_of(row) != cipher) continue;
    SCOPED_TRACE(row.at("id") + " size " + row.at("plain_size") + " password " +
                 row.at("password"));
    check_container_vector(row);
    ++checked;
  }
  return checked;
}

TEST_P(ContainerVectors, EncryptToTheSameBytesAndBack) {
  ASSERT_EQ(container_vector_rows().size(), 1500u);
  const auto [hash, cipher] = GetParam();
  EXPECT_EQ(check_container_vectors(hash, cipher), 60);
}

// Each conversion keeps its own choices and key: two running at once on
// different choices still make the vectors' containers.
TEST(ContainerVectorsAtOnce, TwoThreadsWithDifferentChoicesMatchTheVectors) {
  ASSERT_EQ(container_vector_rows().size(), 1500u);
  int checked[2] = {};
  std::thread other(
      [&] { checked[1] = check_container_vectors(HashAlgorithm::md5, CipherAlgorithm::des); });
  checked[0] = check_container_vectors(HashAlgorithm::sha512, CipherAlgorithm::aes128);
  other.join();
  EXPECT_EQ(checked[0], 60);
  EXPECT_EQ(checked[1], 60);
}

std::vector<std::pair<HashAlgorithm, CipherAlgorithm>> all_combinations() {
  std::vector<std::pair<HashAlgorithm, CipherAlgorithm>> combinations;
  for (HashAlgorithm hash : kAllHashes)
    for (CipherAlgorithm cipher : kAllCiphers) combinations.emplace_back(hash, cipher);
  return combinations;
}

INSTANTIATE_TEST_SUITE_P(AllCombinations, ContainerVectors, ::testing::ValuesIn(all_combinations()),
                         [](const auto& info) {
                           return std::string(label(info.param.first)) + "_" +
                                  std::string(label(info.param.second));
                         });

}  // namespace
}  // namespace kestrune::test
