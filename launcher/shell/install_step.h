// Installs the downloaded build: the application is closed, its directory set aside, the
// installer run, the application awaited, and the set-aside build kept or put back.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

#include "environment/installed_build.h"
#include "update/installer_signature.h"

// How an install ended, for the record of failed installs.
enum class InstallOutcome {
    Installed,   // the folder holds the offered build
    Failed,      // the installer ran and the folder does not hold it
    NotStarted,  // the installer could not be started (or its consent prompt was declined)
    Skipped,     // no install this run: the application stayed open, another launcher or an
                 // installer is at work, a backup could not be put back, the session ends
};

// Runs the installer at `setupPath`, in its own folder; `held` keeps it from being changed until
// its process exists. Ends when the installer has started the application and no process of
// the installer's file runs any more; at once when the user declines to close the running
// application, another launcher on the machine is installing, or the installer does not start; otherwise when the
// wait's limits say (DecideWaitEnd), or the session ends. Then the set-aside build is removed
// if the folder holds the `offered` build (or newer; any whole build when none is known) and
// put back if not.
InstallOutcome InstallUpdate(const std::wstring& setupPath,
                             const std::optional<BuildVersion>& offered, HeldInstaller& held);

// Settles backups that an earlier launcher left beside the application folder (it ended
// during an install), under the install lock and only while no process of the downloaded
// installer's file (`setupPath`) runs; does nothing without one. For the start of a run,
// before the installed version is read.
void RecoverInstall(const std::wstring& setupPath);

// The window thread's part when the session ends: while a folder is set aside, the install
// step settles at once, and this waits for it (bounded) before Windows ends the process.
void SettleBeforeSessionEnd();
// Whether the session is ending: nothing more is started.
bool IsSessionEnding();

// Why the wait for the application ends, short of its appearing.
enum class WaitEnd {
    None,       // keep waiting
    Grace,      // the installer and everything it started ended; the application had 60 s
    Leftovers,  // the installer ended 5 minutes ago; something it started still runs
};

// `installerRunning`: a process of the installer's file runs (a person may be at its wizard,
// or a copy it handed over to works: no limit); `anythingRunning`: it or anything it started
// runs; the times since each was first seen ended.
WaitEnd DecideWaitEnd(bool installerRunning, bool anythingRunning, DWORD sinceInstallerEndedMs,
                      DWORD sinceAllEndedMs);
