#include "digest/check_list.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>

#include "compatcrypt.hpp"
#include "digest/digest_lines.h"
#include "digest/print_window.h"
#include "support/failure.h"

namespace compatcrypt::cli {

namespace {

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

std::string Count(std::size_t count, const char *one, const char *many) {
  return std::to_string(count) + " " + (count == 1 ? one : many);
}

// The outcomes of one list, and how they are printed: --quiet drops the
// lines of files that match, --status every line.
class Verifier {
 public:
  Verifier(const std::string &listName, const DigestOptions &options, DigestPipeline &pipeline)
      : listName_(listName),
        options_(options),
        pipeline_(pipeline),
        quiet_(options.quiet || options.status),
        silent_(options.status) {}

  void Print(ListEntry entry) {
    if (entry.kind == ListEntry::Kind::kMalformed) {
      ++malformed_;
      if (options_.warn && !silent_)
        Report(listName_, "line " + std::to_string(entry.lineNumber) +
                              (entry.tooLong ? ": longer than any file name" : ": not a digest line"));
      return;
    }
    ++valid_;
    if (entry.kind == ListEntry::Kind::kListItself) {
      Unreadable(entry, listName_,
                 "line " + std::to_string(entry.lineNumber) + ": '-' names the list being read");
      return;
    }
    try {
      const std::optional<DigestValue> value = pipeline_.Next();
      if (!value) return;  // missing, and --ignore-missing
      if (to_hex(*value) == entry.hex) {
        ++matched_;
        if (!quiet_) std::printf("%s: OK\n", Shown(entry.name).c_str());
      } else {
        ++mismatched_;
        if (!silent_) std::printf("%s: FAILED\n", Shown(entry.name).c_str());
      }
    } catch (const Failure &failure) {
      Unreadable(entry, failure.subject(), failure.what());
    }
  }

  // The summary on standard error, and the exit status.
  int Finish() const {
    if (valid_ == 0) {
      Report(listName_, "no properly formatted digest lines found");
      return 1;
    }
    if (!silent_) {
      if (malformed_ != 0)
        Report(listName_, Count(malformed_, "line is", "lines are") + " not properly formatted");
      if (unreadable_ != 0)
        Report(listName_, Count(unreadable_, "listed file", "listed files") + " could not be read");
      if (mismatched_ != 0)
        Report(listName_,
               Count(mismatched_, "digest", "digests") + " of " + std::to_string(valid_) + " did not match");
      if (matched_ == 0 && mismatched_ == 0 && unreadable_ == 0) Report(listName_, "no file was verified");
    }
    const bool failed =
        matched_ == 0 || mismatched_ != 0 || unreadable_ != 0 || (options_.strict && malformed_ != 0);
    return failed ? 1 : 0;
  }

 private:
  void Unreadable(const ListEntry &entry, const std::string &subject, const std::string &why) {
    ++unreadable_;
    if (silent_) return;
    std::fflush(stdout);
    Report(subject, why);
    std::printf("%s: FAILED open or read\n", Shown(entry.name).c_str());
  }

  const std::string &listName_;
  const DigestOptions &options_;
  DigestPipeline &pipeline_;
  const bool quiet_;
  const bool silent_;
  std::size_t valid_ = 0, matched_ = 0, mismatched_ = 0, unreadable_ = 0, malformed_ = 0;
};

}  // namespace

int CheckList(const std::string &list, const DigestOptions &options, DigestPipeline &pipeline) {
  const bool fromStdin = list == "-";
  const std::string listName = fromStdin ? "standard input" : list;
  std::FILE *stream = fromStdin ? stdin : std::fopen(list.c_str(), "rb");
  if (stream == nullptr) {
    Report(list, std::strerror(errno));
    return 1;
  }
  Verifier verifier(listName, options, pipeline);
  auto print = [&](ListEntry entry) { verifier.Print(std::move(entry)); };
  PrintWindow<ListEntry, decltype(print)> window(pipeline.Window(), print);
  std::size_t lineNumber = 0;
  std::string line, hex, name;
  for (;;) {
    const LineRead read = ReadListLine(stream, line);
    if (read == LineRead::kEnd) break;
    ++lineNumber;
    // One carriage return before the newline is a CRLF line ending; one
    // that belongs to a name is always written escaped.
    if (!line.empty() && line.back() == '\r') line.pop_back();
    // Blank lines and comments are no digest lines, and no malformed ones
    // either: a list may be annotated.
    if (read == LineRead::kLine && (line.empty() || line.front() == '#')) continue;
    if (read == LineRead::kTooLong || !ParseLine(line, hex, name)) {
      window.Add({.kind = ListEntry::Kind::kMalformed,
                  .lineNumber = lineNumber,
                  .tooLong = read == LineRead::kTooLong});
    } else if (fromStdin && name == "-") {
      window.Add({.kind = ListEntry::Kind::kListItself, .lineNumber = lineNumber, .name = name});
    } else {
      pipeline.Submit(name, !options.status, options.ignoreMissing);
      window.Add({.kind = ListEntry::Kind::kFile, .lineNumber = lineNumber, .name = name, .hex = hex});
    }
  }
  window.Drain();
  const bool readFailed = std::ferror(stream) != 0;
  if (!fromStdin) std::fclose(stream);
  std::fflush(stdout);
  if (readFailed) {
    Report(listName, "read error");
    return 1;
  }
  return verifier.Finish();
}

}  // namespace compatcrypt::cli
