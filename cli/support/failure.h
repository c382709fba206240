// The tool's one error type: what failed (a file name, an option, an
// environment variable) and why, printed as "compatcrypt: SUBJECT: CAUSE".
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>

namespace compatcrypt::cli {

class Failure : public std::runtime_error {
 public:
  Failure(std::string subject, const std::string &cause)
      : std::runtime_error(cause), subject_(std::move(subject)) {}
  const std::string &subject() const noexcept { return subject_; }

 private:
  std::string subject_;
};

// A usage error (a malformed option value, a missing key source): exit
// status 2, like the errors the option parser finds.
class UsageError : public Failure {
 public:
  using Failure::Failure;
};

// A failure whose cause is the current errno.
[[noreturn]] void ThrowErrno(const std::string &subject);

// Prints "compatcrypt: SUBJECT: CAUSE" to stderr, each part as Printable
// makes it: a file name reaches the terminal as text, never as control
// characters that would move the cursor, rewrite the line or set the
// window title, and a newline in it cannot split the message.
void Report(const std::string &subject, const std::string &cause);

// `text` unchanged if it holds no control character or backslash;
// otherwise in single quotes, with \\, \', \n, \r, \t and \xHH for the
// other control characters (bytes from 0x80 on are left to the terminal's
// encoding).
std::string Printable(std::string_view text);

}  // namespace compatcrypt::cli
