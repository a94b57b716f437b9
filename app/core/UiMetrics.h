// Shared measurements of the user interface and small drawing helpers: image lists from bitmaps,
// HSL colour arithmetic, DC selectors, popup-menu placement, window rectangles and icons.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include "common/Hsl.h"  // RgbToHsl, HslToRgb, AdjustColor

class UiMetrics {
public:
    UiMetrics();
    ~UiMetrics();
    UiMetrics(const UiMetrics&) = delete;
    UiMetrics& operator=(const UiMetrics&) = delete;

    static HIMAGELIST ImageListFromBitmap(HINSTANCE module, int bitmapId, int imageWidth);

    int frameCx;
    int frameCy;
    HFONT messageFont = nullptr;
    int fontPixelHeight = 0;
    HIMAGELIST images = nullptr;
};

// The system's message font, as the non-client metrics give it.
bool GetMessageFont(LOGFONTW& font);

// Selects a solid brush (or the null brush for colour -1) until the selector ends.
class BrushSelector {
public:
    BrushSelector(HDC dc, COLORREF colour);
    ~BrushSelector();
    BrushSelector(const BrushSelector&) = delete;
    BrushSelector& operator=(const BrushSelector&) = delete;

private:
    HDC dc_;
    HBRUSH created_ = nullptr;
    HGDIOBJ previous_;
};

// Switches the DC's font to bold or normal weight until the selector ends, when it differs.
class BoldSelector {
public:
    BoldSelector(HDC dc, bool bold);
    ~BoldSelector();
    BoldSelector(const BoldSelector&) = delete;
    BoldSelector& operator=(const BoldSelector&) = delete;

private:
    HDC dc_;
    HFONT created_ = nullptr;
    HGDIOBJ previous_ = nullptr;
};

UINT PopupMenuAlign(int x, int y);
// The placement decision for a point on a monitor with the given rectangle.
UINT PopupMenuAlignOn(int x, int y, const RECT& monitor);

bool GetWindowRectInParent(HWND window, RECT& rect);
void SetWindowIcons(HWND window, HINSTANCE module);
