// digest on several threads: many files at once and large files in pieces
// must print exactly what one thread prints (stdout, stderr and exit
// status), and the pieces' digests must join to FileDigest's for sizes and
// offsets around the piece boundaries. --chunk-size (hidden) sets the
// smallest piece, so that small files are split into many.
#include <sys/stat.h>

#include <cstdint>
#include <optional>

#include "cli_fixture.h"

namespace compatcrypt::test {
namespace {

// A file name and, literally, how digest lines write it: `written`, on a
// line that starts with a backslash where the name needed escaping.
struct Named {
  std::string name;
  std::string written;
  bool escaped = false;
};

Named Plain(const std::string &name) { return {name, name, false}; }

// Endings of names, each with how digest lines write it.
const Named kNewline = {"\nnewline", "\\nnewline", true};
const Named kBackslashAndCarriageReturn = {"\\back\rslash", "\\\\back\\rslash", true};
const Named kSpace = {" space", " space", false};
const Named kNewlineAndBackslash = {"\nx\\y", "\\nx\\\\y", true};

Named operator+(Named named, const Named &ending) {
  named.name += ending.name;
  named.written += ending.written;
  named.escaped = named.escaped || ending.escaped;
  return named;
}

std::string DigestLine(const std::string &hex, const Named &named, bool tag) {
  std::string line = named.escaped ? "\\" : "";
  if (tag)
    line.append("compatcrypt (").append(named.written).append(") = ").append(hex);
  else
    line.append(hex).append("  ").append(named.written);
  return line.append("\n");
}

std::string EmptyHex() { return ToHex(CDigest(std::string())); }

// The thread counts compared with -j1, with and without small pieces.
const std::vector<std::vector<std::string>> kParallelRuns = {
    {"-j2"},
    {"--jobs", "3"},
    {"-j8", "--chunk-size", "64"},
    {"-j2", "--chunk-size", "4096"},
};

class CliParallelTest : public CliTest {
 protected:
  // Runs digest with `args` on one thread, then on each of kParallelRuns,
  // and expects the same stdout, stderr and exit status from all.
  Outcome SameOnAnyThreads(const std::vector<std::string> &args, const std::string &stdinPath = "/dev/null") {
    std::vector<std::string> serial = {"digest", "-j1"};
    serial.insert(serial.end(), args.begin(), args.end());
    const Outcome one = Tool(Spawn{.args = serial, .stdinPath = stdinPath});
    for (const std::vector<std::string> &jobs : kParallelRuns) {
      std::vector<std::string> parallel = {"digest"};
      parallel.insert(parallel.end(), jobs.begin(), jobs.end());
      parallel.insert(parallel.end(), args.begin(), args.end());
      SCOPED_TRACE(testing::PrintToString(jobs));
      const Outcome many = Tool(Spawn{.args = parallel, .stdinPath = stdinPath});
      EXPECT_EQ(many.status, one.status);
      EXPECT_EQ(many.out, one.out);
      EXPECT_EQ(many.err, one.err);
    }
    return one;
  }
};

// 200 files of varied sizes, among them missing ones, directories (one of
// them unreadable), names that need escaping and standard input twice (the
// second time at its end): the lines, the errors between them and the exit
// status are the serial run's, and the digests are FileDigest's.
TEST_F(CliParallelTest, ManyFilesPrintAsOnOneThread) {
  std::mt19937_64 rng(8);
  fs::create_directories(work() / "dir");
  fs::create_directories(work() / "locked");
  Write("locked/inner.bin", "behind a locked directory");
  fs::permissions(work() / "locked", fs::perms::none);
  const std::string stdinPath = Write("stdin.bin", RandomBytes<std::byte>(rng, 5000));

  struct Arg {
    Named named;
    enum { kFile, kMissing, kDirectory, kStdin, kStdinAtEnd, kLocked } kind;
  };
  const Named dir = Plain(work().string() + "/");
  std::vector<Arg> args;
  for (int i = 0; i < 200; ++i) {
    Named base = Plain(std::to_string(i));
    if (i % 23 == 5) base = base + kNewline;
    if (i % 29 == 7) base = base + kBackslashAndCarriageReturn;
    if (i % 31 == 3) base = base + kSpace;
    if (i % 17 == 4) {
      args.push_back({dir + base + Plain(".missing"), Arg::kMissing});
      continue;
    }
    // Sizes around block and piece boundaries, and some beyond 64 KiB.
    const std::size_t size = i % 7 == 0 ? 64 * static_cast<std::size_t>(i) + (i % 3) * 31
                                        : static_cast<std::size_t>(rng() % (i % 5 == 0 ? 200000 : 9000));
    Write(base.name + ".bin", RandomBytes<std::byte>(rng, size));
    args.push_back({dir + base + Plain(".bin"), Arg::kFile});
    if (i == 50) args.push_back({Plain(At("dir")), Arg::kDirectory});
    if (i == 60) args.push_back({Plain("-"), Arg::kStdin});
    if (i == 61) args.push_back({Plain(At("locked/inner.bin")), Arg::kLocked});
    if (i == 120) args.push_back({Plain("-"), Arg::kStdinAtEnd});
    if (i == 150) args.push_back({Plain(At("dir")), Arg::kDirectory});
  }
  const bool root = geteuid() == 0;

  for (const std::vector<std::string> &options :
       {std::vector<std::string>{}, {"--tag"}, {"--offset", "100"}, {"--offset", "70000"}}) {
    SCOPED_TRACE(testing::PrintToString(options));
    const bool tag = options == std::vector<std::string>{"--tag"};
    const int32_t offset = options.size() == 2 ? std::stoi(options[1]) : 0;
    std::vector<std::string> command = options;
    std::string out, err;
    for (const Arg &arg : args) {
      const std::string &name = arg.named.name;
      command.push_back(name);
      switch (arg.kind) {
        case Arg::kFile:
          out += DigestLine(FileDigestHex(name, offset), arg.named, tag);
          break;
        case Arg::kStdin:
          out += DigestLine(FileDigestHex(stdinPath, offset), arg.named, tag);
          break;
        case Arg::kStdinAtEnd:
          out += DigestLine(EmptyHex(), arg.named, tag);
          break;
        case Arg::kMissing: {
          // A name in a message is quoted where it holds a backslash or a
          // control character; the one such missing name here is 123's.
          std::string shown = name;
          if (name == At("123\\back\rslash.missing")) {
            shown = "'";
            shown.append(At("123")).append("\\\\back\\rslash.missing'");
          }
          err.append("compatcrypt: ").append(shown).append(": No such file or directory\n");
          break;
        }
        case Arg::kDirectory:
          err += "compatcrypt: " + name + ": Is a directory\n";
          break;
        case Arg::kLocked:
          if (root)
            out += DigestLine(FileDigestHex(name, offset), arg.named, tag);
          else
            err += "compatcrypt: " + name + ": Permission denied\n";
          break;
      }
    }
    const Outcome run = SameOnAnyThreads(command, stdinPath);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, out);
    EXPECT_EQ(run.err, err);
  }
  fs::permissions(work() / "locked", fs::perms::owner_all);
}

// Files of sizes around the piece boundaries (one piece, one byte more or
// less, many pieces, and a file whose pieces outgrow the smallest piece
// because a file is never cut into more than 1024), each from several
// offsets: every digest is FileDigest's from the same offset.
TEST_F(CliParallelTest, PiecesJoinToTheWholeFilesDigest) {
  constexpr std::size_t kPiece = 4096;
  std::mt19937_64 rng(64);
  const std::vector<std::size_t> sizes = {0,
                                          1,
                                          63,
                                          64,
                                          65,
                                          kPiece - 1,
                                          kPiece,
                                          kPiece + 1,
                                          2 * kPiece - 1,
                                          2 * kPiece,
                                          2 * kPiece + 1,
                                          3 * kPiece - 64,
                                          3 * kPiece + 63,
                                          7 * kPiece + 1,
                                          64 * kPiece + 17,
                                          (5u << 20) + 3};
  std::vector<std::string> files;
  for (const std::size_t size : sizes)
    files.push_back(Write("size" + std::to_string(size) + ".bin", RandomBytes<std::byte>(rng, size)));

  struct Run {
    std::vector<std::string> options;
    std::string offset;
  };
  std::vector<Run> runs;
  for (const char *offset : {"0", "1", "64", "4095", "4097", "8197", "5242880", "1000000000000"}) {
    runs.push_back({{"-j3", "--chunk-size", "4096"}, offset});
    runs.push_back({{"-j2", "--chunk-size", "64"}, offset});
  }
  // The default smallest piece: the 5 MiB file is read in several.
  runs.push_back({{"-j2"}, "0"});
  runs.push_back({{"-j4"}, "65"});
  for (const Run &run : runs) {
    SCOPED_TRACE(testing::PrintToString(run.options) + " --offset " + run.offset);
    std::vector<std::string> command = {"digest", "--offset", run.offset};
    command.insert(command.end(), run.options.begin(), run.options.end());
    command.insert(command.end(), files.begin(), files.end());
    std::string expected;
    const std::int64_t offset = std::stoll(run.offset);
    for (const std::string &file : files)
      expected +=
          DigestLine(offset > INT32_MAX ? EmptyHex() : FileDigestHex(file, static_cast<int32_t>(offset)),
                     Plain(file), false);
    const Outcome outcome = Tool(command);
    EXPECT_EQ(outcome.status, 0);
    EXPECT_EQ(outcome.out, expected);
    EXPECT_EQ(outcome.err, "");
  }
}

// --check with lists of many entries (matching, changed, missing,
// malformed, escaped names, a tagged line, CRLF endings, standard input
// named in a list), under each output option: the serial run's output.
TEST_F(CliParallelTest, CheckPrintsAsOnOneThread) {
  std::mt19937_64 rng(3);
  const std::string stdinPath = Write("stdin.bin", RandomBytes<std::byte>(rng, 3000));
  std::string list, other;
  std::size_t good = 0;
  for (int i = 0; i < 150; ++i) {
    Named base = Plain(std::to_string(i));
    if (i % 19 == 2) base = base + kNewlineAndBackslash;
    const Named named = Plain(work().string() + "/") + base + Plain(".bin");
    const std::string &name = named.name;
    if (i % 13 == 6) {
      list += DigestLine(EmptyHex(), named, false);  // missing
      continue;
    }
    Write(fs::path(name).filename().string(), RandomBytes<std::byte>(rng, rng() % 20000));
    std::string hex = FileDigestHex(name);
    if (i % 11 == 1)
      hex[3] = hex[3] == '0' ? '1' : '0';  // changed
    else
      ++good;
    std::string line = DigestLine(hex, named, i % 9 == 0);
    if (i % 10 == 4) {
      line.back() = '\r';  // a CRLF ending
      line.push_back('\n');
    }
    list += line;
    if (i % 8 == 3) list += "not a digest line\n";
    if (i % 30 == 0) other += DigestLine(FileDigestHex(name), named, false);
  }
  list += DigestLine(FileDigestHex(stdinPath), Plain("-"), false);
  const std::string listPath = Write("list", list);
  const std::string otherPath = Write("other", other);
  const std::string missingList = At("no-such-list");

  for (const std::vector<std::string> &options : {std::vector<std::string>{},
                                                  {"--quiet"},
                                                  {"--status"},
                                                  {"--warn", "--strict"},
                                                  {"--ignore-missing"},
                                                  {"--ignore-missing", "--quiet", "--warn"}}) {
    SCOPED_TRACE(testing::PrintToString(options));
    std::vector<std::string> command = {"--check"};
    command.insert(command.end(), options.begin(), options.end());
    command.insert(command.end(), {listPath, missingList, otherPath});
    const Outcome run = SameOnAnyThreads(command, stdinPath);
    EXPECT_EQ(run.status, 1);
    if (options.empty()) {
      // Every good entry and standard input, in list order.
      std::size_t oks = 0;
      for (std::size_t at = 0; (at = run.out.find(": OK\n", at)) != std::string::npos; ++at) ++oks;
      EXPECT_EQ(oks, good + 1 + 5);
      EXPECT_THAT(run.err, HasSubstr("did not match"));
      EXPECT_THAT(run.err, HasSubstr("could not be read"));
    }
  }
  // A list on standard input that names standard input.
  const std::string selfList = Write("self", other + DigestLine(EmptyHex(), Plain("-"), false));
  const Outcome self = SameOnAnyThreads({"--check", "-"}, selfList);
  EXPECT_EQ(self.status, 1);
  EXPECT_THAT(self.err, HasSubstr("'-' names the list being read"));
}

// -j and --chunk-size take whole numbers in range only: anything else is a
// usage error, before any file is read.
TEST_F(CliParallelTest, JobsAreAWholeNumberFromOne) {
  const std::string file = Write("a.bin", "some data");
  const std::string line = DigestLine(FileDigestHex(file), Plain(file), false);
  struct Case {
    std::vector<std::string> options;
    bool valid;
  };
  const std::vector<Case> cases = {
      {{"-j", "0"}, false},
      {{"-j", "-1"}, false},
      {{"--jobs", "abc"}, false},
      {{"-j", "1.5"}, false},
      {{"--jobs="}, false},
      {{"-j", "1025"}, false},
      {{"-j", "99999999999999999999999"}, false},
      {{"-j"}, false},
      {{"--chunk-size", "0"}, false},
      {{"--chunk-size", "100"}, false},
      {{"--chunk-size", "x"}, false},
      {{"-j", "1"}, true},
      {{"-j7"}, true},
      {{"--jobs", "007"}, true},
      {{"-j", "1024"}, true},
      {{"--chunk-size", "128"}, true},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.options));
    std::vector<std::string> command = {"digest"};
    command.insert(command.end(), c.options.begin(), c.options.end());
    command.push_back(file);
    const Outcome run = Tool(command);
    if (c.valid) {
      EXPECT_EQ(run.status, 0);
      EXPECT_EQ(run.out, line);
      EXPECT_EQ(run.err, "");
    } else {
      EXPECT_EQ(run.status, 2);
      EXPECT_EQ(run.out, "");
      EXPECT_THAT(run.err, HasSubstr("Run 'compatcrypt --help'"));
    }
  }
}

// Files of the kernel's own file systems, whose sizes say nothing of their
// data (0 for /proc/version, a page for /sys attributes): read to their
// end on any number of threads, and digested as FileDigest digests them.
TEST_F(CliParallelTest, KernelFilesAreReadToTheirEnd) {
  std::vector<std::string> files;
  for (const char *path : {"/sys/kernel/mm/transparent_hugepage/enabled", "/sys/devices/system/cpu/online",
                           "/sys/kernel/mm/transparent_hugepage/defrag", "/proc/version"}) {
    struct stat status;
    if (stat(path, &status) == 0 && S_ISREG(status.st_mode) &&
        static_cast<std::size_t>(status.st_size) != ReadText(path).size())
      files.push_back(path);
  }
  if (files.empty()) GTEST_SKIP() << "no file whose data and size differ";
  files.push_back(Write("fine.bin", std::string(1000, 'x')));
  std::string lines;
  for (const std::string &file : files) lines += DigestLine(FileDigestHex(file), Plain(file), false);
  const Outcome run = SameOnAnyThreads(files);
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, lines);
  EXPECT_EQ(run.err, "");
}

}  // namespace
}  // namespace compatcrypt::test
