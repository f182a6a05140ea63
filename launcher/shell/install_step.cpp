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
}

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
    const UINT started = RunProgram(GetSetupPath());
    WriteLog(GetLogFile(), L"Wait Application run: retrun code : %d", started);

    // The installer starts the application when it has finished; that is the only sign.
    while (FindProcessByName(kApplicationExeName) == 0)
        Sleep(kPollIntervalMs);
}
