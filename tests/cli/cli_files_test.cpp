// The tool's input and output files: what is written directly and what is
// put in place, existing outputs and --force, empty names, a kill that must
// leave nothing behind, inputs that change while they are read, and plain
// data that must not stay in the tool's memory.
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>

#include <chrono>
#include <functional>

#include "cli_fixture.h"

namespace compatcrypt::test {
namespace {

mode_t CurrentUmask() {
  const mode_t mask = umask(0);
  umask(mask);
  return mask;
}

// Byte strings compared without printing them whole.
testing::AssertionResult SameBytes(const std::string &actual, const std::string &expected) {
  if (actual == expected) return testing::AssertionSuccess();
  const auto difference = std::mismatch(actual.begin(), actual.end(), expected.begin(), expected.end());
  return testing::AssertionFailure() << actual.size() << " bytes where " << expected.size()
                                     << " were expected; the first difference at byte "
                                     << (difference.first - actual.begin());
}

std::string Encoded(const ByteVector &plain) {
  const Bytes coded = CEncode(plain, compatcrypt::Key::from_hex(kKeyHex).bytes());
  return {coded.begin(), coded.end()};
}

using CliFilesTest = CliTest;

// How long the tests below wait for the tool to reach a state, and how
// often they look: often enough to catch it in the middle of a large file.
constexpr auto kPatience = 20s;
constexpr auto kPoll = 100us;

// ---------------------------------------------------------------------------
// Outputs written directly

// The tool's own descriptors, reached through /proc, are written as they
// are: at their offset and in their mode (here appending after a header),
// with nothing renamed over the link and no temporary file.
TEST_F(CliFilesTest, OwnDescriptorsAreWrittenDirectly) {
  const ByteVector plain = AsByteVector("twenty-nine bytes of content.");
  const std::string in = Write("plain.bin", plain);
  for (const char *path : {"-", "/dev/fd/1", "/proc/self/fd/1", "/proc/thread-self/fd/1"}) {
    SCOPED_TRACE(path);
    const std::string sink = Write("sink.bin", "header\n");
    const int out = open(sink.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    ASSERT_GE(out, 0);
    const Outcome run =
        Finish(Start(Spawn{.args = {"encode", "--key", kKeyHex, "-i", in, "-o", path}, .out = out}));
    close(out);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(ReadText(sink), "header\n" + Encoded(plain));
    EXPECT_EQ(Listing(), (std::vector<std::string>{"plain.bin", "sink.bin"}));
  }
}

// /dev/stdout is a link to /proc/self/fd/1: the file the shell redirected
// standard output to receives the data, and the link stays a link. Run in
// a private mount namespace over a scratch /dev.
TEST_F(CliFilesTest, DevStdoutIsWrittenThroughNeverReplaced) {
  const fs::path dev = root_ / "dev";
  fs::create_directories(dev);
  fs::create_symlink("/proc/self/fd/1", dev / "stdout");
  const pid_t probe =
      Start(Spawn{.args = {"-m", "sh", "-c", "mount --bind \"$0\" /dev && test -L /dev/stdout", dev.string()},
                  .program = "unshare"});
  const Outcome probed = Finish(probe);
  if (probed.status != 0)
    GTEST_SKIP() << "needs a private mount namespace (unshare -m) and a bind mount: " << probed.err;

  std::mt19937_64 rng(91);
  const ByteVector plain = RandomBytes<std::byte>(rng, 200003);
  const std::string in = Write("plain.bin", plain);
  const std::string coded = Encoded(plain);
  Write("coded.bin", AsByteVector(coded));
  struct Case {
    const char *command;
    std::string input;
    std::string expected;
  };
  for (const Case &c : {Case{"encode", in, coded}, Case{"decode", At("coded.bin"), ReadText(in)}}) {
    SCOPED_TRACE(c.command);
    const std::string sink = At("sink.bin");
    const int out = open(sink.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    ASSERT_GE(out, 0);
    const pid_t pid =
        Start(Spawn{.args = {"-m", "sh", "-c",
                             "mount --bind \"$0\" /dev && exec \"$1\" \"$2\" --key \"$3\" -i \"$4\" -o "
                             "/dev/stdout",
                             dev.string(), COMPATCRYPT_CLI, c.command, kKeyHex, c.input},
                    .out = out,
                    .program = "unshare"});
    close(out);
    const Outcome run = Finish(pid);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(SameBytes(ReadText(sink), c.expected));
    EXPECT_TRUE(fs::is_symlink(fs::symlink_status(dev / "stdout")));
    std::error_code error;
    EXPECT_EQ(fs::read_symlink(dev / "stdout", error), "/proc/self/fd/1");
    std::vector<std::string> devNames;
    for (const auto &entry : fs::directory_iterator(dev))
      devNames.push_back(entry.path().filename().string());
    EXPECT_EQ(devNames, std::vector<std::string>{"stdout"});
    EXPECT_EQ(Listing(), (std::vector<std::string>{"coded.bin", "plain.bin", "sink.bin"}));
  }
}

// Devices and pipes are written in place and need no --force; nothing is
// created beside them.
TEST_F(CliFilesTest, DevicesAndPipesAreWrittenDirectly) {
  const ByteVector plain = AsByteVector("twenty-nine bytes of content.");
  const std::string in = Write("plain.bin", plain);
  Outcome run = Tool({"encode", "--key", kKeyHex, "-i", in, "-o", "/dev/null"});
  EXPECT_EQ(run.status, 0) << run.err;

  const std::string fifo = At("fifo");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  // The reader is open first, so that the tool's open does not wait; the
  // output is small enough to sit in the pipe until it is read.
  const int reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  ASSERT_GE(reader, 0);
  run = Finish(Start(Spawn{.args = {"encode", "--key", kKeyHex, "-i", in, "-o", fifo}}));
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(ReadToEnd(reader), Encoded(plain));
  close(reader);
  EXPECT_TRUE(fs::is_fifo(fifo));
  EXPECT_EQ(Listing(), (std::vector<std::string>{"fifo", "plain.bin"}));
}

// ---------------------------------------------------------------------------
// Names and existing outputs

// An empty name names no file: a usage error, and nothing is created (not
// even a hidden file in the current directory).
TEST_F(CliFilesTest, EmptyFileNamesAreUsageErrors) {
  const std::string in = Write("plain.bin", "twenty-nine bytes of content.");
  struct Case {
    const char *what;
    std::vector<std::string> args;
    const char *subject;
  };
  for (const Case &c : {
           Case{"encode to empty name", {"encode", "--key", kKeyHex, "-i", in, "-o", ""}, "--output"},
           Case{"decode to empty name", {"decode", "--key", kKeyHex, "-i", in, "-o", ""}, "--output"},
           Case{"decode from empty name", {"decode", "--key", kKeyHex, "-i", "", "-o", "out.bin"}, "--input"},
       }) {
    SCOPED_TRACE(c.what);
    const Outcome run = Finish(Start(Spawn{.args = c.args, .cwd = work().string()}));
    EXPECT_EQ(run.status, 2);
    EXPECT_THAT(run.err, HasSubstr(std::string("compatcrypt: ") + c.subject + ": "));
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(Listing(), std::vector<std::string>{"plain.bin"});
  }
}

// An existing regular file, named directly or through a link, is refused
// without --force and left as it was.
TEST_F(CliFilesTest, ExistingOutputIsRefusedWithoutForce) {
  const std::string in = Write("plain.bin", "twenty-nine bytes of content.");
  const std::string existing = "existing output, kept";
  Write("out.bin", existing);
  fs::create_symlink("out.bin", work() / "link.bin");
  for (const char *command : {"encode", "decode"}) {
    for (const char *name : {"out.bin", "link.bin"}) {
      SCOPED_TRACE(std::string(command) + " to " + name);
      const Outcome run = Tool({command, "--key", kKeyHex, "-i", in, "-o", At(name)});
      EXPECT_EQ(run.status, 1);
      EXPECT_THAT(run.err, HasSubstr("compatcrypt: " + At(name) + ": file exists"));
      EXPECT_THAT(run.err, HasSubstr("--force"));
      EXPECT_EQ(ReadText(At("out.bin")), existing);
      EXPECT_TRUE(fs::is_symlink(fs::symlink_status(At("link.bin"))));
      EXPECT_EQ(Listing(), (std::vector<std::string>{"link.bin", "out.bin", "plain.bin"}));
    }
  }
}

// With --force the file is replaced; it keeps its mode and owner. A new
// file is readable and writable by its owner only.
TEST_F(CliFilesTest, ForceReplacesKeepingModeAndOwner) {
  const ByteVector plain = AsByteVector("twenty-nine bytes of content.");
  const std::string in = Write("plain.bin", plain);
  const std::string out = Write("out.bin", "existing output, replaced");
  ASSERT_EQ(chmod(out.c_str(), 0640), 0);
  const bool root = geteuid() == 0;
  const uid_t owner = root ? 4321 : geteuid();
  const gid_t group = root ? 4322 : getegid();
  if (root) {
    ASSERT_EQ(chown(out.c_str(), owner, group), 0);
  }

  for (const char *force : {"-f", "--force"}) {
    SCOPED_TRACE(force);
    const Outcome run = Tool({"encode", force, "--key", kKeyHex, "-i", in, "-o", out});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(ReadText(out), Encoded(plain));
    struct stat status;
    ASSERT_EQ(stat(out.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0640u);
    EXPECT_EQ(status.st_uid, owner);
    EXPECT_EQ(status.st_gid, group);
    EXPECT_EQ(Listing(), (std::vector<std::string>{"out.bin", "plain.bin"}));
  }

  const Outcome run = Tool({"decode", "--key", kKeyHex, "-i", out, "-o", At("new.bin")});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(Read("new.bin"), plain);
  struct stat status;
  ASSERT_EQ(stat(At("new.bin").c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 07777, 0600u & ~CurrentUmask());
}

// --force replaces the name: another hard link to the old file keeps the
// old content.
TEST_F(CliFilesTest, ForceReplacesTheNameNotOtherHardLinks) {
  const ByteVector plain = AsByteVector("twenty-nine bytes of content.");
  const std::string in = Write("plain.bin", plain);
  const std::string old = "old content, kept under the other name";
  const std::string out = Write("out.bin", old);
  fs::create_hard_link(out, work() / "alias.bin");
  const Outcome run = Tool({"encode", "--force", "--key", kKeyHex, "-i", in, "-o", out});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(ReadText(out), Encoded(plain));
  EXPECT_EQ(ReadText(At("alias.bin")), old);
  EXPECT_EQ(fs::hard_link_count(At("alias.bin")), 1u);
  EXPECT_EQ(Listing(), (std::vector<std::string>{"alias.bin", "out.bin", "plain.bin"}));
}

// An output that is a symbolic link is written through to the file it
// leads to (replaced with --force, created if missing); the link stays.
TEST_F(CliFilesTest, SymbolicLinksAreWrittenThrough) {
  const ByteVector plain = AsByteVector("twenty-nine bytes of content.");
  const std::string in = Write("plain.bin", plain);
  fs::create_directories(work() / "sub");
  Write("sub/target.bin", "old target");
  fs::create_symlink("sub/target.bin", work() / "link.bin");
  fs::create_symlink("sub/new.bin", work() / "dangling.bin");
  struct Case {
    const char *link;
    const char *target;
    bool force;
  };
  for (const Case &c :
       {Case{"link.bin", "sub/target.bin", true}, Case{"dangling.bin", "sub/new.bin", false}}) {
    SCOPED_TRACE(c.link);
    std::vector<std::string> args{"encode", "--key", kKeyHex, "-i", in, "-o", At(c.link)};
    if (c.force) args.push_back("--force");
    const Outcome run = Tool(args);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(ReadText(At(c.target)), Encoded(plain));
    EXPECT_TRUE(fs::is_symlink(fs::symlink_status(At(c.link))));
    std::error_code error;
    EXPECT_EQ(fs::read_symlink(At(c.link), error), c.target);
  }
  EXPECT_EQ(Listing(), (std::vector<std::string>{"dangling.bin", "link.bin", "plain.bin", "sub"}));
  std::vector<std::string> sub;
  for (const auto &entry : fs::directory_iterator(work() / "sub"))
    sub.push_back(entry.path().filename().string());
  std::sort(sub.begin(), sub.end());
  EXPECT_EQ(sub, (std::vector<std::string>{"new.bin", "target.bin"}));
}

// ---------------------------------------------------------------------------
// A kill while writing

// The output is an unnamed file until it is complete: SIGKILL in the middle
// of the data leaves no file, and an existing output unchanged.
TEST_F(CliFilesTest, KillWhileWritingLeavesNothing) {
  const std::string fifo = At("fifo");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const std::string existing = "existing output, kept";
  struct Case {
    const char *what;
    std::vector<std::string> args;
    std::vector<std::string> listing;
  };
  for (const Case &c : {
           Case{"encode to a new file",
                {"encode", "--key", kKeyHex, "-i", fifo, "-o", At("out.bin")},
                {"fifo"}},
           Case{"decode over an existing file",
                {"decode", "--force", "--key", kKeyHex, "-i", fifo, "-o", At("kept.bin")},
                {"fifo", "kept.bin"}},
       }) {
    SCOPED_TRACE(c.what);
    Write("kept.bin", existing);
    if (c.listing.size() == 1) fs::remove(At("kept.bin"));
    const pid_t pid = Start(Spawn{.args = c.args});
    ASSERT_GT(pid, 0);
    // Opening the writer waits for the tool to open its input.
    const int writer = open(fifo.c_str(), O_WRONLY | O_CLOEXEC);
    ASSERT_GE(writer, 0);
    const std::string data(3 * 65536 + 100, 'x');
    ASSERT_EQ(write(writer, data.data(), data.size()), static_cast<ssize_t>(data.size()));
    // Wait until the tool has written output, then kill it mid-stream (its
    // input is still open, so it cannot have finished).
    const bool writing = WaitUntil(
        [&] {
          for (const auto &[fd, name] : OpenFilesIn(pid, work()))
            if (name != fifo && OffsetOf(pid, fd) > 0) return true;
          return false;
        },
        kPatience, kPoll);
    EXPECT_TRUE(writing) << "the tool wrote no output";
    kill(pid, SIGKILL);
    int wstatus = 0;
    waitpid(pid, &wstatus, 0);
    close(writer);
    EXPECT_TRUE(WIFSIGNALED(wstatus) && WTERMSIG(wstatus) == SIGKILL);
    EXPECT_EQ(Listing(), c.listing);
    if (c.listing.size() == 2) {
      EXPECT_TRUE(SameBytes(ReadText(At("kept.bin")), existing));
    }
  }
}

// ---------------------------------------------------------------------------
// Inputs that change while they are read

// Deterministic: the tool writes to a pipe the test does not read, so it
// blocks after its first chunks; the input is changed then, and the pipe
// drained. Shrinking and growing are both failures.
TEST_F(CliFilesTest, InputChangedWhileEncodingToAPipeFails) {
  const std::size_t size = 1 << 20;
  struct Case {
    const char *what;
    std::function<void(const std::string &)> change;
  };
  const std::vector<Case> cases = {
      {"truncated to nothing", [](const std::string &path) { fs::resize_file(path, 0); }},
      {"truncated to half", [&](const std::string &path) { fs::resize_file(path, size / 2); }},
      {"grown", [](const std::string &path) { std::ofstream(path, std::ios::app) << "x"; }},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    const std::string in = Write("plain.bin", ByteVector(size, std::byte{0x5a}));
    int pipeEnds[2];
    ASSERT_EQ(pipe2(pipeEnds, O_CLOEXEC), 0);
    const int capacity = fcntl(pipeEnds[0], F_GETPIPE_SZ);
    const pid_t pid = Start(Spawn{.args = {"encode", "--key", kKeyHex, "-i", in}, .out = pipeEnds[1]});
    close(pipeEnds[1]);
    const bool blocked = WaitUntil(
        [&] {
          int queued = 0;
          return ioctl(pipeEnds[0], FIONREAD, &queued) == 0 && queued >= capacity;
        },
        kPatience, kPoll);
    EXPECT_TRUE(blocked) << "the pipe never filled";
    c.change(in);
    const std::string out = ReadToEnd(pipeEnds[0]);
    close(pipeEnds[0]);
    const Outcome run = Finish(pid);
    EXPECT_EQ(run.status, 1);
    EXPECT_THAT(run.err, HasSubstr("compatcrypt: " + in + ": file changed while being read"));
    EXPECT_LE(out.size(), size);
  }
}

// A real truncation in the middle of reading: the tool is stopped once it
// has read part of a large input, the file is cut where the tool had read
// to, and the tool continues. Decode commits no output (an existing one is
// kept); digest prints no digest line.
TEST_F(CliFilesTest, InputTruncatedWhileReadingCommitsNothing) {
  const std::uintmax_t size = std::uintmax_t{64} << 20;
  const std::string existing = "existing output, kept";
  struct Case {
    const char *what;
    std::vector<std::string> args;
    std::vector<std::string> listing;
  };
  const std::string in = At("big.bin");
  for (const Case &c : {
           Case{"decode to a new file",
                {"decode", "--key", kKeyHex, "-i", in, "-o", At("out.bin")},
                {"big.bin"}},
           Case{"decode over an existing file",
                {"decode", "--force", "--key", kKeyHex, "-i", in, "-o", At("kept.bin")},
                {"big.bin", "kept.bin"}},
           Case{"digest", {"digest", in}, {"big.bin"}},
       }) {
    SCOPED_TRACE(c.what);
    for (const char *name : {"big.bin", "kept.bin", "out.bin"}) fs::remove(At(name));
    Write("big.bin", "");
    fs::resize_file(in, size);
    if (c.listing.size() == 2) Write("kept.bin", existing);
    const pid_t pid = Start(Spawn{.args = c.args});
    ASSERT_GT(pid, 0);
    int fd = -1;
    const bool reading = WaitUntil(
        [&] {
          if (fd < 0) fd = DescriptorOn(pid, in);
          return fd >= 0 && OffsetOf(pid, fd) > 0;
        },
        kPatience, kPoll);
    kill(pid, SIGSTOP);
    int wstatus = 0;
    ASSERT_EQ(waitpid(pid, &wstatus, WUNTRACED), pid);
    ASSERT_TRUE(WIFSTOPPED(wstatus));
    const long long offset = OffsetOf(pid, fd);
    EXPECT_TRUE(reading && offset > 0 && static_cast<std::uintmax_t>(offset) < size)
        << "not stopped while reading: offset " << offset;
    fs::resize_file(in, static_cast<std::uintmax_t>(offset));
    kill(pid, SIGCONT);
    const Outcome run = Finish(pid);
    EXPECT_EQ(run.status, 1);
    EXPECT_THAT(run.err, HasSubstr("compatcrypt: " + in + ": file changed while being read"));
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(Listing(), c.listing);
    if (c.listing.size() == 2) {
      EXPECT_TRUE(SameBytes(ReadText(At("kept.bin")), existing));
    }
  }
}

// ---------------------------------------------------------------------------
// Plain data in memory

// Plain data moves only through the tool's own buffers, which wipe
// themselves: when the tool exits, no copy of the decoded data (nor of the
// plain data it encoded) is left in its memory, for an output file or
// standard output alike.
TEST_F(CliFilesTest, PlainDataIsNotLeftInMemory) {
  COMPATCRYPT_SKIP_IF_TOOL_SANITIZED();
  std::mt19937_64 rng(92);
  const ByteVector plain = RandomBytes<std::byte>(rng, 100000);
  const std::string in = Write("plain.bin", plain);
  const std::string coded = Write("coded.bin", AsByteVector(Encoded(plain)));
  // The end of the data: what a buffered stream would still hold.
  const std::string needle(reinterpret_cast<const char *>(plain.data()) + plain.size() - 32, 32);
  struct Case {
    const char *what;
    std::vector<std::string> args;
    std::string written;  // where the output goes; checked afterwards
    std::string expected;
  };
  const std::string out = At("out.bin");
  const std::string captured = Capture("out");
  for (const Case &c : {
           Case{"decode to a file", {"decode", "--key", kKeyHex, "-i", coded, "-o", out}, out, ReadText(in)},
           Case{"decode to standard output",
                {"decode", "--key", kKeyHex, "-i", coded},
                captured,
                ReadText(in)},
           Case{"encode from a file", {"encode", "--key", kKeyHex, "-i", in}, captured, ReadText(coded)},
       }) {
    SCOPED_TRACE(c.what);
    fs::remove(out);
    const Command command(COMPATCRYPT_CLI, c.args);
    bool inspected = false;
    bool found = false;
    const int wstatus = RunTracedToExit(command, "/dev/null", captured, Capture("err"), [&](pid_t pid) {
      inspected = true;
      found = WritableMemoryOf(pid).find(needle) != std::string::npos;
    });
    if (WIFEXITED(wstatus) && WEXITSTATUS(wstatus) == 126)
      GTEST_SKIP() << "the system does not allow tracing the tool";
    EXPECT_TRUE(inspected);
    ASSERT_TRUE(WIFEXITED(wstatus));
    EXPECT_EQ(WEXITSTATUS(wstatus), 0) << ReadText(Capture("err"));
    EXPECT_TRUE(SameBytes(ReadText(c.written), c.expected));
    EXPECT_FALSE(found) << "plain data left in the tool's memory at exit";
  }
}

}  // namespace
}  // namespace compatcrypt::test
