#include "environment/application_backup.h"

#include <string>

#include "environment/directory_removal.h"
#include "environment/locations.h"
#include "environment/managed_application.h"
#include "log/log_file.h"

namespace {

// Global\: one install at a time on the machine, whatever the session.
constexpr wchar_t kInstallLockName[] = L"Global\\OskerMapUpdaterInstall";

// The folder itself, as a rename names it.
std::wstring ApplicationFolder()
{
    std::wstring folder = GetApplicationDirectory();
    folder.pop_back();
    return folder;
}

bool FolderExists(const std::wstring& path)
{
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool BackupHoldsApplication()
{
    return MeasureFileSize(GetApplicationBackupDirectory() + L'\\' + kApplicationExeName) > 0;
}

void RestoreApplication()
{
    const std::wstring& backup = GetApplicationBackupDirectory();
    // The rename needs the name free: whatever the installer left goes first.
    RemoveDirectoryTree(ApplicationFolder());
    if (MoveFileW(backup.c_str(), ApplicationFolder().c_str())) {
        WriteLog(GetLogFile(), L"application dir restored from backup: %s", backup.c_str());
        return;
    }
    const DWORD error = GetLastError();
    WriteLog(GetLogFile(), L"restore error, code: %d, backup kept: %s", error, backup.c_str());
}

}  // namespace

BackupAction DecideForBackup(bool backupPresent, bool installed, bool backupHoldsApplication)
{
    if (!backupPresent)
        return BackupAction::None;
    return installed || !backupHoldsApplication ? BackupAction::RemoveBackup
                                                : BackupAction::Restore;
}

SetAsideRoad DecideAfterSetAside(bool moved, DWORD error, bool backupHoldsApplication)
{
    if (moved)
        return SetAsideRoad::SetAside;
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
        return SetAsideRoad::NothingToMove;
    case ERROR_ALREADY_EXISTS:
    case ERROR_FILE_EXISTS:
        // Never two backups; what is left of one without a build is no reason to stop.
        return backupHoldsApplication ? SetAsideRoad::Skip : SetAsideRoad::Emptied;
    default:
        // A file held open inside, no right to rename in the parent: no worse than before.
        return SetAsideRoad::Emptied;
    }
}

bool IsApplicationBackupPresent()
{
    return GetFileAttributesW(GetApplicationBackupDirectory().c_str()) != INVALID_FILE_ATTRIBUTES;
}

void SettleApplicationBackup(bool installed)
{
    const std::wstring& backup = GetApplicationBackupDirectory();
    const bool holdsApplication = BackupHoldsApplication();
    const wchar_t* const why =
        installed ? L"application installed" : L"backup without application";
    switch (DecideForBackup(IsApplicationBackupPresent(), installed, holdsApplication)) {
    case BackupAction::None:
        break;
    case BackupAction::RemoveBackup:
        if (RemoveDirectoryTree(backup))
            WriteLog(GetLogFile(), L"%s, backup removed: %s", why, backup.c_str());
        else
            WriteLog(GetLogFile(), L"%s, backup not removed: %s", why, backup.c_str());
        break;
    case BackupAction::Restore:
        RestoreApplication();
        break;
    }
}

SetAsideRoad SetApplicationAside()
{
    const std::wstring& backup = GetApplicationBackupDirectory();
    if (IsApplicationBackupPresent()) {
        WriteLog(GetLogFile(), L"backup found: %s", backup.c_str());
        SettleApplicationBackup(IsApplicationFilePresent());
    }
    const std::wstring folder = ApplicationFolder();
    BOOL moved = FALSE;
    DWORD error = ERROR_ALREADY_EXISTS;
    if (!IsApplicationBackupPresent()) {
        moved = MoveFileW(folder.c_str(), backup.c_str());
        error = moved ? 0 : GetLastError();
    }
    const SetAsideRoad road =
        DecideAfterSetAside(moved != FALSE, error, BackupHoldsApplication());
    switch (road) {
    case SetAsideRoad::SetAside:
        // The installer finds the folder as it would have: present and empty.
        CreateDirectoryW(folder.c_str(), nullptr);
        WriteLog(GetLogFile(), L"application dir set aside: %s", backup.c_str());
        break;
    case SetAsideRoad::Emptied:
        // The one road on which a failing installer still costs the installed application.
        WriteLog(GetLogFile(), L"set aside error, code: %d, emptied in place", error);
        DeleteDirectoryTree(GetApplicationDirectory());
        break;
    case SetAsideRoad::NothingToMove:
        WriteLog(GetLogFile(), L"set aside error, code: %d, nothing to set aside", error);
        if (!FolderExists(folder))
            CreateDirectoryW(folder.c_str(), nullptr);
        break;
    case SetAsideRoad::Skip:
        WriteLog(GetLogFile(), L"backup left beside application dir, install skipped: %s",
                 backup.c_str());
        break;
    }
    return road;
}

InstallLock::~InstallLock()
{
    if (m_owned)
        ReleaseMutex(m_mutex.Get());
}

bool InstallLock::Take()
{
    m_mutex = UniqueHandle(CreateMutexW(nullptr, FALSE, kInstallLockName));
    const DWORD waitResult = m_mutex ? WaitForSingleObject(m_mutex.Get(), 0) : WAIT_FAILED;
    m_owned = IsInstallLockTaken(static_cast<bool>(m_mutex), waitResult);
    return m_owned;
}

bool IsInstallLockTaken(bool opened, DWORD waitResult)
{
    return opened && (waitResult == WAIT_OBJECT_0 || waitResult == WAIT_ABANDONED);
}
