// The installed application set aside while an installer runs, so that it is never lost: moved
// by one rename to a backup folder beside it, put back when the installer did not produce the
// offered build, removed once it did. A backup that outlives its launcher (power loss, the
// launcher ended) is settled the same way by the next one. Only a launcher holding the install
// lock touches the application folder or its backups.
//
// A backup is a plain folder at one of the backup names (GetApplicationBackupDirectory, then
// the same with " 2" to " 9") that holds the launcher's mark. Anything else at such a name (a
// link, a file, a folder of the user's) is never touched: the next backup takes another name.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

#include "base/unique_resource.h"
#include "environment/installed_build.h"

// What stands at a backup name.
enum class BackupName {
    Free,     // nothing
    Ours,     // a plain folder holding the launcher's mark
    Foreign,  // a link, a file, or a folder the launcher did not make: left alone
};

// `attributes` as GetFileAttributesW gives them; `resolvesElsewhere` whether the name's final
// path is not its own (a link Wine shows as a plain folder); `marked` whether the mark is in it.
BackupName ClassifyBackupName(DWORD attributes, bool resolvesElsewhere, bool marked);

// Whether the application folder's build is the one to keep: readable, and at least
// `reference` (after an install: the offered build), or with `strictlyNewer` newer than it (at
// start: the build the backup holds). A missing, cut-short or unreadable executable never is.
bool FolderBuildCounts(const std::optional<BuildVersion>& folder, BuildVersion reference,
                       bool strictlyNewer);

// What becomes of one backup.
enum class BackupAction {
    RemoveBackup,  // the folder's build counts, or the backup holds no build to put back
    Restore,       // whatever is in the folder goes, the backup goes back into place
};

BackupAction DecideForBackup(bool backupHoldsBuild, bool folderCounts);

// How the install step cleared the application folder for the installer.
enum class SetAsideRoad {
    SetAside,       // moved to a backup, an empty folder made in its place
    Retry,          // refused for now (a file held open, a scanner): try again shortly
    InstallOver,    // cannot be moved: the installer runs over it, nothing is deleted
    NothingToMove,  // there was no folder: nothing to put back
    Skip,           // a backup holding a build could not be put back: no install this run
};

// After the rename of the folder to a backup name: `moved` its result, `error` GetLastError()
// when it failed, `attempt` counted from 0.
SetAsideRoad DecideAfterSetAside(bool moved, DWORD error, int attempt);

// Whether any of the launcher's own backups stands beside the folder: a few attribute reads,
// cheap enough for every start.
bool IsAnyBackupLeft();

// Settles every backup an earlier run left: removed when the folder's build is newer than the
// backup's (or it holds none), otherwise put back. Logs what was done; true when no backup
// holding a build is left beside the folder.
bool SettleLeftBackups();

// Clears the application folder for the installer: backups left by earlier runs are settled
// first, then the folder is set aside. Logs the road; `backup` names the backup when one was
// made.
SetAsideRoad SetApplicationAside(std::wstring& backup);

// Settles the backup of this run after its install: removed when `installed`, otherwise put
// back. A restore that fails leaves the backup where it is, never deleted: the next start
// tries again.
void SettleApplicationBackup(const std::wstring& backup, bool installed);

// The machine-wide install lock (a Global\ mutex: the same user signed in twice, or two users,
// share the application folder). Taken without waiting; released when the owner goes.
class InstallLock {
public:
    bool Take();

private:
    UniqueHandle m_mutex;
    HeldMutex m_held;  // after m_mutex: released before the handle closes
};

// Whether the lock is this launcher's: `opened` whether the mutex could be created or opened
// (another user's is refused with access denied), `waitResult` the zero-time wait's result.
// An abandoned lock (its launcher ended during an install) is taken over.
bool IsInstallLockTaken(bool opened, DWORD waitResult);
