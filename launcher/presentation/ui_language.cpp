#include "presentation/ui_language.h"

#include <windows.h>

#include "log/log_file.h"
#include "presentation/font_settings.h"

void ApplyUiLanguage(bool isWindowThread)
{
    OSVERSIONINFOW version;
    ZeroMemory(&version, sizeof version);
    version.dwOSVersionInfoSize = sizeof version;
    const bool known = GetVersionExW(&version) != FALSE;
    WriteLog(GetLogFile(), known ? L"Get OS version information success"
                                 : L"Get OS version information failure");

    const LCID locale = MAKELCID(kLauncherLanguage, SORT_DEFAULT);
    if (known && !(version.dwPlatformId == VER_PLATFORM_WIN32_NT && version.dwMajorVersion >= 6)) {
        // Before Vista the resource loader follows the thread locale.
        SetThreadLocale(locale);
    } else {
        SetThreadUILanguage(kLauncherLanguage);
        // Some systems (Wine among them) accept the call but keep their own UI language; the
        // thread locale then still steers the resource loader to the right table.
        if (GetThreadUILanguage() != kLauncherLanguage)
            SetThreadLocale(locale);
    }

    if (isWindowThread) {
        GetFontSettings().SelectLauncherFont();
        WriteLog(GetLogFile(), L"System language: %s", L"Chinese(Taiwan)");
    }
}

std::wstring LoadResString(int id)
{
    wchar_t buffer[1024] = {};
    LoadStringW(nullptr, static_cast<UINT>(id), buffer, 1023);
    return buffer;
}
