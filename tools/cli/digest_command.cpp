// digest: one line "HEX  NAME" per file, the layout of the common checksum
// tools, and --check to verify such lines. A name holding a backslash or a
// newline is written escaped ("\\" and "\n") on a line that starts with a
// backslash, so that every entry stays on one line.
#include <cstdio>
#include <string>
#include <vector>

#include "commands.h"
#include "compatcrypt.hpp"
#include "failure.h"
#include "files.h"
#include "progress.h"

namespace compatcrypt::cli {

namespace {

// Streams the file (or standard input) from `offset` through Digest.
DigestValue DigestOf(const std::string &name, std::uint64_t offset) {
  InputFile input(name);
  input.Skip(offset);
  std::optional<std::uint64_t> remaining;
  if (input.Size()) remaining = *input.Size() > offset ? *input.Size() - offset : 0;
  Progress progress(input.Name(), remaining);
  Digest digest;
  std::vector<std::byte> buffer(kChunkSize);
  for (;;) {
    const std::size_t got = input.Read(buffer);
    digest.update(std::span(buffer).first(got));
    progress.Advance(got);
    if (got < buffer.size()) break;
  }
  return digest.finish();
}

bool NeedsEscape(const std::string &name) { return name.find_first_of("\\\n") != std::string::npos; }

std::string Escape(const std::string &name) {
  std::string escaped;
  for (const char c : name) {
    if (c == '\\')
      escaped += "\\\\";
    else if (c == '\n')
      escaped += "\\n";
    else
      escaped += c;
  }
  return escaped;
}

// Undoes Escape; false on any other backslash sequence.
bool Unescape(const std::string &text, std::string &name) {
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
    else
      return false;
  }
  return true;
}

// The name as a check line shows it: escaped names behind a backslash.
std::string Shown(const std::string &name) {
  if (!NeedsEscape(name)) return name;
  std::string shown(1, '\\');
  shown += Escape(name);
  return shown;
}

bool IsHex(const std::string &text) {
  return text.find_first_not_of("0123456789abcdefABCDEF") == std::string::npos;
}

std::string Lower(std::string text) {
  for (char &c : text)
    if (c >= 'A' && c <= 'F') c = static_cast<char>(c - 'A' + 'a');
  return text;
}

// "HEX  NAME" or "HEX *NAME" (the binary-mode mark of other tools, which
// means nothing here), optionally escaped. False for anything else.
bool ParseLine(std::string line, std::string &hex, std::string &name) {
  const bool escaped = !line.empty() && line[0] == '\\';
  if (escaped) line.erase(0, 1);
  constexpr std::size_t kHexLength = 2 * kDigestSize;
  if (line.size() < kHexLength + 3 || line[kHexLength] != ' ' ||
      (line[kHexLength + 1] != ' ' && line[kHexLength + 1] != '*'))
    return false;
  hex = line.substr(0, kHexLength);
  if (!IsHex(hex)) return false;
  const std::string rest = line.substr(kHexLength + 2);
  if (!escaped) {
    name = rest;
    return true;
  }
  return Unescape(rest, name);
}

// Reads one line without its newline; false at the end of the list.
bool ReadLine(std::FILE *stream, std::string &line) {
  line.clear();
  int c;
  while ((c = std::getc(stream)) != EOF && c != '\n') line += static_cast<char>(c);
  return c != EOF || !line.empty();
}

int Check(const std::string &list, std::uint64_t offset) {
  const bool fromStdin = list == "-";
  const std::string listName = fromStdin ? "standard input" : list;
  std::FILE *stream = fromStdin ? stdin : std::fopen(list.c_str(), "rb");
  if (stream == nullptr) ThrowErrno(list);
  int status = 0;
  std::size_t lines = 0, checked = 0, mismatched = 0, unreadable = 0, malformed = 0;
  std::string line, hex, name;
  while (ReadLine(stream, line)) {
    ++lines;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!ParseLine(line, hex, name)) {
      ++malformed;
      Report(listName, "line " + std::to_string(lines) + ": not a digest line");
      continue;
    }
    ++checked;
    const std::string shown = Shown(name);
    try {
      const bool match = to_hex(DigestOf(name, offset)) == Lower(hex);
      std::printf("%s: %s\n", shown.c_str(), match ? "OK" : "FAILED");
      if (!match) ++mismatched;
    } catch (const Failure &failure) {
      Report(failure.subject(), failure.what());
      std::printf("%s: FAILED open or read\n", shown.c_str());
      ++unreadable;
    }
  }
  const bool readFailed = std::ferror(stream) != 0;
  if (!fromStdin) std::fclose(stream);
  if (readFailed) throw Failure(listName, "read error");
  std::fflush(stdout);
  if (checked == 0) Report(listName, "no digest lines found");
  if (mismatched != 0)
    Report(listName,
           std::to_string(mismatched) + " of " + std::to_string(checked) + " digests did not match");
  if (unreadable != 0)
    Report(listName,
           std::to_string(unreadable) + " of " + std::to_string(checked) + " files could not be read");
  if (checked == 0 || mismatched != 0 || unreadable != 0 || malformed != 0) status = 1;
  return status;
}

}  // namespace

int RunDigest(const DigestOptions &options) {
  std::vector<std::string> files = options.files;
  if (files.empty()) files.push_back("-");
  if (options.check) {
    int status = 0;
    for (const std::string &list : files) status |= Check(list, options.offset);
    return status;
  }
  int status = 0;
  for (const std::string &file : files) {
    try {
      const std::string hex = to_hex(DigestOf(file, options.offset));
      if (NeedsEscape(file))
        std::printf("\\%s  %s\n", hex.c_str(), Escape(file).c_str());
      else
        std::printf("%s  %s\n", hex.c_str(), file.c_str());
    } catch (const Failure &failure) {
      std::fflush(stdout);
      Report(failure.subject(), failure.what());
      status = 1;
    }
  }
  return status;
}

}  // namespace compatcrypt::cli
