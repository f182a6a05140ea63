// Painting of the splash window: the banner and, below it, the current state's text.
#pragma once

#include <windows.h>

#include <string>

struct PaintContext {
    HDC m_hDC = nullptr;      // the paint in progress
    HFONT m_hFont = nullptr;  // borrowed from the font settings
};

PaintContext& GetPaintContext();

// Paints the whole picture; in the exit state it logs "exit" and posts the quit message.
void PaintSplash(HDC dc);

void DrawBanner(HDC dc);
bool LoadBanner(HBITMAP& bitmap, HPALETTE& palette);
void DrawStateText(const std::wstring& text, PaintContext& context);
void DrawStringResource(int id, PaintContext& context);

// Geometry of the picture, in client coordinates.
inline constexpr int kBannerLeft = 8;
inline constexpr int kBannerTop = 10;
inline constexpr RECT kStateTextRect = {15, 115, 320, 160};
