// The launcher's UI language (Chinese (Taiwan) on every system) and its string loading.
#pragma once

#include <string>

inline constexpr unsigned short kLauncherLanguage = 0x0404;

// Which thread setting steers the resource loader to the launcher's string table.
enum class LanguageRoute {
    ThreadLocale,      // Windows XP and older: the loader follows the thread locale
    ThreadUiLanguage,  // Vista and later: the loader follows the thread UI language
};

// The route for a system: the thread locale before Vista (NT major version below 6, or a
// non-NT platform), the thread UI language from Vista on and when the version is unknown
// (`versionKnown` false). Without `SetThreadUILanguage` in kernel32 (Windows XP), always the
// thread locale.
LanguageRoute ChooseLanguageRoute(bool versionKnown, unsigned long platformId,
                                  unsigned long majorVersion, bool uiLanguageCallable);

// Fixes the calling thread's UI language. With `isWindowThread` it also logs the route taken,
// builds the launcher font and logs the language line. Each thread calls it once.
void ApplyUiLanguage(bool isWindowThread);

// The string in the thread's UI language; empty when the selected table lacks it.
std::wstring LoadResString(int id);
