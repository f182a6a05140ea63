#include "dialogs/manual_download_dialog.h"

#include "base/unique_resource.h"
#include "presentation/font_settings.h"
#include "presentation/ui_language.h"
#include "resources/resource_ids.h"

CManualDownloadDlg::CManualDownloadDlg(std::wstring link, std::wstring fileName)
    : CDlg(IDD_MANUAL_DOWNLOAD), m_link(std::move(link)), m_fileName(std::move(fileName))
{
}

void CManualDownloadDlg::OnInitDialog(HWND dialog)
{
    m_window = dialog;
    CenterOnScreen(dialog);
    wchar_t instructions[1025] = {};
    const std::wstring format = LoadResString(IDS_MANUAL_STEPS);
    wsprintfW(instructions, format.c_str(), m_link.c_str(), m_fileName.c_str());

    HWND box = GetDlgItem(dialog, IDC_INSTRUCTIONS);
    SendMessageW(box, WM_SETFONT, reinterpret_cast<WPARAM>(GetFontSettings().m_hFont.Get()), 0);
    SetWindowTextW(box, instructions);
    SetLauncherText(GetDlgItem(dialog, IDC_COPY_LINK), IDS_COPY_LINK);
    SetLauncherText(dialog, IDS_FOLLOW_STEPS);
}

int32_t CManualDownloadDlg::OnCommand(uint32_t command)
{
    if (command == IDCANCEL)
        return 0;
    if (command == IDC_COPY_LINK) {
        // From the link itself: the instructions may have been cut, the link on the clipboard
        // never is.
        CopyTextToClipboard(m_window, std::wstring(m_link.c_str()));
    }
    return 1;
}

bool CopyTextToClipboard(HWND owner, const std::wstring& text)
{
    // With no owner, EmptyClipboard leaves the clipboard to nobody and SetClipboardData fails.
    const ClipboardSession clipboard(owner);
    if (!clipboard.IsOpen() || !EmptyClipboard())
        return false;
    const size_t units = std::wstring(text.c_str()).size();
    const SIZE_T bytes = (units + 1) * sizeof(wchar_t);
    // Clipboard data must be movable memory.
    UniqueGlobal block(GlobalAlloc(GMEM_MOVEABLE | GMEM_DDESHARE, bytes));
    if (!block)
        return false;
    auto* target = static_cast<wchar_t*>(GlobalLock(block.Get()));
    if (!target)
        return false;
    CopyMemory(target, text.c_str(), bytes);
    GlobalUnlock(block.Get());
    // Once accepted, the block belongs to the clipboard; a refused block is still ours.
    if (!SetClipboardData(CF_UNICODETEXT, block.Get()))
        return false;
    block.Release();
    return true;
}
