// What the splash window shows: one of the launcher's states and, while downloading, the
// percentage. The painter draws from this value alone.
#pragma once

#include <cstdint>

enum LauncherState : int32_t {
    StateDetecting = 0,
    StateNoUpdate = 2,
    StateCheckFailed = 3,
    StateReplyInvalid = 4,
    StateDownloading = 5,
    StateDownloadFailed = 7,
    StateInstalling = 8,
    StateExit = 9,
    StateIdle = 10,
};

struct SplashView {
    int32_t state = StateIdle;
    int32_t progress = 0;
};
