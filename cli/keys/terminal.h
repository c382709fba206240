// The terminal a password is asked on: /dev/tty, so that standard input
// may be the data to encode. Echo is off while the password is typed, and
// a signal or a stop meanwhile gives the terminal its settings back
// (support/signals.h).
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include "keys/secret_text.h"

namespace compatcrypt::cli {

class Terminal {
 public:
  Terminal() : fd_(open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC)) {}
  ~Terminal() {
    if (fd_ >= 0) close(fd_);
  }
  Terminal(const Terminal &) = delete;
  Terminal &operator=(const Terminal &) = delete;
  bool Open() const { return fd_ >= 0; }

  // Asks with echo turned off.
  void Prompt(const char *question, Secret &password);

 private:
  void Say(const char *text);

  int fd_;
};

}  // namespace compatcrypt::cli
