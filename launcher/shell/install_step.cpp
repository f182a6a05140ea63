#include "shell/install_step.h"

#include <windows.h>

#include "environment/application_backup.h"
#include "environment/locations.h"
#include "environment/managed_application.h"
#include "environment/processes.h"
#include "log/log_file.h"
#include "resources/resource_ids.h"
#include "shell/launcher_status.h"

namespace {

constexpr DWORD kPollIntervalMs = 1000;
// An installer may hand over to a program that starts the application a little later.
constexpr DWORD kGraceAfterInstallerMs = 60000;
// What an installer leaves running (a tray helper, a browser it opened) may never end.
constexpr DWORD kLeftoverLimitMs = 300000;

// Polls for the application every second until it appears or DecideWaitEnd ends the wait.
void WaitForApplication(const ProgramStart& setup)
{
    DWORD installerEndedAt = 0;
    DWORD allEndedAt = 0;
    bool installerEnded = false;
    bool allEnded = false;
    while (FindApplicationProcess(UnreadableSession::Own) == 0) {
        const DWORD now = GetTickCount();
        if (!installerEnded && !IsStartedProcessRunning(setup)) {
            installerEnded = true;
            installerEndedAt = now;
        }
        if (!allEnded && !IsProgramRunning(setup)) {
            allEnded = true;
            allEndedAt = now;
        }
        switch (DecideWaitEnd(!installerEnded, !allEnded, now - installerEndedAt,
                              now - allEndedAt)) {
        case WaitEnd::None:
            break;
        case WaitEnd::Grace:
            WriteLog(GetLogFile(), L"setup ended, application not running after %d s",
                     kGraceAfterInstallerMs / 1000);
            return;
        case WaitEnd::Leftovers:
            WriteLog(GetLogFile(), L"setup ended, programs it started still running after %d s",
                     kLeftoverLimitMs / 1000);
            return;
        }
        Sleep(kPollIntervalMs);
    }
}

bool IsApplicationInstalled()
{
    return FindApplicationProcess() != 0 || IsApplicationFilePresent();
}

}  // namespace

WaitEnd DecideWaitEnd(bool installerRunning, bool anythingRunning, DWORD sinceInstallerEndedMs,
                      DWORD sinceAllEndedMs)
{
    if (installerRunning)
        return WaitEnd::None;
    if (!anythingRunning)
        return sinceAllEndedMs >= kGraceAfterInstallerMs ? WaitEnd::Grace : WaitEnd::None;
    return sinceInstallerEndedMs >= kLeftoverLimitMs ? WaitEnd::Leftovers : WaitEnd::None;
}

void RecoverInstall()
{
    if (!IsApplicationBackupPresent())
        return;
    // A backup seen while another launcher holds the lock is that launcher's live install.
    InstallLock lock;
    if (!lock.Take()) {
        WriteLog(GetLogFile(), L"install lock held elsewhere, backup left: %s",
                 GetApplicationBackupDirectory().c_str());
        return;
    }
    const bool present = IsApplicationFilePresent();
    WriteLog(GetLogFile(), L"backup found: %s", GetApplicationBackupDirectory().c_str());
    SettleApplicationBackup(present);
}

void InstallUpdate()
{
    WriteLog(GetLogFile(), L"check whether application is running");
    while (FindApplicationProcess(UnreadableSession::Own) != 0) {
        wchar_t caption[1024] = {};
        wchar_t text[1024] = {};
        LoadStringW(GetModuleHandleW(nullptr), IDS_APP_RUNNING_CAPTION, caption, 1024);
        LoadStringW(GetModuleHandleW(nullptr), IDS_CLOSE_APP_FIRST, text, 1024);
        if (MessageBoxW(GetLauncherContext().window, text, caption, MB_RETRYCANCEL) != IDRETRY)
            return;
    }

    // Held from setting aside until the decision: no other launcher may take this backup for a
    // leftover, nor set the same folder aside.
    InstallLock lock;
    if (!lock.Take()) {
        WriteLog(GetLogFile(), L"install lock held elsewhere, install skipped");
        return;
    }
    WriteLog(GetLogFile(), L"delete application dir");
    const SetAsideRoad road = SetApplicationAside();
    if (road == SetAsideRoad::Skip)
        return;

    WriteLog(GetLogFile(), L"run setup: %s", GetSetupPath().c_str());
    const ProgramStart setup = StartProgram(GetSetupPath(), true, GetLauncherContext().window);
    WriteLog(GetLogFile(), L"Wait Application run: retrun code : %d", setup.code);
    if (setup.code <= 31) {
        WriteLog(GetLogFile(), L"setup not started, no wait");
    } else {
        // The installer starts the application when it has finished; that is the usual sign.
        WaitForApplication(setup);
    }
    if (road == SetAsideRoad::SetAside)
        SettleApplicationBackup(IsApplicationInstalled());
    // The job closes with `setup` and ends nothing: the application runs on.
}
