#include "presentation/splash_painter.h"

#include <cstdlib>
#include <memory>

#include "presentation/font_settings.h"
#include "presentation/ui_language.h"
#include "resources/resource_ids.h"

void PaintSplash(HDC dc, const SplashView& view)
{
    PaintContext context{dc, GetFontSettings().m_hFont.Get()};
    DrawBanner(dc);

    // Compared unsigned: every value outside 0..9, negative ones included, shows nothing.
    switch (static_cast<uint32_t>(view.state)) {
    case StateDetecting: DrawStringResource(IDS_DETECTING, context); break;
    case StateNoUpdate: DrawStringResource(IDS_NO_UPDATE, context); break;
    case StateCheckFailed: DrawStringResource(IDS_CHECK_FAILED, context); break;
    case StateReplyInvalid: DrawStringResource(IDS_REPLY_INVALID, context); break;
    case StateDownloadFailed: DrawStringResource(IDS_DOWNLOAD_FAILED, context); break;
    case StateInstalling: DrawStringResource(IDS_INSTALLING, context); break;
    case StateDownloading: {
        const std::wstring format = LoadResString(IDS_DOWNLOADING_APP);
        wchar_t text[1025] = {};
        wsprintfW(text, format.c_str(), static_cast<int>(view.progress));
        DrawStateText(text, context);
        break;
    }
    default:
        // The exit state, too, shows the banner alone.
        break;
    }
}

void DrawBanner(HDC dc)
{
    UniqueBitmap bitmap;
    UniquePalette palette;
    if (!LoadBanner(bitmap, palette))
        return;

    BITMAP description = {};
    GetObjectW(bitmap.Get(), sizeof description, &description);
    const UniqueMemoryDc memory(CreateCompatibleDC(dc));
    const SelectedObject selectedBitmap(memory.Get(), bitmap.Get());
    const SelectedPalette selectedPalette(dc, palette.Get());
    BitBlt(dc, kBannerLeft, kBannerTop, description.bmWidth, description.bmHeight, memory.Get(), 0,
           0, SRCCOPY);
}

bool LoadBanner(UniqueBitmap& bitmap, UniquePalette& palette)
{
    palette.Reset();
    bitmap.Reset(static_cast<HBITMAP>(LoadImageW(GetModuleHandleW(nullptr),
                                                 MAKEINTRESOURCEW(IDB_BANNER), IMAGE_BITMAP, 0, 0,
                                                 LR_DEFAULTSIZE)));
    if (!bitmap)
        return false;

    BITMAP description = {};
    GetObjectW(bitmap.Get(), sizeof description, &description);
    const int depth = description.bmPlanes * description.bmBitsPixel;
    if (depth > 8) {
        const WindowDc screen(nullptr);
        palette.Reset(CreateHalftonePalette(screen.Get()));
        return true;
    }

    // A device-dependent bitmap may give fewer colour-table entries than 256, or none; the
    // entries not supplied stay black.
    constexpr size_t kEntries = 256;
    const size_t size = sizeof(LOGPALETTE) + (kEntries - 1) * sizeof(PALETTEENTRY);
    std::unique_ptr<void, decltype(&std::free)> block(std::calloc(1, size), &std::free);
    if (!block)
        return true;  // no palette: the copy uses the DC's current one
    auto* logical = static_cast<LOGPALETTE*>(block.get());
    RGBQUAD table[kEntries] = {};
    {
        const UniqueMemoryDc memory(CreateCompatibleDC(nullptr));
        const SelectedObject selected(memory.Get(), bitmap.Get());
        GetDIBColorTable(memory.Get(), 0, kEntries, table);
    }
    logical->palVersion = 0x300;
    logical->palNumEntries = kEntries;
    for (size_t i = 0; i < kEntries; ++i) {
        logical->palPalEntry[i].peRed = table[i].rgbRed;
        logical->palPalEntry[i].peGreen = table[i].rgbGreen;
        logical->palPalEntry[i].peBlue = table[i].rgbBlue;
        logical->palPalEntry[i].peFlags = 0;
    }
    palette.Reset(CreatePalette(logical));
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
