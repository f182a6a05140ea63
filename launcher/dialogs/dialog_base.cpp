#include "dialogs/dialog_base.h"

#include "presentation/font_settings.h"
#include "presentation/ui_language.h"

namespace {

// The object of the dialog being shown lives in the dialog window's user data, so each
// window's commands always reach its own object.
CDlg* DialogObject(HWND dialog)
{
    return reinterpret_cast<CDlg*>(GetWindowLongPtrW(dialog, DWLP_USER));
}

// The halving truncates toward zero, so an odd overhang leaves the extra pixel on the right.
constexpr int CenteredOrigin(int screen, int size)
{
    return (screen - size) / 2;
}

}  // namespace

INT_PTR CALLBACK DlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    // No exception may unwind through the system's dialog manager.
    try {
        switch (message) {
        case WM_INITDIALOG: {
            auto* dlg = reinterpret_cast<CDlg*>(lParam);
            SetWindowLongPtrW(dialog, DWLP_USER, lParam);
            if (!dlg)
                return FALSE;
            dlg->OnInitDialog(dialog);
            return TRUE;
        }
        case WM_COMMAND: {
            const uint32_t command = LOWORD(wParam);
            CDlg* dlg = DialogObject(dialog);
            if (dlg && dlg->OnCommand(command) == 0)
                EndDialog(dialog, static_cast<INT_PTR>(command));
            return static_cast<INT_PTR>(command);
        }
        default:
            return FALSE;
        }
    } catch (...) {
        return FALSE;
    }
}

INT_PTR ShowDialog(CDlg& dlg, HINSTANCE instance, HWND owner)
{
    return DialogBoxParamW(instance, MAKEINTRESOURCEW(dlg.templateId), owner, DlgProc,
                           reinterpret_cast<LPARAM>(&dlg));
}

void CenterOnScreen(HWND window)
{
    const int screenWidth = GetSystemMetrics(SM_CXSCREEN);
    const int screenHeight = GetSystemMetrics(SM_CYSCREEN);
    RECT rect = {};
    GetWindowRect(window, &rect);
    const int width = rect.right - rect.left;
    const int height = rect.bottom - rect.top;
    SetWindowPos(window, HWND_TOP, CenteredOrigin(screenWidth, width),
                 CenteredOrigin(screenHeight, height), width, height, SWP_SHOWWINDOW);
}

void SetLauncherText(HWND window, int stringId)
{
    const std::wstring text = LoadResString(stringId);
    SendMessageW(window, WM_SETFONT, reinterpret_cast<WPARAM>(GetFontSettings().m_hFont.Get()), 0);
    SetWindowTextW(window, text.c_str());
}
