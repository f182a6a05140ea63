// The launcher's entry point.
#include <windows.h>

#include "environment/system_functions.h"
#include "shell/splash_window.h"
#include "update/installer_signature.h"
#include "update/update_check.h"

namespace {

// LOAD_LIBRARY_SEARCH_SYSTEM32; the XP headers do not name it.
constexpr DWORD kSearchSystem32 = 0x00000800;

// Libraries loaded from here on (by the launcher, or by the system DLLs on its behalf) are
// looked for in System32 only, never beside launcher.exe: a Downloads folder holds whatever a
// browser put there. Vista with KB2533623 and later; elsewhere the current folder at least
// leaves the search (XP SP1 and later).
void RestrictDllSearch()
{
    using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
    using SetDllDirectoryWFn = BOOL(WINAPI*)(LPCWSTR);
    const auto setDefault =
        FindKernel32Function<SetDefaultDllDirectoriesFn>("SetDefaultDllDirectories");
    if (setDefault && setDefault(kSearchSystem32))
        return;
    if (const auto setDirectory = FindKernel32Function<SetDllDirectoryWFn>("SetDllDirectoryW"))
        setDirectory(L"");
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand)
{
    RestrictDllSearch();
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
