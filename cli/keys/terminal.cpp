#include "keys/terminal.h"

#include <termios.h>

#include <cerrno>
#include <cstring>

#include "support/failure.h"
#include "support/signals.h"

namespace compatcrypt::cli {

void Terminal::Prompt(const char *question, Secret &password) {
  TerminalSettings settings;
  settings.fd = fd_;
  if (tcgetattr(fd_, &settings.normal) != 0) ThrowErrno("terminal");
  settings.quiet = settings.normal;
  settings.quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
  // Echo goes off before the question is shown: TCSAFLUSH drops anything
  // typed ahead, so nothing typed after the question may be lost or
  // echoed. A signal from here on restores the terminal.
  SetTerminalToRestore(&settings);
  if (tcsetattr(fd_, TCSAFLUSH, &settings.quiet) != 0) {
    SetTerminalToRestore(nullptr);
    ThrowErrno("terminal");
  }
  Say(question);
  bool ended = false;
  int cause = 0;
  char c = 0;
  for (;;) {
    const ssize_t got = read(fd_, &c, 1);
    if (got < 0 && errno == EINTR) continue;  // continued after a stop
    if (got < 0) cause = errno;
    if (got <= 0) break;
    if (c == '\n') {
      ended = true;
      break;
    }
    password.Append(&c, 1);
  }
  secure_wipe(&c, sizeof c);
  tcsetattr(fd_, TCSANOW, &settings.normal);
  SetTerminalToRestore(nullptr);
  Say("\n");
  if (cause != 0) throw Failure("terminal", std::strerror(cause));
  if (!ended) throw Failure("terminal", "no password given");
}

void Terminal::Say(const char *text) {
  for (std::size_t left = std::strlen(text); left != 0;) {
    const ssize_t put = write(fd_, text, left);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return;  // the answer can still be read
    text += put;
    left -= static_cast<std::size_t>(put);
  }
}

}  // namespace compatcrypt::cli
