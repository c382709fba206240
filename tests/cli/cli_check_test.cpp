// digest and digest --check as users of the common checksum tools expect
// them: the output and exit-status options of --check, several lists, the
// line layouts read back, names that need escaping, malformed lines, the
// offset range, and the progress line on a terminal.
#include <fcntl.h>
#include <termios.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <thread>

#include "cli_fixture.h"

namespace compatcrypt::test {
namespace {

using testing::Not;

std::string DigestHex(const std::string &text) { return ToHex(CDigest(text)); }

// Each option of --check against lists of good, changed, missing and
// malformed entries: what is printed on stdout, what on stderr, and the exit
// status.
TEST_F(CliTest, CheckOptionsSetTheOutputAndTheExitStatus) {
  const std::string a = Write("a.bin", "first file");
  const std::string b = Write("b.bin", "second file");
  const std::string missing = At("missing.bin");
  const std::string goodA = FileDigestHex(a) + "  " + a + "\n";
  const std::string goodB = FileDigestHex(b) + "  " + b + "\n";
  const std::string changedB = DigestHex("what b held before") + "  " + b + "\n";
  const std::string missingLine = DigestHex("gone") + "  " + missing + "\n";
  const std::string garbage = "not a digest line\n";
  struct Case {
    const char *what;
    std::vector<std::string> options;
    std::string list;
    int status;
    std::string out;
    std::vector<std::string> errHas;  // none: stderr is empty
    std::vector<std::string> errHasNot = {};
  };
  const std::vector<Case> cases = {
      {"all match", {}, goodA + goodB, 0, a + ": OK\n" + b + ": OK\n", {}},
      {"one changed",
       {},
       goodA + changedB,
       1,
       a + ": OK\n" + b + ": FAILED\n",
       {"1 digest of 2 did not match"}},
      {"one missing",
       {},
       goodA + missingLine,
       1,
       a + ": OK\n" + missing + ": FAILED open or read\n",
       {missing + ": No such file or directory", "1 listed file could not be read"}},
      {"quiet, all match", {"--quiet"}, goodA + goodB, 0, "", {}},
      {"quiet, one changed", {"--quiet"}, goodA + changedB, 1, b + ": FAILED\n", {"did not match"}},
      {"status, all match", {"--status"}, goodA + goodB, 0, "", {}},
      {"status, one changed", {"--status"}, goodA + changedB, 1, "", {}},
      {"status, one missing", {"--status"}, goodA + missingLine, 1, "", {}},
      {"status, malformed with warn and strict",
       {"--status", "--warn", "--strict"},
       goodA + garbage,
       1,
       "",
       {}},
      {"malformed line",
       {},
       goodA + garbage,
       0,
       a + ": OK\n",
       {"1 line is not properly formatted"},
       {"line 2"}},
      {"malformed lines, strict",
       {"--strict"},
       goodA + garbage + garbage,
       1,
       a + ": OK\n",
       {"2 lines are not properly formatted"}},
      {"malformed line, warn",
       {"--warn"},
       garbage + goodA,
       0,
       a + ": OK\n",
       {At("list") + ": line 1: not a digest line", "1 line is not properly formatted"}},
      {"malformed line, -w", {"-w"}, goodA + garbage, 0, a + ": OK\n", {"line 2: not a digest line"}},
      {"ignore missing", {"--ignore-missing"}, missingLine + goodA, 0, a + ": OK\n", {}},
      {"ignore missing, but changed",
       {"--ignore-missing"},
       missingLine + changedB,
       1,
       b + ": FAILED\n",
       {"1 digest of 2 did not match"}},
      {"ignore missing, nothing left", {"--ignore-missing"}, missingLine, 1, "", {"no file was verified"}},
      {"no digest line", {}, garbage, 1, "", {"no properly formatted digest lines found"}},
      {"no digest line, status", {"--status"}, garbage, 1, "", {"no properly formatted digest lines found"}},
      {"empty list", {}, "", 1, "", {"no properly formatted digest lines found"}},
      {"single space", {}, FileDigestHex(a) + " " + a + "\n", 0, a + ": OK\n", {}},
      {"binary mark", {}, FileDigestHex(a) + " *" + a + "\n", 0, a + ": OK\n", {}},
      {"CRLF endings",
       {},
       FileDigestHex(a) + "  " + a + "\r\n" + FileDigestHex(b) + " " + b + "\r\n",
       0,
       a + ": OK\n" + b + ": OK\n",
       {}},
      {"no newline at the end", {}, FileDigestHex(a) + "  " + a, 0, a + ": OK\n", {}},
      {"tag lines", {}, "compatcrypt (" + a + ") = " + FileDigestHex(a) + "\n", 0, a + ": OK\n", {}},
      {"tag and plain lines mixed",
       {"--quiet"},
       "compatcrypt (" + b + ") = " + DigestHex("other") + "\n" + goodA,
       1,
       b + ": FAILED\n",
       {"did not match"}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<std::string> args = {"digest", "--check"};
    args.insert(args.end(), c.options.begin(), c.options.end());
    args.push_back(Write("list", c.list));
    const Outcome run = Tool(args);
    EXPECT_EQ(run.status, c.status) << run.err;
    EXPECT_EQ(run.out, c.out);
    if (c.errHas.empty()) {
      EXPECT_EQ(run.err, "");
    }
    for (const std::string &text : c.errHas) EXPECT_THAT(run.err, HasSubstr(text));
    for (const std::string &text : c.errHasNot) EXPECT_THAT(run.err, Not(HasSubstr(text)));
  }
}

// Every list is checked, in order, each one's failures its own; a list
// that cannot be opened does not stop the others.
TEST_F(CliTest, CheckReadsSeveralLists) {
  const std::string a = Write("a.bin", "first file");
  const std::string b = Write("b.bin", "second file");
  const std::string first = Write("first", FileDigestHex(a) + "  " + a + "\n");
  const std::string second = Write("second", DigestHex("not b") + "  " + b + "\n");
  const std::string third = Write("third", FileDigestHex(b) + "  " + b + "\n");

  Outcome run = Tool({"digest", "-c", first, third});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, a + ": OK\n" + b + ": OK\n");

  run = Tool({"digest", "-c", first, second, At("absent"), third});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, a + ": OK\n" + b + ": FAILED\n" + b + ": OK\n");
  EXPECT_THAT(run.err, HasSubstr(second + ": 1 digest of 1 did not match"));
  EXPECT_THAT(run.err, HasSubstr(At("absent") + ": No such file or directory"));
  EXPECT_THAT(run.err, Not(HasSubstr(first + ":")));

  // The same list from standard input and from its name.
  run = Tool(Spawn{.args = {"digest", "-c", "-", third}, .stdinPath = first});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, a + ": OK\n" + b + ": OK\n");
}

// File names and, literally, what the tool writes for them. Digest lines
// escape a backslash, newline or carriage return ("\\", "\n", "\r") and
// then start with a backslash; every other byte, control characters and
// invalid UTF-8 included, is written as it is. --check shows the name as
// digest lines write it, the marking backslash first. Error messages quote
// a name holding a backslash or a control character, with \\, \n, \r, \t
// and \xHH, and leave bytes from 0x80 on alone. Every file holds "abc",
// whose digest is cf094cf0e4f3001a04da7f2bfbcba247ddf92d2c.
#define ABC_DIGEST "cf094cf0e4f3001a04da7f2bfbcba247ddf92d2c"
struct NameCase {
  const char *what;
  std::string name;
  std::string line;     // digest NAME
  std::string tagLine;  // digest --tag NAME
  std::string checked;  // the name in the lines of --check
  std::string message;  // the name in an error message
};
const std::vector<NameCase> kNameCases = {
    {"plain", "plain.bin", ABC_DIGEST "  plain.bin\n", "compatcrypt (plain.bin) = " ABC_DIGEST "\n",
     "plain.bin", "plain.bin"},
    {"spaces", " spaced  name ", ABC_DIGEST "   spaced  name \n",
     "compatcrypt ( spaced  name ) = " ABC_DIGEST "\n", " spaced  name ", " spaced  name "},
    {"backslash", "back\\slash", "\\" ABC_DIGEST "  back\\\\slash\n",
     "\\compatcrypt (back\\\\slash) = " ABC_DIGEST "\n", "\\back\\\\slash", "'back\\\\slash'"},
    {"a backslash alone", "\\", "\\" ABC_DIGEST "  \\\\\n", "\\compatcrypt (\\\\) = " ABC_DIGEST "\n",
     "\\\\\\", "'\\\\'"},
    {"backslash and n, not a newline", "a\\nb", "\\" ABC_DIGEST "  a\\\\nb\n",
     "\\compatcrypt (a\\\\nb) = " ABC_DIGEST "\n", "\\a\\\\nb", "'a\\\\nb'"},
    {"newline", "new\nline", "\\" ABC_DIGEST "  new\\nline\n",
     "\\compatcrypt (new\\nline) = " ABC_DIGEST "\n", "\\new\\nline", "'new\\nline'"},
    {"carriage return inside", "mid\rdle", "\\" ABC_DIGEST "  mid\\rdle\n",
     "\\compatcrypt (mid\\rdle) = " ABC_DIGEST "\n", "\\mid\\rdle", "'mid\\rdle'"},
    {"carriage return at the end", "ends\r", "\\" ABC_DIGEST "  ends\\r\n",
     "\\compatcrypt (ends\\r) = " ABC_DIGEST "\n", "\\ends\\r", "'ends\\r'"},
    {"CRLF inside", "crlf\r\nname", "\\" ABC_DIGEST "  crlf\\r\\nname\n",
     "\\compatcrypt (crlf\\r\\nname) = " ABC_DIGEST "\n", "\\crlf\\r\\nname", "'crlf\\r\\nname'"},
    {"tab and bell", "tab\tbell\a", ABC_DIGEST "  tab\tbell\a\n",
     "compatcrypt (tab\tbell\a) = " ABC_DIGEST "\n", "tab\tbell\a", "'tab\\tbell\\x07'"},
    {"escape sequences", "evil\033]0;owned\007\033[2K", ABC_DIGEST "  evil\033]0;owned\007\033[2K\n",
     "compatcrypt (evil\033]0;owned\007\033[2K) = " ABC_DIGEST "\n", "evil\033]0;owned\007\033[2K",
     "'evil\\x1b]0;owned\\x07\\x1b[2K'"},
    {"DEL", "del\x7f", ABC_DIGEST "  del\x7f\n", "compatcrypt (del\x7f) = " ABC_DIGEST "\n", "del\x7f",
     "'del\\x7f'"},
    {"escape sequence and backslash", "\033[31mred\\", "\\" ABC_DIGEST "  \033[31mred\\\\\n",
     "\\compatcrypt (\033[31mred\\\\) = " ABC_DIGEST "\n", "\\\033[31mred\\\\", "'\\x1b[31mred\\\\'"},
    {"invalid UTF-8", "bad\xff\xfe\xc3(", ABC_DIGEST "  bad\xff\xfe\xc3(\n",
     "compatcrypt (bad\xff\xfe\xc3() = " ABC_DIGEST "\n", "bad\xff\xfe\xc3(", "bad\xff\xfe\xc3("},
    {"UTF-8",
     "gr\xc3\xbc\xc3\x9f"
     "e",
     ABC_DIGEST "  gr\xc3\xbc\xc3\x9f"
                "e\n",
     "compatcrypt (gr\xc3\xbc\xc3\x9f"
     "e) = " ABC_DIGEST "\n",
     "gr\xc3\xbc\xc3\x9f"
     "e",
     "gr\xc3\xbc\xc3\x9f"
     "e"},
    {"quote", "it's", ABC_DIGEST "  it's\n", "compatcrypt (it's) = " ABC_DIGEST "\n", "it's", "it's"},
    {"tag separators", "x) = 0123 (y", ABC_DIGEST "  x) = 0123 (y\n",
     "compatcrypt (x) = 0123 (y) = " ABC_DIGEST "\n", "x) = 0123 (y", "x) = 0123 (y"},
    {"leading star, the binary-mode mark of other tools", "*star", ABC_DIGEST "  *star\n",
     "compatcrypt (*star) = " ABC_DIGEST "\n", "*star", "*star"},
    {"leading dash", "-dash", ABC_DIGEST "  -dash\n", "compatcrypt (-dash) = " ABC_DIGEST "\n", "-dash",
     "-dash"},
};
#undef ABC_DIGEST

// Both layouts of digest's output for each name of the table, read back by
// --check, and the name in the message for a missing file.
TEST_F(CliTest, DigestLinesOfEitherLayoutAreCheckedBack) {
  // Run in the work directory, so that the names are the table's own.
  const auto run = [&](std::vector<std::string> args) {
    return Tool(Spawn{.args = std::move(args), .cwd = work().string()});
  };
  for (const NameCase &c : kNameCases) {
    SCOPED_TRACE(c.what);
    const std::string path = Write(c.name, "abc");
    ASSERT_EQ(FileDigestHex(path), "cf094cf0e4f3001a04da7f2bfbcba247ddf92d2c");

    Outcome outcome = run({"digest", "--", c.name});
    ASSERT_EQ(outcome.status, 0) << outcome.err;
    EXPECT_EQ(outcome.out, c.line);
    Write("plain.list", c.line);

    outcome = run({"digest", "--tag", "--", c.name});
    ASSERT_EQ(outcome.status, 0) << outcome.err;
    EXPECT_EQ(outcome.out, c.tagLine);
    Write("tag.list", c.tagLine);

    outcome = run({"digest", "--check", "plain.list", "tag.list"});
    EXPECT_EQ(outcome.status, 0) << outcome.err;
    EXPECT_EQ(outcome.out, c.checked + ": OK\n" + c.checked + ": OK\n");

    Write(c.name, "changed");
    outcome = run({"digest", "--check", "--quiet", "plain.list", "tag.list"});
    EXPECT_EQ(outcome.status, 1);
    EXPECT_EQ(outcome.out, c.checked + ": FAILED\n" + c.checked + ": FAILED\n");

    fs::remove(path);
    outcome = run({"digest", "--", c.name});
    EXPECT_EQ(outcome.status, 1);
    EXPECT_EQ(outcome.out, "");
    EXPECT_EQ(outcome.err, "compatcrypt: " + c.message + ": No such file or directory\n");
  }
}

// A name ending in a carriage return is written escaped, so the entry for
// "f\r" never checks "f" once its line ending is taken off; and a CRLF
// list still names "f".
TEST_F(CliTest, ACarriageReturnAtTheEndOfANameIsNotALineEnding) {
  const std::string f = Write("f", "same content");
  const std::string fcr = Write("f\r", "same content");
  const std::string hex = FileDigestHex(f);
  Outcome run = Tool({"digest", fcr});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "\\" + hex + "  " + f + "\\r\n");
  const std::string list = Write("list", run.out);

  run = Tool({"digest", "-c", list});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "\\" + f + "\\r: OK\n");

  Write("f\r", "tampered content");
  run = Tool({"digest", "-c", list});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "\\" + f + "\\r: FAILED\n");

  // Only the line ending is removed: "HEX  f\r\r\n" names "f\r".
  run = Tool({"digest", "-c", Write("crlf", hex + "  " + f + "\r\n" + hex + "  " + fcr + "\r\n")});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, f + ": OK\n\\" + f + "\\r: FAILED\n");
}

// Lines no file can be named by are malformed, whatever follows them: a NUL
// inside the name, an escape that means nothing, and a line longer than the
// system's path limit (read past, never echoed).
TEST_F(CliTest, LinesThatCannotNameAFileAreMalformed) {
  const std::string a = Write("a.bin", "content");
  const std::string good = FileDigestHex(a) + "  " + a + "\n";
  struct Case {
    const char *what;
    std::string line;
  };
  const std::vector<Case> cases = {
      {"NUL inside the name", FileDigestHex(a) + "  " + a + std::string(1, '\0') + "more\n"},
      {"NUL after the tag name",
       "compatcrypt (" + a + std::string(1, '\0') + ") = " + FileDigestHex(a) + "\n"},
      {"unknown escape", std::string("\\").append(FileDigestHex(a)) + "  " + a + "\\t\n"},
      {"escape at the end", std::string("\\").append(FileDigestHex(a)) + "  " + a + "\\\n"},
      {"10 MB name", FileDigestHex(a) + "  " + a + std::string(10 << 20, 'x') + "\n"},
      {"10 MB line without a newline", FileDigestHex(a) + "  " + std::string(10 << 20, 'y')},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    const std::string list = Write("list", c.line + (c.line.ends_with('\n') ? "" : "\n") + good);
    const std::string lastList = Write("last", good + c.line);
    Outcome run = Tool({"digest", "--check", "--warn", list});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, a + ": OK\n");
    EXPECT_THAT(run.err, HasSubstr(list + ": line 1: "));
    EXPECT_THAT(run.err, HasSubstr("1 line is not properly formatted"));
    EXPECT_LT(run.err.size(), 1000u);

    run = Tool({"digest", "--check", "--strict", lastList});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, a + ": OK\n");
    EXPECT_LT(run.err.size(), 1000u);

    run = Tool({"digest", "--check", Write("alone", c.line)});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_THAT(run.err, HasSubstr("no properly formatted digest lines found"));
  }
}

// In a list read from standard input, "-" cannot name standard input once
// more: the entry fails. In a list read from a file it does name it.
TEST_F(CliTest, DashInAListFromStandardInputIsAnError) {
  const std::string a = Write("a.bin", "content");
  const std::string list = Write("list", DigestHex("content") + "  -\n" + FileDigestHex(a) + "  " + a + "\n");

  Outcome run = Tool(Spawn{.args = {"digest", "-c"}, .stdinPath = list});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "-: FAILED open or read\n" + a + ": OK\n");
  EXPECT_THAT(run.err, HasSubstr("standard input: line 1: '-' names the list being read"));

  run = Tool(Spawn{.args = {"digest", "-c", "-"}, .stdinPath = list});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "-: FAILED open or read\n" + a + ": OK\n");

  run = Tool(Spawn{.args = {"digest", "-c", list}, .stdinPath = a});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "-: OK\n" + a + ": OK\n");
}

// Any offset from 0 to 2^63 - 1 is valid, and one at or past the end
// digests no bytes, for files and for standard input; anything else is a
// usage error.
TEST_F(CliTest, OffsetsUpToTheLargestFileOffset) {
  std::mt19937_64 rng(9);
  const ByteVector content = RandomBytes<std::byte>(rng, 1000);
  const std::string file = Write("data.bin", content);
  const std::string empty = DigestHex("");
  struct Case {
    const char *offset;
    std::string hex;
  };
  const std::vector<Case> cases = {
      {"0", ToHex(CDigest(content))},
      {"1", ToHex(CDigest(std::span(content).subspan(1)))},
      {"999", ToHex(CDigest(std::span(content).subspan(999)))},
      {"0999", ToHex(CDigest(std::span(content).subspan(999)))},  // decimal, not octal
      {"1000", empty},
      {"1001", empty},
      {"17592186044416", empty},       // 2^44
      {"4611686018427387904", empty},  // 2^62
      {"9223372036854775807", empty},  // 2^63 - 1
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.offset);
    Outcome run = Tool({"digest", "--offset", c.offset, file});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, c.hex + "  " + file + "\n");

    run = Tool(Spawn{.args = {"digest", "--offset", c.offset}, .stdinPath = file});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, c.hex + "  -\n");

    run = Tool({"digest", "--offset", c.offset, "--check", Write("list", c.hex + "  " + file + "\n")});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, file + ": OK\n");
  }
  for (const char *offset : {"9223372036854775808", "18446744073709551615", "18446744073709551616", "-1",
                             "1e3", "0x10", "", " 1"}) {
    SCOPED_TRACE(offset);
    const Outcome run = Tool({"digest", "--offset", offset, file});
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.out, "");
    EXPECT_THAT(run.err, HasSubstr("--offset"));
  }
}

// The columns a piece of the progress line takes: one per character.
std::size_t Columns(const std::string &text) {
  return static_cast<std::size_t>(std::count_if(
      text.begin(), text.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
}

// The progress line of a 64 MiB file with a long name (non-ASCII letters
// and a newline in it) on terminals of several widths. The terminal's
// output is held back for a moment at the first draw, so the redraws after
// it have a rate to show however fast the digest is.
TEST_F(CliTest, ProgressFitsTheTerminal) {
  const fs::path directory = work() / std::string(150, 'd');
  fs::create_directories(directory);
  const std::string name = (directory / ("grüße-" + std::string(100, 'n') + "\nend.bin")).string();
  fs::resize_file(Write(fs::relative(name, work()).string(), ""), 64 << 20);
  // The newline escaped, the line marked with a backslash.
  const std::string expected = std::string("\\")
                                   .append(FileDigestHex(name))
                                   .append("  ")
                                   .append(directory.string())
                                   .append("/grüße-")
                                   .append(100, 'n')
                                   .append("\\nend.bin\n");

  // Not a terminal: no progress line.
  Outcome plain = Tool({"digest", name});
  EXPECT_EQ(plain.status, 0);
  EXPECT_EQ(plain.out, expected);
  EXPECT_EQ(plain.err, "");

  for (const unsigned short width : {16, 30, 40, 80, 200}) {
    SCOPED_TRACE("width " + std::to_string(width));
    const std::string outPath = At("out");
    const Command command(COMPATCRYPT_CLI, {"digest", name});
    TerminalJob job(command, {.stdoutPath = outPath, .columns = width, .held = true});
    ASSERT_TRUE(job.Started());
    // Suspend the terminal's output before the tool starts, resume it a
    // little later.
    const int slave = open(ptsname(job.master()), O_RDWR | O_NOCTTY);
    ASSERT_GE(slave, 0);
    ASSERT_EQ(tcflow(slave, TCOOFF), 0);
    job.Start();
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    ASSERT_EQ(tcflow(slave, TCOON), 0);
    close(slave);
    std::string screen;
    EXPECT_EQ(job.Finish(&screen, 20s), 0) << screen;
    EXPECT_EQ(ReadText(outPath), expected);

    // Redrawn with "\r", erased at the end; never a newline.
    EXPECT_EQ(screen.find('\n'), std::string::npos);
    EXPECT_TRUE(screen.ends_with("\r\033[K")) << testing::PrintToString(screen);
    std::vector<std::string> lines;
    std::string erased = screen;
    for (std::size_t at; (at = erased.find("\033[K")) != std::string::npos;) erased.erase(at, 3);
    std::stringstream stream(erased);
    for (std::string line; std::getline(stream, line, '\r');)
      if (!line.empty()) lines.push_back(line);
    ASSERT_GE(lines.size(), 2u) << testing::PrintToString(screen);
    for (const std::string &line : lines) {
      EXPECT_LT(Columns(line), width) << line;
      EXPECT_THAT(line, HasSubstr("%"));
      EXPECT_THAT(line, HasSubstr("..."));  // the name, shortened
    }
    // The fuller the terminal, the more is shown: the time left from 40
    // columns on, the rate from 80, everything at 200.
    const std::string last = lines.back();
    if (width >= 40) {
      EXPECT_THAT(last, HasSubstr(" left"));
    }
    if (width >= 80) {
      EXPECT_THAT(last, testing::ContainsRegex("[0-9.]+ [KMG]?i?B/s"));
    }
    if (width >= 200) {
      EXPECT_THAT(lines.front(), HasSubstr("0 B of 64.0 MiB"));
      EXPECT_THAT(last, HasSubstr(" of 64.0 MiB"));
      EXPECT_THAT(last, HasSubstr("["));
      EXPECT_THAT(last, HasSubstr(work().string().substr(0, 20)));  // both ends of the name
      EXPECT_THAT(last, HasSubstr("?end.bin"));                     // the newline drawn as '?'
    }
  }
}

}  // namespace
}  // namespace compatcrypt::test
