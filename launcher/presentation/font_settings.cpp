#include "presentation/font_settings.h"

namespace {
constexpr int32_t kBaseHeight = 12;
}

FontSettings::FontSettings() : m_strFaceName(L"Arial Unicode MS"), m_nHeightAddend(4)
{
    EnumerateInstalledFaces();
}

void FontSettings::SelectLauncherFont()
{
    m_strFaceName = L"宋体";
    m_nHeightAddend = 2;
    CreateLauncherFont();
}

void FontSettings::CreateLauncherFont()
{
    // A font made earlier is freed: nothing else owns it.
    m_hFont.Reset(CreateFontW(m_nHeightAddend + kBaseHeight, 0, 0, 0, FW_NORMAL, FALSE, FALSE,
                              FALSE, GB2312_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                              DEFAULT_QUALITY, FIXED_PITCH | FF_MODERN, m_strFaceName.c_str()));
}

void FontSettings::EnumerateInstalledFaces()
{
    LOGFONTW all;
    ZeroMemory(&all, sizeof all);
    all.lfCharSet = DEFAULT_CHARSET;
    const WindowDc screen(nullptr);
    // The record is reached through the callback's data: it is still being built, so going
    // through GetFontSettings from the callback would start building it again.
    EnumFontFamiliesExW(screen.Get(), &all, OnFontFamily, reinterpret_cast<LPARAM>(this), 0);
}

FontSettings& GetFontSettings()
{
    static FontSettings settings;
    return settings;
}

int CALLBACK OnFontFamily(const LOGFONTW* font, const TEXTMETRICW*, DWORD, LPARAM settings)
{
    reinterpret_cast<FontSettings*>(settings)->m_setInstalledFaces.insert(font->lfFaceName);
    return 1;
}
