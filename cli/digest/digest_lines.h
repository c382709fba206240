// Digest lines as the tool prints and checks them: "HEX  NAME", the layout
// of the common checksum tools, or with --tag "compatcrypt (NAME) = HEX".
// A name holding a backslash, a newline or a carriage return is written
// escaped ("\\", "\n", "\r") on a line that starts with a backslash, so
// that every entry stays on one line and a carriage return at the end of a
// list line can only be part of a CRLF line ending.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>
#include <string_view>

namespace compatcrypt::cli {

// The line printed for a digest (with its newline).
std::string DigestLine(const std::string &hex, const std::string &name, bool tag);

// The name as output lines show it: escaped names behind a backslash.
std::string Shown(const std::string &name);

// "HEX  NAME", "HEX *NAME" (the binary-mode mark of other tools, which
// means nothing here), "HEX NAME", or "compatcrypt (NAME) = HEX"; each
// optionally escaped. False for anything else, and for a name no file can
// have (empty, holding a NUL, longer than the system's path limit). `hex`
// comes back in lower case.
bool ParseLine(std::string_view line, std::string &hex, std::string &name);

enum class LineRead { kLine, kTooLong, kEnd };

// Reads one line of a list without its newline. A line longer than any
// digest line of a file the system can open is read to its end but not
// kept: kTooLong.
LineRead ReadListLine(std::FILE *stream, std::string &line);

}  // namespace compatcrypt::cli
