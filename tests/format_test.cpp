// The container's small rules, where one wrong bit breaks compatibility
// with every container already made.
#include <gtest/gtest.h>

#include "cli/utf8.h"
#include "core/container.h"
#include "core/files/temporary_name.h"
#include "core/padding.h"

namespace kestrune::test {
namespace {

TEST(ContainerNames, SuffixIsExactAndCaseSensitive) {
  EXPECT_TRUE(is_container_name("report.txt.enc"));
  EXPECT_TRUE(is_container_name(".enc"));
  EXPECT_FALSE(is_container_name("enc"));
  EXPECT_FALSE(is_container_name("report.ENC"));
  EXPECT_FALSE(is_container_name("report.enc.bak"));
  EXPECT_EQ(container_name_for("/d/report.txt"), "/d/report.txt.enc");
  EXPECT_EQ(container_name_for("/d/report.ENC"), "/d/report.ENC.enc");
  EXPECT_EQ(plain_name_for("/d/report.txt.enc"), "/d/report.txt");

  // What an interrupted run leaves, and near misses that are someone's files.
  EXPECT_TRUE(is_temporary_name("/d/.a.b.kestrune-0123456z.tmp"));
  for (const char* name :
       {"a.kestrune-0123456z.tmp", ".a.kestrune-0123456Z.tmp", ".a.kestrune-0123456.tmp",
        ".a.kestrune_0123456z.tmp", ".a.kestrune-0123456z.tmp.enc", ".kestrune-0123456z.tmp"})
    EXPECT_FALSE(is_temporary_name(name)) << name;
}

// A temporary's name fits wherever its target's does (eCryptfs takes 143
// bytes, most others 255), keeps its pattern and never splits a character.
TEST(TemporaryNames, FitTheFolderAndKeepTheirPattern) {
  const TemporaryTagBytes tag{0, 1, 2, 3, 4, 5, 6, 35};
  struct Case {
    std::string target;
    std::size_t name_max;
    std::string expected_stem;
  };
  const std::string e_acute = "\xC3\xA9";
  const Case cases[] = {
      {"x", 255, "x"},
      {std::string(120, 'a'), 143, std::string(120, 'a')},
      {std::string(121, 'a'), 143, std::string(120, 'a')},
      {std::string(143, 'a'), 143, std::string(120, 'a')},
      {std::string(119, 'a') + e_acute, 143, std::string(119, 'a')},
      {std::string(255, 'a'), 255, std::string(160, 'a')},
      {std::string(159, 'a') + e_acute, 255, std::string(159, 'a')},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.target.size()) + " bytes in " + std::to_string(c.name_max));
    const std::string name =
        hidden_temporary_name<char>(c.target, tag, temporary_stem_limit(c.name_max));
    EXPECT_EQ(name, "." + c.expected_stem + ".kestrune-0123456z.tmp");
    EXPECT_LE(name.size(), c.name_max);
    EXPECT_TRUE(is_temporary_name(name));
  }
  std::wstring split_pair(159, L'w');
  split_pair.push_back(wchar_t(0xD83D));
  split_pair.push_back(wchar_t(0xDE00));
  const std::wstring name = hidden_temporary_name<wchar_t>(split_pair, tag, 160);
  EXPECT_EQ(name.size(), 159 + kTemporaryNameOverhead);
  EXPECT_TRUE(name.ends_with(L"w.kestrune-0123456z.tmp"));
  EXPECT_TRUE(is_hidden_temporary_name<wchar_t>(name));
}

// A name already taken costs another try under a fresh tag; any other
// failure ends the creation at once, and so do a hundred taken names.
TEST(TemporaryNames, TakenNamesAreTriedAgainAHundredTimesAtMost) {
  std::vector<std::string> tried;
  std::size_t taken_first = 0;
  const std::error_code denied = std::make_error_code(std::errc::permission_denied);
  std::error_code other_failure;
  const auto create = [&](const std::string& name, bool& taken) {
    tried.push_back(name);
    taken = tried.size() <= taken_first;
    return taken ? std::make_error_code(std::errc::file_exists) : other_failure;
  };
  const struct {
    std::size_t taken_first;
    std::error_code other_failure;
    std::error_code expected;
    std::size_t tries;
  } cases[] = {
      {0, {}, {}, 1},
      {2, {}, {}, 3},
      {0, denied, denied, 1},
      {1, denied, denied, 2},
      {1000, {}, std::make_error_code(std::errc::file_exists), 100},
  };
  for (const auto& c : cases) {
    tried.clear();
    taken_first = c.taken_first;
    other_failure = c.other_failure;
    EXPECT_EQ(create_under_fresh_name<char>("f", kLongestTemporaryStem, create), c.expected);
    ASSERT_EQ(tried.size(), c.tries);
    for (const std::string& name : tried) EXPECT_TRUE(name.starts_with(".f.kestrune-")) << name;
    if (c.tries > 1) {
      EXPECT_NE(tried[0], tried[1]);
    }
  }
}

TEST(TemporaryNames, TargetsThatNameNoFileAreRefused) {
  for (const std::string_view name : {"", ".", ".."})
    EXPECT_TRUE(names_no_file<char>(name)) << name;
  for (const std::string_view name : {"...", ".a", "a.", "a"})
    EXPECT_FALSE(names_no_file<char>(name)) << name;
  EXPECT_TRUE(names_no_file<wchar_t>(L".."));
  EXPECT_FALSE(names_no_file<wchar_t>(L"..."));
}

TEST(LengthCodes, BothFormsRoundTripAtTheirEdges) {
  EXPECT_EQ(encode_length_code(1024), 0x8400);
  EXPECT_EQ(encode_length_code(1025), 0x0001);
  EXPECT_EQ(encode_length_code(112), 0x8070);
  EXPECT_EQ(encode_length_code(2048), 0x0400);
  EXPECT_EQ(decode_length_code(0x0000), 1024u);
  EXPECT_EQ(decode_length_code(0x8000), 0u);
  EXPECT_EQ(decode_length_code(0x7FFF), 33791u);
  for (std::uint32_t length = 8; length <= 2048; length += 8)
    EXPECT_EQ(decode_length_code(encode_length_code(length)), length);
  EXPECT_FALSE(is_valid_body_length(0, 8));
  EXPECT_FALSE(is_valid_body_length(4104, 8));
  EXPECT_FALSE(is_valid_body_length(24, 16));
  EXPECT_TRUE(is_valid_body_length(4096, 16));
}

TEST(ChunkLengths, FollowTheMicrosoftRuntimeSequence) {
  // srand(1) makes that rand() give 41, 18467, 6334, 26500.
  ChunkLengthGenerator generator(1);
  EXPECT_EQ(generator.next_request(), 1024u + (41u & 1023u));
  EXPECT_EQ(generator.next_request(), 1024u + (18467u & 1023u));
  EXPECT_EQ(generator.next_request(), 1024u + (6334u & 1023u));
  EXPECT_EQ(generator.next_request(), 1024u + (26500u & 1023u));
}

TEST(Padding, EveryPadByteIsChecked) {
  std::uint8_t record[32] = {};
  EXPECT_EQ(add_padding(record, 16, 16), 32u);
  EXPECT_EQ(record[16], 16);
  EXPECT_EQ(strip_padding(record, 16), 16u);
  record[20] = 15;
  EXPECT_FALSE(strip_padding(record, 16));
  EXPECT_EQ(add_padding(record, 13, 8), 16u);
  EXPECT_EQ(strip_padding({record, 16}, 8), 13u);
  record[15] = 0;
  EXPECT_FALSE(strip_padding({record, 16}, 8));
  record[15] = 9;
  EXPECT_FALSE(strip_padding({record, 16}, 8));
}

TEST(Utf8Passwords, AreDecodedStrictly) {
  EXPECT_EQ(utf8_to_utf16("P\xC3\xA4ss"), u"P\u00e4ss");
  EXPECT_EQ(utf8_to_utf16("\xF0\x9F\x94\x91"), u"\U0001F511");
  EXPECT_EQ(utf8_to_utf16(""), u"");
  EXPECT_FALSE(utf8_to_utf16("\xC0\xAF"));          // overlong
  EXPECT_FALSE(utf8_to_utf16("\xED\xA0\x80"));      // surrogate
  EXPECT_FALSE(utf8_to_utf16("\xF4\x90\x80\x80"));  // past U+10FFFF
  EXPECT_FALSE(utf8_to_utf16("\xE2\x82"));          // cut short
  EXPECT_FALSE(utf8_to_utf16("\xFF"));
}

}  // namespace
}  // namespace kestrune::test
