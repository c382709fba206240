// The tool's keys and passwords, run as a process: where they come from,
// what is refused or warned about, that no copy of their text is left in
// the process's memory, and what the terminal and the output directory look
// like after a signal, with real signals sent to a real process.
#include <signal.h>
#include <sys/stat.h>

#include <algorithm>
#include <span>

#include "cli_fixture.h"

namespace compatcrypt::test {
namespace {

// A key without zero bytes: no warning is expected with it.
constexpr const char *kWholeKeyHex = "0123456789abcdeffedcba9876543210";

// How many bytes of a key the cipher uses, worked out independently of the
// tool: each half (the outer DES key of the even-numbered bytes, the
// middle one of the odd-numbered bytes) is cut at its first zero byte, and
// is cut short when a non-zero byte follows.
std::string ExpectedWarning(std::span<const std::byte, kKeySize> key) {
  std::size_t inEffect[2] = {8, 8};
  bool cut[2] = {false, false};
  for (std::size_t half = 0; half < 2; ++half) {
    std::size_t zero = 8;
    for (std::size_t i = 0; i < 8; ++i) {
      const bool isZero = key[2 * i + half] == std::byte{0};
      if (isZero && zero == 8) zero = i;
      if (!isZero && zero < i) cut[half] = true;
    }
    if (cut[half]) inEffect[half] = zero;
  }
  if (!cut[0] && !cut[1]) return "";
  std::string text = "compatcrypt: warning: key: a zero byte cuts ";
  if (cut[0]) text += "the outer key to " + std::to_string(inEffect[0]) + " of 8 bytes";
  if (cut[0] && cut[1]) text += " and the middle key to " + std::to_string(inEffect[1]) + " of 8";
  if (!cut[0]) text += "the middle key to " + std::to_string(inEffect[1]) + " of 8 bytes";
  return text + "; " + std::to_string(inEffect[0] + inEffect[1]) + " of 16 key bytes are in effect\n";
}

std::string KeyLine(const std::string &password) { return Key::from_password(password).to_hex() + "\n"; }

using CliSecretsTest = CliTest;

// --key-file and --key-env read the same 32 hex digits as --key: the key
// file's first line without its LF or CRLF.
TEST_F(CliSecretsTest, KeyFileAndKeyVariableGiveTheKeyOfKey) {
  std::mt19937_64 rng(11);
  const ByteVector plain = RandomBytes<std::byte>(rng, 1000 + 5);
  const std::string in = Write("plain.bin", plain);
  const Bytes expected = CEncode(plain, Key::from_hex(kWholeKeyHex).bytes());
  const std::string hex = kWholeKeyHex;
  std::string upper = hex;
  std::transform(upper.begin(), upper.end(), upper.begin(), ::toupper);
  const std::vector<std::pair<const char *, std::vector<std::string>>> sources = {
      {"--key", {"--key", hex}},
      {"--key=", {"--key=" + hex}},
      {"key file with LF", {"--key-file", Write("lf.key", hex + "\n")}},
      {"key file with CRLF", {"--key-file", Write("crlf.key", hex + "\r\n")}},
      {"key file without line ending", {"--key-file", Write("bare.key", hex)}},
      {"key file with a second line", {"--key-file", Write("two.key", hex + "\nnot a key\n")}},
      {"upper-case key file", {"--key-file", Write("upper.key", upper + "\n")}},
      {"key variable", {"--key-env", "CC_TEST_KEY"}},
  };
  for (const auto &[what, source] : sources) {
    SCOPED_TRACE(what);
    fs::remove(work() / "coded.bin");
    Spawn encode{.args = {"encode", "-i", in, "-o", At("coded.bin")}, .env = {{"CC_TEST_KEY", hex}}};
    encode.args.insert(encode.args.end(), source.begin(), source.end());
    const Outcome run = Tool(encode);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(ToBytes(Read("coded.bin")), expected);
  }
}

// A key the tool cannot use: an argument that is not 32 hex digits is a
// usage error (2); a key file or variable that does not hold one is a
// failure (1) naming the file or variable. Nothing is created either way.
TEST_F(CliSecretsTest, MalformedKeysAreRefused) {
  const std::string in = Write("plain.bin", "some plain data");
  struct Case {
    const char *what;
    std::vector<std::string> key;
    int status;
    std::string subject;
  };
  const std::vector<Case> cases = {
      {"short --key", {"--key", "00112233"}, 2, "--key"},
      {"long --key", {"--key", std::string(kWholeKeyHex) + "00"}, 2, "--key"},
      {"non-hex --key", {"--key", NonHexKey()}, 2, "--key"},
      {"empty --key=", {"--key="}, 2, "--key"},
      {"--key= with spaces", {"--key= " + std::string(kWholeKeyHex).substr(1)}, 2, "--key"},
      {"missing key file", {"--key-file", At("nokey")}, 1, At("nokey")},
      {"key file of a password", {"--key-file", Write("pw.key", "not a hex key\n")}, 1, At("pw.key")},
      {"empty key file", {"--key-file", Write("empty.key", "")}, 1, At("empty.key")},
      {"key file with a space",
       {"--key-file", Write("space.key", std::string(kWholeKeyHex) + " \n")},
       1,
       At("space.key")},
      {"unset key variable", {"--key-env", "CC_TEST_UNSET_KEY"}, 1, "CC_TEST_UNSET_KEY"},
      {"key variable not hex", {"--key-env", "CC_TEST_BAD_KEY"}, 1, "CC_TEST_BAD_KEY"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    const std::vector<std::string> before = Listing();
    Spawn encode{.args = {"encode", "-i", in, "-o", At("coded.bin")}, .env = {{"CC_TEST_BAD_KEY", "xyz"}}};
    encode.args.insert(encode.args.end(), c.key.begin(), c.key.end());
    const Outcome run = Tool(encode);
    EXPECT_EQ(run.status, c.status);
    EXPECT_THAT(run.err, testing::StartsWith("compatcrypt: " + c.subject + ": "));
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(Listing(), before);
  }
}

TEST_F(CliSecretsTest, HelpSaysTheKeyArgumentIsVisibleToOtherUsers) {
  for (const char *command : {"encode", "decode"}) {
    SCOPED_TRACE(command);
    const Outcome run = Tool({command, "--help"});
    EXPECT_EQ(run.status, 0);
    EXPECT_THAT(run.out, HasSubstr("visible to other users"));
    EXPECT_THAT(run.out, HasSubstr("--key-file"));
    EXPECT_THAT(run.out, HasSubstr("--key-env"));
  }
}

// No copy of the key or password text (nor of the printed key) is left in
// the tool's memory when it exits: the argument is taken out of the command
// line (so that /proc/PID/cmdline no longer shows it) before the option
// parser copies it, files are read into buffers that are wiped, and keygen
// writes its line from a buffer it wipes. Checked at the process's exit,
// where a copy in freed memory or in saved registers would still be found.
TEST_F(CliSecretsTest, NoCopyOfKeyOrPasswordTextIsLeftInMemory) {
  COMPATCRYPT_SKIP_IF_TOOL_SANITIZED();
  const std::string in = Write("plain.bin", std::string(5000, 'p'));
  const std::string hex = "13579bdf2468ace0fdb97531eca86421";
  const std::string password = "a password of some length, not to be found again: 8d1c";
  struct Case {
    const char *what;
    std::vector<std::string> args;
    std::vector<std::string> secrets;
  };
  const std::vector<Case> cases = {
      {"--key HEX", {"encode", "-i", in, "-o", At("coded1"), "--key", hex}, {hex}},
      {"--key=HEX", {"decode", "-i", in, "-o", At("coded2"), "--key=" + hex}, {hex}},
      {"--key-file", {"encode", "-i", in, "-o", At("coded3"), "--key-file", Write("k", hex + "\n")}, {hex}},
      {"--password-file",
       {"encode", "-i", in, "-o", At("coded4"), "--password-file", Write("p1", password)},
       {password}},
      {"keygen --password-file",
       {"keygen", "--password-file", Write("p2", password + "\n")},
       {password, Key::from_password(password).to_hex()}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    const Command command(COMPATCRYPT_CLI, c.args);
    bool inspected = false;
    const int wstatus = RunTracedToExit(command, "/dev/null", Capture("out"), Capture("err"), [&](pid_t pid) {
      inspected = true;
      const std::string commandLine = ReadText(Proc(pid, "cmdline"));
      const std::string memory = WritableMemoryOf(pid);
      for (const std::string &secret : c.secrets) {
        EXPECT_EQ(PieceFound(memory, secret), "") << secret;
        EXPECT_EQ(PieceFound(commandLine, secret), "") << secret;
      }
    });
    if (WIFEXITED(wstatus) && WEXITSTATUS(wstatus) == 126) GTEST_SKIP() << "tracing is not permitted here";
    EXPECT_TRUE(inspected);
    ASSERT_TRUE(WIFEXITED(wstatus));
    EXPECT_EQ(WEXITSTATUS(wstatus), 0) << ReadText(Capture("err"));
  }
  EXPECT_EQ(ReadText(Capture("out")), KeyLine(password));
}

// One rule for password files, in the tool and in the demonstration host:
// the first line without its line ending, LF or CRLF; a CR that is not
// followed by an LF is part of the password.
TEST_F(CliSecretsTest, PasswordFileIsItsFirstLineWithoutLfOrCrlf) {
  std::mt19937_64 rng(12);
  const ByteVector plain = RandomBytes<std::byte>(rng, 203);
  const std::string plainPath = Write("plain.bin", plain);
  const std::vector<std::pair<std::string, std::string>> files = {
      {"pass word\n", "pass word"},
      {"pass word\r\n", "pass word"},
      {"pass word", "pass word"},
      {"pass word\nsecond line\n", "pass word"},
      {"pass word\r\nsecond line\r\n", "pass word"},
      {"pass word\r", "pass word\r"},
      {"pass\rword\n", "pass\rword"},
      {"pass word\r\r\n", "pass word\r"},
      {" pass word \t\n", " pass word \t"},
  };
  int index = 0;
  for (const auto &[content, password] : files) {
    SCOPED_TRACE("file " + std::to_string(index++) + ": " + testing::PrintToString(content));
    const std::string file = Write("password.txt", content);
    Outcome run = Tool({"keygen", "--password-file", file});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, KeyLine(password));

    fs::remove(work() / "coded.bin");
    run = Tool({"encode", "--password-file", file, "-i", plainPath, "-o", At("coded.bin")});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(ToBytes(Read("coded.bin")), CEncodeKey(password, plain));
#ifdef COMPATCRYPT_DEMO
    run = Tool(Spawn{.args = {"keygen"}, .stdinPath = file, .program = COMPATCRYPT_DEMO});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, KeyLine(password));
    run = Tool(Spawn{.args = {"encode", "--password-file", file, plainPath}, .program = COMPATCRYPT_DEMO});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(ToBytes(run.out), CEncodeKey(password, plain));
#endif
  }
}

// The empty password's key is the same for everyone: refused as a usage
// error from any source unless --allow-empty-password is given.
TEST_F(CliSecretsTest, EmptyPasswordIsRefusedUnlessAllowed) {
  const std::string in = Write("plain.bin", "plain data");
  const std::vector<std::pair<const char *, std::vector<std::string>>> sources = {
      {"empty file", {"--password-file", Write("empty", "")}},
      {"empty first line", {"--password-file", Write("lf", "\nsecond line\n")}},
      {"empty first line with CRLF", {"--password-file", Write("crlf", "\r\n")}},
      {"empty variable", {"--password-env", "CC_TEST_EMPTY"}},
  };
  for (const auto &[what, source] : sources) {
    SCOPED_TRACE(what);
    for (const char *command : {"keygen", "encode", "decode"}) {
      SCOPED_TRACE(command);
      const std::vector<std::string> before = Listing();
      Spawn refused{.args = {command}, .env = {{"CC_TEST_EMPTY", ""}}};
      if (std::string(command) != "keygen")
        refused.args.insert(refused.args.end(), {"-i", in, "-o", At("out.bin")});
      refused.args.insert(refused.args.end(), source.begin(), source.end());
      Outcome run = Tool(refused);
      EXPECT_EQ(run.status, 2);
      EXPECT_THAT(run.err, testing::StartsWith("compatcrypt: "));
      EXPECT_THAT(run.err, HasSubstr("--allow-empty-password"));
      EXPECT_EQ(run.out, "");
      EXPECT_EQ(Listing(), before);
    }
    Spawn allowed{.args = {"keygen", "--allow-empty-password"}, .env = {{"CC_TEST_EMPTY", ""}}};
    allowed.args.insert(allowed.args.end(), source.begin(), source.end());
    const Outcome run = Tool(allowed);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, KeyLine(""));
  }
}

TEST_F(CliSecretsTest, EmptyPasswordOnTheTerminalIsRefusedUnlessAllowed) {
  for (const bool allow : {false, true}) {
    SCOPED_TRACE(allow ? "allowed" : "refused");
    const Command command(COMPATCRYPT_CLI, allow
                                               ? std::vector<std::string>{"keygen", "--allow-empty-password"}
                                               : std::vector<std::string>{"keygen"});
    TerminalJob job(command);
    ASSERT_TRUE(job.Started());
    EXPECT_THAT(ReadTerminal(job.master(), "Password: "), HasSubstr("Password: "));
    Type(job.master(), "\n");
    std::string seen;
    const int status = job.Finish(&seen);
    if (allow) {
      EXPECT_EQ(status, 0) << seen;
      EXPECT_THAT(seen, HasSubstr(Key::from_password("").to_hex()));
    } else {
      EXPECT_EQ(status, 2) << seen;
      EXPECT_THAT(seen, HasSubstr("--allow-empty-password"));
    }
  }
}

// Each DES key is read up to its first zero byte; when that drops non-zero
// bytes, a warning names the key bytes in effect (the key is still used,
// as the library uses it). Zero bytes that only end a half drop nothing.
TEST_F(CliSecretsTest, KeysCutShortByAZeroByteGetAWarning) {
  const std::string in = Write("plain.bin", "sixteen bytes!!!");
  struct Case {
    const char *what;
    std::string hex;
    std::string warning;  // without "compatcrypt: warning: key: a zero byte cuts " and the count
  };
  const std::vector<Case> cases = {
      {"no zero byte", kWholeKeyHex, ""},
      {"all zero", std::string(32, '0'), ""},
      {"zero bytes that end both halves", "112233445566778899aabbccdd000000", ""},
      {"outer cut", "11223344556600778899aabbccddeeff", "the outer key to 3 of 8 bytes; 11 of 16"},
      {"middle cut", "11223344556677008899aabbccddeeff", "the middle key to 3 of 8 bytes; 11 of 16"},
      {"both cut at the start", "0000" + std::string(28, 'f'),
       "the outer key to 0 of 8 bytes and the middle key to 0 of 8; 0 of 16"},
      {"one middle byte left", "00ffff00" + std::string(24, 'f'),
       "the outer key to 0 of 8 bytes and the middle key to 1 of 8; 1 of 16"},
      {"the test key", kKeyHex, "the outer key to 5 of 8 bytes and the middle key to 0 of 8; 5 of 16"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    const Key key = Key::from_hex(c.hex);
    const std::string warning = c.warning.empty() ? ""
                                                  : "compatcrypt: warning: key: a zero byte cuts " +
                                                        c.warning + " key bytes are in effect\n";
    EXPECT_EQ(ExpectedWarning(key.bytes()), warning);
    const std::vector<std::vector<std::string>> sources = {
        {"--key", c.hex}, {"--key-file", Write("key.txt", c.hex + "\n")}, {"--key-env", "CC_TEST_KEY"}};
    for (const auto &source : sources) {
      SCOPED_TRACE(source[0]);
      fs::remove(work() / "coded.bin");
      Spawn encode{.args = {"encode", "-i", in, "-o", At("coded.bin")}, .env = {{"CC_TEST_KEY", c.hex}}};
      encode.args.insert(encode.args.end(), source.begin(), source.end());
      const Outcome run = Tool(encode);
      EXPECT_EQ(run.status, 0);
      EXPECT_EQ(run.err, warning);
      EXPECT_EQ(ToBytes(Read("coded.bin")), CEncode(AsByteVector("sixteen bytes!!!"), key.bytes()));
    }
  }
  // What the warning is about: this key encodes like the all-zero key.
  EXPECT_EQ(CEncode(AsByteVector("sixteen bytes!!!"), Key::from_hex("0000" + std::string(28, 'f')).bytes()),
            CEncode(AsByteVector("sixteen bytes!!!"), Bytes(16, 0)));
}

// A password's key can hold zero bytes too: the warning comes with keygen,
// encode and decode alike.
TEST_F(CliSecretsTest, PasswordKeysCutShortByAZeroByteGetAWarning) {
  std::string cutPassword;
  std::string wholePassword;
  for (int i = 0; cutPassword.empty() || wholePassword.empty(); ++i) {
    const std::string candidate = "password " + std::to_string(i);
    const bool cut = !ExpectedWarning(Key::from_password(candidate).bytes()).empty();
    (cut ? cutPassword : wholePassword) = candidate;
  }
  const std::string in = Write("plain.bin", "data");
  for (const std::string &password : {cutPassword, wholePassword}) {
    SCOPED_TRACE(password);
    const std::string warning = ExpectedWarning(Key::from_password(password).bytes());
    for (const char *command : {"keygen", "encode", "decode"}) {
      SCOPED_TRACE(command);
      Spawn run{.args = {command, "--password-env", "CC_TEST_PASSWORD"},
                .env = {{"CC_TEST_PASSWORD", password}}};
      if (std::string(command) != "keygen") run.args.insert(run.args.end(), {"-i", in});
      const Outcome outcome = Tool(run);
      EXPECT_EQ(outcome.status, 0);
      EXPECT_EQ(outcome.err, warning);
      if (std::string(command) == "keygen") {
        EXPECT_EQ(outcome.out, KeyLine(password));
      }
    }
  }
}

// The password is asked on the terminal (/dev/tty) even when standard input
// is the data to encode, and what is typed is not taken from that data.
TEST_F(CliSecretsTest, PasswordPromptUsesTheTerminalWhileStandardInputIsData) {
  std::mt19937_64 rng(13);
  const ByteVector plain = RandomBytes<std::byte>(rng, 3000 + 1);
  const std::string in = Write("plain.bin", plain);
  const Command command(COMPATCRYPT_CLI, {"encode", "-o", At("coded.bin")});
  TerminalJob job(command, {.stdinPath = in});
  ASSERT_TRUE(job.Started());
  EXPECT_THAT(ReadTerminal(job.master(), "Password: "), HasSubstr("Password: "));
  Type(job.master(), "typed secret\n");
  EXPECT_THAT(ReadTerminal(job.master(), "Repeat password: "), HasSubstr("Repeat password: "));
  Type(job.master(), "typed secret\n");
  std::string seen;
  EXPECT_EQ(job.Finish(&seen), 0) << seen;
  EXPECT_THAT(seen, testing::Not(HasSubstr("typed secret")));
  EXPECT_EQ(ToBytes(Read("coded.bin")), CEncodeKey("typed secret", plain));
}

// A signal that ends the tool at the prompt gives the terminal its echo
// back, and the tool dies by that signal.
TEST_F(CliSecretsTest, EchoComesBackWhenASignalEndsThePrompt) {
  for (const int signal : kEndingSignals) {
    SCOPED_TRACE(SignalName(signal));
    const Command command(COMPATCRYPT_CLI, {"keygen"});
    TerminalJob job(command);
    ASSERT_TRUE(job.Started());
    EXPECT_THAT(ReadTerminal(job.master(), "Password: "), HasSubstr("Password: "));
    EXPECT_FALSE(EchoOn(job.master()));
    kill(job.tool(), signal);
    std::string seen;
    EXPECT_EQ(job.Finish(&seen), 128 + signal) << seen;
    EXPECT_TRUE(EchoOn(job.master()));
  }
}

// Ctrl-Z at the prompt: the terminal has its echo while the tool is
// stopped, loses it again when the tool continues, and the password typed
// then is read.
TEST_F(CliSecretsTest, EchoComesBackWhileStoppedAtThePrompt) {
  const Command command(COMPATCRYPT_CLI, {"keygen"});
  TerminalJob job(command);
  ASSERT_TRUE(job.Started());
  EXPECT_THAT(ReadTerminal(job.master(), "Password: "), HasSubstr("Password: "));
  EXPECT_FALSE(EchoOn(job.master()));
  Type(job.master(), "\x1a");  // the terminal's suspend character: SIGTSTP
  ASSERT_TRUE(WaitUntil([&] { return StateOf(job.tool()) == 'T'; }));
  EXPECT_TRUE(EchoOn(job.master()));
  kill(job.tool(), SIGCONT);
  EXPECT_TRUE(WaitUntil([&] { return StateOf(job.tool()) != 'T' && !EchoOn(job.master()); }));
  Type(job.master(), "hunter2\n");
  std::string seen;
  EXPECT_EQ(job.Finish(&seen), 0) << seen;
  EXPECT_THAT(seen, HasSubstr(Key::from_password("hunter2").to_hex()));
  EXPECT_THAT(seen, testing::Not(HasSubstr("hunter2")));
  EXPECT_TRUE(EchoOn(job.master()));
}

// A signal ignored when the tool starts (nohup, background jobs) stays
// ignored: the tool carries on and finishes its output.
TEST_F(CliSecretsTest, SignalsIgnoredAtTheStartStayIgnored) {
  std::mt19937_64 rng(14);
  const ByteVector first = RandomBytes<std::byte>(rng, 100000);
  const ByteVector second = RandomBytes<std::byte>(rng, 5003);
  ByteVector all = first;
  all.insert(all.end(), second.begin(), second.end());
  const Bytes expected = CEncode(all, Key::from_hex(kWholeKeyHex).bytes());
  ASSERT_EQ(mkfifo(Capture("input").c_str(), 0600), 0);
  for (const int signal : kEndingSignals) {
    SCOPED_TRACE(SignalName(signal));
    fs::remove(work() / "coded.bin");
    Child tool(Start(Spawn{.args = {"encode", "--key", kWholeKeyHex, "-o", At("coded.bin")},
                           .stdinPath = Capture("input"),
                           .ignored = {signal}}));
    FifoFeed input(Capture("input"));
    ASSERT_TRUE(input.Open());
    input.Write(first);
    ASSERT_TRUE(WaitUntil([&] { return HasFileOpenIn(tool.pid(), work()); }));
    kill(tool.pid(), signal);
    input.Write(second);
    input.Close();
    const int wstatus = tool.Wait();
    ASSERT_TRUE(WIFEXITED(wstatus)) << "ended by signal " << (WIFSIGNALED(wstatus) ? WTERMSIG(wstatus) : 0);
    EXPECT_EQ(WEXITSTATUS(wstatus), 0) << ReadText(Capture("err"));
    EXPECT_EQ(ToBytes(Read("coded.bin")), expected);
  }
}

// Every signal that ends the tool while it writes its output leaves no
// output and no temporary file behind, and the tool dies by that signal.
TEST_F(CliSecretsTest, EndingSignalsLeaveNoFileBehind) {
  std::mt19937_64 rng(15);
  const ByteVector first = RandomBytes<std::byte>(rng, 200000);
  ASSERT_EQ(mkfifo(Capture("input").c_str(), 0600), 0);
  for (const int signal : kEndingSignals) {
    SCOPED_TRACE(SignalName(signal));
    Child tool(Start(Spawn{.args = {"decode", "--key", kWholeKeyHex, "-o", At("plain.bin")},
                           .stdinPath = Capture("input")}));
    FifoFeed input(Capture("input"));
    ASSERT_TRUE(input.Open());
    input.Write(first);
    ASSERT_TRUE(WaitUntil([&] { return HasFileOpenIn(tool.pid(), work()); }));
    kill(tool.pid(), signal);
    const int wstatus = tool.Wait();
    ASSERT_TRUE(WIFSIGNALED(wstatus));
    EXPECT_EQ(WTERMSIG(wstatus), signal);
    EXPECT_EQ(Listing(), std::vector<std::string>{});
  }
}

}  // namespace
}  // namespace compatcrypt::test
