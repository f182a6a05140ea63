// Step-by-step instructions for downloading the installer by hand, with the link and a button
// that copies it to the clipboard.
#pragma once

#include <string>

#include "dialogs/dialog_base.h"

class CManualDownloadDlg : public CDlg {
public:
    CManualDownloadDlg();
    void OnInitDialog(HWND dialog) override;
    int32_t OnCommand(uint32_t command) override;

private:
    HWND m_window = nullptr;
};

// Puts exactly `text` on the clipboard as Unicode text; false when the clipboard could not be
// opened or the text could not be handed over.
// `owner` is the window that owns the clipboard afterwards.
bool CopyTextToClipboard(HWND owner, const std::wstring& text);
