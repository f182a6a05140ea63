// The launcher's UI language (Chinese (Taiwan) on every system) and its string loading.
#pragma once

#include <string>

inline constexpr unsigned short kLauncherLanguage = 0x0404;

// Fixes the calling thread's UI language. With `isWindowThread` it also builds the launcher
// font and logs the language line. Each thread calls it once.
void ApplyUiLanguage(bool isWindowThread);

// The string in the thread's UI language; empty when the selected table lacks it.
std::wstring LoadResString(int id);
