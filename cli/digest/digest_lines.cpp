#include "digest/digest_lines.h"

#include <limits.h>

#include "compatcrypt.hpp"

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

bool IsHex(std::string_view text) {
  return text.find_first_not_of("0123456789abcdefABCDEF") == std::string_view::npos;
}

std::string Lower(std::string_view text) {
  std::string lower(text);
  for (char &c : lower)
    if (c >= 'A' && c <= 'F') c = static_cast<char>(c - 'A' + 'a');
  return lower;
}

}  // namespace

std::string Shown(const std::string &name) {
  if (!NeedsEscape(name)) return name;
  std::string shown = "\\";
  return shown.append(Escape(name));
}

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
  hex = Lower(hex);
  if (escaped) {
    if (!Unescape(text, name)) return false;
  } else {
    name = text;
  }
  return !name.empty() && name.size() <= kNameLimit && name.find('\0') == std::string::npos;
}

LineRead ReadListLine(std::FILE *stream, std::string &line) {
  constexpr std::size_t limit = kLineLimit;
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

}  // namespace compatcrypt::cli
