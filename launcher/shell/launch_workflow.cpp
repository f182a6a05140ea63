#include "shell/launch_workflow.h"

#include "dialogs/download_failure_dialog.h"
#include "dialogs/manual_download_dialog.h"
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

// Downloads until it succeeds or the user stops retrying. A transfer that ends early goes on
// from its part at once while each attempt brings new bytes; only then does the user see the
// dialog. An installer whose origin cannot be shown fails like a broken download; one that
// passes stays in `installer`, locked against changes, for the install step.
DownloadDecision DownloadWithRetry(HeldInstaller& installer)
{
    const LauncherContext& context = GetLauncherContext();
    DownloadReport report;
    for (;;) {
        // Retry goes on from the part: the percentage does not fall back to 0.
        SetLauncherStatus(StateDownloading, report.percentageAfter);
        for (int resumes = 0;; ++resumes) {
            report = DownloadReport();
            if (DownloadInstaller(&report)) {
                if (AcceptInstaller(GetSetupPath(), installer))
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
        const INT_PTR choice = ShowDialog(failure, context.instance, context.window);
        if (choice == IDRETRY)
            continue;
        if (choice == IDC_MANUAL) {
            CManualDownloadDlg manual;
            ShowDialog(manual, context.instance, context.window);
        }
        return DownloadDecision::EndRun;
    }
}

void StartApplicationIfNeeded()
{
    // Windows is about to end every process of the session. A copy this launcher can't tell
    // apart (an elevated one) counts: never a second copy.
    if (IsSessionEnding() || FindApplicationProcess(UnreadableSession::Own) != 0)
        return;
    if (IsApplicationFilePresent())
        RunProgram(GetApplicationPath(), GetLauncherContext().window);
}

// The build the service offers, read as the check reads versions; none when its text is no
// version (any whole build then counts as installed).
std::optional<BuildVersion> OfferedBuild(const UpdateInfo& info)
{
    BuildVersion offered;
    if (!ParseVersionText(info.GetLatestVersion(), offered.major, offered.minor))
        return std::nullopt;
    return offered;
}

void RunWorkflow()
{
    ApplyUiLanguage(false);
    WriteLog(GetLogFile(), L"version: %s", kLauncherVersion);
    WriteLog(GetLogFile(), L"start to check update");
    SetLauncherStatus(StateDetecting);
    // Before the installed version is read: a launcher ended during an install may have left
    // the application set aside.
    RecoverInstall();

    UpdateRecord& record = GetUpdateRecord();
    ReadLocalVersion(record);
    if (CheckUpdate(record, ShowNotice)) {
        // Held until the install step has started the installer and is done with it.
        HeldInstaller installer;
        if (DownloadWithRetry(installer) == DownloadDecision::EndRun)
            return;
        SetLauncherStatus(StateInstalling);
        InstallUpdate(OfferedBuild(record.info));
    }
    StartApplicationIfNeeded();
}

}  // namespace

bool DownloadInstaller(DownloadReport* report)
{
    const UpdateInfo info = GetUpdateRecord().info;
    const std::wstring url = info.ServerPath + info.FileName;
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
    if (GetSetupPath().empty()) {
        WriteLog(GetLogFile(), L"temp path error: no download folder");
        return false;
    }
    // Without Program Files there is no folder to install to, only a path on the current drive.
    if (GetApplicationDirectory().empty()) {
        WriteLog(GetLogFile(), L"program files path error: no application folder");
        return false;
    }
    return DownloadFile(GetDownloadHandles(), url, GetSetupPath(), expectedSize,
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
    if (PostMessageW(GetLauncherContext().window, WM_LAUNCHER_DONE, 0, 0))
        Sleep(INFINITE);
    return 0;
}
