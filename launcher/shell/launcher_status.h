// The one channel from the worker thread to the splash window: what to show, and the handles
// the worker needs to repaint the window and to own its dialogs.
#pragma once

#include <windows.h>

#include <atomic>
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

// Written only by the worker, read only by the painter. Each field is a whole 32-bit value;
// a paint that falls between the two stores is corrected by the invalidation that follows.
struct LauncherStatus {
    std::atomic<int32_t> state{StateIdle};
    std::atomic<int32_t> progress{0};
};

struct LauncherContext {
    HWND window = nullptr;
    HINSTANCE instance = nullptr;
    LauncherStatus status;
};

LauncherContext& GetLauncherContext();
LauncherStatus& GetLauncherStatus();

// Stores the state and the progress, then invalidates the whole splash window (with erase).
// Does not wait for the repaint.
void SetLauncherStatus(int32_t state, int32_t progress = 0);
