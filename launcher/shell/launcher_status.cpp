#include "shell/launcher_status.h"

LauncherContext& GetLauncherContext()
{
    static LauncherContext context;
    return context;
}

LauncherStatus& GetLauncherStatus()
{
    return GetLauncherContext().status;
}

void SetLauncherStatus(int32_t state, int32_t progress)
{
    LauncherContext& context = GetLauncherContext();
    context.status.state.store(state);
    context.status.progress.store(progress);
    InvalidateRect(context.window, nullptr, TRUE);
}
