// Downloads one file with the launcher's own DownloadFile and reports how long the transfer
// took and how often the splash window would have been repainted.
// Usage: download_speed_bench <url> <destination> <expected size> [<md5>]
// Prints: ok=<0|1> bytes=<n> seconds=<s> repaints=<n>
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <thread>

#include "log/log_file.h"
#include "shell/launcher_status.h"
#include "update/download.h"
#include "update/status_recorder.h"

namespace {

LRESULT CALLBACK SplashStandIn(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_PAINT) {
        PAINTSTRUCT paint;
        BeginPaint(window, &paint);
        EndPaint(window, &paint);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

// As in the launcher, a window of its own thread receives the repaints while the download
// runs on another; this one is shown but paints nothing.
class WindowThread {
public:
    WindowThread()
    {
        HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        m_thread = std::thread([this, ready] {
            WNDCLASSW windowClass = {};
            windowClass.lpfnWndProc = SplashStandIn;
            windowClass.hInstance = GetModuleHandleW(nullptr);
            windowClass.lpszClassName = L"DownloadSpeedBench";
            RegisterClassW(&windowClass);
            m_window =
                CreateWindowExW(0, windowClass.lpszClassName, L"bench", WS_POPUP | WS_VISIBLE, 0, 0,
                                350, 200, nullptr, nullptr, windowClass.hInstance, nullptr);
            m_threadId = GetCurrentThreadId();
            SetEvent(ready);
            MSG message;
            while (GetMessageW(&message, nullptr, 0, 0) > 0)
                DispatchMessageW(&message);
            DestroyWindow(m_window);
        });
        WaitForSingleObject(ready, 10000);
        CloseHandle(ready);
    }
    ~WindowThread()
    {
        PostThreadMessageW(m_threadId, WM_QUIT, 0, 0);
        m_thread.join();
    }
    HWND Window() const { return m_window; }

private:
    HWND m_window = nullptr;
    DWORD m_threadId = 0;
    std::thread m_thread;
};

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc < 4) {
        std::fprintf(stderr, "usage: download_speed_bench <url> <destination> <size> [<md5>]\n");
        return 2;
    }
    const std::wstring url = argv[1];
    const std::wstring destination = argv[2];
    const int64_t expectedSize = _wtoi64(argv[3]);
    const std::wstring md5 = argc > 4 ? argv[4] : L"";

    WindowThread window;
    GetLauncherContext().window = window.Window();
    StatusRecorder recorder;
    if (!recorder.Installed()) {
        std::fprintf(stderr, "cannot observe the status changes\n");
        return 2;
    }
    // The launcher has its log open long before a download: opening it is no part of the time.
    WriteLog(GetLogFile(), L"download speed bench");
    InternetHandles handles;
    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    // The workflow shows 0 % before each download; that repaint counts as well.
    SetLauncherStatus(StateDownloading);
    QueryPerformanceCounter(&start);
    const bool ok = DownloadFile(
        handles, url, destination, expectedSize,
        [](int32_t percentage) { SetLauncherStatus(StateDownloading, percentage); }, md5);
    QueryPerformanceCounter(&end);

    const double seconds = static_cast<double>(end.QuadPart - start.QuadPart) /
                           static_cast<double>(frequency.QuadPart);
    std::printf("ok=%d bytes=%lld seconds=%.6f repaints=%u\n", ok ? 1 : 0,
                static_cast<long long>(expectedSize), seconds,
                static_cast<unsigned>(recorder.Changes().size()));
    return ok ? 0 : 1;
}
