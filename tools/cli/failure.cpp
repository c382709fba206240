#include "failure.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace compatcrypt::cli {

void ThrowErrno(const std::string &subject) {
  const int cause = errno;
  throw Failure(subject, cause != 0 ? std::strerror(cause) : "unknown error");
}

void Report(const std::string &subject, const std::string &cause) {
  std::fprintf(stderr, "compatcrypt: %s: %s\n", subject.c_str(), cause.c_str());
}

}  // namespace compatcrypt::cli
