// The launcher font, made as the window thread makes it, must be drawn from the face this
// machine is set up to stand in for SimSun (LAUNCHER_SONG_FACE, from scripts/wine-env.sh). The
// font mapper falls back silently to another face, and the one it took before drew the
// splash text with strokes missing; the face's own 'name' table tells which face was taken.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "presentation/font_settings.h"
#include "presentation/ui_language.h"

namespace {

uint16_t BigEndian16(const std::vector<uint8_t>& table, size_t at)
{
    return static_cast<uint16_t>(table[at] << 8 | table[at + 1]);
}

// Every family name (name ID 1) of the Windows platform (3, UTF-16 big-endian) in a 'name' table.
std::vector<std::wstring> FamilyNames(const std::vector<uint8_t>& table)
{
    std::vector<std::wstring> names;
    size_t count = table.size() >= 6 ? BigEndian16(table, 2) : 0;
    size_t strings = count ? BigEndian16(table, 4) : 0;
    for (size_t record = 6; count-- && record + 12 <= table.size(); record += 12) {
        size_t length = BigEndian16(table, record + 8);
        size_t at = strings + BigEndian16(table, record + 10);
        if (BigEndian16(table, record) != 3 || BigEndian16(table, record + 6) != 1 ||
            at + length > table.size())
            continue;
        std::wstring name;
        for (size_t i = 0; i + 1 < length; i += 2)
            name += static_cast<wchar_t>(BigEndian16(table, at + i));
        names.push_back(name);
    }
    return names;
}

}  // namespace

TEST(LauncherFont, IsDrawnFromTheConfiguredFace)
{
    wchar_t configured[LF_FACESIZE] = {};
    ASSERT_NE(GetEnvironmentVariableW(L"LAUNCHER_SONG_FACE", configured, LF_FACESIZE), 0u)
        << "run under scripts/wine-env.sh, which sets up the face";
    ApplyUiLanguage(true);
    HDC dc = CreateCompatibleDC(nullptr);
    HGDIOBJ previous = SelectObject(dc, GetFontSettings().m_hFont.Get());
    const DWORD nameTag = 'n' | 'a' << 8 | 'm' << 16 | 'e' << 24;  // as the file holds it
    DWORD size = GetFontData(dc, nameTag, 0, nullptr, 0);
    std::vector<uint8_t> table(size == GDI_ERROR ? 0 : size);
    if (!table.empty() && GetFontData(dc, nameTag, 0, table.data(), size) != size)
        table.clear();
    SelectObject(dc, previous);
    DeleteDC(dc);

    std::vector<std::wstring> names = FamilyNames(table);
    std::wstring seen;
    for (const std::wstring& name : names)
        seen += L" \"" + name + L"\"";
    EXPECT_NE(std::find(names.begin(), names.end(), configured), names.end())
        << "wanted \"" << configured << "\"; the face drawn is named" << seen;
}
