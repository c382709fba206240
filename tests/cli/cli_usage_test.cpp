// The tool's command line: usage errors exit 2 with the tool's own prefix,
// --help and --version succeed only when their text was written, and
// --version names the engines in use.
#include "cli_fixture.h"

namespace compatcrypt::test {
namespace {

TEST_F(CliTest, UsageErrorsExitTwoWithThePrefix) {
  const std::string in = Write("plain.bin", "x");
  const struct {
    const char *what;
    std::vector<std::string> args;
  } cases[] = {
      {"no command", {}},
      {"unknown option", {"digest", "--frobnicate", in}},
      {"option without its value", {"encode", "-i"}},
      {"two key sources", {"encode", "--key", kKeyHex, "--password-env", "X", "-i", in}},
      {"negative offset", {"digest", "--offset", "-1", in}},
      {"check option without --check", {"digest", "--status", in}},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    const Outcome run = Tool(c.args);
    EXPECT_EQ(run.status, 2);
    EXPECT_THAT(run.err, testing::StartsWith("compatcrypt: "));
    EXPECT_EQ(run.out, "");
  }
}

// /dev/full takes no byte: the help or version text was not shown, which is
// a failure like any other write error.
TEST_F(CliTest, HelpAndVersionIntoAFullDiskFail) {
  for (const std::vector<std::string> &args :
       std::vector<std::vector<std::string>>{{"--help"}, {"--version"}, {"digest", "--help"}}) {
    SCOPED_TRACE(testing::PrintToString(args));
    const Outcome shown = Tool(args);
    EXPECT_EQ(shown.status, 0);
    EXPECT_NE(shown.out, "");
    const Outcome full = Tool(Spawn{.args = args, .stdoutPath = "/dev/full"});
    EXPECT_EQ(full.status, 1);
    EXPECT_THAT(full.err, HasSubstr("compatcrypt: standard output:"));
  }
}

TEST_F(CliTest, VersionNamesTheEnginesInUse) {
  const Outcome run = Tool({"--version"});
  ASSERT_EQ(run.status, 0);
  EXPECT_THAT(run.out, testing::StartsWith(std::string("compatcrypt ") + COMPATCRYPT_VERSION + "\n"));
  EXPECT_THAT(run.out, HasSubstr("engines: " + compatcrypt::engines()));
  EXPECT_THAT(compatcrypt::engines(),
              testing::MatchesRegex("digest: (portable|shani|avx2|avx512).*; DES: serial "
                                    "(portable|rotates|vbmi_planes|vbmi_broadcast), "
                                    "bitsliced (portable|avx2|avx512) from [0-9]+ blocks"));
}

}  // namespace
}  // namespace compatcrypt::test
