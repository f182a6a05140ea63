// The splash picture, read back pixel by pixel: the banner at (8, 10) exactly as the bitmap
// resource holds it, and each state's text in the launcher font inside (15, 115, 320, 160)
// and nowhere else. Paints go into a 32-bit memory bitmap filled with an odd colour first, so
// every pixel the painter touched (glyphs and their opaque white background) shows.
#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <cstdint>
#include <vector>

#include "base/brand.h"
#include "log/log_file.h"
#include "presentation/font_settings.h"
#include "presentation/splash_painter.h"
#include "presentation/ui_language.h"
#include "resources/resource_ids.h"
#include "presentation/splash_view.h"
#include "support/test_support.h"

using namespace test_support;

namespace {

constexpr int kWidth = 350;
constexpr int kHeight = 200;
constexpr RECT kBannerRect = {8, 10, 338, 92};
constexpr RECT kTextRect = {15, 115, 320, 160};
constexpr uint32_t kFill = 0x123456;  // 0xRRGGBB, in no picture of the launcher
constexpr uint32_t kWhite = 0xFFFFFF;
// The download state's text up to its percentage.
#define kDownloading L"正在下載 " LAUNCHER_BRAND_PRODUCT_ZH_TW L", "

// The window thread's set-up, as the launcher makes it before its first paint.
class WindowThreadSetUp : public testing::Environment {
    void SetUp() override { ApplyUiLanguage(true); }
};
[[maybe_unused]] testing::Environment* const g_setUp =
    testing::AddGlobalTestEnvironment(new WindowThreadSetUp);

bool Inside(const RECT& rect, int x, int y)
{
    return x >= rect.left && x < rect.right && y >= rect.top && y < rect.bottom;
}

// A top-down 32-bit DIB section selected into a memory DC.
class Canvas {
public:
    explicit Canvas(uint32_t fill)
    {
        BITMAPINFO info = {};
        info.bmiHeader.biSize = sizeof info.bmiHeader;
        info.bmiHeader.biWidth = kWidth;
        info.bmiHeader.biHeight = -kHeight;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        info.bmiHeader.biCompression = BI_RGB;
        m_dc = CreateCompatibleDC(nullptr);
        void* bits = nullptr;
        m_bitmap = CreateDIBSection(m_dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
        m_kept = SelectObject(m_dc, m_bitmap);
        m_pixels = static_cast<uint32_t*>(bits);
        for (int i = 0; i < kWidth * kHeight; ++i)
            m_pixels[i] = fill;
    }
    ~Canvas()
    {
        SelectObject(m_dc, m_kept);
        DeleteObject(m_bitmap);
        DeleteDC(m_dc);
    }
    Canvas(const Canvas&) = delete;
    Canvas& operator=(const Canvas&) = delete;

    HDC Dc() const { return m_dc; }
    uint32_t At(int x, int y) const
    {
        GdiFlush();
        return m_pixels[y * kWidth + x] & 0xFFFFFF;
    }

private:
    HDC m_dc = nullptr;
    HBITMAP m_bitmap = nullptr;
    HGDIOBJ m_kept = nullptr;
    uint32_t* m_pixels = nullptr;
};

std::string Pixel(int x, int y, uint32_t got, uint32_t want)
{
    char text[96];
    std::snprintf(text, sizeof text, "pixel (%d,%d) is %06X, expected %06X", x, y,
                  static_cast<unsigned>(got), static_cast<unsigned>(want));
    return text;
}

// The banner as the resource stores it: rows bottom-up, padded to four bytes, 8-bit indices
// into the colour table or 24-bit colours.
uint32_t BannerResourcePixel(int x, int y)
{
    static const auto* header = [] {
        HRSRC found = FindResourceW(nullptr, MAKEINTRESOURCEW(IDB_BANNER), RT_BITMAP);
        return static_cast<const BITMAPINFOHEADER*>(LockResource(LoadResource(nullptr, found)));
    }();
    const int bytes = header->biBitCount / 8;
    const int stride = (header->biWidth * bytes + 3) / 4 * 4;
    const DWORD colours = header->biClrUsed ? header->biClrUsed
                          : header->biBitCount <= 8 ? 1u << header->biBitCount : 0;
    const auto* table = reinterpret_cast<const uint8_t*>(header) + header->biSize;
    const auto* row = table + colours * 4 + (header->biHeight - 1 - y) * stride;
    const uint8_t* bgr = bytes == 1 ? table + row[x] * 4 : row + x * 3;
    return static_cast<uint32_t>(bgr[2] << 16 | bgr[1] << 8 | bgr[0]);
}

// Empty when the picture holds the banner at its place; the first wrong pixel otherwise.
std::string BannerDifference(const Canvas& canvas)
{
    for (int y = kBannerRect.top; y < kBannerRect.bottom; ++y)
        for (int x = kBannerRect.left; x < kBannerRect.right; ++x) {
            const uint32_t want = BannerResourcePixel(x - kBannerRect.left, y - kBannerRect.top);
            if (canvas.At(x, y) != want)
                return Pixel(x, y, canvas.At(x, y), want);
        }
    return {};
}

// Empty when nothing outside the banner (and outside the text rectangle, if text may be there)
// differs from the fill.
std::string ChangedOutside(const Canvas& canvas, bool textAllowed)
{
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) {
            if (Inside(kBannerRect, x, y) || (textAllowed && Inside(kTextRect, x, y)))
                continue;
            if (canvas.At(x, y) != kFill)
                return Pixel(x, y, canvas.At(x, y), kFill);
        }
    return {};
}

std::string FirstDifference(const Canvas& got, const Canvas& want, const RECT& rect)
{
    for (int y = rect.top; y < rect.bottom; ++y)
        for (int x = rect.left; x < rect.right; ++x)
            if (got.At(x, y) != want.At(x, y))
                return Pixel(x, y, got.At(x, y), want.At(x, y));
    return {};
}

// What the splash window would show; the painter draws from nothing else.
SplashView g_view;

void SetStatus(int32_t state, int32_t progress = 0)
{
    g_view = SplashView{state, progress};
}

// `text` drawn where and how the launcher draws its state texts.
void DrawExpectedText(const Canvas& canvas, const std::wstring& text)
{
    SelectObject(canvas.Dc(), GetFontSettings().m_hFont.Get());
    RECT rect = kTextRect;
    DrawTextW(canvas.Dc(), text.c_str(), static_cast<int>(text.size()), &rect,
              DT_WORDBREAK | DT_EDITCONTROL);
}

void DropQueuedQuit()
{
    MSG message;
    while (PeekMessageW(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {
    }
}

// Objects this process holds. Wine does not implement GetGuiResources; there, the room left in
// the GDI handle table shrinks by one for every object held, which measures the same thing.
long GdiObjectsHeld()
{
    const DWORD held = GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS);
    if (held != 0)
        return static_cast<long>(held);
    std::vector<HRGN> probes;
    while (probes.size() < 200000) {
        HRGN probe = CreateRectRgn(0, 0, 1, 1);
        if (!probe)
            break;
        probes.push_back(probe);
    }
    for (HRGN probe : probes)
        DeleteObject(probe);
    return -static_cast<long>(probes.size());
}

std::string OwnLog()
{
    wchar_t path[MAX_PATH] = {};
    GetLogFilePath(path);
    return ReadFileBytes(path);
}

}  // namespace

TEST(SplashPicture, TextStatesShowTheBannerAndTheirTextInsideTheTextRectangleOnly)
{
    struct Case {
        int32_t state, progress;
        const wchar_t* text;
    };
    const Case cases[] = {
        {StateDetecting, 0, L"正在檢查更新"},
        {StateNoUpdate, 0, L"沒有偵測到伺服器的最新版本"},
        {StateCheckFailed, 0, L"偵測伺服器最新版本時發現網路錯誤"},
        {StateReplyInvalid, 0, L"伺服器版本解析錯誤"},
        {StateDownloadFailed, 0, L"下載失敗"},
        {StateInstalling, 0, L"正在安裝……"},
        {StateDownloading, 0, kDownloading L"0%"},
        {StateDownloading, 42, kDownloading L"42%"},
        {StateDownloading, 150, kDownloading L"150%"},
        {StateDownloading, -3, kDownloading L"-3%"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "state " << c.state << " progress " << c.progress);
        SetStatus(c.state, c.progress);
        Canvas painted(kFill);
        PaintSplash(painted.Dc(), g_view);
        Canvas expected(kFill);
        DrawExpectedText(expected, c.text);

        EXPECT_EQ("", BannerDifference(painted));
        EXPECT_EQ("", ChangedOutside(painted, true));
        EXPECT_EQ("", FirstDifference(painted, expected, kTextRect));
        EXPECT_NE("", ChangedOutside(painted, false)) << "no text drawn";
        EXPECT_EQ(GetFontSettings().m_hFont.Get(), GetCurrentObject(painted.Dc(), OBJ_FONT));
    }

    // The comparison tells the numbers apart.
    Canvas zero(kFill), fortyTwo(kFill);
    DrawExpectedText(zero, kDownloading L"0%");
    DrawExpectedText(fortyTwo, kDownloading L"42%");
    EXPECT_NE("", FirstDifference(zero, fortyTwo, kTextRect));
}

TEST(SplashPicture, OtherStatesShowTheBannerAlone)
{
    for (const int32_t state : {1, 6, int32_t{StateIdle}, 11, -1, INT32_MIN, INT32_MAX}) {
        SCOPED_TRACE(testing::Message() << "state " << state);
        DropQueuedQuit();
        SetStatus(state, 42);
        Canvas painted(kFill);
        PaintSplash(painted.Dc(), g_view);
        EXPECT_EQ("", BannerDifference(painted));
        EXPECT_EQ("", ChangedOutside(painted, false));
        MSG quit;
        EXPECT_FALSE(PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    }
}

TEST(SplashPicture, ExitStateOnlyPaints)
{
    // Ending the program is the window's work, not the painter's: a minimised window is never
    // painted.
    DropQueuedQuit();
    SetStatus(StateExit);
    const size_t offset = OwnLog().size();
    Canvas painted(kFill);
    PaintSplash(painted.Dc(), g_view);

    EXPECT_EQ("", BannerDifference(painted));
    EXPECT_EQ("", ChangedOutside(painted, false));
    EXPECT_EQ("", OwnLog().substr(offset));
    MSG quit;
    EXPECT_FALSE(PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
}

TEST(SplashPicture, RepeatedPaintsHoldNoGdiObjects)
{
    Canvas canvas(kFill);
    // The first paints may build what lives for the whole process (the paint context, font
    // caches); only what stays after that counts.
    for (int32_t state = 0; state <= StateInstalling; ++state) {
        SetStatus(state, 42);
        PaintSplash(canvas.Dc(), g_view);
    }
    const long before = GdiObjectsHeld();
    for (int i = 0; i < 500; ++i) {
        SetStatus(i % (StateInstalling + 1), i);
        PaintSplash(canvas.Dc(), g_view);
    }
    EXPECT_EQ(before, GdiObjectsHeld());
}

namespace {

LRESULT CALLBACK SplashLikeWindow(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_PAINT) {
        PAINTSTRUCT paint;
        HDC dc = BeginPaint(window, &paint);
        PaintSplash(dc, g_view);
        EndPaint(window, &paint);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace

TEST(SplashPicture, AWindowPaintedThroughWmPaintShowsTheSamePicture)
{
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = SplashLikeWindow;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
    windowClass.lpszClassName = L"SplashPictureTest";
    RegisterClassW(&windowClass);
    SetStatus(StateInstalling);
    HWND window = CreateWindowExW(WS_EX_TOPMOST, L"SplashPictureTest", L"", WS_POPUP | WS_VISIBLE,
                                  0, 0, kWidth, kHeight, nullptr, nullptr,
                                  GetModuleHandleW(nullptr), nullptr);
    ASSERT_NE(nullptr, window);
    UpdateWindow(window);
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
        DispatchMessageW(&message);

    Canvas shown(kFill);
    HDC windowDc = GetDC(window);
    BitBlt(shown.Dc(), 0, 0, kWidth, kHeight, windowDc, 0, 0, SRCCOPY);
    ReleaseDC(window, windowDc);
    DestroyWindow(window);

    Canvas expected(kWhite);
    PaintSplash(expected.Dc(), g_view);
    EXPECT_EQ("", BannerDifference(shown));
    EXPECT_EQ("", FirstDifference(shown, expected, RECT{0, 0, kWidth, kHeight}));
}
