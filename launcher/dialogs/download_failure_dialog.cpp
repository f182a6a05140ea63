#include "dialogs/download_failure_dialog.h"

#include "resources/resource_ids.h"

CDownloadInvDlg::CDownloadInvDlg() : CDlg(IDD_DOWNLOAD_FAILED) {}

void CDownloadInvDlg::OnInitDialog(HWND dialog)
{
    CenterOnScreen(dialog);
    SetLauncherText(dialog, IDS_CANNOT_DOWNLOAD);
    SetLauncherText(GetDlgItem(dialog, IDC_EXPLANATION), IDS_RETRY_OR_MANUAL);
    SetLauncherText(GetDlgItem(dialog, IDC_RETRY), IDS_RETRY);
    SetLauncherText(GetDlgItem(dialog, IDC_MANUAL), IDS_MANUAL);
}

int32_t CDownloadInvDlg::OnCommand(uint32_t command)
{
    switch (command) {
    case IDC_RETRY:
    case IDC_MANUAL:
    case IDCANCEL:
        return 0;
    default:
        return 1;
    }
}
