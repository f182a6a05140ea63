// The floor under the no-update road: a program that loads the DLLs named on its command line
// (bench/run passes the launcher's own imports), makes one WinINet request the way the launcher
// does (preconfigured proxy, no cache) and reads the reply to its end, then exits. With
// --window it also shows and paints a window of the splash window's size while the request
// runs on a thread of its own, as the launcher does: the least any program doing both takes.
// What the launcher takes beyond this program is its own.
// Usage: floor_request [--window] <url> [<dll>...]        Exit code: 0 when the reply was read.
#include <windows.h>
#include <wininet.h>

#include <cwchar>

namespace {

DWORD WINAPI Request(LPVOID url)
{
    HINTERNET session = InternetOpenW(L"floor", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
    if (!session)
        return 1;
    HINTERNET request = InternetOpenUrlW(
        session, static_cast<const wchar_t*>(url), nullptr, 0,
        INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_PRAGMA_NOCACHE, 0);
    DWORD code = 1;
    if (request) {
        char buffer[4096];
        DWORD read = 0;
        while (InternetReadFile(request, buffer, sizeof buffer, &read) && read != 0) {
        }
        code = 0;
        InternetCloseHandle(request);
    }
    InternetCloseHandle(session);
    return code;
}

// Shows and paints a window, then returns: the window's cost without the launcher's code.
bool ShowWindowOnce()
{
    WNDCLASSEXW windowClass = {};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = DefWindowProcW;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    windowClass.lpszClassName = L"FLOORWINDOW";
    RegisterClassExW(&windowClass);
    HWND window = CreateWindowExW(0, L"FLOORWINDOW", L"floor", WS_OVERLAPPED | WS_SYSMENU | WS_MINIMIZEBOX,
                                  CW_USEDEFAULT, CW_USEDEFAULT, 350, 200, nullptr, nullptr,
                                  windowClass.hInstance, nullptr);
    if (!window)
        return false;
    ShowWindow(window, SW_SHOWNORMAL);
    UpdateWindow(window);
    return true;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    const bool withWindow = argc > 1 && std::wcscmp(argv[1], L"--window") == 0;
    const int first = withWindow ? 2 : 1;
    if (argc <= first)
        return 2;
    for (int i = first + 1; i < argc; ++i)
        if (!LoadLibraryW(argv[i]))
            return 3;
    if (!withWindow)
        return static_cast<int>(Request(argv[first]));
    HANDLE thread = CreateThread(nullptr, 0, Request, argv[first], 0, nullptr);
    if (!thread || !ShowWindowOnce())
        return 1;
    DWORD code = 1;
    WaitForSingleObject(thread, 60000);
    GetExitCodeThread(thread, &code);
    return static_cast<int>(code);
}
