// Asks the user what to do about a failed download: Retry or a manual download.
#pragma once

#include "dialogs/dialog_base.h"

class CDownloadInvDlg : public CDlg {
public:
    CDownloadInvDlg();
    void OnInitDialog(HWND dialog) override;
    // Only Retry (also Enter), Manual and Cancel (Escape, the close box) end the dialog: a
    // click or a tab into the explanation text must not end the run.
    int32_t OnCommand(uint32_t command) override;
};
