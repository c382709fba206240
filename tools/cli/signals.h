// Cleanup when the tool is interrupted (SIGINT, SIGTERM, SIGHUP): an
// unfinished output file is removed and a terminal left without echo by the
// password prompt is restored, before the signal takes its default effect.
#pragma once

#include <termios.h>

namespace compatcrypt::cli {

void InstallInterruptCleanup();

// The temporary output file to remove; nullptr when there is none.
void SetPendingTemporary(const char *path);

// The terminal settings to restore on fd 0; nullptr when there are none.
void SetTerminalToRestore(const termios *settings);

}  // namespace compatcrypt::cli
