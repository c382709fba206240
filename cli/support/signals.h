// Cleanup when a signal ends the tool (SIGINT, SIGTERM, SIGHUP, SIGQUIT,
// SIGPIPE, SIGALRM, SIGUSR1, SIGUSR2): an unfinished output file is removed
// and a terminal left without echo by the password prompt is restored,
// before the signal takes its default effect. A stop (SIGTSTP, Ctrl-Z)
// gives the terminal its echo back while the tool is stopped and takes it
// away again when the tool continues. Signals ignored when the tool starts
// (nohup, a shell's background jobs) stay ignored.
#pragma once

#include <termios.h>

namespace compatcrypt::cli {

void InstallInterruptCleanup();

// The temporary output file to remove; nullptr when there is none.
void SetPendingTemporary(const char *path);

// A terminal whose settings the prompt has changed: `normal` is put back
// when the tool stops or dies, `quiet` again when it continues.
struct TerminalSettings {
  int fd = -1;
  termios normal{};
  termios quiet{};
};

// The terminal to restore; nullptr when there is none. The object must
// live until it is unset.
void SetTerminalToRestore(const TerminalSettings *terminal);

}  // namespace compatcrypt::cli
