#include "presentation/ui_language.h"

#include <windows.h>

#include "environment/system_functions.h"
#include "log/log_file.h"
#include "presentation/font_settings.h"

namespace {

// Both came with Vista (XP's kernel32 lacks GetThreadUILanguage, and its SetThreadUILanguage
// is an undocumented console helper), so a static import would stop the loader on XP.
using SetThreadUILanguageFunction = LANGID(WINAPI*)(LANGID);
using GetThreadUILanguageFunction = LANGID(WINAPI*)();

}  // namespace

LanguageRoute ChooseLanguageRoute(bool versionKnown, unsigned long platformId,
                                  unsigned long majorVersion, bool uiLanguageCallable)
{
    if (!uiLanguageCallable)
        return LanguageRoute::ThreadLocale;
    if (versionKnown && !(platformId == VER_PLATFORM_WIN32_NT && majorVersion >= 6))
        return LanguageRoute::ThreadLocale;
    return LanguageRoute::ThreadUiLanguage;
}

void ApplyUiLanguage(bool isWindowThread)
{
    OSVERSIONINFOW version;
    ZeroMemory(&version, sizeof version);
    version.dwOSVersionInfoSize = sizeof version;
    const bool known = GetVersionExW(&version) != FALSE;
    WriteLog(GetLogFile(), known ? L"Get OS version information success"
                                 : L"Get OS version information failure");

    const auto setUiLanguage =
        FindKernel32Function<SetThreadUILanguageFunction>("SetThreadUILanguage");
    const auto getUiLanguage =
        FindKernel32Function<GetThreadUILanguageFunction>("GetThreadUILanguage");
    const LanguageRoute route = ChooseLanguageRoute(known, version.dwPlatformId,
                                                    version.dwMajorVersion,
                                                    setUiLanguage && getUiLanguage);

    const LCID locale = MAKELCID(kLauncherLanguage, SORT_DEFAULT);
    const wchar_t* taken = L"Language set through the thread locale";
    if (route == LanguageRoute::ThreadLocale) {
        SetThreadLocale(locale);
    } else {
        setUiLanguage(kLauncherLanguage);
        taken = L"Language set through the thread UI language";
        // Some systems (Wine among them) accept the call but keep their own UI language; the
        // thread locale then still steers the resource loader to the right table.
        if (getUiLanguage() != kLauncherLanguage) {
            SetThreadLocale(locale);
            taken = L"Language set through the thread UI language and the thread locale";
        }
    }

    if (isWindowThread) {
        // Once per run: the worker's route is the same, since it depends on the system alone.
        if (known)
            WriteLog(GetLogFile(), L"%s on Windows %lu.%lu", taken, version.dwMajorVersion,
                     version.dwMinorVersion);
        else
            WriteLog(GetLogFile(), L"%s on an unknown Windows version", taken);
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
