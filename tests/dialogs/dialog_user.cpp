#include "dialogs/dialog_user.h"

#include <thread>

#include "presentation/ui_language.h"
#include "support/test_support.h"

namespace dialog_test {

namespace {

constexpr wchar_t kOwnerClass[] = L"DialogTestOwner";
constexpr wchar_t kDialogClass[] = L"#32770";

LRESULT CALLBACK OwnerProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

std::wstring ClassOf(HWND window)
{
    wchar_t name[64] = {};
    GetClassNameW(window, name, 64);
    return name;
}

struct DialogSearch {
    bool visibleOnly;
    HWND found;
};

BOOL CALLBACK MatchDialog(HWND window, LPARAM data)
{
    auto* search = reinterpret_cast<DialogSearch*>(data);
    if (ClassOf(window) != kDialogClass || (search->visibleOnly && !IsWindowVisible(window)))
        return TRUE;
    search->found = window;
    return FALSE;
}

HWND DialogOf(DWORD thread, bool visibleOnly)
{
    DialogSearch search{visibleOnly, nullptr};
    EnumThreadWindows(thread, MatchDialog, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

bool OpenClipboardPatiently()
{
    return test_support::WaitFor([] { return OpenClipboard(nullptr) != FALSE; }, 2000);
}

}  // namespace

void UseLauncherLanguage()
{
    static bool applied = false;
    if (!applied) {
        ApplyUiLanguage(true);
        applied = true;
    }
}

OwnerWindow::OwnerWindow()
{
    m_ready = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    m_thread = CreateThread(nullptr, 0, Run, this, 0, nullptr);
    WaitForSingleObject(m_ready, 10000);
}

OwnerWindow::~OwnerWindow()
{
    if (m_window)
        PostMessageW(m_window, WM_CLOSE, 0, 0);
    if (m_thread) {
        WaitForSingleObject(m_thread, 5000);
        CloseHandle(m_thread);
    }
    CloseHandle(m_ready);
}

DWORD WINAPI OwnerWindow::Run(LPVOID self)
{
    auto* owner = static_cast<OwnerWindow*>(self);
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = OwnerProc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.hbrBackground = GetSysColorBrush(COLOR_WINDOW);
    windowClass.lpszClassName = kOwnerClass;
    RegisterClassW(&windowClass);  // already there from an earlier owner is fine
    // Off the screen's centre, so a dialog centred on its owner would not pass as centred.
    owner->m_window = CreateWindowExW(0, kOwnerClass, L"launcher", WS_POPUP | WS_VISIBLE, 20, 20,
                                      350, 200, nullptr, nullptr, windowClass.hInstance, nullptr);
    SetEvent(owner->m_ready);
    if (!owner->m_window)
        return 1;
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return 0;
}

std::wstring TextOf(HWND window)
{
    wchar_t text[4096] = {};
    GetWindowTextW(window, text, 4096);
    return text;
}

bool IsUp(HWND window)
{
    return IsWindow(window) && IsWindowVisible(window);
}

HFONT FontOf(HWND window)
{
    return reinterpret_cast<HFONT>(SendMessageW(window, WM_GETFONT, 0, 0));
}

std::vector<std::wstring> EditLines(HWND edit)
{
    std::vector<std::wstring> lines;
    const auto count = SendMessageW(edit, EM_GETLINECOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i) {
        wchar_t line[2048] = {};
        line[0] = 2047;  // EM_GETLINE reads the buffer's size from its first character
        const auto length = SendMessageW(edit, EM_GETLINE, static_cast<WPARAM>(i),
                                         reinterpret_cast<LPARAM>(line));
        lines.emplace_back(line, static_cast<size_t>(length));
    }
    return lines;
}

bool ReadClipboard(std::wstring* text)
{
    if (!OpenClipboardPatiently())
        return false;
    bool present = false;
    if (HANDLE data = GetClipboardData(CF_UNICODETEXT)) {
        if (const auto* chars = static_cast<const wchar_t*>(GlobalLock(data))) {
            *text = chars;
            present = true;
            GlobalUnlock(data);
        }
    }
    CloseClipboard();
    return present;
}

bool PutOnClipboard(const std::wstring& text)
{
    if (!OpenClipboardPatiently())
        return false;
    EmptyClipboard();
    const SIZE_T bytes = (text.size() + 1) * sizeof(wchar_t);
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, bytes);
    bool placed = false;
    if (block) {
        if (void* target = GlobalLock(block)) {
            CopyMemory(target, text.c_str(), bytes);
            GlobalUnlock(block);
            placed = SetClipboardData(CF_UNICODETEXT, block) != nullptr;
        }
        if (!placed)
            GlobalFree(block);
    }
    CloseClipboard();
    return placed;
}

std::wstring ClipboardTextAfter(DWORD sequence, DWORD timeoutMs)
{
    std::wstring text;
    if (test_support::WaitFor([&] { return GetClipboardSequenceNumber() != sequence; }, timeoutMs))
        ReadClipboard(&text);
    return text;
}

HWND DialogUser::WaitForDialog(DWORD timeoutMs) const
{
    HWND dialog = nullptr;
    test_support::WaitFor([&] { return (dialog = DialogOf(m_thread, true)) != nullptr; },
                          timeoutMs);
    return dialog;
}

HWND DialogUser::Focus() const
{
    GUITHREADINFO info = {};
    info.cbSize = sizeof info;
    GetGUIThreadInfo(m_thread, &info);
    return info.hwndFocus;
}

bool DialogUser::WaitForFocus(HWND control, DWORD timeoutMs) const
{
    return test_support::WaitFor([&] { return Focus() == control; }, timeoutMs);
}

bool DialogUser::WaitUntilGone(HWND dialog, DWORD timeoutMs) const
{
    return test_support::WaitFor([&] { return !IsUp(dialog); }, timeoutMs);
}

void DialogUser::Click(HWND control) const
{
    RECT r = {};
    GetClientRect(control, &r);
    const LPARAM middle = MAKELPARAM((r.right - r.left) / 2, (r.bottom - r.top) / 2);
    PostMessageW(control, WM_LBUTTONDOWN, MK_LBUTTON, middle);
    PostMessageW(control, WM_LBUTTONUP, 0, middle);
}

void DialogUser::Press(UINT virtualKey) const
{
    HWND target = Focus();
    const UINT scan = MapVirtualKeyW(virtualKey, MAPVK_VK_TO_VSC);
    PostMessageW(target, WM_KEYDOWN, virtualKey, MAKELPARAM(1, scan));
    PostMessageW(target, WM_KEYUP, virtualKey, MAKELPARAM(1, scan | 0xC000));
}

void DialogUser::CloseBox(HWND dialog) const
{
    PostMessageW(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
}

INT_PTR ShowAndUse(CDlg& dlg, HWND owner,
                   const std::function<void(const DialogUser& user, HWND dialog)>& script)
{
    const DWORD self = GetCurrentThreadId();
    std::thread person([&] {
        const DialogUser user(self);
        HWND dialog = user.WaitForDialog();
        if (dialog)
            script(user, dialog);
        else
            ADD_FAILURE() << "no dialog showed up";
        // A dialog the script could not end (or never saw) is ended here.
        if (!dialog)
            dialog = DialogOf(self, false);
        if (dialog && !user.WaitUntilGone(dialog))
            EndDialog(dialog, kLeftOpen);
    });
    // The templates centre on the mouse on Windows: keep it away from the screen's centre so
    // that only the dialog's own centring can put it there.
    SetCursorPos(5, 5);
    const INT_PTR result = ShowDialog(dlg, GetModuleHandleW(nullptr), owner);
    person.join();
    return result;
}

POINT CentredOrigin(const RECT& window)
{
    const int width = window.right - window.left;
    const int height = window.bottom - window.top;
    return {(GetSystemMetrics(SM_CXSCREEN) - width) / 2,
            (GetSystemMetrics(SM_CYSCREEN) - height) / 2};
}

}  // namespace dialog_test
