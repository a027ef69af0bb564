// kestrune-cli's command line and front end, in-process; what needs a real
// process (terminals, signals, exit codes) is in cli_test.sh.
#include <gtest/gtest.h>

#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "cli/arguments.h"
#include "cli/cli_front_end.h"
#include "core/messages.h"

namespace kestrune {
namespace {

using Request = ParsedArguments::Request;

ParsedArguments parse(std::vector<std::string> arguments) {
  arguments.insert(arguments.begin(), "kestrune-cli");
  return parse_arguments(arguments);
}

struct UsageCase {
  std::vector<std::string> arguments;
  Request request;
  std::string error;
};

TEST(CliArguments, RequestsAndUsageErrorsWithTheirMessages) {
  const std::vector<UsageCase> cases = {
      {{"a"}, Request::convert, ""},
      {{}, Request::usage_error, "no PATH given"},
      {{"-k"}, Request::usage_error, "no PATH given"},
      {{"--help"}, Request::show_help, ""},
      {{"--version", "a"}, Request::show_version, ""},
      // Parsing stops at the first of help, version or a mistake.
      {{"--help", "--bogus"}, Request::show_help, ""},
      {{"--bogus", "--help"}, Request::usage_error, "unknown option '--bogus'"},
      {{"-kx", "a"}, Request::usage_error, "unknown option '-x'"},
      {{"--hash"}, Request::usage_error, "--hash needs a name"},
      {{"a", "--cipher"}, Request::usage_error, "--cipher needs a name"},
      {{"--hash", "SHA3", "a"}, Request::usage_error, "unknown hash 'SHA3'"},
      {{"--cipher", "aes256", "a"}, Request::usage_error, "unknown cipher 'aes256'"},
      {{"-t", "a.enc", "b"},
       Request::usage_error,
       "--test checks containers only: 'b' does not end in .enc"},
      // Whatever an argument holds, the message quotes it harmlessly.
      {{"--x\x1b[2J"}, Request::usage_error, "unknown option '--x\\x1b[2J'"},
      {{"--hash", "a\nb", "f"}, Request::usage_error, "unknown hash 'a\\nb'"},
      // A C1 control (the one-byte CSI); bytes that are not UTF-8 reach
      // only the POSIX command line, and cli_test.sh tries those.
      {{"--cipher", "\xc2\x9b", "f"}, Request::usage_error, "unknown cipher '\\xc2\\x9b'"},
      // A count of files at once is a whole number from 1 to 64, whichever
      // way it is written.
      {{"-j", "0", "a"}, Request::usage_error, "-j takes a number from 1 to 64, not '0'"},
      {{"-j-1", "a"}, Request::usage_error, "-j takes a number from 1 to 64, not '-1'"},
      {{"--jobs=65", "a"}, Request::usage_error, "--jobs takes a number from 1 to 64, not '65'"},
      {{"--jobs", "4x", "a"}, Request::usage_error, "--jobs takes a number from 1 to 64, not '4x'"},
      {{"--jobs=", "a"}, Request::usage_error, "--jobs takes a number from 1 to 64, not ''"},
      {{"-j", "99999999999999999999", "a"},
       Request::usage_error,
       "-j takes a number from 1 to 64, not '99999999999999999999'"},
      {{"-j", " 2", "a"}, Request::usage_error, "-j takes a number from 1 to 64, not ' 2'"},
      {{"a", "-j"}, Request::usage_error, "-j needs a number"},
      {{"a", "--jobs"}, Request::usage_error, "--jobs needs a number"},
      {{"-t", "--", "x\ty"},
       Request::usage_error,
       "--test checks containers only: 'x\\ty' does not end in .enc"},
      // A folder holds both kinds of file: a walk is told which to convert.
      {{"-r", "d"},
       Request::usage_error,
       "--recursive needs a direction: add -e to encrypt or -d to decrypt"},
      {{"-rk", "d"},
       Request::usage_error,
       "--recursive needs a direction: add -e to encrypt or -d to decrypt"},
      {{"-red", "d"}, Request::usage_error, "--encrypt and --decrypt cannot go together"},
      {{"--decrypt", "a", "--encrypt"},
       Request::usage_error,
       "--encrypt and --decrypt cannot go together"},
      {{"-et", "a.enc"},
       Request::usage_error,
       "--test checks containers: it does not go with --encrypt"},
      {{"-ee", "-r", "d"}, Request::convert, ""},
      {{"-rt", "d"}, Request::convert, ""},
      {{"-dt", "a.enc"}, Request::convert, ""},
  };
  for (const UsageCase& each : cases) {
    const ParsedArguments parsed = parse(each.arguments);
    SCOPED_TRACE(::testing::PrintToString(each.arguments));
    EXPECT_EQ(parsed.request, each.request);
    EXPECT_EQ(parsed.error, each.error);
  }
}

TEST(CliArguments, SwitchesLongShortAndCombined) {
  const CliOptions none = parse({"a"}).options;
  EXPECT_FALSE(none.keep || none.test || none.verbose || none.quiet || none.password_from_stdin ||
               none.allow_empty_password || none.recursive || none.force);
  EXPECT_EQ(none.direction, Direction::by_name);
  EXPECT_TRUE(none.progress);
  EXPECT_EQ(none.hash, kDefaultChoices.hash);
  EXPECT_EQ(none.cipher, kDefaultChoices.cipher);

  const CliOptions long_ones = parse({"--keep", "--test", "--verbose", "--quiet", "--no-progress",
                                      "--password-stdin", "--allow-empty-password", "a.enc"})
                                   .options;
  const CliOptions combined = parse({"-ktvq", "a.enc"}).options;
  for (const CliOptions& options : {long_ones, combined}) {
    EXPECT_TRUE(options.keep && options.test && options.verbose && options.quiet);
  }
  EXPECT_FALSE(long_ones.progress);
  EXPECT_TRUE(long_ones.password_from_stdin && long_ones.allow_empty_password);

  // A test reads containers, so it decrypts, as far as paths go.
  for (const CliOptions& options : {long_ones, combined})
    EXPECT_EQ(options.direction, Direction::decrypt);
  const CliOptions walking = parse({"--recursive", "--force", "--encrypt", "d"}).options;
  const CliOptions walking_short = parse({"-rfd", "d"}).options;
  EXPECT_TRUE(walking.recursive && walking.force && walking_short.recursive && walking_short.force);
  EXPECT_EQ(walking.direction, Direction::encrypt);
  EXPECT_EQ(walking_short.direction, Direction::decrypt);
}

TEST(CliArguments, JobsInEveryFormAndTheirDefault) {
  EXPECT_EQ(parse({"a"}).options.jobs, default_job_count());
  EXPECT_GE(default_job_count(), 2U);
  EXPECT_LE(default_job_count(), 8U);
  const std::vector<std::vector<std::string>> forms = {
      {"-j", "3", "a"}, {"-j3", "a"}, {"--jobs", "3", "a"}, {"--jobs=3", "a"}, {"-kj3", "a"},
      {"-kj", "3", "a"}};
  for (const auto& arguments : forms) {
    const ParsedArguments parsed = parse(arguments);
    SCOPED_TRACE(::testing::PrintToString(arguments));
    EXPECT_EQ(parsed.request, Request::convert);
    EXPECT_EQ(parsed.options.jobs, 3U);
    EXPECT_EQ(parsed.options.paths, std::vector<std::filesystem::path>{"a"});
  }
  EXPECT_TRUE(parse({"-kj3", "a"}).options.keep);
  EXPECT_EQ(parse({"-j1", "a"}).options.jobs, 1U);
  EXPECT_EQ(parse({"-j", "64", "a"}).options.jobs, 64U);
}

TEST(CliArguments, ChoicesByTheirLabels) {
  const CliOptions options = parse({"--hash", "SHA512", "--cipher", "3DES", "a"}).options;
  EXPECT_EQ(options.hash, HashAlgorithm::sha512);
  EXPECT_EQ(options.cipher, CipherAlgorithm::triple_des);
  EXPECT_EQ(parse({"--hash", "MD5", "--hash", "SHA1", "a"}).options.hash, HashAlgorithm::sha1);
}

TEST(CliArguments, PathsInOrderAndAfterTheEndOfOptions) {
  const ParsedArguments parsed = parse({"a", "-", "", "-k", "--", "-v", "--help", "--"});
  ASSERT_EQ(parsed.request, Request::convert);
  const std::vector<std::filesystem::path> expected = {"a", "-", "", "-v", "--help", "--"};
  EXPECT_EQ(parsed.options.paths, expected);
  EXPECT_TRUE(parsed.options.keep);
  EXPECT_FALSE(parsed.options.verbose);
}

TEST(CliArguments, HelpNamesEveryOption) {
  const std::string help(usage_text());
  for (const char* option :
       {"--keep", "--test", "--verbose", "--quiet", "--jobs", "--no-progress", "--hash", "--cipher",
        "--password-stdin", "--allow-empty-password", "--help", "--version", "--recursive",
        "--encrypt", "--decrypt", "--force", "-xdev"})
    EXPECT_NE(help.find(option), std::string::npos) << option;
}

// What the front end writes to standard error while it lives.
class CliFrontEndOutput : public ::testing::Test {
 protected:
  CliFrontEndOutput() : saved_(std::cerr.rdbuf(captured_.rdbuf())) {}
  ~CliFrontEndOutput() override { std::cerr.rdbuf(saved_); }
  std::string text() const { return captured_.str(); }

 private:
  std::ostringstream captured_;
  std::streambuf* saved_;
};

TEST_F(CliFrontEndOutput, OneLinePerNoticeWithThePathAndItsCause) {
  CliFrontEnd front_end(false, false);
  front_end.start_file("dir/a\x1b.txt");
  front_end.show_failure(
      Outcome::failed(kCantOpenEncryptionFile, std::make_error_code(std::errc::permission_denied)));
  front_end.input_kept("it is read-only", {});
  front_end.temporary_left("dir/.a.tmp", {});
  const std::string path = "dir/a\\x1b.txt";
  EXPECT_EQ(text(), path + ": " + std::string(kCantOpenEncryptionFile.caption) + ": " +
                        std::string(kCantOpenEncryptionFile.text) + " (" +
                        std::make_error_code(std::errc::permission_denied).message() + ")\n" +
                        path + ": kept: it is read-only\n" + path +
                        ": left dir/.a.tmp: remove it\n");
}

// An output's name taken while it was written reads as one taken before.
TEST_F(CliFrontEndOutput, OutputFoundAtTheEndIsNamedAsOneFoundAtTheStart) {
  CliFrontEnd front_end(false, false);
  front_end.start_file("d/a\n.enc");
  front_end.show_failure(Outcome::failed(kOutputExists));
  EXPECT_EQ(text(), "d/a\\n.enc: d/a\\n exists; not replaced (use -f to replace it)\n");
}

TEST_F(CliFrontEndOutput, QuietLeavesOutOnlyTheKeptNotices) {
  CliFrontEnd front_end(true, false);
  front_end.start_file("a");
  front_end.input_kept("it is read-only", {});
  EXPECT_EQ(text(), "");
  front_end.temporary_left("t", {});
  EXPECT_EQ(text(), "a: left t: remove it\n");
}

// One of many files at once holds its lines until the batch prints them.
TEST_F(CliFrontEndOutput, InABatchHoldsItsLinesUntilTaken) {
  BatchProgressLine batch(false, 2);
  CliFrontEnd front_end(false, batch);
  front_end.start_file("a");
  front_end.show_failure(Outcome::failed(kCantOpenEncryptionFile, {}));
  front_end.note("a: stopped");
  EXPECT_EQ(text(), "");
  const std::string lines = front_end.take_lines();
  EXPECT_EQ(lines, "a: " + std::string(kCantOpenEncryptionFile.caption) + ": " +
                       std::string(kCantOpenEncryptionFile.text) + "\na: stopped\n");
  EXPECT_EQ(front_end.take_lines(), "");
  batch.print(lines);
  EXPECT_EQ(text(), lines);
}

TEST_F(CliFrontEndOutput, CountsTheBytesOfTheFileUnderWay) {
  CliFrontEnd front_end(false, false);
  front_end.start_file("a");
  front_end.progress("a", 300, 1000);
  EXPECT_EQ(front_end.bytes_done(), 300U);
  front_end.start_file("b");
  EXPECT_EQ(front_end.bytes_done(), 0U);
  EXPECT_EQ(text(), "");
}

}  // namespace
}  // namespace kestrune
