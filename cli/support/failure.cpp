#include "support/failure.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace compatcrypt::cli {

void ThrowErrno(const std::string &subject) {
  const int cause = errno;
  throw Failure(subject, cause != 0 ? std::strerror(cause) : "unknown error");
}

std::string Printable(std::string_view text) {
  const auto plain = [](unsigned char c) { return c >= 0x20 && c != 0x7F && c != '\\' && c != '\''; };
  const auto harmless = [&](unsigned char c) { return plain(c) || c == '\''; };
  if (std::all_of(text.begin(), text.end(), harmless)) return std::string(text);
  static constexpr char kHex[] = "0123456789abcdef";
  std::string quoted = "'";
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (plain(byte)) {
      quoted += c;
      continue;
    }
    quoted += '\\';
    switch (c) {
      case '\\':
        quoted += '\\';
        break;
      case '\'':
        quoted += '\'';
        break;
      case '\n':
        quoted += 'n';
        break;
      case '\r':
        quoted += 'r';
        break;
      case '\t':
        quoted += 't';
        break;
      default:
        quoted += 'x';
        quoted += kHex[byte >> 4];
        quoted += kHex[byte & 15];
    }
  }
  return quoted + "'";
}

void Report(const std::string &subject, const std::string &cause) {
  std::fprintf(stderr, "compatcrypt: %s: %s\n", Printable(subject).c_str(), Printable(cause).c_str());
}

}  // namespace compatcrypt::cli
