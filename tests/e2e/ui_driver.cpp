// Drives and reads the launcher's windows from inside Wine, the way a person would see and use
// them, for the end-to-end scenarios and the demo. One command per run; results go to standard
// output as one JSON object per line.
//
//   ui_driver find --class C [--title T] [--owner-class C] [--timeout ms]
//       waits for a visible top-level window; prints it with its child controls
//   ui_driver click --hwnd H --id N        mouse click in the middle of control N
//   ui_driver key --hwnd H --key escape|enter|tab   a key press for the window's focus
//   ui_driver type --hwnd H --id N --text T  types T into control N, one character at a time
//   ui_driver close --hwnd H               the caption's close box (SC_CLOSE)
//   ui_driver clipboard                    the clipboard's Unicode text
//   ui_driver watch --launcher PATH [--interval ms] [--timeout ms]
//       follows the splash window (found by the class name in the launcher's strings) and
//       prints every state text it shows, recognised by comparing its pixels with the
//       launcher's own strings drawn the same way
//   ui_driver stats --class C [--every ms --until-gone 1]
//       GDI and USER objects, handles, private bytes and peak working set of the process that
//       owns the window (once, or every `ms` until the window is gone)
//   ui_driver first-paint --exe PATH [--class C] [--timeout ms]
//       starts a program and measures the time until its window's client area is painted
//   ui_driver hold-file --path P --ms N [--when-present 1 --timeout ms]
//       keeps a file open with no sharing for N ms; with --when-present, from the moment it
//       appears (a virus scanner's look at a new executable)
#include <windows.h>
#include <psapi.h>

#include <cstdio>
#include <cwchar>
#include <map>
#include <string>
#include <vector>

namespace {

std::map<std::wstring, std::wstring> ParseOptions(int argc, wchar_t** argv)
{
    std::map<std::wstring, std::wstring> options;
    for (int i = 2; i + 1 < argc; i += 2)
        options[argv[i]] = argv[i + 1];
    return options;
}

std::wstring Option(const std::map<std::wstring, std::wstring>& options, const wchar_t* name,
                    const wchar_t* fallback = L"")
{
    const auto it = options.find(name);
    return it == options.end() ? fallback : it->second;
}

// JSON string with \u escapes for everything outside printable ASCII.
std::string Json(const std::wstring& text)
{
    std::string out = "\"";
    for (const wchar_t c : text) {
        if (c == L'"' || c == L'\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c >= 0x20 && c < 0x7F) {
            out += static_cast<char>(c);
        } else {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c));
            out += escaped;
        }
    }
    return out + "\"";
}

std::wstring WindowText(HWND window)
{
    wchar_t text[4096] = {};
    // WM_GETTEXT rather than GetWindowTextW: it reads controls of other processes too.
    SendMessageTimeoutW(window, WM_GETTEXT, 4096, reinterpret_cast<LPARAM>(text), SMTO_BLOCK,
                        2000, nullptr);
    return text;
}

std::wstring ClassOf(HWND window)
{
    wchar_t name[256] = {};
    GetClassNameW(window, name, 256);
    return name;
}

std::string RectJson(const RECT& r)
{
    char text[128];
    std::snprintf(text, sizeof text, "[%ld,%ld,%ld,%ld]", r.left, r.top, r.right, r.bottom);
    return text;
}

struct Search {
    std::wstring className, title, ownerClass;
    HWND found = nullptr;
};

BOOL CALLBACK MatchTopLevel(HWND window, LPARAM data)
{
    auto* search = reinterpret_cast<Search*>(data);
    if (!IsWindowVisible(window) || ClassOf(window) != search->className)
        return TRUE;
    if (!search->title.empty() && WindowText(window) != search->title)
        return TRUE;
    if (!search->ownerClass.empty()) {
        HWND owner = GetWindow(window, GW_OWNER);
        if (!owner || ClassOf(owner) != search->ownerClass)
            return TRUE;
    }
    search->found = window;
    return FALSE;
}

HWND WaitForWindow(const std::wstring& className, const std::wstring& title,
                   const std::wstring& ownerClass, DWORD timeoutMs)
{
    const ULONGLONG end = GetTickCount64() + timeoutMs;
    for (;;) {
        Search search{className, title, ownerClass};
        EnumWindows(MatchTopLevel, reinterpret_cast<LPARAM>(&search));
        if (search.found || GetTickCount64() >= end)
            return search.found;
        Sleep(50);
    }
}

BOOL CALLBACK PrintChild(HWND child, LPARAM)
{
    RECT r = {};
    GetWindowRect(child, &r);
    std::printf("{\"child\":%d,\"class\":%s,\"text\":%s,\"rect\":%s,\"style\":%lu,\"visible\":%d}\n",
                GetDlgCtrlID(child), Json(ClassOf(child)).c_str(), Json(WindowText(child)).c_str(),
                RectJson(r).c_str(), static_cast<unsigned long>(GetWindowLongW(child, GWL_STYLE)),
                IsWindowVisible(child) ? 1 : 0);
    return TRUE;
}

int Find(const std::map<std::wstring, std::wstring>& options)
{
    HWND window = WaitForWindow(Option(options, L"--class"), Option(options, L"--title"),
                                Option(options, L"--owner-class"),
                                static_cast<DWORD>(_wtoi(Option(options, L"--timeout", L"10000").c_str())));
    if (!window) {
        std::printf("{\"found\":false}\n");
        return 1;
    }
    RECT r = {};
    GetWindowRect(window, &r);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    HWND owner = GetWindow(window, GW_OWNER);
    std::printf("{\"found\":true,\"hwnd\":%lu,\"pid\":%lu,\"class\":%s,\"title\":%s,\"rect\":%s,"
                "\"style\":%lu,\"enabled\":%d,\"owner\":%lu,\"owner_enabled\":%d,"
                "\"screen\":[%d,%d]}\n",
                static_cast<unsigned long>(reinterpret_cast<uintptr_t>(window)),
                static_cast<unsigned long>(pid), Json(ClassOf(window)).c_str(),
                Json(WindowText(window)).c_str(), RectJson(r).c_str(),
                static_cast<unsigned long>(GetWindowLongW(window, GWL_STYLE)),
                IsWindowEnabled(window) ? 1 : 0,
                static_cast<unsigned long>(reinterpret_cast<uintptr_t>(owner)),
                owner && IsWindowEnabled(owner) ? 1 : 0, GetSystemMetrics(SM_CXSCREEN),
                GetSystemMetrics(SM_CYSCREEN));
    EnumChildWindows(window, PrintChild, 0);
    std::fflush(stdout);
    return 0;
}

HWND HwndOption(const std::map<std::wstring, std::wstring>& options)
{
    return reinterpret_cast<HWND>(static_cast<uintptr_t>(wcstoul(Option(options, L"--hwnd").c_str(), nullptr, 10)));
}

int Click(const std::map<std::wstring, std::wstring>& options)
{
    HWND control = GetDlgItem(HwndOption(options), _wtoi(Option(options, L"--id").c_str()));
    if (!control)
        return 1;
    RECT r = {};
    GetClientRect(control, &r);
    const LPARAM middle = MAKELPARAM((r.right - r.left) / 2, (r.bottom - r.top) / 2);
    PostMessageW(control, WM_LBUTTONDOWN, MK_LBUTTON, middle);
    PostMessageW(control, WM_LBUTTONUP, 0, middle);
    return 0;
}

int Key(const std::map<std::wstring, std::wstring>& options)
{
    HWND window = HwndOption(options);
    const std::wstring name = Option(options, L"--key");
    const UINT key = name == L"escape" ? VK_ESCAPE : name == L"enter" ? VK_RETURN
                   : name == L"tab" ? VK_TAB : 0;
    if (!key)
        return 2;
    // The key goes to the control that has the focus in the window's thread, where the
    // dialog manager sees it exactly as it sees a typed key.
    GUITHREADINFO info = {};
    info.cbSize = sizeof info;
    GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &info);
    HWND target = info.hwndFocus ? info.hwndFocus : window;
    const UINT scan = MapVirtualKeyW(key, MAPVK_VK_TO_VSC);
    PostMessageW(target, WM_KEYDOWN, key, MAKELPARAM(1, scan));
    PostMessageW(target, WM_KEYUP, key, MAKELPARAM(1, scan | 0xC000));
    return 0;
}

int Type(const std::map<std::wstring, std::wstring>& options)
{
    HWND control = GetDlgItem(HwndOption(options), _wtoi(Option(options, L"--id").c_str()));
    if (!control)
        return 1;
    // Posted, as a keyboard's characters are, so they queue in order ahead of a later click.
    for (const wchar_t c : Option(options, L"--text"))
        PostMessageW(control, WM_CHAR, c, 1);
    return 0;
}

int Close(const std::map<std::wstring, std::wstring>& options)
{
    return PostMessageW(HwndOption(options), WM_SYSCOMMAND, SC_CLOSE, 0) ? 0 : 1;
}

int Minimise(const std::map<std::wstring, std::wstring>& options)
{
    // Asynchronous, as a click on the minimise box: the window's own thread minimises it.
    return ShowWindowAsync(HwndOption(options), SW_MINIMIZE) ? 0 : 1;
}

int Clipboard()
{
    for (int attempt = 0; attempt < 50 && !OpenClipboard(nullptr); ++attempt)
        Sleep(20);
    std::wstring text;
    bool present = false;
    if (HANDLE data = GetClipboardData(CF_UNICODETEXT)) {
        if (const auto* chars = static_cast<const wchar_t*>(GlobalLock(data))) {
            text = chars;
            present = true;
            GlobalUnlock(data);
        }
    }
    CloseClipboard();
    std::printf("{\"present\":%d,\"text\":%s}\n", present ? 1 : 0, Json(text).c_str());
    return 0;
}

// ---- state recognition -------------------------------------------------------------------

constexpr int kTextLeft = 15, kTextTop = 115, kTextWidth = 305, kTextHeight = 45;

std::vector<uint32_t> Pixels(HDC source, int x, int y)
{
    HDC memory = CreateCompatibleDC(source);
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = kTextWidth;
    info.bmiHeader.biHeight = -kTextHeight;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ kept = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, kTextWidth, kTextHeight, source, x, y, SRCCOPY);
    GdiFlush();
    const auto* first = static_cast<const uint32_t*>(bits);
    std::vector<uint32_t> pixels(first, first + kTextWidth * kTextHeight);
    for (auto& p : pixels)
        p &= 0xFFFFFF;
    SelectObject(memory, kept);
    DeleteObject(bitmap);
    DeleteDC(memory);
    return pixels;
}

// The text drawn as the splash painter draws it: same font, rectangle and format, on the
// window class's background.
std::vector<uint32_t> Render(const std::wstring& text, HFONT font)
{
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, kTextWidth, kTextHeight);
    HGDIOBJ keptBitmap = SelectObject(memory, bitmap);
    RECT all = {0, 0, kTextWidth, kTextHeight};
    FillRect(memory, &all, GetSysColorBrush(COLOR_WINDOW));
    HGDIOBJ keptFont = SelectObject(memory, font);
    DrawTextW(memory, text.c_str(), static_cast<int>(text.size()), &all,
              DT_WORDBREAK | DT_EDITCONTROL);
    SelectObject(memory, keptFont);
    std::vector<uint32_t> pixels = Pixels(memory, 0, 0);
    SelectObject(memory, keptBitmap);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return pixels;
}

struct Candidate {
    int state;
    int progress;
    std::vector<uint32_t> pixels;
};

int Watch(const std::map<std::wstring, std::wstring>& options)
{
    const std::wstring launcher = Option(options, L"--launcher");
    const DWORD interval = static_cast<DWORD>(_wtoi(Option(options, L"--interval", L"40").c_str()));
    const DWORD timeout = static_cast<DWORD>(_wtoi(Option(options, L"--timeout", L"120000").c_str()));
    HMODULE module = LoadLibraryExW(launcher.c_str(), nullptr,
                                    LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    if (!module) {
        std::printf("{\"error\":\"cannot load the launcher's resources\"}\n");
        return 2;
    }
    SetThreadUILanguage(0x0404);
    SetThreadLocale(MAKELCID(0x0404, SORT_DEFAULT));
    auto load = [module](UINT id) {
        wchar_t text[1024] = {};
        LoadStringW(module, id, text, 1023);
        return std::wstring(text);
    };
    HFONT font = CreateFontW(14, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, GB2312_CHARSET, 0, 0, 0,
                             FIXED_PITCH | FF_MODERN, L"宋体");
    std::vector<Candidate> candidates;
    const std::pair<int, UINT> texts[] = {{0, 106}, {2, 116}, {3, 110}, {4, 117}, {7, 107}, {8, 111}};
    for (const auto& [state, id] : texts)
        candidates.push_back({state, -1, Render(load(id), font)});
    const std::wstring progressFormat = load(128);
    for (int p = 0; p <= 100; ++p) {
        wchar_t text[1025] = {};
        wsprintfW(text, progressFormat.c_str(), p);
        candidates.push_back({5, p, Render(text, font)});
    }
    const std::vector<uint32_t> blank = Render(L"", font);
    // Rendering the candidates takes a while on a loaded machine; the caller starts the
    // launcher only after this line, so the first state is never missed.
    std::printf("{\"ready\":true}\n");
    std::fflush(stdout);

    const ULONGLONG start = GetTickCount64();
    // The splash window's class, as the launcher itself loads it (string 1001).
    HWND window = WaitForWindow(load(1001), L"", L"", timeout);
    if (!window) {
        std::printf("{\"error\":\"no splash window\"}\n");
        return 1;
    }
    std::string last;
    while (IsWindow(window) && GetTickCount64() - start < timeout) {
        HDC dc = GetDC(window);
        const std::vector<uint32_t> seen = Pixels(dc, kTextLeft, kTextTop);
        ReleaseDC(window, dc);
        std::string now = "{\"state\":\"unknown\"";
        if (seen == blank) {
            now = "{\"state\":\"none\"";
        } else {
            for (const Candidate& c : candidates) {
                if (c.pixels == seen) {
                    char text[64];
                    std::snprintf(text, sizeof text, "{\"state\":%d,\"progress\":%d", c.state, c.progress);
                    now = text;
                    break;
                }
            }
        }
        if (now != last) {
            std::printf("%s,\"ms\":%llu}\n", now.c_str(), GetTickCount64() - start);
            std::fflush(stdout);
            last = now;
        }
        Sleep(interval);
    }
    std::printf("{\"state\":\"gone\",\"ms\":%llu}\n", GetTickCount64() - start);
    DeleteObject(font);
    return 0;
}

// ---- measurements -------------------------------------------------------------------------

int Stats(const std::map<std::wstring, std::wstring>& options)
{
    HWND window = WaitForWindow(Option(options, L"--class"), L"", L"", 20000);
    if (!window) {
        std::printf("{\"found\":false}\n");
        return 1;
    }
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid);
    if (!process)
        return 1;
    const DWORD every = static_cast<DWORD>(_wtoi(Option(options, L"--every", L"0").c_str()));
    const ULONGLONG start = GetTickCount64();
    do {
        PROCESS_MEMORY_COUNTERS_EX memory = {};
        memory.cb = sizeof memory;
        GetProcessMemoryInfo(process, reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory), sizeof memory);
        DWORD handles = 0;
        GetProcessHandleCount(process, &handles);
        DWORD exitCode = 0;
        GetExitCodeProcess(process, &exitCode);
        if (exitCode != STILL_ACTIVE)
            break;
        std::printf("{\"ms\":%llu,\"gdi\":%lu,\"user\":%lu,\"handles\":%lu,\"private\":%lu,"
                    "\"working_set\":%lu,\"peak_working_set\":%lu}\n",
                    GetTickCount64() - start,
                    static_cast<unsigned long>(GetGuiResources(process, GR_GDIOBJECTS)),
                    static_cast<unsigned long>(GetGuiResources(process, GR_USEROBJECTS)),
                    static_cast<unsigned long>(handles),
                    static_cast<unsigned long>(memory.PrivateUsage),
                    static_cast<unsigned long>(memory.WorkingSetSize),
                    static_cast<unsigned long>(memory.PeakWorkingSetSize));
        std::fflush(stdout);
        if (every)
            Sleep(every);
    } while (every);
    CloseHandle(process);
    return 0;
}

int FirstPaint(const std::map<std::wstring, std::wstring>& options)
{
    std::wstring command = L"\"" + Option(options, L"--exe") + L"\"";
    const std::wstring className = Option(options, L"--class");
    const DWORD timeout = static_cast<DWORD>(_wtoi(Option(options, L"--timeout", L"30000").c_str()));
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    LARGE_INTEGER frequency, begin, now;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&begin);
    if (!CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info))
        return 1;
    double painted = -1;
    for (;;) {
        QueryPerformanceCounter(&now);
        const double ms = 1000.0 * static_cast<double>(now.QuadPart - begin.QuadPart) /
                          static_cast<double>(frequency.QuadPart);
        if (ms > timeout)
            break;
        Search search{className, L"", L""};
        EnumWindows(MatchTopLevel, reinterpret_cast<LPARAM>(&search));
        DWORD owner = 0;
        if (search.found)
            GetWindowThreadProcessId(search.found, &owner);
        if (search.found && owner == info.dwProcessId) {
            // The bottom-right corner of the client area lies outside the banner and the text:
            // it turns from the unpainted screen to the window's background at the first paint.
            HDC dc = GetDC(search.found);
            const COLORREF corner = GetPixel(dc, 300, 150);
            ReleaseDC(search.found, dc);
            if (corner == GetSysColor(COLOR_WINDOW)) {
                painted = ms;
                break;
            }
        }
        Sleep(1);
    }
    std::printf("{\"first_paint_ms\":%.1f,\"pid\":%lu}\n", painted, static_cast<unsigned long>(info.dwProcessId));
    std::fflush(stdout);
    if (Option(options, L"--leave") != L"1") {
        TerminateProcess(info.hProcess, 0);
        WaitForSingleObject(info.hProcess, 5000);
    }
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
    return painted < 0 ? 1 : 0;
}

// With --when-present 1 it waits (at most --timeout ms) for the file to appear and takes it at
// once, as a virus scanner does with every new executable; only reading, but sharing nothing.
HANDLE OpenToHold(const std::map<std::wstring, std::wstring>& options)
{
    const std::wstring path = Option(options, L"--path");
    if (Option(options, L"--when-present") != L"1")
        return CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, 0,
                           nullptr);
    std::printf("{\"waiting\":1}\n");
    std::fflush(stdout);
    const DWORD timeout = static_cast<DWORD>(_wtoi(Option(options, L"--timeout", L"60000").c_str()));
    const DWORD start = GetTickCount();
    for (;;) {
        HANDLE file =
            CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        if (file != INVALID_HANDLE_VALUE || GetTickCount() - start >= timeout)
            return file;
        Sleep(1);
    }
}

int HoldFile(const std::map<std::wstring, std::wstring>& options)
{
    HANDLE file = OpenToHold(options);
    std::printf("{\"held\":%d}\n", file != INVALID_HANDLE_VALUE ? 1 : 0);
    std::fflush(stdout);
    if (file == INVALID_HANDLE_VALUE)
        return 1;
    Sleep(static_cast<DWORD>(_wtoi(Option(options, L"--ms", L"10000").c_str())));
    CloseHandle(file);
    std::printf("{\"released\":1}\n");
    std::fflush(stdout);
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc < 2)
        return 2;
    const std::wstring command = argv[1];
    const auto options = ParseOptions(argc, argv);
    if (command == L"find") return Find(options);
    if (command == L"click") return Click(options);
    if (command == L"key") return Key(options);
    if (command == L"type") return Type(options);
    if (command == L"close") return Close(options);
    if (command == L"minimise") return Minimise(options);
    if (command == L"clipboard") return Clipboard();
    if (command == L"watch") return Watch(options);
    if (command == L"stats") return Stats(options);
    if (command == L"first-paint") return FirstPaint(options);
    if (command == L"hold-file") return HoldFile(options);
    return 2;
}
