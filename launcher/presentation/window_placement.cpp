#include "presentation/window_placement.h"

void CenterOnScreen(HWND window)
{
    const int screenWidth = GetSystemMetrics(SM_CXSCREEN);
    const int screenHeight = GetSystemMetrics(SM_CYSCREEN);
    RECT rect = {};
    GetWindowRect(window, &rect);
    const int width = rect.right - rect.left;
    const int height = rect.bottom - rect.top;
    SetWindowPos(window, HWND_TOP, CenteredOrigin(screenWidth, width),
                 CenteredOrigin(screenHeight, height), width, height, SWP_SHOWWINDOW);
}
