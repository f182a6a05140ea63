#include "environment/application_backup.h"

#include "base/brand.h"
#include "environment/directory_removal.h"
#include "environment/locations.h"
#include "environment/managed_application.h"
#include "log/log_file.h"

namespace {

// Global\: one install at a time on the machine, whatever the session.
constexpr wchar_t kInstallLockName[] = L"Global\\" LAUNCHER_BRAND_INSTALL_MUTEX;
// The file that tells the launcher's own backups from anything else bearing a backup name.
constexpr wchar_t kBackupMark[] = L"set aside by launcher";
// Backup names tried: a name something else holds is skipped, never cleared.
constexpr int kBackupNames = 9;
// A rename refused for the moment (a file held open by a scanner or indexer) is tried again:
// 5 attempts over about 3 s.
constexpr int kSetAsideAttempts = 5;
constexpr DWORD kFirstRetryMs = 200;

// The folder itself, as a rename names it.
std::wstring ApplicationFolder()
{
    std::wstring folder = GetApplicationDirectory();
    folder.pop_back();
    return folder;
}

std::wstring BackupNameAt(int index)
{
    return index == 0 ? GetApplicationBackupDirectory()
                      : GetApplicationBackupDirectory() + L' ' + std::to_wstring(index + 1);
}

std::wstring MarkIn(const std::wstring& folder)
{
    return folder + L'\\' + kBackupMark;
}

bool IsPlainFile(const std::wstring& path)
{
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES &&
           !(attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT));
}

bool Mark(const std::wstring& folder)
{
    return static_cast<bool>(UniqueHandle(CreateFileW(MarkIn(folder).c_str(), GENERIC_WRITE, 0,
                                                      nullptr, CREATE_NEW,
                                                      FILE_ATTRIBUTE_NORMAL, nullptr)));
}

BackupName InspectBackupName(const std::wstring& path)
{
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return BackupName::Free;
    const bool plain = !(attributes & FILE_ATTRIBUTE_REPARSE_POINT);
    return ClassifyBackupName(attributes, plain && ResolvesElsewhere(path),
                              plain && IsPlainFile(MarkIn(path)));
}

// The first backup name nothing stands at; empty when all are taken.
std::wstring FreeBackupName()
{
    for (int i = 0; i < kBackupNames; ++i) {
        if (InspectBackupName(BackupNameAt(i)) == BackupName::Free)
            return BackupNameAt(i);
    }
    return std::wstring();
}

std::optional<BuildVersion> BuildIn(const std::wstring& folder)
{
    return ReadBuild(folder + L'\\' + kApplicationExeName);
}

// Removes one of the launcher's own backups. What cannot go (a file held open) stays marked
// under its name, removed at a later start; the next backup takes another name meanwhile.
void RemoveBackup(const std::wstring& backup, const wchar_t* why)
{
    if (RemoveDirectoryTree(backup)) {
        WriteLog(GetLogFile(), L"%s, backup removed: %s", why, backup.c_str());
        return;
    }
    Mark(backup);
    WriteLog(GetLogFile(), L"%s, backup not removed: %s", why, backup.c_str());
}

// The rename back needs the folder's name free. What the installer left that cannot be removed
// is moved aside as a backup without a build, so that it never blocks the restore.
void ClearFolderForRestore()
{
    const std::wstring folder = ApplicationFolder();
    if (RemoveDirectoryTree(folder))
        return;
    const std::wstring remains = FreeBackupName();
    if (!remains.empty() && MoveFileW(folder.c_str(), remains.c_str())) {
        Mark(remains);
        WriteLog(GetLogFile(), L"installer leftovers set aside: %s", remains.c_str());
    }
}

// True when the backup is back in place.
bool RestoreApplication(const std::wstring& backup)
{
    ClearFolderForRestore();
    if (MoveFileW(backup.c_str(), ApplicationFolder().c_str())) {
        DeleteFileW(MarkIn(ApplicationFolder()).c_str());
        WriteLog(GetLogFile(), L"application dir restored from backup: %s", backup.c_str());
        return true;
    }
    const DWORD error = GetLastError();
    WriteLog(GetLogFile(), L"restore error, code: %d, backup kept: %s", error, backup.c_str());
    return false;
}

// One backup left by an earlier run; true unless a build is left beside the folder.
bool SettleLeftBackup(const std::wstring& backup)
{
    WriteLog(GetLogFile(), L"backup found: %s", backup.c_str());
    const std::optional<BuildVersion> kept = BuildIn(backup);
    const bool folderCounts =
        kept && FolderBuildCounts(BuildIn(ApplicationFolder()), *kept, true);
    if (DecideForBackup(kept.has_value(), folderCounts) == BackupAction::Restore)
        return RestoreApplication(backup);
    RemoveBackup(backup, kept ? L"application installed" : L"backup without application");
    return true;
}

// One rename of the folder to `backup`, tried again while Windows refuses it for the moment.
SetAsideRoad MoveFolderAside(const std::wstring& backup, DWORD& error)
{
    const std::wstring folder = ApplicationFolder();
    // Marked first: a launcher ended right after the rename still leaves a backup it knows.
    const bool marked = Mark(folder);
    for (int attempt = 0;; ++attempt) {
        const bool moved = MoveFileW(folder.c_str(), backup.c_str()) != FALSE;
        error = moved ? 0 : GetLastError();
        const SetAsideRoad road = DecideAfterSetAside(moved, error, attempt);
        if (road != SetAsideRoad::Retry) {
            if (road != SetAsideRoad::SetAside && marked)
                DeleteFileW(MarkIn(folder).c_str());
            return road;
        }
        Sleep(kFirstRetryMs << attempt);
    }
}

}  // namespace

BackupName ClassifyBackupName(DWORD attributes, bool resolvesElsewhere, bool marked)
{
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return BackupName::Free;
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) || !(attributes & FILE_ATTRIBUTE_DIRECTORY) ||
        resolvesElsewhere || !marked)
        return BackupName::Foreign;
    return BackupName::Ours;
}

bool FolderBuildCounts(const std::optional<BuildVersion>& folder, BuildVersion reference,
                       bool strictlyNewer)
{
    if (!folder)
        return false;
    return strictlyNewer ? *folder > reference : *folder >= reference;
}

BackupAction DecideForBackup(bool backupHoldsBuild, bool folderCounts)
{
    return folderCounts || !backupHoldsBuild ? BackupAction::RemoveBackup : BackupAction::Restore;
}

SetAsideRoad DecideAfterSetAside(bool moved, DWORD error, int attempt)
{
    if (moved)
        return SetAsideRoad::SetAside;
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
        return SetAsideRoad::NothingToMove;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
        return attempt + 1 < kSetAsideAttempts ? SetAsideRoad::Retry : SetAsideRoad::InstallOver;
    default:
        // No right to rename in the parent, say: the folder stays whole under the installer.
        return SetAsideRoad::InstallOver;
    }
}

bool IsAnyBackupLeft()
{
    for (int i = 0; i < kBackupNames; ++i) {
        if (InspectBackupName(BackupNameAt(i)) == BackupName::Ours)
            return true;
    }
    return false;
}

bool SettleLeftBackups()
{
    bool clear = true;
    for (int i = 0; i < kBackupNames; ++i) {
        const std::wstring path = BackupNameAt(i);
        switch (InspectBackupName(path)) {
        case BackupName::Free:
            break;
        case BackupName::Foreign:
            WriteLog(GetLogFile(), L"backup name taken, left alone: %s", path.c_str());
            break;
        case BackupName::Ours:
            clear = SettleLeftBackup(path) && clear;
            break;
        }
    }
    return clear;
}

SetAsideRoad SetApplicationAside(std::wstring& backup)
{
    backup.clear();
    if (!SettleLeftBackups()) {
        WriteLog(GetLogFile(), L"backup left beside application dir, install skipped");
        return SetAsideRoad::Skip;
    }
    const DWORD attributes = GetFileAttributesW(ApplicationFolder().c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES &&
        ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) || ResolvesElsewhere(ApplicationFolder()))) {
        // Moving a link would leave its target under the installer anyway.
        WriteLog(GetLogFile(), L"application dir is a link, installing over it");
        return SetAsideRoad::InstallOver;
    }
    const std::wstring name = FreeBackupName();
    DWORD error = ERROR_ALREADY_EXISTS;
    const SetAsideRoad road = name.empty() ? SetAsideRoad::InstallOver : MoveFolderAside(name, error);
    switch (road) {
    case SetAsideRoad::SetAside:
        // The installer finds the folder as it would have: present and empty.
        CreateDirectoryW(ApplicationFolder().c_str(), nullptr);
        backup = name;
        WriteLog(GetLogFile(), L"application dir set aside: %s", backup.c_str());
        break;
    case SetAsideRoad::NothingToMove:
        WriteLog(GetLogFile(), L"set aside error, code: %d, nothing to set aside", error);
        CreateDirectoryW(ApplicationFolder().c_str(), nullptr);
        break;
    default:
        // Nothing is deleted that could not be put back.
        WriteLog(GetLogFile(), L"set aside error, code: %d, installing over the folder", error);
        return SetAsideRoad::InstallOver;
    }
    return road;
}

void SettleApplicationBackup(const std::wstring& backup, bool installed)
{
    if (installed)
        RemoveBackup(backup, L"application installed");
    else
        RestoreApplication(backup);
}

bool InstallLock::Take()
{
    m_mutex = UniqueHandle(CreateMutexW(nullptr, FALSE, kInstallLockName));
    const DWORD waitResult = m_mutex ? WaitForSingleObject(m_mutex.Get(), 0) : WAIT_FAILED;
    if (!IsInstallLockTaken(static_cast<bool>(m_mutex), waitResult))
        return false;
    m_held = HeldMutex(m_mutex.Get(), waitResult);
    return true;
}

bool IsInstallLockTaken(bool opened, DWORD waitResult)
{
    return opened && (waitResult == WAIT_OBJECT_0 || waitResult == WAIT_ABANDONED);
}
