#include "shell/install_step.h"

#include <windows.h>

#include <atomic>
#include <string>

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
// Windows ends a process soon after the session ends; settling takes a second or two.
constexpr DWORD kSessionEndSettleMs = 15000;

// Manual-reset events shared by the two threads: the session is ending, and the install step
// has settled what it set aside.
HANDLE SessionEndEvent()
{
    static const UniqueHandle event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    return event.Get();
}

HANDLE SettledEvent()
{
    static const UniqueHandle event(CreateEventW(nullptr, TRUE, TRUE, nullptr));
    return event.Get();
}

// While it lives, a folder is set aside: the window asks Windows not to end the session
// unannounced, and a session end waits for the settling.
class SetAsideGuard {
public:
    SetAsideGuard()
    {
        ResetEvent(SettledEvent());
        PostMessageW(SplashWindow(), WM_LAUNCHER_SET_ASIDE, TRUE, 0);
    }
    ~SetAsideGuard()
    {
        PostMessageW(SplashWindow(), WM_LAUNCHER_SET_ASIDE, FALSE, 0);
        SetEvent(SettledEvent());
    }
    SetAsideGuard(const SetAsideGuard&) = delete;
    SetAsideGuard& operator=(const SetAsideGuard&) = delete;
};

// Whether the installer is still at work: its own process, or any other of its file.
bool IsInstallerRunning(const ProgramStart& setup, const std::wstring& setupPath)
{
    return IsStartedProcessRunning(setup) || IsImageRunning(setupPath);
}

// When a condition was first seen to hold, as long as it goes on holding.
struct Since {
    bool holds = false;
    DWORD at = 0;
    void Update(bool now, DWORD tick)
    {
        if (now && !holds)
            at = tick;
        holds = now;
    }
};

// Polls every second until the application runs and the installer's file runs no more, or
// DecideWaitEnd ends the wait, or the session ends.
void WaitForApplication(const ProgramStart& setup, const std::wstring& setupPath)
{
    Since installerEnded;
    Since allEnded;
    for (;;) {
        const bool installerRunning = IsInstallerRunning(setup, setupPath);
        if (FindApplicationProcess(UnreadableSession::Own) != 0 && !installerRunning)
            return;
        const DWORD now = GetTickCount();
        installerEnded.Update(!installerRunning, now);
        allEnded.Update(!installerRunning && !IsProgramRunning(setup), now);
        switch (DecideWaitEnd(!installerEnded.holds, !allEnded.holds, now - installerEnded.at,
                              now - allEnded.at)) {
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
        if (WaitForSingleObject(SessionEndEvent(), kPollIntervalMs) == WAIT_OBJECT_0) {
            WriteLog(GetLogFile(), L"session ends, install settled now");
            return;
        }
    }
}

// Asks the user to close the running application until it is closed; false when declined.
bool AskToCloseApplication()
{
    while (FindApplicationProcess(UnreadableSession::Own) != 0) {
        wchar_t caption[1024] = {};
        wchar_t text[1024] = {};
        LoadStringW(GetModuleHandleW(nullptr), IDS_APP_RUNNING_CAPTION, caption, 1024);
        LoadStringW(GetModuleHandleW(nullptr), IDS_CLOSE_APP_FIRST, text, 1024);
        if (MessageBoxW(SplashWindow(), text, caption, MB_RETRYCANCEL) != IDRETRY)
            return false;
    }
    return true;
}

// Whether the folder holds the offered build (or newer; any whole build when none is known). A
// process of the application's name running elsewhere says nothing about this folder.
bool IsOfferedBuildInstalled(const std::optional<BuildVersion>& offered)
{
    return FolderBuildCounts(ReadBuild(GetApplicationDirectory() + kApplicationExeName),
                             offered.value_or(BuildVersion{}), false);
}

// Keeps the build the installer left when it is the offered one, else puts the old one back.
void SettleInstall(const std::wstring& backup, const ProgramStart& setup, bool installed)
{
    DWORD exitCode = STILL_ACTIVE;
    if (!installed && setup.process && GetExitCodeProcess(setup.process.Get(), &exitCode) &&
        exitCode != STILL_ACTIVE)
        WriteLog(GetLogFile(), L"install failed, setup exit code: %d", exitCode);
    SettleApplicationBackup(backup, installed);
}

// Runs the installer over the cleared folder and waits for it. The hold on its file ends once
// its process exists (or could not be made).
ProgramStart RunInstaller(const std::wstring& setupPath, HeldInstaller& held)
{
    WriteLog(GetLogFile(), L"run setup: %s", setupPath.c_str());
    ProgramStart setup = StartProgram(setupPath, true, SplashWindow());
    held.Release();
    WriteLog(GetLogFile(), L"Wait Application run: retrun code : %d", setup.code);
    if (setup.code <= 31) {
        WriteLog(GetLogFile(), L"setup not started, no wait");
    } else {
        // The installer starts the application when it has finished; that is the usual sign.
        WaitForApplication(setup, setupPath);
    }
    return setup;
}

// What became of an installer that ran (or did not start): a session end before it was done
// says nothing about the installer.
InstallOutcome OutcomeOf(const ProgramStart& setup, bool installed)
{
    if (installed)
        return InstallOutcome::Installed;
    if (setup.code <= 31)
        return InstallOutcome::NotStarted;
    return IsSessionEnding() ? InstallOutcome::Skipped : InstallOutcome::Failed;
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

void RecoverInstall(const std::wstring& setupPath)
{
    // Most starts find nothing to settle: no lock taken, no process list read.
    if (!IsAnyBackupLeft())
        return;
    // A backup seen while another launcher holds the lock is that launcher's live install.
    InstallLock lock;
    if (!lock.Take()) {
        WriteLog(GetLogFile(), L"install lock held elsewhere, backups left as they are");
        return;
    }
    // An installer handed over or elevated may still be writing the folder.
    if (IsImageRunning(setupPath)) {
        WriteLog(GetLogFile(), L"setup still running, backups left as they are");
        return;
    }
    SettleLeftBackups();
}

InstallOutcome InstallUpdate(const std::wstring& setupPath,
                             const std::optional<BuildVersion>& offered, HeldInstaller& held)
{
    WriteLog(GetLogFile(), L"check whether application is running");
    if (!AskToCloseApplication())
        return InstallOutcome::Skipped;

    // Held from setting aside until the decision: no other launcher may take this backup for a
    // leftover, nor set the same folder aside.
    InstallLock lock;
    if (!lock.Take()) {
        WriteLog(GetLogFile(), L"install lock held elsewhere, install skipped");
        return InstallOutcome::Skipped;
    }
    if (IsImageRunning(setupPath)) {
        WriteLog(GetLogFile(), L"setup still running, install skipped");
        return InstallOutcome::Skipped;
    }
    WriteLog(GetLogFile(), L"delete application dir");
    const SetAsideGuard guard;
    std::wstring backup;
    const SetAsideRoad road = SetApplicationAside(backup);
    if (road == SetAsideRoad::Skip)
        return InstallOutcome::Skipped;
    const ProgramStart setup = RunInstaller(setupPath, held);
    const bool installed = IsOfferedBuildInstalled(offered);
    if (road == SetAsideRoad::SetAside)
        SettleInstall(backup, setup, installed);
    // The job closes with `setup` and ends nothing: the application runs on.
    return OutcomeOf(setup, installed);
}

void SettleBeforeSessionEnd()
{
    SetEvent(SessionEndEvent());
    WaitForSingleObject(SettledEvent(), kSessionEndSettleMs);
}

bool IsSessionEnding()
{
    return WaitForSingleObject(SessionEndEvent(), 0) == WAIT_OBJECT_0;
}
