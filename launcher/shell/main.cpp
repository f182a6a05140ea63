// The launcher's entry point.
#include <windows.h>

#include "shell/splash_window.h"
#include "update/installer_signature.h"
#include "update/update_check.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand)
{
    if (HandOverToRunningLauncher(instance))
        ExitProcess(0);
    // Fixed per executable by the build: the certificates whose installers it will run.
    SetPinnedSigners(L"" LAUNCHER_INSTALLER_SIGNERS);
    // ... and the origin of its update service, checked by the build.
    SetUpdateOrigin(L"" LAUNCHER_UPDATE_URL);
    const int exitCode = RunLauncher(instance, showCommand);
    // The worker is never joined: it may still be inside a download, a removal or a log line.
    // Ending the process here stops it before the C runtime's exit-time list could destroy the
    // records, paths and handles it is using; every log line is already on disk.
    ExitProcess(static_cast<UINT>(exitCode));
}
