// The tool's one error type: what failed (a file name, an option, an
// environment variable) and why, printed as "compatcrypt: SUBJECT: CAUSE".
#pragma once

#include <stdexcept>
#include <string>
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

// A failure whose cause is the current errno.
[[noreturn]] void ThrowErrno(const std::string &subject);

// Prints "compatcrypt: SUBJECT: CAUSE" to stderr.
void Report(const std::string &subject, const std::string &cause);

}  // namespace compatcrypt::cli
