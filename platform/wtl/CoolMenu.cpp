// Measuring and drawing of the owner-drawn menus.
#define OEMRESOURCE  // OBM_CHECK
#include "wtl/CoolMenu.h"

#include "common/Hsl.h"

#include <algorithm>
#include <cstdlib>

namespace WTL {

namespace {

COLORREF Sys(int index) { return ::GetSysColor(index); }

void Fill(HDC dc, const RECT& rc, COLORREF color) {
  HBRUSH brush = ::CreateSolidBrush(color);
  ::FillRect(dc, &rc, brush);
  ::DeleteObject(brush);
}

void FramedFill(HDC dc, const RECT& rc, COLORREF border, COLORREF inside) {
  Fill(dc, rc, border);
  RECT in = {rc.left + 1, rc.top + 1, rc.right - 1, rc.bottom - 1};
  if (in.right > in.left && in.bottom > in.top)
    Fill(dc, in, inside);
}

HFONT BoldCopy(HFONT font) {
  LOGFONTW lf;
  if (!::GetObjectW(font, sizeof(lf), &lf))
    return nullptr;
  lf.lfWeight += 200;
  return ::CreateFontIndirectW(&lf);
}

void SplitText(const std::wstring& text, std::wstring& label, std::wstring& accel) {
  size_t tab = text.find(L'\t');
  label = text.substr(0, tab);
  accel = tab == std::wstring::npos ? std::wstring() : text.substr(tab + 1);
}

int TextWidth(HDC dc, const std::wstring& s) {
  SIZE size = {0, 0};
  if (!s.empty())
    ::GetTextExtentPoint32W(dc, s.c_str(), static_cast<int>(s.size()), &size);
  return size.cx;
}

}  // namespace

CoolMenuCore::CoolMenuCore() = default;

CoolMenuCore::~CoolMenuCore() {
  RestoreAll();
  if (font_)
    ::DeleteObject(font_);
}

void CoolMenuCore::GetSystemSettings() {
  NONCLIENTMETRICSW ncm = {};
  ncm.cbSize = sizeof(ncm);
  if (!::SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(ncm), &ncm, 0))
    return;
  HFONT font = ::CreateFontIndirectW(&ncm.lfMenuFont);
  if (!font)
    return;
  if (font_)
    ::DeleteObject(font_);
  font_ = font;
}

const CoolMenuCore::Item* CoolMenuCore::Find(ULONG_PTR data) const {
  for (const auto& item : items_) {
    if (reinterpret_cast<ULONG_PTR>(item.get()) == data)
      return item.get();
  }
  return nullptr;
}

void CoolMenuCore::InitPopup(HMENU menu, void* owner, ImageChooser chooser) {
  int count = ::GetMenuItemCount(menu);
  if (count <= 0)
    return;
  for (int pos = 0; pos < count; ++pos) {
    wchar_t text[100] = {};
    MENUITEMINFOW info = {};
    info.cbSize = sizeof(info);
    info.fMask = MIIM_FTYPE | MIIM_STATE | MIIM_ID | MIIM_SUBMENU | MIIM_DATA | MIIM_STRING;
    info.dwTypeData = text;
    info.cch = 99;
    if (!::GetMenuItemInfoW(menu, pos, TRUE, &info) || (info.fType & MFT_OWNERDRAW))
      continue;
    auto item = std::make_unique<Item>();
    item->text = (info.fType & MFT_SEPARATOR) ? std::wstring() : std::wstring(text);
    item->type = info.fType;
    item->state = info.fState;
    item->data = info.dwItemData;
    item->image = (info.fType & MFT_SEPARATOR) || !chooser ? -1 : chooser(owner, menu, pos, info);
    MENUITEMINFOW set = {};
    set.cbSize = sizeof(set);
    set.fMask = MIIM_FTYPE | MIIM_DATA;
    set.fType = info.fType | MFT_OWNERDRAW;
    set.dwItemData = reinterpret_cast<ULONG_PTR>(item.get());
    if (::SetMenuItemInfoW(menu, pos, TRUE, &set))
      items_.push_back(std::move(item));
  }
  if (std::find(stack_.begin(), stack_.end(), menu) == stack_.end())
    stack_.push_back(menu);
}

void CoolMenuCore::RestoreAll() {
  for (HMENU menu : stack_) {
    if (!::IsMenu(menu))
      continue;
    for (int pos = 0, n = ::GetMenuItemCount(menu); pos < n; ++pos) {
      MENUITEMINFOW info = {};
      info.cbSize = sizeof(info);
      info.fMask = MIIM_FTYPE | MIIM_DATA;
      if (!::GetMenuItemInfoW(menu, pos, TRUE, &info) || !(info.fType & MFT_OWNERDRAW))
        continue;
      const Item* item = Find(info.dwItemData);
      if (!item)
        continue;
      MENUITEMINFOW set = {};
      set.cbSize = sizeof(set);
      set.fMask = MIIM_FTYPE | MIIM_DATA;
      set.fType = item->type;
      set.dwItemData = item->data;
      if (!(item->type & MFT_SEPARATOR)) {
        set.fMask |= MIIM_STRING;
        set.dwTypeData = const_cast<LPWSTR>(item->text.c_str());
      }
      ::SetMenuItemInfoW(menu, pos, TRUE, &set);
    }
  }
  stack_.clear();
  items_.clear();
}

bool CoolMenuCore::Measure(HWND hwnd, MEASUREITEMSTRUCT* mis) {
  const Item* item = Find(mis->itemData);
  if (!item)
    return false;
  if (item->type & MFT_SEPARATOR) {
    mis->itemHeight = ::GetSystemMetrics(SM_CYMENU) / 2;
    mis->itemWidth = 0;
    return true;
  }
  HFONT font = font_ ? font_ : static_cast<HFONT>(::GetStockObject(DEFAULT_GUI_FONT));
  LOGFONTW lf = {};
  ::GetObjectW(font, sizeof(lf), &lf);
  mis->itemHeight = std::abs(lf.lfHeight) + 10;
  HDC dc = ::GetDC(hwnd);
  HFONT bold = (item->state & MFS_DEFAULT) ? BoldCopy(font) : nullptr;
  HGDIOBJ old = ::SelectObject(dc, bold ? bold : font);
  std::wstring label, accel;
  SplitText(item->text, label, accel);
  // The accelerator, drawn right-aligned 12 pixels from the edge, needs its width and that gap.
  int extra = accel.empty() ? 0 : TextWidth(dc, accel) + 12;
  int width = TextWidth(dc, label) + 2 * kBandWidth + extra + 6 - ::GetSystemMetrics(SM_CXMENUCHECK);
  ::SelectObject(dc, old);
  if (bold)
    ::DeleteObject(bold);
  ::ReleaseDC(hwnd, dc);
  mis->itemWidth = width > 0 ? width : 0;
  return true;
}

bool CoolMenuCore::Draw(DRAWITEMSTRUCT* dis) {
  const Item* item = Find(dis->itemData);
  if (!item)
    return false;
  HDC dc = dis->hDC;
  RECT rc = dis->rcItem;
  UINT st = dis->itemState;
  bool grayed = (st & (ODS_GRAYED | ODS_DISABLED)) != 0;
  bool selected = (st & ODS_SELECTED) != 0;
  bool checked = (st & ODS_CHECKED) != 0;
  COLORREF face = Sys(COLOR_BTNFACE), highlight = Sys(COLOR_HIGHLIGHT);

  if (!selected || grayed) {
    RECT band = {rc.left, rc.top, std::min<LONG>(rc.left + kBandWidth, rc.right), rc.bottom};
    RECT rest = {band.right, rc.top, rc.right, rc.bottom};
    Fill(dc, band, AdjustColor(face, 20, 0));
    Fill(dc, rest, AdjustColor(face, 75, 0));
  } else {
    FramedFill(dc, rc, highlight, AdjustColor(highlight, 70, -57));
  }

  if (item->type & MFT_SEPARATOR) {
    RECT line = {rc.left, rc.top + (rc.bottom - rc.top) / 2, rc.right, rc.bottom};
    ::DrawEdge(dc, &line, EDGE_ETCHED, BF_TOP);
    return true;
  }

  HFONT font = font_ ? font_ : static_cast<HFONT>(::GetStockObject(DEFAULT_GUI_FONT));
  HFONT bold = (st & ODS_DEFAULT) ? BoldCopy(font) : nullptr;
  HGDIOBJ oldFont = ::SelectObject(dc, bold ? bold : font);
  ::SetBkMode(dc, TRANSPARENT);
  ::SetTextColor(dc, grayed ? AdjustColor(face, -18, 0) : Sys(COLOR_MENUTEXT));
  std::wstring label, accel;
  SplitText(item->text, label, accel);
  RECT text = {rc.left + 16 + 14, rc.top, rc.right, rc.bottom};
  ::DrawTextW(dc, label.c_str(), static_cast<int>(label.size()), &text, DT_LEFT | DT_VCENTER | DT_SINGLELINE);
  if (!accel.empty()) {
    RECT right = {rc.left, rc.top, rc.right - 12, rc.bottom};
    ::DrawTextW(dc, accel.c_str(), static_cast<int>(accel.size()), &right, DT_RIGHT | DT_VCENTER | DT_SINGLELINE);
  }
  ::SelectObject(dc, oldFont);
  if (bold)
    ::DeleteObject(bold);

  if (checked) {
    RECT box = {rc.left + 1, rc.top + 1, rc.left + 20, rc.bottom - 1};
    COLORREF inside = grayed ? AdjustColor(face, 73, 0)
                             : selected ? AdjustColor(highlight, 50, -50) : AdjustColor(highlight, 70, -57);
    FramedFill(dc, box, highlight, inside);
  }

  if (item->image >= 0 && images_) {
    HICON icon = ImageList_GetIcon(images_, item->image, ILD_TRANSPARENT);
    if (icon) {
      if (grayed || (selected && !checked)) {
        COLORREF shape = grayed ? AdjustColor(face, -27, 0) : AdjustColor(highlight, 50, -66);
        HBRUSH brush = ::CreateSolidBrush(shape);
        int dx = grayed ? 3 : 4, dy = grayed ? 4 : 5;
        ::DrawStateW(dc, brush, nullptr, reinterpret_cast<LPARAM>(icon), 0, rc.left + dx, rc.top + dy, 0, 0,
                     DST_ICON | DSS_MONO);
        ::DeleteObject(brush);
      }
      if (!grayed) {
        bool raised = selected && !checked;
        ::DrawIconEx(dc, rc.left + (raised ? 2 : 3), rc.top + (raised ? 3 : 4), icon, 0, 0, 0, nullptr, DI_NORMAL);
      }
      ::DestroyIcon(icon);
    }
  } else if (checked) {
    HBITMAP mark = ::LoadBitmapW(nullptr, MAKEINTRESOURCEW(OBM_CHECK));
    if (mark) {
      ::DrawStateW(dc, nullptr, nullptr, reinterpret_cast<LPARAM>(mark), 0, rc.left + 5, rc.top + 3, 0, 0, DST_BITMAP);
      ::DeleteObject(mark);
    }
  }
  return true;
}

}  // namespace WTL
