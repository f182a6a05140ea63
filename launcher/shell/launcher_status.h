// The one channel from the worker thread to the splash window: what to show, and the handles
// the worker needs to repaint the window and to own its dialogs.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>

#include "presentation/splash_view.h"

// Written only by the worker, read only by the painter. Each field is a whole 32-bit value;
// a paint that falls between the two stores is corrected by the invalidation that follows.
struct LauncherStatus {
    std::atomic<int32_t> state{StateIdle};
    std::atomic<int32_t> progress{0};

    SplashView View() const { return SplashView{state.load(), progress.load()}; }
};

struct LauncherContext {
    // Stored by the window thread as the window is created, before its first paint; null until
    // then, since the worker starts first. Invalidations only: anything that shows itself over
    // the window goes through SplashWindow().
    std::atomic<HWND> window{nullptr};
    HINSTANCE instance = nullptr;
    LauncherStatus status;
};

LauncherContext& GetLauncherContext();
LauncherStatus& GetLauncherStatus();

// Posted by the worker to the splash window once the run is over: the window ends the message
// loop whatever its state (minimised, hidden or covered windows are never painted).
inline constexpr UINT WM_LAUNCHER_DONE = WM_APP + 1;
// Posted by the install step: wParam TRUE while the application folder is set aside (a session
// that ends then is held up with a reason shown), FALSE once it is settled.
inline constexpr UINT WM_LAUNCHER_SET_ASIDE = WM_APP + 2;

// The splash window once it is on screen, for the worker's notices, dialogs and programs: the
// worker asks the service while the window is still being created. Waits for it at most 30 s;
// null when the window could not be created.
HWND SplashWindow();
// Called once by the window thread: the window is shown (or null: it could not be created).
void AnnounceSplashWindow(HWND window);

// Stores the state and the progress, then invalidates the whole splash window (with erase).
// Does not wait for the repaint.
void SetLauncherStatus(int32_t state, int32_t progress = 0);
