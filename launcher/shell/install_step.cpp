#include "shell/install_step.h"

#include <windows.h>

#include "environment/directory_removal.h"
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

// Polls for the application every second. Ends when it appears, or when the installer and
// everything it started have ended and the application has not appeared within the grace.
void WaitForApplication(const ProgramStart& setup)
{
    bool installerEnded = false;
    DWORD endedAt = 0;
    while (FindProcessByName(kApplicationExeName) == 0) {
        if (!installerEnded) {
            installerEnded = !IsProgramRunning(setup);
            endedAt = GetTickCount();
        } else if (GetTickCount() - endedAt >= kGraceAfterInstallerMs) {
            WriteLog(GetLogFile(), L"setup ended, application not running after %d s",
                     kGraceAfterInstallerMs / 1000);
            return;
        }
        Sleep(kPollIntervalMs);
    }
}

}  // namespace

void InstallUpdate()
{
    WriteLog(GetLogFile(), L"check whether application is running");
    while (FindProcessByName(kApplicationExeName) != 0) {
        wchar_t caption[1024] = {};
        wchar_t text[1024] = {};
        LoadStringW(GetModuleHandleW(nullptr), IDS_APP_RUNNING_CAPTION, caption, 1024);
        LoadStringW(GetModuleHandleW(nullptr), IDS_CLOSE_APP_FIRST, text, 1024);
        if (MessageBoxW(GetLauncherContext().window, text, caption, MB_RETRYCANCEL) != IDRETRY)
            return;
    }

    WriteLog(GetLogFile(), L"delete application dir");
    DeleteDirectoryTree(GetApplicationDirectory());

    WriteLog(GetLogFile(), L"run setup: %s", GetSetupPath().c_str());
    const ProgramStart setup = StartProgram(GetSetupPath(), true);
    WriteLog(GetLogFile(), L"Wait Application run: retrun code : %d", setup.code);
    if (setup.code <= 31) {
        WriteLog(GetLogFile(), L"setup not started, no wait");
        return;
    }
    // The installer starts the application when it has finished; that is the usual sign.
    WaitForApplication(setup);
}
