// Working the launcher's modal dialogs the way a person does: the dialog runs modally on the
// test's thread, over a splash-like owner window that lives on a thread of its own (as the
// splash window lives on the launcher's window thread), while a second thread finds it,
// reads what it shows and clicks, types or closes it.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "dialogs/dialog_base.h"

namespace dialog_test {

// Gives this thread the launcher's UI language (and builds the launcher font); once per process.
void UseLauncherLanguage();

// A visible 350 x 200 popup with its own message loop on its own thread.
class OwnerWindow {
public:
    OwnerWindow();
    ~OwnerWindow();
    OwnerWindow(const OwnerWindow&) = delete;
    OwnerWindow& operator=(const OwnerWindow&) = delete;

    HWND Handle() const { return m_window; }

private:
    static DWORD WINAPI Run(LPVOID self);

    HANDLE m_ready = nullptr;
    HANDLE m_thread = nullptr;
    HWND m_window = nullptr;
};

std::wstring TextOf(HWND window);
bool IsUp(HWND window);  // exists and is shown
HFONT FontOf(HWND window);

// The lines of a multi-line edit control as it lays them out.
std::vector<std::wstring> EditLines(HWND edit);

// The clipboard's CF_UNICODETEXT, or nothing when there is none.
bool ReadClipboard(std::wstring* text);
// Replaces the clipboard's contents with `text`, so that a later copy can be told apart.
bool PutOnClipboard(const std::wstring& text);
// The clipboard's text once its contents changed after `sequence` (GetClipboardSequenceNumber
// taken before the action); empty when nothing changed in time. Waiting on the sequence number
// keeps the reader from holding the clipboard open while the copy itself wants it.
std::wstring ClipboardTextAfter(DWORD sequence, DWORD timeoutMs = 5000);

// The person at the screen, acting on the dialog shown by one thread.
class DialogUser {
public:
    explicit DialogUser(DWORD dialogThread) : m_thread(dialogThread) {}

    // The visible dialog of that thread, or null when none shows up in time.
    HWND WaitForDialog(DWORD timeoutMs = 10000) const;
    HWND Focus() const;
    bool WaitForFocus(HWND control, DWORD timeoutMs = 5000) const;
    bool WaitUntilGone(HWND dialog, DWORD timeoutMs = 5000) const;

    // A left click in the middle of the control.
    void Click(HWND control) const;
    // A key press for whatever has the focus in the dialog's thread.
    void Press(UINT virtualKey) const;
    // The caption's close box.
    void CloseBox(HWND dialog) const;

private:
    DWORD m_thread;
};

// Result of a showing that the script left open: the dialog is then ended with this value so
// that a faulty dialog fails the test instead of hanging it.
constexpr INT_PTR kLeftOpen = 0x7E57;

// Shows `dlg` modally on the calling thread over `owner` while `script` works it from a second
// thread; returns what the dialog returned.
INT_PTR ShowAndUse(CDlg& dlg, HWND owner,
                   const std::function<void(const DialogUser& user, HWND dialog)>& script);

// Where a window of this size is put when centred on the primary screen.
POINT CentredOrigin(const RECT& window);

// Tests whose dialogs speak the launcher's UI language and share one owner window.
class DialogTest : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        UseLauncherLanguage();
        s_owner = new OwnerWindow;
    }
    static void TearDownTestSuite()
    {
        delete s_owner;
        s_owner = nullptr;
    }
    static HWND Owner() { return s_owner->Handle(); }

private:
    static inline OwnerWindow* s_owner = nullptr;
};

}  // namespace dialog_test
