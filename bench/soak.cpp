// Soak run of the real launcher in one process: the splash window and the worker as in
// launcher.exe, against a service whose downloads always break off, with a monitor thread that
// answers every download-failure dialog with Retry a fixed number of times and samples the
// process's figures at the first and the last dialog. Prints one JSON object per sample.
//
// Wine reports no GDI/USER object or handle counts for a process (GetGuiResources and
// GetProcessHandleCount give 0), so the samples also carry probes that grow with leaks there:
// the highest table slot that a burst of new GDI objects, windows and kernel handles occupies.
#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>

#include "shell/launcher_status.h"
#include "shell/splash_window.h"

namespace {

std::atomic<long> g_paints{0};
WNDPROC g_launcherProc = nullptr;

LRESULT CALLBACK CountingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_PAINT)
        ++g_paints;
    return CallWindowProcW(g_launcherProc, window, message, wParam, lParam);
}

unsigned GdiProbe()
{
    HBRUSH brushes[64];
    unsigned highest = 0;
    for (auto& brush : brushes) {
        brush = CreateSolidBrush(RGB(1, 2, 3));
        highest = std::max(highest, static_cast<unsigned>(reinterpret_cast<uintptr_t>(brush) & 0xFFFF));
    }
    for (HBRUSH brush : brushes)
        DeleteObject(brush);
    return highest;
}

unsigned UserProbe()
{
    HWND windows[16];
    unsigned highest = 0;
    for (auto& window : windows) {
        window = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
        highest = std::max(highest, static_cast<unsigned>(reinterpret_cast<uintptr_t>(window) & 0xFFFF));
    }
    for (HWND window : windows)
        DestroyWindow(window);
    return highest;
}

unsigned HandleProbe()
{
    HANDLE events[64];
    unsigned highest = 0;
    for (auto& event : events) {
        event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
        highest = std::max(highest, static_cast<unsigned>(reinterpret_cast<uintptr_t>(event)));
    }
    for (HANDLE event : events)
        CloseHandle(event);
    return highest;
}

void Sample(const char* label, int retries)
{
    PROCESS_MEMORY_COUNTERS_EX memory = {};
    memory.cb = sizeof memory;
    GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory),
                         sizeof memory);
    DWORD handles = 0;
    GetProcessHandleCount(GetCurrentProcess(), &handles);
    std::printf("{\"sample\":\"%s\",\"retries\":%d,\"paints\":%ld,\"gdi\":%lu,\"user\":%lu,"
                "\"handles\":%lu,\"private\":%lu,\"gdi_probe\":%u,\"user_probe\":%u,"
                "\"handle_probe\":%u}\n",
                label, retries, g_paints.load(),
                static_cast<unsigned long>(GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS)),
                static_cast<unsigned long>(GetGuiResources(GetCurrentProcess(), GR_USEROBJECTS)),
                static_cast<unsigned long>(handles), static_cast<unsigned long>(memory.PrivateUsage),
                GdiProbe(), UserProbe(), HandleProbe());
    std::fflush(stdout);
}

struct DialogSearch {
    HWND found = nullptr;
};

BOOL CALLBACK FindOwnDialog(HWND window, LPARAM data)
{
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    wchar_t name[64] = {};
    GetClassNameW(window, name, 64);
    if (pid == GetCurrentProcessId() && IsWindowVisible(window) && lstrcmpW(name, L"#32770") == 0) {
        reinterpret_cast<DialogSearch*>(data)->found = window;
        return FALSE;
    }
    return TRUE;
}

HWND WaitForDialog(DWORD timeoutMs)
{
    const ULONGLONG end = GetTickCount64() + timeoutMs;
    while (GetTickCount64() < end) {
        DialogSearch search;
        EnumWindows(FindOwnDialog, reinterpret_cast<LPARAM>(&search));
        if (search.found)
            return search.found;
        Sleep(10);
    }
    return nullptr;
}

int g_retries = 200;

DWORD WINAPI Monitor(LPVOID)
{
    // The splash window exists once the worker has published its first state.
    while (!GetLauncherContext().window)
        Sleep(5);
    g_launcherProc = reinterpret_cast<WNDPROC>(SetWindowLongPtrW(
        GetLauncherContext().window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(CountingProc)));
    for (int retry = 0; retry <= g_retries; ++retry) {
        HWND dialog = WaitForDialog(120000);
        if (!dialog) {
            std::printf("{\"error\":\"no download-failure dialog after %d retries\"}\n", retry);
            std::fflush(stdout);
            ExitProcess(2);
        }
        if (retry == 0)
            Sample("start", retry);
        if (retry == g_retries) {
            Sample("end", retry);
            PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
            break;
        }
        PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDRETRY, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDRETRY)));
        // Wait for the dialog to go before looking for the next one.
        while (IsWindow(dialog))
            Sleep(5);
    }
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc > 1)
        g_retries = _wtoi(argv[1]);
    HANDLE monitor = CreateThread(nullptr, 0, Monitor, nullptr, 0, nullptr);
    const int code = RunLauncher(GetModuleHandleW(nullptr), SW_SHOW);
    WaitForSingleObject(monitor, 10000);
    Sample("exit", g_retries);
    ExitProcess(static_cast<UINT>(code));
}
