// Resource identifiers shared by the resource script and the code.
// Plain #defines so that windres can read this header too.
#pragma once

// Strings (one table per language; see strings_*.rc). Only texts the launcher loads are kept:
// an id that nothing loads is dropped with its texts, not left to ship.
#define IDS_TITLE                   103
#define IDS_DETECTING               106
#define IDS_DOWNLOAD_FAILED         107
#define IDS_MANUAL_STEPS            109
#define IDS_CHECK_FAILED            110
#define IDS_INSTALLING              111
#define IDS_CANNOT_DOWNLOAD         112
#define IDS_MANUAL                  113
#define IDS_RETRY                   114
#define IDS_NO_UPDATE               116
#define IDS_REPLY_INVALID           117
#define IDS_RETRY_OR_MANUAL         118
#define IDS_FOLLOW_STEPS            119
#define IDS_COPY_LINK               120
#define IDS_APP_RUNNING_CAPTION     122
#define IDS_CLOSE_APP_FIRST         127
#define IDS_DOWNLOADING_APP         128
#define IDS_CLASS_NAME              1001

// Accelerator table looked up at start-up (the resources carry none).
#define IDR_ACCELERATORS            1001

// The banner, 330 x 82, the one bitmap drawn.
#define IDB_BANNER                  140

// Dialog templates and their controls.
#define IDD_DOWNLOAD_FAILED         134
#define IDD_MANUAL_DOWNLOAD         135
#define IDC_RETRY                   4
#define IDC_MANUAL                  1003
#define IDC_EXPLANATION             1012
#define IDC_COPY_LINK               1004
#define IDC_INSTRUCTIONS            1002
