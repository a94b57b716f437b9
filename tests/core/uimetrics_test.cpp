// UI metrics and drawing helpers: image lists from bitmaps, the HSL arithmetic, DC selectors,
// popup-menu placement and window rectangles.
#include "CoreTestSupport.h"

#include <UiMetrics.h>

#include <gtest/gtest.h>

namespace {

int Hue(int hsl) { return hsl & 0xFF; }
int Lightness(int hsl) { return (hsl >> 8) & 0xFF; }
int Saturation(int hsl) { return (hsl >> 16) & 0xFF; }

TEST(Hsl, RgbToHslTable) {
    struct Case {
        COLORREF rgb;
        int hue, lightness, saturation;
    } cases[] = {
        {RGB(0, 0, 255), 170, 127, 255},
        {RGB(0, 255, 0), 85, 127, 255},
        {RGB(255, 0, 0), 255, 127, 255},  // 360 degrees is not wrapped
        {RGB(0, 0, 0), 0, 0, 0},
        {RGB(128, 128, 128), 0, 128, 0},
        {RGB(255, 255, 255), 0, 255, 0},
        {RGB(255, 255, 0), 42, 127, 255},
    };
    for (const Case& c : cases) {
        int hsl = RgbToHsl(c.rgb);
        EXPECT_EQ(Hue(hsl), c.hue) << std::hex << c.rgb;
        EXPECT_EQ(Lightness(hsl), c.lightness) << std::hex << c.rgb;
        EXPECT_EQ(Saturation(hsl), c.saturation) << std::hex << c.rgb;
    }
}

TEST(Hsl, HslToRgbTable) {
    struct Case {
        int hsl;
        COLORREF rgb;
    } cases[] = {
        {0x00C8AB, RGB(200, 200, 200)},  // saturation 0: grey of the lightness, whatever the hue
        {0x000000, RGB(0, 0, 0)},
        {0xFF7FFF, RGB(254, 0, 0)},
        {0xFF7FAA, RGB(0, 0, 254)},
    };
    for (const Case& c : cases)
        EXPECT_EQ(HslToRgb(c.hsl), c.rgb) << std::hex << c.hsl;
}

TEST(Hsl, AdjustColorTable) {
    struct Case {
        COLORREF in;
        int lp, sp;
        COLORREF out;
    } cases[] = {
        {RGB(100, 100, 100), 20, 0, RGB(131, 131, 131)},  // a fifth of the way to white
        {RGB(100, 100, 100), -50, 0, RGB(50, 50, 50)},
        {RGB(200, 200, 200), 100, 0, RGB(255, 255, 255)},
        {RGB(255, 0, 0), 0, 30, RGB(254, 0, 0)},  // a positive saturation change does nothing
        {RGB(255, 0, 0), 0, -100, RGB(127, 127, 127)},
    };
    for (const Case& c : cases)
        EXPECT_EQ(AdjustColor(c.in, c.lp, c.sp), c.out) << std::hex << c.in << " " << std::dec << c.lp << " " << c.sp;
    // The grayed menu text: lightness scaled to 82%.
    int l = Lightness(RgbToHsl(AdjustColor(RGB(100, 100, 100), -18, 0)));
    EXPECT_EQ(l, 100 * 82 / 100);
    // A colour, not a grey: lightness a fifth of the way to white, hue and saturation kept but for
    // rounding.
    int before = RgbToHsl(RGB(40, 80, 120)), after = RgbToHsl(AdjustColor(RGB(40, 80, 120), 20, 30));
    EXPECT_NEAR(Lightness(after), Lightness(before) + (255 - Lightness(before)) * 20 / 100, 1);
    EXPECT_NEAR(Saturation(after), Saturation(before), 2);
    EXPECT_NEAR(Hue(after), Hue(before), 1);
}

TEST(PopupMenu, AlignmentTable) {
    const RECT primary = {0, 0, 1280, 1024};
    const RECT left = {-1280, 0, 0, 1024};
    const RECT right = {1280, 0, 2560, 1024};
    const RECT above = {0, -1024, 1280, 0};
    struct Case {
        RECT monitor;
        int x, y;
        UINT flags;
    } cases[] = {
        {primary, 10, 10, 0x140},
        {primary, 1000, 10, 0x148},
        {primary, 10, 900, 0x160},
        {primary, 1000, 900, 0x168},
        {primary, 640, 512, 0x140},   // exactly half is not past it
        {primary, 641, 513, 0x168},
        {left, -100, 900, 0x168},     // from the monitor's own corner
        {left, -1200, 10, 0x140},
        {right, 1400, 10, 0x140},
        {right, 2500, 1000, 0x168},
        {above, 10, -10, 0x160},
        {above, 10, -1000, 0x140},
    };
    for (const Case& c : cases)
        EXPECT_EQ(PopupMenuAlignOn(c.x, c.y, c.monitor), c.flags) << c.x << "," << c.y;
}

TEST(PopupMenu, TheRealMonitorAtTheOrigin) {
    int cx = GetSystemMetrics(SM_CXSCREEN), cy = GetSystemMetrics(SM_CYSCREEN);
    EXPECT_EQ(PopupMenuAlign(cx - 10, cy - 10), 0x168u);
    EXPECT_EQ(PopupMenuAlign(10, 10), 0x140u);
}

TEST(ImageLists, FromBitmapResources) {
    HINSTANCE module = GetModuleHandleW(nullptr);
    struct Case {
        int id, width, count;
    } cases[] = {
        {105, 16, 4},
        {105, 20, 3},
        {105, 0, -1},  // no list
        {999, 16, -1},
    };
    for (const Case& c : cases) {
        HIMAGELIST list = UiMetrics::ImageListFromBitmap(module, c.id, c.width);
        if (c.count < 0) {
            EXPECT_EQ(list, nullptr) << c.id << " " << c.width;
            continue;
        }
        ASSERT_NE(list, nullptr) << c.id << " " << c.width;
        int cx = 0, cy = 0;
        ImageList_GetIconSize(list, &cx, &cy);
        EXPECT_EQ(ImageList_GetImageCount(list), c.count);
        EXPECT_EQ(cx, c.width);
        EXPECT_EQ(cy, 16);
        ImageList_Destroy(list);
    }
}

TEST(ImageLists, TheMaskColourIsTransparent) {
    HIMAGELIST list = UiMetrics::ImageListFromBitmap(GetModuleHandleW(nullptr), 105, 16);
    ASSERT_NE(list, nullptr);
    HDC screen = GetDC(nullptr);
    HDC dc = CreateCompatibleDC(screen);
    HBITMAP canvas = CreateCompatibleBitmap(screen, 16, 16);
    HGDIOBJ old = SelectObject(dc, canvas);
    RECT all = {0, 0, 16, 16};
    FillRect(dc, &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    ImageList_Draw(list, 0, dc, 0, 0, ILD_NORMAL);
    EXPECT_EQ(GetPixel(dc, 2, 8), RGB(255, 255, 255));  // masked half shows the background
    EXPECT_EQ(GetPixel(dc, 12, 8), RGB(255, 0, 0));
    SelectObject(dc, old);
    DeleteObject(canvas);
    DeleteDC(dc);
    ReleaseDC(nullptr, screen);
    ImageList_Destroy(list);
}

TEST(Metrics, BuiltFromTheSystem) {
    UiMetrics metrics;
    EXPECT_EQ(metrics.frameCx, GetSystemMetrics(SM_CXFRAME));
    EXPECT_EQ(metrics.frameCy, GetSystemMetrics(SM_CYFRAME));
    LOGFONTW expected;
    ASSERT_TRUE(GetMessageFont(expected));
    ASSERT_NE(metrics.messageFont, nullptr);
    LOGFONTW made;
    ASSERT_EQ(GetObjectW(metrics.messageFont, sizeof made, &made), static_cast<int>(sizeof made));
    EXPECT_STREQ(made.lfFaceName, expected.lfFaceName);
    EXPECT_EQ(metrics.fontPixelHeight, -expected.lfHeight);
    EXPECT_GT(metrics.fontPixelHeight, 0);
    ASSERT_NE(metrics.images, nullptr);
    EXPECT_EQ(ImageList_GetImageCount(metrics.images), 4);
}

TEST(Selectors, BrushAndBoldAreRestored) {
    HDC dc = CreateCompatibleDC(nullptr);
    HGDIOBJ startBrush = GetCurrentObject(dc, OBJ_BRUSH);
    {
        BrushSelector brush(dc, RGB(1, 2, 3));
        LOGBRUSH lb;
        GetObjectW(GetCurrentObject(dc, OBJ_BRUSH), sizeof lb, &lb);
        EXPECT_EQ(lb.lbStyle, static_cast<UINT>(BS_SOLID));
        EXPECT_EQ(lb.lbColor, RGB(1, 2, 3));
    }
    EXPECT_EQ(GetCurrentObject(dc, OBJ_BRUSH), startBrush);
    {
        BrushSelector none(dc, static_cast<COLORREF>(-1));
        EXPECT_EQ(GetCurrentObject(dc, OBJ_BRUSH), GetStockObject(NULL_BRUSH));
    }
    EXPECT_EQ(GetCurrentObject(dc, OBJ_BRUSH), startBrush);

    LOGFONTW normal = {};
    normal.lfHeight = -12;
    normal.lfWeight = FW_NORMAL;
    wcscpy(normal.lfFaceName, L"Tahoma");
    HFONT font = CreateFontIndirectW(&normal);
    SelectObject(dc, font);
    auto weight = [dc] {
        LOGFONTW lf;
        GetObjectW(GetCurrentObject(dc, OBJ_FONT), sizeof lf, &lf);
        return lf.lfWeight;
    };
    {
        BoldSelector bold(dc, true);
        EXPECT_EQ(weight(), FW_BOLD);
        {
            BoldSelector again(dc, true);  // already bold: nothing to do
            EXPECT_EQ(weight(), FW_BOLD);
            BoldSelector plain(dc, false);
            EXPECT_EQ(weight(), FW_NORMAL);
        }
        EXPECT_EQ(weight(), FW_BOLD);
    }
    EXPECT_EQ(GetCurrentObject(dc, OBJ_FONT), font);
    DeleteDC(dc);
    DeleteObject(font);
}

TEST(Windows, RectangleInTheParentsClientArea) {
    HWND parent = CreateWindowExW(0, L"STATIC", L"", WS_POPUP | WS_VISIBLE | WS_BORDER, 100, 50, 300, 200, nullptr,
                                  nullptr, nullptr, nullptr);
    HWND child = CreateWindowExW(0, L"STATIC", L"", WS_CHILD | WS_VISIBLE, 10, 20, 30, 40, parent, nullptr, nullptr,
                                 nullptr);
    RECT rect;
    ASSERT_TRUE(GetWindowRectInParent(child, rect));
    EXPECT_EQ(rect.left, 10);
    EXPECT_EQ(rect.top, 20);
    EXPECT_EQ(rect.right, 40);
    EXPECT_EQ(rect.bottom, 60);
    RECT screen;
    GetWindowRect(parent, &screen);
    ASSERT_TRUE(GetWindowRectInParent(parent, rect));  // a top-level window: the desktop's coordinates
    EXPECT_TRUE(EqualRect(&rect, &screen));
    DestroyWindow(parent);
    EXPECT_FALSE(GetWindowRectInParent(child, rect));
}

}  // namespace
