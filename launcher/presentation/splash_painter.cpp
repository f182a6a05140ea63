#include "presentation/splash_painter.h"

#include <cstdlib>
#include <memory>

#include "log/log_file.h"
#include "presentation/font_settings.h"
#include "presentation/ui_language.h"
#include "resources/resource_ids.h"
#include "shell/launcher_status.h"

PaintContext& GetPaintContext()
{
    static PaintContext context{nullptr, GetFontSettings().m_hFont};
    return context;
}

void PaintSplash(HDC dc)
{
    PaintContext& context = GetPaintContext();
    context.m_hDC = dc;
    DrawBanner(dc);

    const LauncherStatus& status = GetLauncherStatus();
    // Compared unsigned: every value outside 0..9, negative ones included, shows nothing.
    switch (static_cast<uint32_t>(status.state.load())) {
    case StateDetecting: DrawStringResource(IDS_DETECTING, context); break;
    case StateNoUpdate: DrawStringResource(IDS_NO_UPDATE, context); break;
    case StateCheckFailed: DrawStringResource(IDS_CHECK_FAILED, context); break;
    case StateReplyInvalid: DrawStringResource(IDS_REPLY_INVALID, context); break;
    case StateDownloadFailed: DrawStringResource(IDS_DOWNLOAD_FAILED, context); break;
    case StateInstalling: DrawStringResource(IDS_INSTALLING, context); break;
    case StateDownloading: {
        const std::wstring format = LoadResString(IDS_DOWNLOADING_APP);
        wchar_t text[1025] = {};
        wsprintfW(text, format.c_str(), static_cast<int>(status.progress.load()));
        DrawStateText(text, context);
        break;
    }
    case StateExit:
        WriteLog(GetLogFile(), L"exit\n");
        PostQuitMessage(0);
        break;
    default:
        break;
    }
}

void DrawBanner(HDC dc)
{
    HBITMAP bitmap = nullptr;
    HPALETTE palette = nullptr;
    if (!LoadBanner(bitmap, palette))
        return;

    BITMAP description = {};
    GetObjectW(bitmap, sizeof description, &description);
    HDC memory = CreateCompatibleDC(dc);
    HGDIOBJ keptBitmap = SelectObject(memory, bitmap);
    HPALETTE keptPalette = nullptr;
    if (palette) {
        keptPalette = SelectPalette(dc, palette, FALSE);
        RealizePalette(dc);
    }
    BitBlt(dc, kBannerLeft, kBannerTop, description.bmWidth, description.bmHeight, memory, 0, 0,
           SRCCOPY);
    SelectObject(memory, keptBitmap);
    DeleteDC(memory);
    DeleteObject(bitmap);
    if (palette) {
        SelectPalette(dc, keptPalette, FALSE);
        DeleteObject(palette);
    }
}

bool LoadBanner(HBITMAP& bitmap, HPALETTE& palette)
{
    bitmap = nullptr;
    palette = nullptr;
    bitmap = static_cast<HBITMAP>(LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDB_BANNER),
                                             IMAGE_BITMAP, 0, 0, LR_DEFAULTSIZE));
    if (!bitmap)
        return false;

    BITMAP description = {};
    GetObjectW(bitmap, sizeof description, &description);
    const int depth = description.bmPlanes * description.bmBitsPixel;
    if (depth > 8) {
        HDC screen = GetDC(nullptr);
        palette = CreateHalftonePalette(screen);
        ReleaseDC(nullptr, screen);
        return true;
    }

    // A device-dependent bitmap may give fewer colour-table entries than 256, or none; the
    // entries not supplied stay black.
    constexpr size_t kEntries = 256;
    const size_t size = sizeof(LOGPALETTE) + (kEntries - 1) * sizeof(PALETTEENTRY);
    auto* logical = static_cast<LOGPALETTE*>(std::calloc(1, size));
    if (!logical)
        return true;  // no palette: the copy uses the DC's current one
    HDC memory = CreateCompatibleDC(nullptr);
    HGDIOBJ kept = SelectObject(memory, bitmap);
    RGBQUAD table[kEntries] = {};
    GetDIBColorTable(memory, 0, kEntries, table);
    logical->palVersion = 0x300;
    logical->palNumEntries = kEntries;
    for (size_t i = 0; i < kEntries; ++i) {
        logical->palPalEntry[i].peRed = table[i].rgbRed;
        logical->palPalEntry[i].peGreen = table[i].rgbGreen;
        logical->palPalEntry[i].peBlue = table[i].rgbBlue;
        logical->palPalEntry[i].peFlags = 0;
    }
    palette = CreatePalette(logical);
    std::free(logical);
    SelectObject(memory, kept);
    DeleteDC(memory);
    return true;
}

void DrawStateText(const std::wstring& text, PaintContext& context)
{
    // The replaced font is not selected back: EndPaint releases the DC.
    if (context.m_hFont)
        SelectObject(context.m_hDC, context.m_hFont);
    RECT rect = kStateTextRect;
    DrawTextW(context.m_hDC, text.c_str(), static_cast<int>(text.size()), &rect,
              DT_WORDBREAK | DT_EDITCONTROL);
}

void DrawStringResource(int id, PaintContext& context)
{
    DrawStateText(LoadResString(id), context);
}
