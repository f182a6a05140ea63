// The splash window of the real launcher.exe, seen from outside while its worker waits for an
// update service that never answers.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <future>

#include "shell/launcher_process.h"
#include "shell/launcher_status.h"
#include "update/import_hook.h"

using namespace test_support;
using namespace launcher_process;

namespace {

std::atomic<int> g_invalidations{0};
std::atomic<HWND> g_invalidated{nullptr};

BOOL WINAPI RecordInvalidation(HWND window, const RECT*, BOOL)
{
    g_invalidated = window;
    ++g_invalidations;
    return TRUE;
}

}  // namespace

// The worker starts while the window is still being created: a status change before the window
// exists touches no window (a null handle would invalidate them all), and what must be seen
// (a notice and its 2,000 ms, a dialog, a started program) waits until the window is shown.
TEST(SplashWindow, WorkerAheadOfTheWindowInvalidatesNothingAndWaitsForItToBeShown)
{
    ImportHook hook("user32.dll", "InvalidateRect", reinterpret_cast<const void*>(&RecordInvalidation));
    ASSERT_TRUE(hook.Installed());
    SetLauncherStatus(StateDetecting);
    EXPECT_EQ(0, g_invalidations.load());

    auto waiting = std::async(std::launch::async, [] { return SplashWindow(); });
    EXPECT_EQ(std::future_status::timeout, waiting.wait_for(std::chrono::milliseconds(300)));
    HWND window = CreateWindowExW(0, L"STATIC", L"launcher", WS_POPUP, 0, 0, 350, 200, nullptr,
                                  nullptr, nullptr, nullptr);
    ASSERT_NE(nullptr, window);
    AnnounceSplashWindow(window);
    ASSERT_EQ(std::future_status::ready, waiting.wait_for(std::chrono::seconds(5)));
    EXPECT_EQ(window, waiting.get());

    SetLauncherStatus(StateNoUpdate);
    EXPECT_EQ(1, g_invalidations.load());
    EXPECT_EQ(window, g_invalidated.load());
    AnnounceSplashWindow(nullptr);
    DestroyWindow(window);
}

TEST(SplashWindow, OpensCentredAtFixedSizeAndClosesCleanlyWhileTheWorkerWaits)
{
    SilentListener service;
    const int64_t logStart = LogSize();
    ChildProcess launcher(LauncherCommandLine(), ServiceThrough(service.Port()));
    ASSERT_TRUE(launcher.Started());

    HWND window = nullptr;
    ASSERT_TRUE(WaitFor(
        [&] {
            window = FindProcessWindow(launcher.Id(), L"" LAUNCHER_BRAND_WINDOW_CLASS);
            return window && IsWindowVisible(window);
        },
        30000));
    // The worker has sent its request and waits for the answer.
    const auto requestSent = [&] {
        const auto lines = LogLinesSince(logStart);
        return std::any_of(lines.begin(), lines.end(), [](const std::string& line) {
            return StripStamp(line).rfind("http://", 0) == 0;
        });
    };
    ASSERT_TRUE(WaitFor(requestSent, 30000));

    wchar_t title[100] = {};
    GetWindowTextW(window, title, 100);
    EXPECT_STREQ(L"launcher", title);

    RECT rect = {};
    ASSERT_TRUE(GetWindowRect(window, &rect));
    EXPECT_EQ(350, rect.right - rect.left);
    EXPECT_EQ(200, rect.bottom - rect.top);
    EXPECT_EQ((GetSystemMetrics(SM_CXSCREEN) - 350) / 2, rect.left);
    EXPECT_EQ((GetSystemMetrics(SM_CYSCREEN) - 200) / 2, rect.top);

    // Caption, system menu and minimise box; no maximise box, no sizing border. The system
    // adds WS_CLIPSIBLINGS to every overlapped window.
    const auto style = static_cast<DWORD>(GetWindowLongW(window, GWL_STYLE));
    EXPECT_EQ(static_cast<DWORD>(WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX),
              style & ~static_cast<DWORD>(WS_VISIBLE | WS_CLIPSIBLINGS))
        << std::hex << style;
    EXPECT_EQ(nullptr, GetMenu(window));
    EXPECT_EQ(static_cast<ULONG_PTR>(CS_HREDRAW | CS_VREDRAW), GetClassLongPtrW(window, GCL_STYLE));
    // No extended style was asked for; the system adds the raised edge of captioned windows.
    EXPECT_EQ(0, GetWindowLongW(window, GWL_EXSTYLE) & ~WS_EX_WINDOWEDGE);

    // The class brush (not readable from another process here) shows where nothing is drawn:
    // the bottom-right corner, away from the banner and the state text. The request may go
    // out before the first paint is done: the worker starts while the window is created.
    RECT client = {};
    GetClientRect(window, &client);
    COLORREF corner = CLR_INVALID;
    const auto painted = [&] {
        HDC dc = GetDC(window);
        corner = GetPixel(dc, client.right - 3, client.bottom - 3);
        ReleaseDC(window, dc);
        return corner == GetSysColor(COLOR_WINDOW);
    };
    EXPECT_TRUE(WaitFor(painted, 5000)) << std::hex << corner;

    // Closing while the worker is blocked in its request ends the process at once, with 0.
    PostMessageW(window, WM_CLOSE, 0, 0);
    DWORD exitCode = 99;
    ASSERT_TRUE(launcher.Wait(5000, &exitCode)) << "the launcher did not end after WM_CLOSE";
    EXPECT_EQ(0u, exitCode);

    // Nothing ran on after the request: neither an outcome of the check nor the exit line.
    const auto lines = LogLinesSince(logStart);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(0u, StripStamp(lines.back()).rfind("http://", 0)) << lines.back();
}
