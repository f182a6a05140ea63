// Centring windows on the primary screen.
#pragma once

#include <windows.h>

// Origin that centres `size` on `screen`; the halving truncates toward zero, so a window
// larger than the screen gets a negative origin.
constexpr int CenteredOrigin(int screen, int size)
{
    return (screen - size) / 2;
}

// Moves the window to the centre of the primary screen, to the top, and shows it.
void CenterOnScreen(HWND window);
