// Painting of the splash window: the banner and, below it, the current state's text.
#pragma once

#include <windows.h>

#include <string>

#include "base/unique_resource.h"
#include "presentation/splash_view.h"

struct PaintContext {
    HDC m_hDC = nullptr;      // the paint in progress
    HFONT m_hFont = nullptr;  // borrowed from the font settings
};

// Paints the whole picture of `view`: the banner and the state's text. Only paints.
void PaintSplash(HDC dc, const SplashView& view);

void DrawBanner(HDC dc);
// The banner bitmap and, for a bitmap of 256 colours or fewer, its palette (for more colours,
// a halftone palette); false when the bitmap can't be loaded.
bool LoadBanner(UniqueBitmap& bitmap, UniquePalette& palette);
void DrawStateText(const std::wstring& text, PaintContext& context);
void DrawStringResource(int id, PaintContext& context);

// Geometry of the picture, in client coordinates.
inline constexpr int kBannerLeft = 8;
inline constexpr int kBannerTop = 10;
inline constexpr RECT kStateTextRect = {15, 115, 320, 160};
