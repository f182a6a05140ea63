// The one launcher font used by the splash window and both dialogs, and the catalogue of the
// installed font faces taken when the settings are built.
#pragma once

#include <windows.h>

#include <set>
#include <string>

#include "base/unique_resource.h"

struct FontSettings {
    std::wstring m_strFaceName;
    int32_t m_nHeightAddend = 0;  // the font's height is this plus 12
    std::set<std::wstring> m_setInstalledFaces;
    UniqueFont m_hFont;  // painter and dialogs only borrow it

    FontSettings();
    FontSettings(const FontSettings&) = delete;
    FontSettings& operator=(const FontSettings&) = delete;

    // The launcher's choice: SimSun by its Chinese name at height 14, then the font is created.
    void SelectLauncherFont();
    void CreateLauncherFont();
    void EnumerateInstalledFaces();
};

// Built on first use (the window thread's language set-up, before the worker exists).
FontSettings& GetFontSettings();

// Called by EnumFontFamiliesExW once per face and character set.
int CALLBACK OnFontFamily(const LOGFONTW* font, const TEXTMETRICW* metrics, DWORD fontType,
                          LPARAM settings);
