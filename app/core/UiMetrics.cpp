// UI measurements and drawing helpers shared by the main frame, the panel and the tab view.
#include "UiMetrics.h"

#include <common/Log.h>

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
