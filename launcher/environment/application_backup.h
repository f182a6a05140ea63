// The installed application set aside while an installer runs, so that it is never lost: moved
// to the backup folder beside it (GetApplicationBackupDirectory) by one rename, put back when
// the installer did not produce the application, removed once it did. A backup that outlives
// its launcher (power loss, the launcher ended) is settled the same way by the next one.
// Only a launcher holding the install lock touches the application folder or its backup.
#pragma once

#include <windows.h>

#include "base/unique_resource.h"

// What becomes of a backup beside the application folder.
enum class BackupAction {
    None,          // there is none
    RemoveBackup,  // the application is installed, or the backup holds no build to put back
    Restore,       // it is not: whatever is in the folder goes, the backup goes back into place
};

// `installed`: the application runs in this session or its executable is in its folder;
// `backupHoldsApplication`: the executable is in the backup. A backup without it is what a
// removal could not finish (a read-only file, say): never a build, never put back.
BackupAction DecideForBackup(bool backupPresent, bool installed, bool backupHoldsApplication);

// How the install step cleared the application folder for the installer.
enum class SetAsideRoad {
    SetAside,       // moved to the backup, an empty folder made in its place
    Emptied,        // could not be moved as a whole: emptied in place; nothing to put back
    NothingToMove,  // there was no folder: nothing to put back
    Skip,           // a backup holding a build stands where it would go: no install this run
};

// After the rename of the folder to the backup: `moved` its result, `error` GetLastError()
// when it failed, `backupHoldsApplication` whether a backup in the way holds the executable.
SetAsideRoad DecideAfterSetAside(bool moved, DWORD error, bool backupHoldsApplication);

// Whether a backup folder stands beside the application folder.
bool IsApplicationBackupPresent();

// Settles a backup, logging what was done: removed when `installed`, otherwise restored. A
// restore that fails leaves the backup where it is, never deleted: the next start tries again.
void SettleApplicationBackup(bool installed);

// Clears the application folder for the installer: a backup left by an earlier run is settled
// first (as the executable in the folder says), then the folder is set aside. Logs the road.
SetAsideRoad SetApplicationAside();

// The machine-wide install lock (a Global\ mutex: the same user signed in twice, or two users,
// share the application folder). Taken without waiting; released when the owner goes.
class InstallLock {
public:
    InstallLock() = default;
    ~InstallLock();
    InstallLock(const InstallLock&) = delete;
    InstallLock& operator=(const InstallLock&) = delete;

    bool Take();

private:
    UniqueHandle m_mutex;
    bool m_owned = false;
};

// Whether the lock is this launcher's: `opened` whether the mutex could be created or opened
// (another user's is refused with access denied), `waitResult` the zero-time wait's result.
// An abandoned lock (its launcher ended during an install) is taken over.
bool IsInstallLockTaken(bool opened, DWORD waitResult);
