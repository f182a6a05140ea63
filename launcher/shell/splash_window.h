// The splash window: registered, created centred at 350 x 200, and served by the message loop.
#pragma once

#include <windows.h>

inline constexpr int kSplashWidth = 350;
inline constexpr int kSplashHeight = 200;
inline constexpr DWORD kSplashStyle = WS_OVERLAPPED | WS_SYSMENU | WS_MINIMIZEBOX;

void RegisterLauncherClass(HINSTANCE instance);
// Creates, shows and paints the splash window; null when it cannot be created.
HWND CreateLauncherWindow(HINSTANCE instance, int showCommand);
LRESULT CALLBACK LauncherWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Loads the title and class name, registers the class, creates the window and pumps messages
// until the quit message; returns its exit code.
int RunLauncher(HINSTANCE instance, int showCommand);

// True when another launcher runs in this user session: its window is brought to the front
// and a line logged, and this one must end. Otherwise this process now holds the launcher's
// place until it ends.
bool HandOverToRunningLauncher(HINSTANCE instance);
