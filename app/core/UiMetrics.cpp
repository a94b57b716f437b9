// UI measurements and drawing helpers shared by the main frame, the panel and the tab view.
#include "UiMetrics.h"

#include <common/Log.h>

#include <algorithm>

namespace {

const COLORREF kMaskColour = RGB(128, 0, 128);

UINT ColourFlag(int bitsPerPixel) {
    switch (bitsPerPixel) {
    case 4: return ILC_COLOR4;
    case 8: return ILC_COLOR8;
    case 16: return ILC_COLOR16;
    case 24: return ILC_COLOR24;
    case 32: return ILC_COLOR32;
    default: return ILC_COLOR;
    }
}

float ChannelValue(float m1, float m2, float h) {
    if (h > 360)
        h -= 360;
    else if (h < 0)
        h += 360;
    if (h < 60)
        return m1 + (m2 - m1) * h / 60;
    if (h < 180)
        return m2;
    if (h < 240)
        return m1 + (m2 - m1) * (240 - h) / 60;
    return m1;
}

}  // namespace

UiMetrics::UiMetrics() : frameCx(GetSystemMetrics(SM_CXFRAME)), frameCy(GetSystemMetrics(SM_CYFRAME)) {
    LOGFONTW font;
    if (GetMessageFont(font)) {
        messageFont = CreateFontIndirectW(&font);
        fontPixelHeight = -font.lfHeight;
    }
    images = ImageListFromBitmap(GetModuleHandleW(nullptr), 105, 16);
}

UiMetrics::~UiMetrics() {
    if (images)
        ImageList_Destroy(images);
    if (messageFont)
        DeleteObject(messageFont);
}

HIMAGELIST UiMetrics::ImageListFromBitmap(HINSTANCE module, int bitmapId, int imageWidth) {
    if (imageWidth <= 0)
        return nullptr;
    HBITMAP bitmap = LoadBitmapW(module, MAKEINTRESOURCEW(bitmapId));
    if (!bitmap)
        return nullptr;
    HIMAGELIST list = nullptr;
    BITMAP header;
    if (GetObjectW(bitmap, sizeof header, &header) == sizeof header) {
        list = ImageList_Create(imageWidth, header.bmHeight, ColourFlag(header.bmBitsPixel) | ILC_MASK,
                                header.bmWidth / imageWidth, 1);
        if (list)
            ImageList_AddMasked(list, bitmap, kMaskColour);
    }
    DeleteObject(bitmap);
    return list;
}

// Windows before Vista know the structure without its last field (4 bytes shorter).
bool GetMessageFont(LOGFONTW& font) {
    NONCLIENTMETRICSW metrics = {};
    OSVERSIONINFOW version = {};
    version.dwOSVersionInfoSize = sizeof version;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    bool vista = GetVersionExW(&version) && version.dwMajorVersion > 5;
#pragma GCC diagnostic pop
    metrics.cbSize = vista ? 504 : 500;
    if (!SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, 504, &metrics, 0)) {
        Brimholt::Log << "SPI_GETNONCLIENTMETRICS failed: " << GetLastError() << std::endl;
        return false;
    }
    font = metrics.lfMessageFont;
    return true;
}

int RgbToHsl(COLORREF colour) {
    float r = GetRValue(colour), g = GetGValue(colour), b = GetBValue(colour);
    float mn = std::min(r, std::min(g, b)), mx = std::max(r, std::max(g, b));
    float sum = mn + mx;
    float l = sum / 510, s = 0, h = 0;
    if (mn != mx) {
        float d = mx - mn;
        s = l <= 0.5f ? d / sum : d / (510 - sum);
        float rc = (mx - r) / d, gc = (mx - g) / d, bc = (mx - b) / d;
        if (b == mx)
            h = (4 + gc - rc) * 60;
        else if (g == mx)
            h = (2 + rc - bc) * 60;
        else
            h = (6 + bc - gc) * 60;
        if (h > 360)
            h -= 360;
    }
    int sat = static_cast<int>(s * 255), light = static_cast<int>(l * 255), hue = static_cast<int>(h * 255 / 360);
    return (sat & 0xFF) << 16 | (light & 0xFF) << 8 | (hue & 0xFF);
}

COLORREF HslToRgb(int hsl) {
    int hue = hsl & 0xFF, light = (hsl >> 8) & 0xFF, sat = (hsl >> 16) & 0xFF;
    float s = sat / 255.0f;
    if (s == 0)
        return RGB(light, light, light);
    float l = light / 255.0f;
    float m2 = l <= 0.5f ? l * (1 + s) : l + s - l * s;
    float m1 = 2 * l - m2;
    float h = hue * 360 / 255.0f;
    int r = static_cast<int>(ChannelValue(m1, m2, h + 120) * 255);
    int g = static_cast<int>(ChannelValue(m1, m2, h) * 255);
    int b = static_cast<int>(ChannelValue(m1, m2, h - 120) * 255);
    return RGB(r, g, b);
}

COLORREF AdjustColor(COLORREF colour, int lightnessPercent, int saturationPercent) {
    int hsl = RgbToHsl(colour);
    int hue = hsl & 0xFF, light = (hsl >> 8) & 0xFF, sat = (hsl >> 16) & 0xFF;
    if (lightnessPercent > 0)
        light = static_cast<unsigned char>(light + (255 - light) * lightnessPercent / 100);
    else if (lightnessPercent < 0)
        light = static_cast<unsigned char>(light * (lightnessPercent + 100) / 100);
    if (saturationPercent < 0)
        sat = static_cast<unsigned char>(sat * (saturationPercent + 100) / 100);
    return HslToRgb(sat << 16 | light << 8 | hue);
}

BrushSelector::BrushSelector(HDC dc, COLORREF colour) : dc_(dc) {
    HGDIOBJ brush = GetStockObject(NULL_BRUSH);
    if (colour != static_cast<COLORREF>(-1)) {
        created_ = CreateSolidBrush(colour);
        if (created_)
            brush = created_;
    }
    previous_ = SelectObject(dc_, brush);
}

BrushSelector::~BrushSelector() {
    SelectObject(dc_, previous_);
    if (created_)
        DeleteObject(created_);
}

BoldSelector::BoldSelector(HDC dc, bool bold) : dc_(dc) {
    LOGFONTW font;
    HGDIOBJ current = GetCurrentObject(dc, OBJ_FONT);
    if (!current || GetObjectW(current, sizeof font, &font) != sizeof font)
        return;
    if (bold == (font.lfWeight == FW_BOLD))
        return;
    font.lfWeight = bold ? FW_BOLD : FW_NORMAL;
    created_ = CreateFontIndirectW(&font);
    if (created_)
        previous_ = SelectObject(dc_, created_);
}

BoldSelector::~BoldSelector() {
    if (!created_)
        return;
    SelectObject(dc_, previous_);
    DeleteObject(created_);
}

UINT PopupMenuAlign(int x, int y) {
    MONITORINFO info = {};
    info.cbSize = sizeof info;
    HMONITOR monitor = MonitorFromPoint(POINT{x, y}, MONITOR_DEFAULTTONEAREST);
    if (!monitor || !GetMonitorInfoW(monitor, &info))
        return TPM_RETURNCMD | TPM_VERTICAL;
    return PopupMenuAlignOn(x, y, info.rcMonitor);
}

// Measured from the monitor's own corner, so a monitor left of or above the primary one works.
UINT PopupMenuAlignOn(int x, int y, const RECT& monitor) {
    UINT flags = TPM_RETURNCMD | TPM_VERTICAL;
    if (x - monitor.left > (monitor.right - monitor.left) / 2)
        flags |= TPM_RIGHTALIGN;
    if (y - monitor.top > (monitor.bottom - monitor.top) / 2)
        flags |= TPM_BOTTOMALIGN;
    return flags;
}

bool GetWindowRectInParent(HWND window, RECT& rect) {
    HWND parent = GetAncestor(window, GA_PARENT);
    if (!parent)
        parent = GetDesktopWindow();
    POINT origin = {0, 0};
    if (!GetWindowRect(window, &rect) || !ClientToScreen(parent, &origin))
        return false;
    OffsetRect(&rect, -origin.x, -origin.y);
    return true;
}

void SetWindowIcons(HWND window, HINSTANCE module) {
    HANDLE big = LoadImageW(module, MAKEINTRESOURCEW(100), IMAGE_ICON, GetSystemMetrics(SM_CXICON),
                            GetSystemMetrics(SM_CYICON), LR_SHARED);
    HANDLE smallIcon = LoadImageW(module, MAKEINTRESOURCEW(100), IMAGE_ICON, GetSystemMetrics(SM_CXSMICON),
                              GetSystemMetrics(SM_CYSMICON), LR_SHARED);
    SendMessageW(window, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(big));
    SendMessageW(window, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(smallIcon));
}
