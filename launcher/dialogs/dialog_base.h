// The base of the launcher's modal dialogs and the one dialog procedure that serves them.
#pragma once

#include <windows.h>

#include <cstdint>

class CDlg {
public:
    // Called on WM_INITDIALOG, when the controls exist and before the modal loop starts.
    virtual void OnInitDialog(HWND dialog) = 0;
    // Called for every WM_COMMAND; 0 ends the dialog with `command` as its result.
    virtual int32_t OnCommand(uint32_t command) = 0;

    int32_t templateId;

protected:
    explicit CDlg(int32_t id) : templateId(id) {}
    ~CDlg() = default;
};

// The dialog procedure for every CDlg: pass the object as DialogBoxParamW's creation parameter.
INT_PTR CALLBACK DlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// Moves the window to the centre of the primary screen, to the top, and shows it (dialog
// templates carry no WS_VISIBLE, so this is what makes a dialog appear). A window larger than
// the screen gets a negative position, its centre still on the screen's centre.
void CenterOnScreen(HWND window);

// Gives a dialog or control the launcher font and a string resource as its text.
void SetLauncherText(HWND window, int stringId);

// Shows `dlg` modally over `owner`; returns the command that ended it, -1 when it can't be made.
INT_PTR ShowDialog(CDlg& dlg, HINSTANCE instance, HWND owner);
