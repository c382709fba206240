#include "support/signals.h"

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

namespace compatcrypt::cli {

namespace {

// The handlers may only use what is safe in a signal handler: they read
// these through lock-free atomics and call unlink, tcsetattr, sigaction,
// sigprocmask and raise.
std::atomic<const char *> pendingTemporary{nullptr};
std::atomic<const TerminalSettings *> terminalToRestore{nullptr};

// The signals whose default effect ends the process.
constexpr int kEnding[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE, SIGALRM, SIGUSR1, SIGUSR2};

// Every handled signal is blocked while a handler runs, so that one
// cleanup is never interrupted by another.
sigset_t HandledSignals() {
  sigset_t set;
  sigemptyset(&set);
  for (const int signal : kEnding) sigaddset(&set, signal);
  sigaddset(&set, SIGTSTP);
  return set;
}

// SA_RESTART: a stop and continue (Ctrl-Z, fg) must be invisible to the
// work, as it is to a program without handlers. Without it, every read,
// write and open the handler interrupts (a blocked write into a pipe, a
// FIFO waiting for its writer, getc on a check list) fails with EINTR,
// and stdio reports that as a write or read error.
void Install(int signal, void (*handler)(int)) {
  struct sigaction action;
  std::memset(&action, 0, sizeof action);
  action.sa_handler = handler;
  action.sa_mask = HandledSignals();
  action.sa_flags = SA_RESTART;
  sigaction(signal, &action, nullptr);
}

// Takes the default effect of `signal` now: it is unblocked here, since
// the kernel blocks it while its handler runs.
void RaiseWithDefaultEffect(int signal) {
  struct sigaction action;
  std::memset(&action, 0, sizeof action);
  action.sa_handler = SIG_DFL;
  sigemptyset(&action.sa_mask);
  sigaction(signal, &action, nullptr);
  sigset_t only;
  sigemptyset(&only);
  sigaddset(&only, signal);
  sigprocmask(SIG_UNBLOCK, &only, nullptr);
  raise(signal);
}

extern "C" void OnEnding(int signal) {
  if (const char *path = pendingTemporary.load()) unlink(path);
  // What was typed of the password is dropped with the rest of the input.
  if (const TerminalSettings *terminal = terminalToRestore.load())
    tcsetattr(terminal->fd, TCSAFLUSH, &terminal->normal);
  RaiseWithDefaultEffect(signal);
}

// A stop keeps what was typed so far: the line is finished after `fg`.
// The stop itself is SIGTSTP's default effect, so that a process group
// the kernel would not stop (an orphaned one) is not stopped either.
extern "C" void OnStop(int signal) {
  const int savedErrno = errno;
  const TerminalSettings *terminal = terminalToRestore.load();
  if (terminal != nullptr) tcsetattr(terminal->fd, TCSANOW, &terminal->normal);
  RaiseWithDefaultEffect(signal);
  // Continued (SIGCONT).
  Install(signal, OnStop);
  if (terminal != nullptr) tcsetattr(terminal->fd, TCSANOW, &terminal->quiet);
  errno = savedErrno;
}

// Whether `signal` was ignored when the tool started.
bool Ignored(int signal) {
  struct sigaction current;
  return sigaction(signal, nullptr, &current) == 0 && current.sa_handler == SIG_IGN;
}

}  // namespace

void InstallInterruptCleanup() {
  for (const int signal : kEnding)
    if (!Ignored(signal)) Install(signal, OnEnding);
  if (!Ignored(SIGTSTP)) Install(SIGTSTP, OnStop);
}

void SetPendingTemporary(const char *path) { pendingTemporary.store(path); }

void SetTerminalToRestore(const TerminalSettings *terminal) { terminalToRestore.store(terminal); }

}  // namespace compatcrypt::cli
