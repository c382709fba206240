#include "signals.h"

#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstring>

namespace compatcrypt::cli {

namespace {

// The handler may only use what is safe in a signal handler: it reads
// these through lock-free atomics and calls unlink, tcsetattr and raise.
std::atomic<const char *> pendingTemporary{nullptr};
std::atomic<const termios *> terminalToRestore{nullptr};

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};

extern "C" void OnInterrupt(int signal) {
  if (const char *path = pendingTemporary.load()) unlink(path);
  if (const termios *settings = terminalToRestore.load()) tcsetattr(STDIN_FILENO, TCSAFLUSH, settings);
  std::signal(signal, SIG_DFL);
  std::raise(signal);
}

}  // namespace

void InstallInterruptCleanup() {
  for (const int signal : kSignals) {
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    for (const int other : kSignals) sigaddset(&action.sa_mask, other);
    sigaction(signal, &action, nullptr);
  }
}

void SetPendingTemporary(const char *path) { pendingTemporary.store(path); }

void SetTerminalToRestore(const termios *settings) { terminalToRestore.store(settings); }

}  // namespace compatcrypt::cli
