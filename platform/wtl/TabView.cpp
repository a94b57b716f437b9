// The tab view's page records and layout.
#include "wtl/TabView.h"

namespace WTL {

std::wstring TabViewCore::ShownTitle(const std::wstring& title) {
  if (title.size() <= kTitleLength)
    return title;
  return title.substr(0, kTitleLength - 3) + L"...";
}

TabViewCore::Page* TabViewCore::PageAt(HWND tab, int index) {
  if (!tab || index < 0)
    return nullptr;
  TCITEMW item = {};
  item.mask = TCIF_PARAM;
  if (!TabCtrl_GetItem(tab, index, &item))
    return nullptr;
  return reinterpret_cast<Page*>(item.lParam);
}

bool TabViewCore::Insert(HWND tab, int index, HWND page, LPCWSTR title, int image, LPVOID data) {
  auto* record = new Page{page, title ? title : L"", data};
  std::wstring shown = ShownTitle(record->title);
  TCITEMW item = {};
  item.mask = TCIF_TEXT | TCIF_IMAGE | TCIF_PARAM;
  item.pszText = const_cast<LPWSTR>(shown.c_str());
  item.iImage = image;
  item.lParam = reinterpret_cast<LPARAM>(record);
  if (TabCtrl_InsertItem(tab, index, &item) < 0) {
    delete record;
    return false;
  }
  ::ShowWindow(page, SW_HIDE);
  return true;
}

void TabViewCore::Remove(HWND tab, int index) {
  Page* record = PageAt(tab, index);
  TabCtrl_DeleteItem(tab, index);
  if (!record)
    return;
  // A page running on a thread of its own cannot be destroyed from here; it closes itself.
  if (::IsWindow(record->hwnd)) {
    if (::GetWindowThreadProcessId(record->hwnd, nullptr) == ::GetCurrentThreadId())
      ::DestroyWindow(record->hwnd);
    else
      ::PostMessageW(record->hwnd, WM_CLOSE, 0, 0);
  }
  delete record;
}

RECT TabViewCore::PageArea(HWND view, HWND tab) {
  RECT rc;
  ::GetClientRect(view, &rc);
  RECT display = rc;
  TabCtrl_AdjustRect(tab, FALSE, &display);
  RECT area = rc;
  area.top = display.top > rc.top ? display.top : rc.top;
  if (area.top > area.bottom)
    area.top = area.bottom;
  return area;
}

void TabViewCore::ShowOnly(HWND, HWND tab, int active, const RECT& area) {
  for (int i = 0, n = TabCtrl_GetItemCount(tab); i < n; ++i) {
    Page* p = PageAt(tab, i);
    if (!p || i == active)
      continue;
    ::ShowWindow(p->hwnd, SW_HIDE);
  }
  Page* p = PageAt(tab, active);
  if (p) {
    ::SetWindowPos(p->hwnd, HWND_TOP, area.left, area.top, area.right - area.left, area.bottom - area.top,
                   SWP_NOACTIVATE | SWP_SHOWWINDOW);
  }
}

int TabViewCore::HitTest(HWND tab, POINT screen) {
  TCHITTESTINFO hit = {screen, 0};
  ::ScreenToClient(tab, &hit.pt);
  return TabCtrl_HitTest(tab, &hit);
}

POINT TabViewCore::ItemCorner(HWND tab, int index) {
  RECT rc = {0, 0, 0, 0};
  TabCtrl_GetItemRect(tab, index, &rc);
  POINT pt = {rc.left, rc.bottom};
  ::ClientToScreen(tab, &pt);
  return pt;
}

}  // namespace WTL
