// digest: one line "HEX  NAME" per file, the layout of the common checksum
// tools, or with --tag "compatcrypt (NAME) = HEX"; --check verifies lines of
// either form. A name holding a backslash, a newline or a carriage return is
// written escaped ("\\", "\n", "\r") on a line that starts with a backslash,
// so that every entry stays on one line and a carriage return at the end of
// a list line can only be part of a CRLF line ending.
#include <limits.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <deque>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "commands/commands.h"
#include "compatcrypt.hpp"
#include "digest/digest_pipeline.h"
#include "support/failure.h"

namespace compatcrypt::cli {

namespace {

constexpr std::size_t kHexLength = 2 * kDigestSize;
constexpr std::string_view kTagOpen = "compatcrypt (";
constexpr std::string_view kTagClose = ") = ";
// The longest name the system can open (PATH_MAX counts the final NUL).
constexpr std::size_t kNameLimit = PATH_MAX - 1;
// The longest list line that can name such a file: every byte of the name
// escaped, in the longer (tag) layout. Longer lines are malformed, and are
// read past rather than held in memory.
constexpr std::size_t kLineLimit = 1 + 2 * kNameLimit + kTagOpen.size() + kTagClose.size() + kHexLength + 1;

bool NeedsEscape(std::string_view name) { return name.find_first_of("\\\n\r") != std::string_view::npos; }

std::string Escape(std::string_view name) {
  std::string escaped;
  for (const char c : name) {
    if (c == '\\')
      escaped += "\\\\";
    else if (c == '\n')
      escaped += "\\n";
    else if (c == '\r')
      escaped += "\\r";
    else
      escaped += c;
  }
  return escaped;
}

// Undoes Escape; false on any other backslash sequence.
bool Unescape(std::string_view text, std::string &name) {
  name.clear();
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\') {
      name += text[i];
      continue;
    }
    if (++i == text.size()) return false;
    if (text[i] == '\\')
      name += '\\';
    else if (text[i] == 'n')
      name += '\n';
    else if (text[i] == 'r')
      name += '\r';
    else
      return false;
  }
  return true;
}

// The name as output lines show it: escaped names behind a backslash.
std::string Shown(const std::string &name) {
  if (!NeedsEscape(name)) return name;
  std::string shown = "\\";
  return shown.append(Escape(name));
}

// A digest line as printed and as --check reads it.
std::string DigestLine(const std::string &hex, const std::string &name, bool tag) {
  const bool escape = NeedsEscape(name);
  const std::string written = escape ? Escape(name) : name;
  std::string line = escape ? "\\" : "";
  if (tag)
    line.append(kTagOpen).append(written).append(kTagClose).append(hex);
  else
    line.append(hex).append("  ").append(written);
  return line + '\n';
}

bool IsHex(std::string_view text) {
  return text.find_first_not_of("0123456789abcdefABCDEF") == std::string_view::npos;
}

std::string Lower(std::string_view text) {
  std::string lower(text);
  for (char &c : lower)
    if (c >= 'A' && c <= 'F') c = static_cast<char>(c - 'A' + 'a');
  return lower;
}

// "HEX  NAME", "HEX *NAME" (the binary-mode mark of other tools, which
// means nothing here), "HEX NAME", or "compatcrypt (NAME) = HEX"; each
// optionally escaped. False for anything else, and for a name no file can
// have (empty, holding a NUL, longer than the system's path limit).
bool ParseLine(std::string_view line, std::string &hex, std::string &name) {
  const bool escaped = !line.empty() && line[0] == '\\';
  if (escaped) line.remove_prefix(1);
  std::string_view text;
  if (line.starts_with(kTagOpen)) {
    // The name may itself hold ") = ": the digest is found from the end.
    if (line.size() < kTagOpen.size() + kTagClose.size() + kHexLength) return false;
    const std::size_t close = line.size() - kHexLength - kTagClose.size();
    if (line.substr(close, kTagClose.size()) != kTagClose) return false;
    hex = line.substr(close + kTagClose.size());
    text = line.substr(kTagOpen.size(), close - kTagOpen.size());
  } else {
    if (line.size() < kHexLength + 2 || line[kHexLength] != ' ') return false;
    hex = line.substr(0, kHexLength);
    std::size_t start = kHexLength + 1;
    if (line[start] == ' ' || line[start] == '*') ++start;
    text = line.substr(start);
  }
  if (!IsHex(hex)) return false;
  if (escaped) {
    if (!Unescape(text, name)) return false;
  } else {
    name = text;
  }
  return !name.empty() && name.size() <= kNameLimit && name.find('\0') == std::string::npos;
}

enum class LineRead { kLine, kTooLong, kEnd };

// Reads one line without its newline. A line longer than `limit` is read
// to its end but not kept.
LineRead ReadLine(std::FILE *stream, std::size_t limit, std::string &line) {
  line.clear();
  bool tooLong = false;
  int c;
  while ((c = getc_unlocked(stream)) != EOF && c != '\n') {
    if (tooLong) continue;
    if (line.size() == limit) {
      tooLong = true;
      line.clear();
      continue;
    }
    line += static_cast<char>(c);
  }
  if (tooLong) return LineRead::kTooLong;
  return c != EOF || !line.empty() ? LineRead::kLine : LineRead::kEnd;
}

std::string Count(std::size_t count, const char *one, const char *many) {
  return std::to_string(count) + " " + (count == 1 ? one : many);
}

// A line of a list, in the order its outcome is printed.
struct ListEntry {
  enum class Kind {
    kMalformed,   // not a digest line
    kListItself,  // names standard input, which is the list being read
    kFile,        // a file to check, queued in the pipeline
  };
  Kind kind;
  std::size_t lineNumber;
  bool tooLong = false;
  std::string name = {};
  std::string hex = {};
};

// Verifies the lines of one list; the exit status it calls for. The files
// are digested ahead by the pipeline while the list is read on; every line's
// outcome is printed in list order.
int Check(const std::string &list, const DigestOptions &options, DigestPipeline &pipeline) {
  const bool fromStdin = list == "-";
  const std::string listName = fromStdin ? "standard input" : list;
  std::FILE *stream = fromStdin ? stdin : std::fopen(list.c_str(), "rb");
  if (stream == nullptr) {
    Report(list, std::strerror(errno));
    return 1;
  }
  const bool quiet = options.quiet || options.status;
  const bool silent = options.status;
  std::size_t valid = 0, matched = 0, mismatched = 0, unreadable = 0, malformed = 0;
  std::deque<ListEntry> entries;
  const auto printOldest = [&] {
    const ListEntry entry = std::move(entries.front());
    entries.pop_front();
    if (entry.kind == ListEntry::Kind::kMalformed) {
      ++malformed;
      if (options.warn && !silent)
        Report(listName, "line " + std::to_string(entry.lineNumber) +
                             (entry.tooLong ? ": longer than any file name" : ": not a digest line"));
      return;
    }
    ++valid;
    const std::string shown = Shown(entry.name);
    if (entry.kind == ListEntry::Kind::kListItself) {
      ++unreadable;
      if (!silent) {
        std::fflush(stdout);
        Report(listName, "line " + std::to_string(entry.lineNumber) + ": '-' names the list being read");
        std::printf("%s: FAILED open or read\n", shown.c_str());
      }
      return;
    }
    try {
      const std::optional<DigestValue> value = pipeline.Next();
      if (!value) return;  // missing, and --ignore-missing
      if (to_hex(*value) == entry.hex) {
        ++matched;
        if (!quiet) std::printf("%s: OK\n", shown.c_str());
      } else {
        ++mismatched;
        if (!silent) std::printf("%s: FAILED\n", shown.c_str());
      }
    } catch (const Failure &failure) {
      ++unreadable;
      if (!silent) {
        std::fflush(stdout);
        Report(failure.subject(), failure.what());
        std::printf("%s: FAILED open or read\n", shown.c_str());
      }
    }
  };
  std::size_t lineNumber = 0;
  std::string line, hex, name;
  for (;;) {
    const LineRead read = ReadLine(stream, kLineLimit, line);
    if (read == LineRead::kEnd) break;
    ++lineNumber;
    // One carriage return before the newline is a CRLF line ending; one
    // that belongs to a name is always written escaped.
    if (!line.empty() && line.back() == '\r') line.pop_back();
    // Blank lines and comments are no digest lines, and no malformed ones
    // either: a list may be annotated.
    if (read == LineRead::kLine && (line.empty() || line.front() == '#')) continue;
    if (read == LineRead::kTooLong || !ParseLine(line, hex, name)) {
      entries.push_back({.kind = ListEntry::Kind::kMalformed,
                         .lineNumber = lineNumber,
                         .tooLong = read == LineRead::kTooLong});
    } else if (fromStdin && name == "-") {
      entries.push_back({.kind = ListEntry::Kind::kListItself, .lineNumber = lineNumber, .name = name});
    } else {
      pipeline.Submit(name, !silent, options.ignoreMissing);
      entries.push_back(
          {.kind = ListEntry::Kind::kFile, .lineNumber = lineNumber, .name = name, .hex = Lower(hex)});
    }
    if (entries.size() > pipeline.Window())
      while (entries.size() > pipeline.Window() / 2) printOldest();
  }
  while (!entries.empty()) printOldest();
  const bool readFailed = std::ferror(stream) != 0;
  if (!fromStdin) std::fclose(stream);
  std::fflush(stdout);
  if (readFailed) {
    Report(listName, "read error");
    return 1;
  }
  if (valid == 0) {
    Report(listName, "no properly formatted digest lines found");
    return 1;
  }
  if (!silent) {
    if (malformed != 0)
      Report(listName, Count(malformed, "line is", "lines are") + " not properly formatted");
    if (unreadable != 0)
      Report(listName, Count(unreadable, "listed file", "listed files") + " could not be read");
    if (mismatched != 0)
      Report(listName,
             Count(mismatched, "digest", "digests") + " of " + std::to_string(valid) + " did not match");
    if (matched == 0 && mismatched == 0 && unreadable == 0) Report(listName, "no file was verified");
  }
  const bool failed =
      matched == 0 || mismatched != 0 || unreadable != 0 || (options.strict && malformed != 0);
  return failed ? 1 : 0;
}

}  // namespace

int RunDigest(const DigestOptions &options) {
  std::vector<std::string> files = options.files;
  if (files.empty()) files.push_back("-");
  DigestPipeline pipeline(options.jobs != 0 ? options.jobs : DefaultJobs(), options.offset,
                          options.chunkSize);
  int status = 0;
  if (options.check) {
    for (const std::string &list : files) status |= Check(list, options, pipeline);
    return status;
  }
  std::size_t printed = 0;
  const auto printOldest = [&] {
    const std::string &file = files[printed++];
    try {
      const std::string line = DigestLine(to_hex(*pipeline.Next()), file, options.tag);
      std::fwrite(line.data(), 1, line.size(), stdout);
    } catch (const Failure &failure) {
      std::fflush(stdout);
      Report(failure.subject(), failure.what());
      status = 1;
    }
  };
  for (std::size_t queued = 0; queued < files.size(); ++queued) {
    pipeline.Submit(files[queued], true, false);
    if (queued + 1 - printed > pipeline.Window())
      while (queued + 1 - printed > pipeline.Window() / 2) printOldest();
  }
  while (printed < files.size()) printOldest();
  return status;
}

}  // namespace compatcrypt::cli
