// Step-by-step instructions for downloading the installer by hand, with the link and a button
// that copies it to the clipboard.
#pragma once

#include <string>

#include "dialogs/dialog_base.h"

class CManualDownloadDlg : public CDlg {
public:
    // `link` the installer's address, `fileName` the name it is saved under.
    CManualDownloadDlg(std::wstring link, std::wstring fileName);
    void OnInitDialog(HWND dialog) override;
    int32_t OnCommand(uint32_t command) override;

private:
    HWND m_window = nullptr;
    const std::wstring m_link;
    const std::wstring m_fileName;
};

// Puts exactly `text` on the clipboard as Unicode text only. False when the clipboard could
// not be opened or emptied, or the memory block for the text could not be allocated or locked;
// true once the block has been offered, even if SetClipboardData refuses it (the block is then
// freed and the clipboard is left empty): the copy button shows no outcome either way.
// `owner` is the window that owns the clipboard afterwards.
bool CopyTextToClipboard(HWND owner, const std::wstring& text);
