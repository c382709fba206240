// The tool under hostile use: stopped and continued from outside while it
// waits on a pipe or a FIFO, key and password files without a line end or
// without an end at all, a key and the data both on standard input, and
// file names that would drive the terminal from an error message.
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdlib>
#include <map>
#include <thread>

#include "cli_fixture.h"

namespace compatcrypt::test {
namespace {

constexpr const char *kKey = "0123456789abcdeffedcba9876543210";

class CliHostileTest : public CliTest {
 protected:
  // A tool that stops reading early is a failed write here, not a signal
  // that ends the test (the tool itself gets SIGPIPE's default effect).
  void SetUp() override {
    CliTest::SetUp();
    signal(SIGPIPE, SIG_IGN);
  }
  void TearDown() override {
    signal(SIGPIPE, SIG_DFL);
    CliTest::TearDown();
  }
};

// The environment of a tool that is stopped and continued from outside.
// LeakSanitizer's check at exit attaches to the tool's threads with ptrace
// and waits for the SIGSTOP that the attach sends; a SIGCONT from outside
// at that moment discards the pending stop, and the check then waits
// forever while the tool spins waiting for the check. These tests send
// SIGCONT at any moment, so a tool built with a sanitizer runs here
// without the leak check at exit (its other checks stay); every other test
// of the tool keeps it.
std::map<std::string, std::string> StoppableToolEnvironment() {
#if COMPATCRYPT_TOOL_SANITIZED
  const char *options = std::getenv("ASAN_OPTIONS");
  const std::string given = options != nullptr ? options : "";
  return {{"ASAN_OPTIONS", given + (given.empty() ? "" : ":") + "detect_leaks=0"}};
#else
  return {};
#endif
}

// Ctrl-Z and fg, as a shell sends them to a job: SIGTSTP, then SIGCONT.
void StopAndContinue(pid_t pid) {
  kill(pid, SIGTSTP);
  std::this_thread::sleep_for(std::chrono::milliseconds(2));
  kill(pid, SIGCONT);
}

// Stopped and continued over and over while its writes block on a pipe that
// is read slowly: every line arrives, and the run succeeds.
TEST_F(CliHostileTest, StopsWhileWritingToAPipeLoseNoOutput) {
  std::vector<std::string> args{"digest", "-j1", "--"};
  std::string expected;
  for (int i = 0; i < 3000; ++i) {
    const std::string name = At("file-" + std::to_string(i));
    Write("file-" + std::to_string(i), std::to_string(i));
    args.push_back(name);
    expected += FileDigestHex(name) + "  " + name + "\n";
  }
  int pipe[2];
  ASSERT_EQ(pipe2(pipe, O_CLOEXEC), 0);
  const pid_t pid = Start(Spawn{.args = args, .env = StoppableToolEnvironment(), .out = pipe[1]});
  close(pipe[1]);
  // Read a little at a time, so that the tool waits on a full pipe
  // whenever it is stopped.
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  std::string got;
  char buffer[1024];
  for (;;) {
    StopAndContinue(pid);
    const ssize_t n = read(pipe[0], buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got.append(buffer, static_cast<std::size_t>(n));
  }
  close(pipe[0]);
  const Outcome run = Finish(pid);
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(got.size(), expected.size());
  EXPECT_TRUE(got == expected);
}

// Stopped and continued while reading a check list from a pipe that the
// test fills a line at a time: every line is checked.
TEST_F(CliHostileTest, StopsWhileReadingACheckListLoseNoLines) {
  std::string list;
  for (int i = 0; i < 200; ++i) {
    const std::string name = Write("file-" + std::to_string(i), std::to_string(i));
    list += FileDigestHex(name) + "  " + name + "\n";
  }
  int pipe[2];
  ASSERT_EQ(pipe2(pipe, O_CLOEXEC), 0);
  const pid_t pid =
      Start(Spawn{.args = {"digest", "-c", "--quiet"}, .env = StoppableToolEnvironment(), .in = pipe[0]});
  close(pipe[0]);
  for (std::size_t at = 0; at < list.size();) {
    const std::size_t end = list.find('\n', at) + 1;
    if (write(pipe[1], list.data() + at, end - at) != static_cast<ssize_t>(end - at)) break;
    at = end;
    std::this_thread::sleep_for(std::chrono::microseconds(500));
    StopAndContinue(pid);
  }
  close(pipe[1]);
  const Outcome run = Finish(pid);
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err, "");
}

// Stopped and continued while it waits for a FIFO's writer: the open goes
// on waiting, and the data that comes is encoded.
TEST_F(CliHostileTest, StopsWhileAFifoWaitsForItsWriter) {
  const std::string fifo = At("fifo");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const pid_t pid = Start(Spawn{.args = {"encode", "--key", kKey, "-i", fifo, "-o", At("out")},
                                .env = StoppableToolEnvironment()});
  for (int i = 0; i < 20; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    StopAndContinue(pid);
  }
  // The writer's end opens once the tool holds the reading end; a tool that
  // gave up has none, and the test does not wait for it forever.
  int writer = -1;
  for (int tries = 0; writer < 0 && tries < 5000; ++tries) {
    writer = open(fifo.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (writer < 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  const std::string plain(1000, 'p');
  if (writer >= 0) {
    fcntl(writer, F_SETFL, 0);
    EXPECT_EQ(write(writer, plain.data(), plain.size()), static_cast<ssize_t>(plain.size()));
    close(writer);
  } else {
    ADD_FAILURE() << "the tool does not read the FIFO";
  }
  const Outcome run = Finish(pid);
  EXPECT_EQ(run.status, 0) << run.err;
  const Bytes expected = CEncode(AsByteVector(plain), compatcrypt::Key::from_hex(kKey).bytes());
  EXPECT_EQ(ToHex(Read("out")), ToHex(expected));
}

// Key and password files are read no further than a key line or the
// longest password: a file without a line end, however long, and one
// without an end are refused at once, without the memory to hold them.
TEST_F(CliHostileTest, KeyAndPasswordFilesAreReadWithinABound) {
  const std::string data = Write("data", "some data");
  const std::string longLine = Write("long", std::string(64 << 20, 'a'));
  const std::string longPassword = Write("password", std::string(4097, 'p') + "\n");
  const std::string longestPassword = Write("longest", std::string(4096, 'p') + "\r\n");
  const std::string keyWithCrLf = Write("key", std::string(kKey) + "\r\nsecond line\n");
  const struct {
    std::vector<std::string> args;
    int status;
    const char *message;
  } cases[] = {
      {{"--key-file", longLine}, 1, "the key line is longer than 32 bytes"},
      {{"--key-file", "/dev/zero"}, 1, "the key line is longer than 32 bytes"},
      {{"--password-file", longLine}, 1, "the password is longer than 4096 bytes"},
      {{"--password-file", "/dev/zero"}, 1, "the password is longer than 4096 bytes"},
      {{"--password-file", longPassword}, 1, "the password is longer than 4096 bytes"},
      {{"--password-file", longestPassword}, 0, ""},
      {{"--key-file", keyWithCrLf}, 0, ""},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args));
    std::vector<std::string> args{"encode", "-i", data};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const Outcome run = Tool(args);
    EXPECT_EQ(run.status, c.status) << run.err;
    if (c.status != 0) {
      EXPECT_THAT(run.err, HasSubstr(c.message));
    }
  }
}

// A key or password file that is standard input while the data is too
// ("-", /dev/stdin, /dev/fd/0) is refused before anything is read; with the
// data from a file, a key on standard input is read.
TEST_F(CliHostileTest, AKeyAndTheDataCannotShareStandardInput) {
  const std::string keyThenData = Write("both", std::string(kKey) + "\n" + std::string(1000, 'd'));
  for (const char *option : {"--key-file", "--password-file"}) {
    for (const char *name : {"-", "/dev/stdin", "/dev/fd/0"}) {
      SCOPED_TRACE(std::string(option) + " " + name);
      const Outcome run = Tool(Spawn{.args = {"encode", option, name}, .stdinPath = keyThenData});
      EXPECT_EQ(run.status, 2);
      EXPECT_EQ(run.out, "");
      EXPECT_THAT(run.err, HasSubstr(std::string(option) + ": names standard input"));
    }
  }
  // The same through a pipe, the way `{ echo KEY; cat data; } | ...` runs.
  int pipe[2];
  ASSERT_EQ(pipe2(pipe, O_CLOEXEC), 0);
  const pid_t pid = Start(Spawn{.args = {"encode", "--key-file", "/dev/stdin"}, .in = pipe[0]});
  close(pipe[0]);
  const std::string both = ReadText(keyThenData);
  // The tool may have refused, and closed the pipe, before this is written.
  [[maybe_unused]] const ssize_t written = write(pipe[1], both.data(), both.size());
  close(pipe[1]);
  const Outcome piped = Finish(pid);
  EXPECT_EQ(piped.status, 2);
  EXPECT_EQ(piped.out, "");

  const std::string data = Write("data", std::string(1000, 'd'));
  const Outcome fromFile =
      Tool(Spawn{.args = {"encode", "--key-file", "-", "-i", data}, .stdinPath = keyThenData});
  EXPECT_EQ(fromFile.status, 0) << fromFile.err;
  EXPECT_EQ(ToHex(AsByteVector(fromFile.out)),
            ToHex(CEncode(AsByteVector(std::string(1000, 'd')), compatcrypt::Key::from_hex(kKey).bytes())));
}

// Names in error messages reach the terminal as text: a name with escape
// sequences, a carriage return or a newline is quoted with those escaped,
// so it cannot set the window title, rewrite the line or split the message.
TEST_F(CliHostileTest, NamesInMessagesCannotDriveTheTerminal) {
  const struct {
    std::string name;
    std::string shown;
  } cases[] = {
      {"evil\033]0;owned\007\033[2K\rreport.pdf", "'evil\\x1b]0;owned\\x07\\x1b[2K\\rreport.pdf'"},
      {"two\nlines", "'two\\nlines'"},
      {"back\\slash", "'back\\\\slash'"},
      {"it's plain", "it's plain"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.shown);
    const Outcome missing = Tool({"digest", "--", c.name});
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.err, "compatcrypt: " + c.shown + ": No such file or directory\n");
    // The same name in a check list: the message names it quoted.
    const std::string list = Write(
        "list", std::string(40, '0') + "  " + (c.name.find('\n') == std::string::npos ? c.name : "x") + "\n");
    const Outcome checked = Tool({"digest", "-c", list});
    EXPECT_EQ(checked.status, 1);
    EXPECT_EQ(checked.err.find('\033'), std::string::npos);
    EXPECT_EQ(checked.err.find('\r'), std::string::npos);
  }
}

}  // namespace
}  // namespace compatcrypt::test

namespace compatcrypt::test {
namespace {

// Parse errors name options, never the words around them, which may be the
// value of a mistyped secret option; an unknown command is named, with the
// nearest command.
TEST_F(CliHostileTest, ParseErrorsEchoNoSecret) {
  const struct {
    std::vector<std::string> args;
    std::string message;
  } cases[] = {
      {{"encode", "--password", "s3cr3t"},
       "compatcrypt: unexpected option --password; 1 unexpected argument (not shown: it may be a key or a "
       "password)\n"},
      {{"encode", "--keys", kKey}, "compatcrypt: unexpected option --keys; 1 unexpected argument"},
      {{"encode", std::string("--keys=") + kKey}, "compatcrypt: unexpected option --keys\n"},
      {{"encode", "--", "--key", kKey}, "compatcrypt: unexpected option --key; 1 unexpected argument"},
      {{"encdoe"}, "compatcrypt: unknown command 'encdoe'; did you mean 'encode'?"},
      {{"kegen"}, "compatcrypt: unknown command 'kegen'; did you mean 'keygen'?"},
      {{"frobnicate"},
       "compatcrypt: unknown command 'frobnicate' (commands: digest, encode, decode, keygen)"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args));
    const Outcome run = Tool(c.args);
    EXPECT_EQ(run.status, 2);
    EXPECT_THAT(run.err, testing::StartsWith(c.message));
    EXPECT_EQ(run.err.find("s3cr3t"), std::string::npos);
    EXPECT_EQ(run.err.find(kKey), std::string::npos);
  }
}

}  // namespace
}  // namespace compatcrypt::test

namespace compatcrypt::test {
namespace {

// Blank lines and '#' comments in a check list are neither digest lines
// nor malformed ones: --strict passes, as sha1sum -c --strict does; a list
// of nothing else has no digest lines.
TEST_F(CliHostileTest, CheckListsMayHoldBlankLinesAndComments) {
  const std::string file = Write("data", "data");
  std::string list = "# made today\n\n";
  list.append(FileDigestHex(file)).append("  ").append(file).append("\r\n\r\n# end\n");
  const std::string annotated = Write("annotated", list);
  const Outcome strict = Tool({"digest", "-c", "--strict", "-w", annotated});
  EXPECT_EQ(strict.status, 0) << strict.err;
  EXPECT_EQ(strict.out, file + ": OK\n");
  EXPECT_EQ(strict.err, "");
  const Outcome empty = Tool({"digest", "-c", Write("comments", "# nothing\n\n")});
  EXPECT_EQ(empty.status, 1);
  EXPECT_THAT(empty.err, HasSubstr("no properly formatted digest lines found"));
}

// Under a low open-file limit, many jobs shrink to what the limit holds
// instead of failing files with "Too many open files".
TEST_F(CliHostileTest, JobsStayWithinTheOpenFileLimit) {
  std::vector<std::string> args{"digest", "-j1024", "--"};
  std::string expected;
  // Many small files, so that many jobs have one open at once.
  for (int i = 0; i < 3000; ++i) {
    std::string base = "f";
    base.append(std::to_string(i));
    const std::string name = Write(base, std::string(static_cast<std::size_t>(i % 7) * 97, 'x'));
    args.push_back(name);
    expected.append(FileDigestHex(name)).append("  ").append(name).append("\n");
  }
  // The tool inherits the limit; the test's own is put back after.
  struct rlimit saved;
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &saved), 0);
  struct rlimit low = saved;
  low.rlim_cur = 16;
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &low), 0);
  const pid_t pid = Start(Spawn{.args = args});
  setrlimit(RLIMIT_NOFILE, &saved);
  const Outcome run = Finish(pid);
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.err, "");
  EXPECT_TRUE(run.out == expected);
}

}  // namespace
}  // namespace compatcrypt::test
