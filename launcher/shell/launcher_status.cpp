#include "shell/launcher_status.h"

#include "base/unique_resource.h"

namespace {

constexpr DWORD kSplashWaitMs = 30000;

HANDLE ShownEvent()
{
    static const UniqueHandle event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    return event.Get();
}

}  // namespace

LauncherContext& GetLauncherContext()
{
    static LauncherContext context;
    return context;
}

LauncherStatus& GetLauncherStatus()
{
    return GetLauncherContext().status;
}

HWND SplashWindow()
{
    WaitForSingleObject(ShownEvent(), kSplashWaitMs);
    return GetLauncherContext().window.load();
}

void AnnounceSplashWindow(HWND window)
{
    GetLauncherContext().window.store(window);
    SetEvent(ShownEvent());
}

void SetLauncherStatus(int32_t state, int32_t progress)
{
    LauncherContext& context = GetLauncherContext();
    context.status.state.store(state);
    context.status.progress.store(progress);
    // Before the window exists there is nothing to invalidate: the window is stored before its
    // first paint, which then reads this state. (A null window would invalidate every window.)
    if (HWND window = context.window.load())
        InvalidateRect(window, nullptr, TRUE);
}
