#include "shell/splash_window.h"

#include "base/brand.h"
#include "base/unique_resource.h"
#include "dialogs/dialog_base.h"
#include "environment/processes.h"
#include "log/log_file.h"
#include "presentation/splash_painter.h"
#include "presentation/ui_language.h"
#include "resources/resource_ids.h"
#include "environment/system_functions.h"
#include "shell/install_step.h"
#include "shell/launch_workflow.h"
#include "shell/launcher_status.h"

namespace {

wchar_t g_title[100];
wchar_t g_className[100];

// Per user session (Local\): two launchers would write and run the same Setup.exe.
constexpr wchar_t kSingleLauncherMutex[] = L"Local\\" LAUNCHER_BRAND_LAUNCHER_MUTEX;

using ShutdownBlockReasonCreateFn = BOOL(WINAPI*)(HWND, LPCWSTR);
using ShutdownBlockReasonDestroyFn = BOOL(WINAPI*)(HWND);

// Vista and later: while the application folder is set aside, a session end names the reason
// (the installing text) instead of ending the launcher unannounced.
void BlockSessionEnd(HWND window, bool block)
{
    static const auto create = FindSystemFunction<ShutdownBlockReasonCreateFn>(
        L"user32.dll", "ShutdownBlockReasonCreate");
    static const auto destroy = FindSystemFunction<ShutdownBlockReasonDestroyFn>(
        L"user32.dll", "ShutdownBlockReasonDestroy");
    if (!create || !destroy)
        return;
    if (!block) {
        destroy(window);
        return;
    }
    wchar_t reason[256] = {};
    LoadStringW(GetModuleHandleW(nullptr), IDS_INSTALLING, reason, 256);
    create(window, reason);
}

// Ended during the install step, the launcher would leave the application set aside and the
// installer unwatched; the run ends by itself once the step is done.
bool IgnoreCloseWhileInstalling()
{
    if (GetLauncherStatus().state.load() != StateInstalling)
        return false;
    WriteLog(GetLogFile(), L"close ignored while installing");
    return true;
}

}  // namespace

bool HandOverToRunningLauncher(HINSTANCE instance)
{
    // Held until the process ends, which releases it.
    static UniqueHandle mutex;
    mutex.Reset(CreateMutexW(nullptr, FALSE, kSingleLauncherMutex));
    const DWORD error = GetLastError();
    if (!IsAnotherInstanceRunning(static_cast<bool>(mutex), error))
        return false;

    wchar_t className[100] = {};
    LoadStringW(instance, IDS_CLASS_NAME, className, 100);
    HWND running = FindWindowW(className, nullptr);
    if (running) {
        if (IsIconic(running))
            ShowWindow(running, SW_RESTORE);
        // Its dialog or message box, when one is up, is what the user has to answer.
        SetForegroundWindow(GetLastActivePopup(running));
    }
    WriteLog(GetLogFile(), L"launcher already running, this one ends");
    return true;
}

void RegisterLauncherClass(HINSTANCE instance)
{
    WNDCLASSEXW windowClass = {};
    windowClass.cbSize = sizeof windowClass;
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = LauncherWndProc;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    windowClass.lpszClassName = g_className;
    RegisterClassExW(&windowClass);
}

HWND CreateLauncherWindow(HINSTANCE instance, int showCommand)
{
    HWND window = CreateWindowExW(0, g_className, g_title, kSplashStyle, CW_USEDEFAULT,
                                  CW_USEDEFAULT, kSplashWidth, kSplashHeight, nullptr, nullptr,
                                  instance, nullptr);
    if (window) {
        ShowWindow(window, showCommand);
        UpdateWindow(window);
    }
    return window;
}

LRESULT CALLBACK LauncherWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CREATE:
        // Before the first paint: from here on the worker's status changes repaint it.
        GetLauncherContext().window.store(window);
        CenterOnScreen(window);
        return 0;
    case WM_PAINT: {
        PAINTSTRUCT paint;
        HDC dc = BeginPaint(window, &paint);
        try {
            PaintSplash(dc, GetLauncherStatus().View());
        } catch (...) {
            // Nothing may unwind through the window procedure.
        }
        EndPaint(window, &paint);
        return 0;
    }
    case WM_CLOSE:
        if (IgnoreCloseWhileInstalling())
            return 0;
        return DefWindowProcW(window, message, wParam, lParam);
    case WM_LAUNCHER_SET_ASIDE:
        BlockSessionEnd(window, wParam != FALSE);
        return 0;
    case WM_ENDSESSION:
        if (wParam) {
            WriteLog(GetLogFile(), L"session ends");
            SettleBeforeSessionEnd();
        }
        return 0;
    case WM_LAUNCHER_DONE:
        WriteLog(GetLogFile(), L"exit\n");
        PostQuitMessage(0);
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    default:
        return DefWindowProcW(window, message, wParam, lParam);
    }
}

int RunLauncher(HINSTANCE instance, int showCommand)
{
    LoadStringW(instance, IDS_TITLE, g_title, 100);
    LoadStringW(instance, IDS_CLASS_NAME, g_className, 100);
    // The run's first log lines, before the worker writes its own.
    ApplyUiLanguage(true);
    GetLauncherContext().instance = instance;
    // The worker reads the installed build and asks the update service while Windows loads
    // its display driver and creates the window; whatever it shows over the window waits for
    // it (SplashWindow). Never waited for: its handle is closed at once.
    const UniqueHandle worker(CreateThread(nullptr, 0, LauncherWorker, nullptr, 0, nullptr));
    RegisterLauncherClass(instance);
    HWND window = CreateLauncherWindow(instance, showCommand);
    // Without a window the process ends here, the worker with it.
    AnnounceSplashWindow(window);
    if (!window)
        return 0;

    HACCEL accelerators = LoadAcceleratorsW(instance, MAKEINTRESOURCEW(IDR_ACCELERATORS));
    // Zeroed: if GetMessageW fails at once, the exit code is still 0.
    MSG message = {};
    // GetMessageW returns -1 on an error, which must end the loop rather than spin it.
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (!TranslateAcceleratorW(message.hwnd, accelerators, &message)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
    return static_cast<int>(message.wParam);
}
