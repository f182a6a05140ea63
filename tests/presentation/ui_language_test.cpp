// The UI language: Chinese (Taiwan) texts on a system whose own language is English, per
// thread; and the launcher font that the window thread's set-up chooses. The language is a
// property of the thread, so every case runs on a fresh one. Nothing else in this program may
// build the font settings: the first test sees them before the launcher's choice.
#include <gtest/gtest.h>

#include <functional>
#include <set>
#include <thread>

#include "base/brand.h"
#include "log/log_file.h"
#include "presentation/font_settings.h"
#include "presentation/ui_language.h"
#include "support/test_support.h"
#include "update/import_hook.h"

using namespace test_support;

namespace {

void OnFreshThread(const std::function<void()>& body)
{
    std::thread thread(body);
    thread.join();
}

std::wstring OwnLogPath()
{
    wchar_t path[MAX_PATH] = {};
    GetLogFilePath(path);
    return path;
}

std::vector<std::string> LogLinesSince(size_t offset)
{
    std::vector<std::string> lines;
    const std::string bytes = ReadFileBytes(OwnLogPath());
    if (bytes.size() >= offset)
        for (const std::string& line : SplitCrLfLines(bytes.substr(offset)))
            lines.push_back(StripStamp(line));
    return lines;
}

// GetProcAddress as on Windows XP, whose kernel32 lacks the thread UI language functions.
std::vector<std::string> g_lookedUp;
FARPROC(WINAPI* g_getProcAddress)(HMODULE, LPCSTR) = nullptr;
FARPROC WINAPI GetProcAddressAsOnXp(HMODULE module, LPCSTR name)
{
    const std::string wanted = HIWORD(name) ? name : "";
    if (wanted == "SetThreadUILanguage" || wanted == "GetThreadUILanguage") {
        g_lookedUp.push_back(wanted);
        SetLastError(ERROR_PROC_NOT_FOUND);
        return nullptr;
    }
    return g_getProcAddress(module, name);
}

int CALLBACK CollectFace(const LOGFONTW* font, const TEXTMETRICW*, DWORD, LPARAM data)
{
    reinterpret_cast<std::multiset<std::wstring>*>(data)->insert(font->lfFaceName);
    return 1;
}

}  // namespace

TEST(LauncherFont, WindowThreadSetUpChoosesSimSunAt14AndLogsTheLanguage)
{
    FontSettings& settings = GetFontSettings();
    EXPECT_EQ(L"Arial Unicode MS", settings.m_strFaceName);
    EXPECT_EQ(4, settings.m_nHeightAddend);
    EXPECT_EQ(nullptr, settings.m_hFont.Get());

    const size_t offset = ReadFileBytes(OwnLogPath()).size();
    OnFreshThread([] { ApplyUiLanguage(true); });
    const std::vector<std::string> lines = LogLinesSince(offset);
    ASSERT_EQ(3u, lines.size());
    EXPECT_EQ("Get OS version information success", lines[0]);
    // Which route depends on the Windows version the system reports (see the table below).
    EXPECT_EQ(0u, lines[1].rfind("Language set through the thread ", 0)) << lines[1];
    EXPECT_EQ("System language: Chinese(Taiwan)", lines[2]);

    ASSERT_NE(nullptr, settings.m_hFont.Get());
    EXPECT_EQ(L"宋体", settings.m_strFaceName);
    LOGFONTW asked = {};
    ASSERT_EQ(static_cast<int>(sizeof asked), GetObjectW(settings.m_hFont.Get(), sizeof asked, &asked));
    EXPECT_EQ(14, asked.lfHeight);
    EXPECT_STREQ(L"宋体", asked.lfFaceName);
    EXPECT_EQ(FW_NORMAL, asked.lfWeight);
    EXPECT_EQ(GB2312_CHARSET, asked.lfCharSet);
    EXPECT_EQ(FIXED_PITCH | FF_MODERN, asked.lfPitchAndFamily);

    // A positive height asks for the cell height: the realised font is 14 pixels high.
    HDC screen = GetDC(nullptr);
    HGDIOBJ kept = SelectObject(screen, settings.m_hFont.Get());
    TEXTMETRICW metrics = {};
    GetTextMetricsW(screen, &metrics);
    SelectObject(screen, kept);
    ReleaseDC(nullptr, screen);
    EXPECT_EQ(14, metrics.tmHeight);
}

TEST(LauncherFont, CatalogueHoldsEachInstalledFaceOnce)
{
    std::multiset<std::wstring> reported;
    LOGFONTW all = {};
    all.lfCharSet = DEFAULT_CHARSET;
    HDC screen = GetDC(nullptr);
    EnumFontFamiliesExW(screen, &all, CollectFace, reinterpret_cast<LPARAM>(&reported), 0);
    ReleaseDC(nullptr, screen);

    const std::set<std::wstring> distinct(reported.begin(), reported.end());
    ASSERT_LT(distinct.size(), reported.size()) << "no face is reported in several character sets";
    EXPECT_EQ(distinct, GetFontSettings().m_setInstalledFaces);
}

TEST(UiLanguage, ChineseTaiwanTextsLoadAfterTheSetUpOnAnEnglishSystem)
{
    OnFreshThread([] {
        ASSERT_EQ(L"Detecting updated ......", LoadResString(106)) << "the system is not English";
        ApplyUiLanguage(false);
        // Wine accepts SetThreadUILanguage but keeps its own language; the thread locale must
        // then have been set instead.
        if (GetThreadUILanguage() != kLauncherLanguage) {
            EXPECT_EQ(MAKELCID(kLauncherLanguage, SORT_DEFAULT), GetThreadLocale());
        }

        EXPECT_EQ(L"正在檢查更新", LoadResString(106));
        EXPECT_EQ(L"偵測伺服器最新版本時發現網路錯誤", LoadResString(110));
        EXPECT_EQ(L"正在安裝……", LoadResString(111));
        EXPECT_EQ(L"沒有偵測到伺服器的最新版本", LoadResString(116));
        EXPECT_EQ(L"伺服器版本解析錯誤", LoadResString(117));
        EXPECT_EQ(L"正在下載 " LAUNCHER_BRAND_PRODUCT_ZH_TW L", %d%%", LoadResString(128));
        EXPECT_EQ(L"", LoadResString(6));
        EXPECT_EQ(L"", LoadResString(129));

        wchar_t text[1025] = {};
        wsprintfW(text, LoadResString(128).c_str(), 42);
        EXPECT_STREQ(L"正在下載 " LAUNCHER_BRAND_PRODUCT_ZH_TW L", 42%", text);
    });
}

TEST(UiLanguage, IsSetForTheCallingThreadOnly)
{
    OnFreshThread([] { ApplyUiLanguage(false); });
    OnFreshThread([] {
        EXPECT_EQ(L"Detecting updated ......", LoadResString(106));
        // The English table holds every text the launcher loads, the application's name too.
        EXPECT_EQ(L"Downloading " LAUNCHER_BRAND_PRODUCT L", %d%%", LoadResString(128));
        EXPECT_EQ(L"Please close " LAUNCHER_BRAND_PRODUCT L" first", LoadResString(127));
    });
}

TEST(UiLanguage, RouteFollowsTheWindowsVersionAndWhatKernel32Offers)
{
    struct Case {
        const char* system;
        bool versionKnown;
        unsigned long platformId;
        unsigned long majorVersion;
        bool uiLanguageCallable;
        LanguageRoute expected;
    };
    const LanguageRoute locale = LanguageRoute::ThreadLocale;
    const LanguageRoute uiLanguage = LanguageRoute::ThreadUiLanguage;
    const Case cases[] = {
        {"Windows XP", true, VER_PLATFORM_WIN32_NT, 5, false, locale},
        {"Windows XP with a SetThreadUILanguage export", true, VER_PLATFORM_WIN32_NT, 5, true,
         locale},
        {"Windows 98", true, VER_PLATFORM_WIN32_WINDOWS, 4, false, locale},
        {"Windows Vista", true, VER_PLATFORM_WIN32_NT, 6, true, uiLanguage},
        {"Windows 10", true, VER_PLATFORM_WIN32_NT, 10, true, uiLanguage},
        {"version unknown", false, 0, 0, true, uiLanguage},
        {"version unknown on XP", false, 0, 0, false, locale},
        {"reports Vista, lacks the function", true, VER_PLATFORM_WIN32_NT, 6, false, locale},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.system);
        EXPECT_EQ(c.expected, ChooseLanguageRoute(c.versionKnown, c.platformId, c.majorVersion,
                                                  c.uiLanguageCallable));
    }
}

TEST(UiLanguage, WithoutTheVistaFunctionsTheThreadLocaleCarriesTheLanguage)
{
    ImportHook hook("kernel32.dll", "GetProcAddress",
                    reinterpret_cast<const void*>(&GetProcAddressAsOnXp));
    ASSERT_TRUE(hook.Installed());
    g_getProcAddress = hook.Original<decltype(g_getProcAddress)>();
    const size_t offset = ReadFileBytes(OwnLogPath()).size();
    OnFreshThread([] {
        // The window thread's set-up, for its log line; the system reports Vista or later.
        ApplyUiLanguage(true);
        EXPECT_EQ(MAKELCID(kLauncherLanguage, SORT_DEFAULT), GetThreadLocale());
        EXPECT_EQ(L"正在檢查更新", LoadResString(106));
    });
    EXPECT_EQ((std::vector<std::string>{"SetThreadUILanguage", "GetThreadUILanguage"}),
              g_lookedUp);
    const std::vector<std::string> lines = LogLinesSince(offset);
    ASSERT_EQ(3u, lines.size());
    EXPECT_EQ(0u, lines[1].rfind("Language set through the thread locale on Windows ", 0))
        << lines[1];
}
