#include "shell/launch_workflow.h"

#include "dialogs/download_failure_dialog.h"
#include "dialogs/manual_download_dialog.h"
#include "environment/directory_removal.h"
#include "environment/locations.h"
#include "environment/managed_application.h"
#include "environment/processes.h"
#include "log/log_file.h"
#include "log/log_line.h"
#include "presentation/ui_language.h"
#include "resources/resource_ids.h"
#include "resources/version.h"
#include "shell/install_step.h"
#include "shell/launcher_status.h"
#include "update/download.h"
#include "update/download_resume.h"
#include "update/install_attempts.h"
#include "update/installer_check.h"
#include "update/installer_signature.h"
#include "update/installer_url.h"
#include "update/update_check.h"
#include "update/update_record.h"
#include "update/update_reply.h"

namespace {

constexpr wchar_t kLauncherVersion[] = L"" LAUNCHER_VERSION;

InternetHandles& GetDownloadHandles()
{
    static InternetHandles handles;
    return handles;
}

void ShowNotice(CheckNotice notice)
{
    // The notice's time starts once it can be seen.
    SplashWindow();
    switch (notice) {
    case CheckNotice::CheckFailed:
        SetLauncherStatus(StateCheckFailed);
        break;
    case CheckNotice::ReplyInvalid:
        SetLauncherStatus(StateReplyInvalid);
        break;
    case CheckNotice::NoUpdate:
        SetLauncherStatus(StateNoUpdate);
        break;
    }
}

void ShowDownloadProgress(int32_t percentage)
{
    SetLauncherStatus(StateDownloading, percentage);
}

enum class DownloadDecision { Installed, EndRun };

// The installer as the run has it: its path, and what the service announced it to be.
struct OfferedInstaller {
    const UpdateInfo& info;
    const std::wstring& setupPath;
};

// The file the download put in place, checked again through the handle that then holds it: a
// program that swapped it meanwhile is caught here.
bool CheckDownloaded(const OfferedInstaller& offer, HeldInstaller& installer)
{
    int64_t size = 0;
    ReadInstallerSize(offer.info.FileSize, size);
    switch (CheckInstaller(offer.setupPath, size, offer.info.MD5, installer)) {
    case InstallerCheck::Checked:
        return true;
    case InstallerCheck::Absent:
    case InstallerCheck::Differs:
        WriteLog(GetLogFile(), L"setup changed after its download: %s", offer.setupPath.c_str());
        return false;
    case InstallerCheck::Refused:
        break;
    }
    return false;
}

// Downloads until it succeeds or the user stops retrying. A transfer that ends early goes on
// from its part at once while each attempt brings new bytes; only then does the user see the
// dialog. An installer that fails its checks fails like a broken download; one that passes
// stays in `installer`, locked against changes, for the install step.
DownloadDecision DownloadWithRetry(const OfferedInstaller& offer, HeldInstaller& installer)
{
    const HINSTANCE instance = GetLauncherContext().instance;
    DownloadReport report;
    for (;;) {
        // Retry goes on from the part: the percentage does not fall back to 0.
        SetLauncherStatus(StateDownloading, report.percentageAfter);
        for (int resumes = 0;; ++resumes) {
            report = DownloadReport();
            if (DownloadInstaller(offer.info, offer.setupPath, &report)) {
                if (CheckDownloaded(offer, installer))
                    return DownloadDecision::Installed;
                break;
            }
            if (!ResumeAtOnce(report.partBefore, report.partAfter, resumes))
                break;
            WriteLog(GetLogFile(), L"download interrupted, resume: %d of %d", resumes + 1,
                     kMaxResumesInARow);
        }
        WriteLog(GetLogFile(), L"download error");

        CDownloadInvDlg failure;
        const INT_PTR choice = ShowDialog(failure, instance, SplashWindow());
        if (choice == IDRETRY)
            continue;
        if (choice == IDC_MANUAL) {
            CManualDownloadDlg manual(offer.info.GetDownloadLink(), offer.info.FileName);
            ShowDialog(manual, instance, SplashWindow());
        }
        return DownloadDecision::EndRun;
    }
}

// The installer of this very announcement, already whole in the download folder (an install
// that failed, a declined consent prompt): checked again and held, it runs without a second
// transfer. Only with an MD5 to check, and only where there is a folder to install to.
bool ReuseInstaller(const OfferedInstaller& offer, HeldInstaller& installer)
{
    int64_t size = 0;
    if (offer.setupPath.empty() || GetApplicationDirectory().empty() ||
        !IsCheckableMd5(offer.info.MD5) || !ReadInstallerSize(offer.info.FileSize, size) ||
        CheckInstaller(offer.setupPath, size, offer.info.MD5, installer) !=
            InstallerCheck::Checked)
        return false;
    WriteLog(GetLogFile(), L"setup reused, already downloaded and checked: %s",
             offer.setupPath.c_str());
    return true;
}

void StartApplicationIfNeeded()
{
    // Windows is about to end every process of the session. A copy this launcher can't tell
    // apart (an elevated one) counts: never a second copy.
    if (IsSessionEnding() || FindApplicationProcess(UnreadableSession::Own) != 0)
        return;
    if (IsApplicationFilePresent())
        RunProgram(GetApplicationPath(), SplashWindow());
}

// The build the service offers, read as the check reads versions; none when its text is no
// version (any whole build then counts as installed).
std::optional<BuildVersion> OfferedBuild(const UpdateInfo& info)
{
    BuildVersion offered;
    if (!ParseVersionText(info.LatestVersion, offered.major, offered.minor))
        return std::nullopt;
    return offered;
}

uint64_t Now()
{
    FILETIME now = {};
    GetSystemTimeAsFileTime(&now);
    return (uint64_t{now.dwHighDateTime} << 32) | now.dwLowDateTime;
}

// Beside the download folder, not in it: the installer finds nothing there but itself.
std::wstring AttemptRecordPath()
{
    std::wstring path = GetDownloadDirectory();
    if (path.empty())
        return path;
    path.pop_back();
    return path + L".attempts";
}

// Counts a failed or unstarted install of `offered`, forgets them all once it is installed.
void RecordOutcome(const std::wstring& recordPath, const std::optional<AttemptRecord>& last,
                   const Announcement& offered, InstallOutcome outcome)
{
    if (recordPath.empty())
        return;
    switch (outcome) {
    case InstallOutcome::Installed:
        if (last)
            RemoveAttemptRecord(recordPath);
        break;
    case InstallOutcome::Failed:
    case InstallOutcome::NotStarted:
        WriteAttemptRecord(recordPath, AfterFailure(last ? &*last : nullptr, offered, Now()));
        break;
    case InstallOutcome::Skipped:
        break;
    }
}

// Whether the offered build failed to install too often lately; logged when it did.
bool IsHeldBackNow(const std::optional<AttemptRecord>& last, const Announcement& offered)
{
    if (!IsHeldBack(last ? &*last : nullptr, offered, Now()))
        return false;
    WriteLog(GetLogFile(),
             L"update %s held back: its install failed %d times in a row, offered again 24 h "
             L"after the last failure or when another build is announced",
             offered.version.c_str(), static_cast<int>(last->failures));
    return true;
}

// Fetches (or reuses) the offered installer and installs it; EndRun when the user closed the
// download-failure dialog.
DownloadDecision InstallOffered(const UpdateInfo& info, const std::wstring& setupPath)
{
    const Announcement offered{info.FileName, info.FileSize, info.MD5, info.LatestVersion};
    const std::wstring recordPath = AttemptRecordPath();
    std::optional<AttemptRecord> last;
    if (!recordPath.empty())
        last = ReadAttemptRecord(recordPath);
    if (last && !(last->build == offered)) {
        // Another build is announced: the count starts again.
        RemoveAttemptRecord(recordPath);
        last.reset();
    }
    if (IsHeldBackNow(last, offered))
        return DownloadDecision::Installed;

    const OfferedInstaller offer{info, setupPath};
    // Held from its check until the installer's process exists.
    HeldInstaller installer;
    const std::wstring setupName = kSetupFileName;
    if (!setupPath.empty())
        ClearFolderExcept(GetDownloadDirectory(),
                          {setupName, setupName + L".part", setupName + L".resume"});
    if (!ReuseInstaller(offer, installer) &&
        DownloadWithRetry(offer, installer) == DownloadDecision::EndRun)
        return DownloadDecision::EndRun;
    // The installer starts alone in its folder: the part's record goes too.
    ClearFolderExcept(GetDownloadDirectory(), {setupName});
    SetLauncherStatus(StateInstalling);
    RecordOutcome(recordPath, last, offered,
                  InstallUpdate(setupPath, OfferedBuild(info), installer));
    return DownloadDecision::Installed;
}

void RunWorkflow()
{
    ApplyUiLanguage(false);
    WriteLog(GetLogFile(), L"version: %s", kLauncherVersion);
    WriteLog(GetLogFile(), L"start to check update");
    SetLauncherStatus(StateDetecting);
    const std::wstring setupPath =
        GetDownloadDirectory().empty() ? std::wstring() : GetDownloadDirectory() + kSetupFileName;
    // Before the installed version is read: a launcher ended during an install may have left
    // the application set aside.
    RecoverInstall(setupPath);

    UpdateRecord record;
    ReadLocalVersion(record);
    if (CheckUpdate(record, ShowNotice) &&
        InstallOffered(record.info, setupPath) == DownloadDecision::EndRun)
        return;
    StartApplicationIfNeeded();
}

}  // namespace

bool DownloadInstaller(const UpdateInfo& info, const std::wstring& setupPath,
                       DownloadReport* report)
{
    const std::wstring url = info.GetDownloadLink();
    // Refused before it is logged or requested: a check that went over HTTPS never hands the
    // installer to plain HTTP.
    if (const wchar_t* problem = InstallerUrlProblem(url, IsHttpsUrl(GetUpdateOrigin()))) {
        WriteLog(GetLogFile(), L"download link error: %s", problem);
        return false;
    }
    // A 64-bit number: installers of 2 GiB and more are real. Without a size above 0 an empty
    // file would pass every check and be run after the application folder was emptied.
    int64_t expectedSize = 0;
    if (!ReadInstallerSize(info.FileSize, expectedSize)) {
        WriteLog(GetLogFile(), L"file size error: server setting size:  %s",
                 EscapeControls(info.FileSize).c_str());
        return false;
    }
    if (setupPath.empty()) {
        WriteLog(GetLogFile(), L"temp path error: no download folder");
        return false;
    }
    // Without Program Files there is no folder to install to, only a path on the current drive.
    if (GetApplicationDirectory().empty()) {
        WriteLog(GetLogFile(), L"program files path error: no application folder");
        return false;
    }
    return DownloadFile(GetDownloadHandles(), url, setupPath, expectedSize,
                        ShowDownloadProgress, info.MD5, report);
}

DWORD WINAPI LauncherWorker(LPVOID)
{
    try {
        RunWorkflow();
    } catch (...) {
        // Nothing may unwind out of the thread; the run simply ends.
    }
    SetLauncherStatus(StateExit);
    // The window ends the process on this message. Until then this thread waits rather than
    // ends: a thread that ends runs the libraries' thread-detach code under the loader lock,
    // and a process ending at that moment can wait for that lock forever.
    if (PostMessageW(SplashWindow(), WM_LAUNCHER_DONE, 0, 0))
        Sleep(INFINITE);
    return 0;
}
