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

// A usage error (a malformed option value, a missing key source): exit
// status 2, like the errors the option parser finds.
class UsageError : public Failure {
 public:
  using Failure::Failure;
};

// A failure whose cause is the current errno.
[[noreturn]] void ThrowErrno(const std::string &subject);

// Prints "compatcrypt: SUBJECT: CAUSE" to stderr.
void Report(const std::string &subject, const std::string &cause);

}  // namespace compatcrypt::cli
