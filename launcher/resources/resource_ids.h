// Resource identifiers shared by the resource script and the code.
// Plain #defines so that windres can read this header too.
#pragma once

// Strings (one table per language; see strings_*.rc).
#define IDS_TITLE                   103
#define IDS_UPDATER_RUNNING         104
#define IDS_UPDATER_CLOSE_FIRST     105
#define IDS_DETECTING               106
#define IDS_DOWNLOAD_FAILED         107
#define IDS_DOWNLOADING_UPDATER     108
#define IDS_MANUAL_STEPS            109
#define IDS_CHECK_FAILED            110
#define IDS_INSTALLING              111
#define IDS_CANNOT_DOWNLOAD         112
#define IDS_MANUAL                  113
#define IDS_RETRY                   114
#define IDS_MANUAL_STEPS_SUPPORT    115
#define IDS_NO_UPDATE               116
#define IDS_REPLY_INVALID           117
#define IDS_RETRY_OR_MANUAL         118
#define IDS_FOLLOW_STEPS            119
#define IDS_COPY_LINK               120
#define IDS_NEXT_STEP               121
#define IDS_APP_RUNNING_CAPTION     122
#define IDS_DOWNLOADING_SERVICE     123
#define IDS_MANUAL_STEPS_SHORT      124
#define IDS_SERVICE_RUNNING         125
#define IDS_SERVICE_CLOSE_FIRST     126
#define IDS_CLOSE_APP_FIRST         127
#define IDS_DOWNLOADING_APP         128
#define IDS_CLASS_NAME              1001

// Accelerator table looked up at start-up (the resources carry none).
#define IDR_ACCELERATORS            1001

// Bitmaps, 330 x 82.
#define IDB_BANNER_TAVREL           133
#define IDB_BANNER_PARTNER          138
#define IDB_BANNER                  140

// Dialog templates and their controls.
#define IDD_DOWNLOAD_FAILED         134
#define IDD_MANUAL_DOWNLOAD         135
#define IDC_RETRY                   4
#define IDC_MANUAL                  1003
#define IDC_EXPLANATION             1012
#define IDC_COPY_LINK               1004
#define IDC_INSTRUCTIONS            1002
