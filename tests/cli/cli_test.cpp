// The compatcrypt tool run as a separate process, its outputs compared with
// the C functions: encoding and decoding, password keys, digest lines and
// their checking, and failures that must leave no output file behind.
#include "cli_fixture.h"

namespace compatcrypt::test {
namespace {

// Lengths with and without a tail, below one block, and across the tool's
// 64 KiB read chunks.
TEST_F(CliTest, EncodeAndDecodeEqualTheCFunctions) {
  std::mt19937_64 rng(1);
  const auto key = compatcrypt::Key::from_hex(kKeyHex);
  for (const std::size_t length : {0u, 5u, 8u, 29u, 65536u + 3u, 200003u}) {
    SCOPED_TRACE("length " + std::to_string(length));
    const ByteVector plain = RandomBytes<std::byte>(rng, length);
    const std::string in = Write("plain.bin", plain);

    Outcome run = Tool({"encode", "--force", "--key", kKeyHex, "-i", in, "-o", At("coded.bin")});
    ASSERT_EQ(run.status, 0) << run.err;
    // A zero byte in each half of kKeyHex cuts both DES keys short.
    EXPECT_EQ(run.err,
              "compatcrypt: warning: key: a zero byte cuts the outer key to 5 of 8 bytes and the "
              "middle key to 0 of 8; 5 of 16 key bytes are in effect\n");
    EXPECT_EQ(ToBytes(Read("coded.bin")), CEncode(plain, key.bytes()));

    run = Tool({"decode", "--force", "--key", kKeyHex, "-i", At("coded.bin"), "-o", At("decoded.bin")});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(Read("decoded.bin"), plain);
    EXPECT_EQ(Listing(), (std::vector<std::string>{"coded.bin", "decoded.bin", "plain.bin"}));
  }
}

TEST_F(CliTest, StandardInputAndOutputAreTheDefaults) {
  std::mt19937_64 rng(2);
  const auto key = compatcrypt::Key::from_hex(kKeyHex);
  const ByteVector plain = RandomBytes<std::byte>(rng, 1000 + 3);
  Spawn encode{.args = {"encode", "--key", kKeyHex}, .stdinPath = Write("plain.bin", plain)};
  const Outcome encoded = Tool(encode);
  ASSERT_EQ(encoded.status, 0) << encoded.err;
  EXPECT_EQ(ToBytes(encoded.out), CEncode(plain, key.bytes()));

  Spawn decode{.args = {"decode", "--key", kKeyHex},
               .stdinPath = Write("coded.bin", AsByteVector(encoded.out))};
  const Outcome decoded = Tool(decode);
  ASSERT_EQ(decoded.status, 0) << decoded.err;
  EXPECT_EQ(AsByteVector(decoded.out), plain);
}

// A password's key is the one EncodeKey uses: the password file's first line
// without its newline, or the variable's value.
TEST_F(CliTest, PasswordSourcesGiveTheEncodeKeyResult) {
  std::mt19937_64 rng(3);
  const ByteVector plain = RandomBytes<std::byte>(rng, 77);
  const std::string password = "correct horse";
  const ByteVector expected = ToByteVector(CEncodeKey(password, plain));
  const std::string in = Write("plain.bin", plain);
  const std::string passwordFile = Write("password.txt", password + "\nsecond line\n");

  const std::vector<std::vector<std::string>> sources = {{"--password-file", passwordFile},
                                                         {"--password-env", "CC_TEST_PASSWORD"}};
  for (const auto &source : sources) {
    SCOPED_TRACE(source[0]);
    Spawn encode{.args = {"encode", "--force", "-i", in, "-o", At("coded.bin")}};
    encode.args.insert(encode.args.end(), source.begin(), source.end());
    encode.env["CC_TEST_PASSWORD"] = password;
    Outcome run = Tool(encode);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(Read("coded.bin"), expected);

    Spawn decode{.args = {"decode", "-i", At("coded.bin")}};
    decode.args.insert(decode.args.end(), source.begin(), source.end());
    decode.env["CC_TEST_PASSWORD"] = password;
    run = Tool(decode);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(AsByteVector(run.out), plain);

    Spawn keygen{.args = {"keygen"}};
    keygen.args.insert(keygen.args.end(), source.begin(), source.end());
    keygen.env["CC_TEST_PASSWORD"] = password;
    run = Tool(keygen);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, compatcrypt::Key::from_password(password).to_hex() + "\n");
  }
}

// Without a key option the password is asked for on the terminal, and the
// typed password is not echoed.
TEST_F(CliTest, PasswordPromptOnATerminalDoesNotEcho) {
  const Command command(COMPATCRYPT_CLI, {"keygen"});
  TerminalJob job(command);
  ASSERT_TRUE(job.Started());
  const std::string prompt = ReadTerminal(job.master(), "Password: ");
  EXPECT_THAT(prompt, HasSubstr("Password: "));
  Type(job.master(), "hunter2\n");
  std::string rest;
  EXPECT_EQ(job.Finish(&rest), 0) << rest;
  EXPECT_THAT(rest, HasSubstr(compatcrypt::Key::from_password("hunter2").to_hex()));
  EXPECT_THAT(rest, testing::Not(HasSubstr("hunter2")));
}

TEST_F(CliTest, DigestPrintsHexTwoSpacesAndName) {
  std::mt19937_64 rng(4);
  const std::string a = Write("a.bin", RandomBytes<std::byte>(rng, 57));
  const std::string b = Write("b.bin", RandomBytes<std::byte>(rng, 200));

  Outcome run = Tool({"digest", a, b});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, FileDigestHex(a) + "  " + a + "\n" + FileDigestHex(b) + "  " + b + "\n");

  run = Tool({"digest", "--offset", "70", b});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, FileDigestHex(b, 70) + "  " + b + "\n");

  for (const std::vector<std::string> &args : {std::vector<std::string>{"digest"}, {"digest", "-"}}) {
    run = Tool(Spawn{.args = args, .stdinPath = b});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, FileDigestHex(b) + "  -\n");
  }
}

TEST_F(CliTest, DigestOfAMissingFileNamesItAndGoesOn) {
  const std::string present = Write("present.bin", "data");
  const Outcome run = Tool({"digest", At("missing.bin"), present});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, FileDigestHex(present) + "  " + present + "\n");
  EXPECT_THAT(run.err, HasSubstr("compatcrypt: " + At("missing.bin") + ": No such file or directory"));
}

TEST_F(CliTest, CheckReportsOkAndFailedWithTheExitStatus) {
  const std::string a = Write("a.bin", "first file");
  const std::string b = Write("b.bin", "second file");
  const std::string list =
      Write("list", FileDigestHex(a) + "  " + a + "\n" + FileDigestHex(b) + "  " + b + "\n");

  Outcome run = Tool({"digest", "--check", list});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, a + ": OK\n" + b + ": OK\n");

  // Upper-case hex is the same digest.
  std::string upper = FileDigestHex(a);
  std::transform(upper.begin(), upper.end(), upper.begin(), ::toupper);
  run = Tool({"digest", "-c", Write("upper", upper + "  " + a + "\n")});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, a + ": OK\n");

  Write("b.bin", "second file, changed");
  run = Tool({"digest", "--check", list});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, a + ": OK\n" + b + ": FAILED\n");

  fs::remove(b);
  run = Tool({"digest", "--check", list});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, a + ": OK\n" + b + ": FAILED open or read\n");
  EXPECT_THAT(run.err, HasSubstr("compatcrypt: " + b + ": No such file or directory"));
}

TEST_F(CliTest, CheckRejectsListsWithoutValidLines) {
  const std::string a = Write("a.bin", "content");
  const std::string good = FileDigestHex(a) + "  " + a + "\n";
  std::string nonHex = FileDigestHex(a);
  nonHex[0] = 'g';
  const std::vector<std::pair<const char *, std::string>> lists = {
      {"empty list", ""},
      {"short hex", FileDigestHex(a).substr(2) + "  " + a + "\n"},
      {"no space", FileDigestHex(a) + a + "\n"},
      {"no name", FileDigestHex(a) + "  \n"},
      {"non-hex digit", nonHex + "  " + a + "\n"},
      {"good line cut short", good.substr(0, 41) + "\n"},
  };
  for (const auto &[what, text] : lists) {
    SCOPED_TRACE(what);
    const Outcome run = Tool({"digest", "--check", Write("list", text)});
    EXPECT_EQ(run.status, 1);
    EXPECT_THAT(run.err, HasSubstr("compatcrypt: " + At("list") + ": "));
  }
}

// Every failure of encode and decode: a message naming what failed, a
// non-zero status, no output file, no temporary file, and an existing
// output file left as it was.
TEST_F(CliTest, FailuresLeaveNoOutputFile) {
  const std::string in = Write("plain.bin", "twenty-nine bytes of content.");
  fs::create_directories(work() / "adir");
  struct Case {
    const char *what;
    std::vector<std::string> args;
    std::string subject;  // expected as "compatcrypt: SUBJECT: "
    int status = 1;       // 2 for a usage error
  };
  const std::string out = At("out.bin");
  const std::string fresh = At("fresh.bin");
  const std::vector<Case> cases = {
      {"short key", {"encode", "--key", "00112233", "-i", in, "-o", fresh}, "--key", 2},
      {"odd-length key", {"encode", "--key", std::string(kKeyHex) + "0", "-i", in, "-o", fresh}, "--key", 2},
      {"non-hex key", {"decode", "--key", NonHexKey(), "-i", in, "-o", fresh}, "--key", 2},
      {"bad key over existing file", {"encode", "--key", "xyz", "-i", in, "-o", out}, "--key", 2},
      {"missing input",
       {"encode", "--key", kKeyHex, "-i", At("missing.bin"), "-o", fresh},
       At("missing.bin")},
      {"missing input over existing file",
       {"decode", "--key", kKeyHex, "-i", At("nope"), "-o", out},
       At("nope")},
      {"input is a directory", {"encode", "--key", kKeyHex, "-i", At("adir"), "-o", fresh}, At("adir")},
      {"input is a directory over existing file",
       {"encode", "--key", kKeyHex, "-i", At("adir"), "-o", out},
       At("adir")},
      {"output directory missing",
       {"encode", "--key", kKeyHex, "-i", in, "-o", At("no/such/dir/out")},
       At("no/such/dir/out")},
      {"output is a directory", {"encode", "--key", kKeyHex, "-i", in, "-o", At("adir")}, At("adir")},
      {"unset password variable",
       {"encode", "--password-env", "CC_TEST_UNSET_VARIABLE", "-i", in, "-o", fresh},
       "CC_TEST_UNSET_VARIABLE"},
      {"missing password file",
       {"encode", "--password-file", At("nofile"), "-i", in, "-o", fresh},
       At("nofile")},
      {"password with NUL byte",
       {"encode", "--password-file", At("nul.txt"), "-i", in, "-o", fresh},
       At("nul.txt")},
      {"no key and no terminal", {"encode", "-i", in, "-o", fresh}, "key"},
  };
  Write("nul.txt", std::string("pass\0word\n", 10));
  const ByteVector existing = AsByteVector("existing output, kept");
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    Write("out.bin", existing);
    const std::vector<std::string> before = Listing();
    const Outcome run = Tool(c.args);
    EXPECT_EQ(run.status, c.status);
    EXPECT_THAT(run.err, HasSubstr("compatcrypt: " + c.subject + ": "));
    EXPECT_EQ(Listing(), before);
    EXPECT_EQ(Read("out.bin"), existing);
    EXPECT_EQ(fs::directory_iterator(work() / "adir"), fs::directory_iterator());
  }
}

// A full device: the write error must be seen (on a flush, not only on a
// failed fwrite) and reported, with output either through -o or stdout.
TEST_F(CliTest, WriteFailuresAreReported) {
  const std::string in = Write("plain.bin", ByteVector(100000, std::byte{7}));
  Outcome run = Tool({"encode", "--key", kKeyHex, "-i", in, "-o", "/dev/full"});
  EXPECT_EQ(run.status, 1);
  EXPECT_THAT(run.err, HasSubstr("compatcrypt: /dev/full: No space left on device"));

  Spawn toStdout{.args = {"decode", "--key", kKeyHex, "-i", in}, .stdoutPath = "/dev/full"};
  run = Tool(toStdout);
  EXPECT_EQ(run.status, 1);
  EXPECT_THAT(run.err, HasSubstr("compatcrypt: standard output: "));

  Spawn digestToStdout{.args = {"digest", in}, .stdoutPath = "/dev/full"};
  run = Tool(digestToStdout);
  EXPECT_EQ(run.status, 1);
  EXPECT_THAT(run.err, HasSubstr("compatcrypt: standard output: "));
}

TEST_F(CliTest, UsageErrorsExitWithTwo) {
  const std::string in = Write("plain.bin", "x");
  for (const std::vector<std::string> &args : std::vector<std::vector<std::string>>{
           {},
           {"frobnicate"},
           {"encode", "--password", "secret", "-i", in},
           {"encode", "--key", kKeyHex, "--password-env", "X", "-i", in},
           {"digest", "--offset", "-1", in},
           {"digest", "--quiet", in},  // a check option without --check
       }) {
    SCOPED_TRACE(testing::PrintToString(args));
    const Outcome run = Tool(args);
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.err, "");
    EXPECT_EQ(run.out, "");
  }
}

TEST_F(CliTest, HelpAndVersion) {
  Outcome run = Tool({"--version"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, std::string("compatcrypt ") + COMPATCRYPT_VERSION +
                         "\nengines: " + compatcrypt::engines() + "\n");
  for (const char *command : {"digest", "encode", "decode", "keygen"}) {
    run = Tool({"--help"});
    EXPECT_EQ(run.status, 0);
    EXPECT_THAT(run.out, HasSubstr(command));
  }
}

}  // namespace
}  // namespace compatcrypt::test
