// Installs the downloaded build: the application is closed, its directory set aside, the
// installer run, the application awaited, and the set-aside build kept or put back.
#pragma once

#include <windows.h>

// Ends when the installer has started the application; at once when the user declines to
// close the running application, another launcher on the machine is installing, or the
// installer does not start; otherwise when the wait's limits say (DecideWaitEnd). Then the
// set-aside build is removed if the application is installed and put back if not.
void InstallUpdate();

// Settles a backup that an earlier launcher left beside the application folder (it ended
// during an install), under the install lock; does nothing without one. For the start of a run,
// before the installed version is read.
void RecoverInstall();

// Why the wait for the application ends, short of its appearing.
enum class WaitEnd {
    None,       // keep waiting
    Grace,      // the installer and everything it started ended; the application had 60 s
    Leftovers,  // the installer ended 5 minutes ago; something it started still runs
};

// `installerRunning`: the installer's own process runs (a person may be at its wizard: no
// limit); `anythingRunning`: it or anything it started runs; the times since each was first
// seen ended.
WaitEnd DecideWaitEnd(bool installerRunning, bool anythingRunning, DWORD sinceInstallerEndedMs,
                      DWORD sinceAllEndedMs);
