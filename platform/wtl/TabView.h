// The tab view: a tab strip over a page area. Each tab carries a page window, its full title and
// a data pointer; the active page is shown, the others hidden. The parent hears TBVN_PAGEACTIVATED
// after every change of the active page. The tab control's messages pass through T's alternate
// map 1 first, so T can observe the mouse on the strip; T may redefine OnTabContextMenu.
#pragma once

#include "wtl/WindowImpl.h"

#include <commctrl.h>

#include <string>

#define TBVN_PAGEACTIVATED (0U - 741U)

namespace WTL {

// The part of the tab view that does not depend on T.
class TabViewCore {
public:
  enum { kTitleLength = 30 };
  // The text a tab shows for a title: at most kTitleLength characters, "..." ending a shortened one.
  static std::wstring ShownTitle(const std::wstring& title);

  struct Page {
    HWND hwnd;
    std::wstring title;
    LPVOID data;
  };

  static Page* PageAt(HWND tab, int index);
  static bool Insert(HWND tab, int index, HWND page, LPCWSTR title, int image, LPVOID data);
  // Removes the tab and its record; destroys the page window (or asks its own thread to close it).
  static void Remove(HWND tab, int index);
  static void ShowOnly(HWND view, HWND tab, int active, const RECT& pageArea);
  static RECT PageArea(HWND view, HWND tab);
  static int HitTest(HWND tab, POINT screen);
  static POINT ItemCorner(HWND tab, int index);
};

template <class T>
class CTabViewImpl : public CWindowImpl<T> {
public:
  CTabViewImpl() : m_tab(this, 1) {}
  ~CTabViewImpl() = default;

  // Called by the default WM_CREATE; T may call it earlier from its own handler.
  bool CreateTabControl() {
    if (m_tab.m_hWnd)
      return true;
    RECT rc;
    this->GetClientRect(&rc);
    if (!m_tab.Create(WC_TABCONTROLW, this->m_hWnd, &rc, nullptr,
                      WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | TCS_FOCUSNEVER | TCS_TOOLTIPS, 0, 1)) {
      return false;
    }
    HFONT font = this->GetFont();
    if (font)
      m_tab.SetFont(font, FALSE);
    return true;
  }

  HWND GetTabCtrl() const { return m_tab.m_hWnd; }
  void SetImageList(HIMAGELIST images) { TabCtrl_SetImageList(m_tab.m_hWnd, images); }

  int GetPageCount() const { return m_tab.m_hWnd ? TabCtrl_GetItemCount(m_tab.m_hWnd) : 0; }
  int GetActivePage() const { return m_active; }
  bool IsValidPageIndex(int i) const { return i >= 0 && i < GetPageCount(); }

  // Appends a page and makes it active.
  bool AddPage(HWND page, LPCWSTR title, int image = -1, LPVOID data = nullptr) {
    return InsertPage(GetPageCount(), page, title, image, data);
  }

  bool InsertPage(int index, HWND page, LPCWSTR title, int image = -1, LPVOID data = nullptr) {
    if (!CreateTabControl() || !::IsWindow(page) || index < 0 || index > GetPageCount())
      return false;
    if (!TabViewCore::Insert(m_tab.m_hWnd, index, page, title, image, data))
      return false;
    if (m_active >= index)
      ++m_active;
    UpdateLayout();
    SetActivePage(index);
    return true;
  }

  // Destroys the page window; a neighbour becomes active when it was the active one.
  void RemovePage(int index) {
    if (!IsValidPageIndex(index))
      return;
    bool wasActive = index == m_active;
    TabViewCore::Remove(m_tab.m_hWnd, index);
    int count = GetPageCount();
    if (wasActive) {
      m_active = -1;
      if (count > 0)
        SetActivePage(index < count ? index : count - 1);
      else
        NotifyActivated();
    } else if (index < m_active) {
      --m_active;
      TabCtrl_SetCurSel(m_tab.m_hWnd, m_active);
    }
  }

  void RemoveAllPages() {
    while (GetPageCount() > 0)
      TabViewCore::Remove(m_tab.m_hWnd, GetPageCount() - 1);
    if (m_active != -1) {
      m_active = -1;
      NotifyActivated();
    }
  }

  // Hides the old page, shows the new one with redraw suspended meanwhile, gives it the focus
  // and tells the parent.
  void SetActivePage(int index) {
    if (!IsValidPageIndex(index) || index == m_active)
      return;
    this->SetRedraw(FALSE);
    m_active = index;
    TabCtrl_SetCurSel(m_tab.m_hWnd, index);
    TabViewCore::ShowOnly(this->m_hWnd, m_tab.m_hWnd, index, TabViewCore::PageArea(this->m_hWnd, m_tab.m_hWnd));
    this->SetRedraw(TRUE);
    ::RedrawWindow(this->m_hWnd, nullptr, nullptr, RDW_ERASE | RDW_FRAME | RDW_INVALIDATE | RDW_ALLCHILDREN);
    // A page running on a thread of its own takes the focus when the user clicks it.
    HWND page = GetPageHWND(index);
    if (page && ::GetWindowThreadProcessId(page, nullptr) == ::GetCurrentThreadId())
      ::SetFocus(page);
    NotifyActivated();
  }

  HWND GetPageHWND(int index) const {
    auto* p = TabViewCore::PageAt(m_tab.m_hWnd, index);
    return p ? p->hwnd : nullptr;
  }
  LPCWSTR GetPageTitle(int index) const {
    auto* p = TabViewCore::PageAt(m_tab.m_hWnd, index);
    return p ? p->title.c_str() : nullptr;
  }
  bool SetPageTitle(int index, LPCWSTR title) {
    auto* p = TabViewCore::PageAt(m_tab.m_hWnd, index);
    if (!p)
      return false;
    p->title = title ? title : L"";
    std::wstring shown = TabViewCore::ShownTitle(p->title);
    TCITEMW item = {};
    item.mask = TCIF_TEXT;
    item.pszText = const_cast<LPWSTR>(shown.c_str());
    return TabCtrl_SetItem(m_tab.m_hWnd, index, &item) != FALSE;
  }
  LPVOID GetPageData(int index) const {
    auto* p = TabViewCore::PageAt(m_tab.m_hWnd, index);
    return p ? p->data : nullptr;
  }
  bool SetPageData(int index, LPVOID data) {
    auto* p = TabViewCore::PageAt(m_tab.m_hWnd, index);
    if (!p)
      return false;
    p->data = data;
    return true;
  }
  int GetPageImage(int index) const {
    TCITEMW item = {};
    item.mask = TCIF_IMAGE;
    return TabCtrl_GetItem(m_tab.m_hWnd, index, &item) ? item.iImage : -1;
  }
  bool SetPageImage(int index, int image) {
    TCITEMW item = {};
    item.mask = TCIF_IMAGE;
    item.iImage = image;
    return TabCtrl_SetItem(m_tab.m_hWnd, index, &item) != FALSE;
  }
  int PageIndexFromHwnd(HWND page) const {
    for (int i = 0, n = GetPageCount(); i < n; ++i) {
      if (GetPageHWND(i) == page)
        return i;
    }
    return -1;
  }

  void UpdateLayout() {
    if (!m_tab.m_hWnd)
      return;
    RECT rc;
    this->GetClientRect(&rc);
    RECT area = TabViewCore::PageArea(this->m_hWnd, m_tab.m_hWnd);
    ::SetWindowPos(m_tab.m_hWnd, nullptr, 0, 0, rc.right, area.top, SWP_NOZORDER | SWP_NOACTIVATE);
    HWND page = GetPageHWND(m_active);
    if (page) {
      ::SetWindowPos(page, nullptr, area.left, area.top, area.right - area.left, area.bottom - area.top,
                     SWP_NOZORDER | SWP_NOACTIVATE);
    }
  }

  // A context menu asked for on a tab: the page under the mouse, or for the keyboard (Shift+F10)
  // the active page with the point at the left-bottom corner of its tab. Screen coordinates.
  void OnTabContextMenu(int page, POINT screen) {}

  BEGIN_MSG_MAP(CTabViewImpl)
    MESSAGE_HANDLER(WM_CREATE, OnCreate)
    MESSAGE_HANDLER(WM_DESTROY, OnDestroy)
    MESSAGE_HANDLER(WM_SIZE, OnSize)
    MESSAGE_HANDLER(WM_SETFONT, OnSetFont)
    MESSAGE_HANDLER(WM_GETFONT, OnGetFont)
    MESSAGE_HANDLER(WM_SETFOCUS, OnSetFocus)
    MESSAGE_HANDLER(WM_CONTEXTMENU, OnContextMenu)
    MESSAGE_HANDLER(WM_NOTIFY, OnNotify)
  ALT_MSG_MAP(1)
  END_MSG_MAP()

  LRESULT OnCreate(UINT, WPARAM, LPARAM, BOOL& bHandled) {
    if (!CreateTabControl())
      return -1;
    // Left unhandled so that T's own WM_CREATE handling runs as well.
    bHandled = FALSE;
    return 0;
  }

  LRESULT OnDestroy(UINT, WPARAM, LPARAM, BOOL& bHandled) {
    RemoveAllPages();
    bHandled = FALSE;
    return 0;
  }

  LRESULT OnSize(UINT, WPARAM, LPARAM, BOOL& bHandled) {
    UpdateLayout();
    bHandled = FALSE;
    return 0;
  }

  LRESULT OnSetFont(UINT, WPARAM wParam, LPARAM lParam, BOOL&) {
    m_font = reinterpret_cast<HFONT>(wParam);
    if (m_tab.m_hWnd) {
      m_tab.SetFont(m_font, LOWORD(lParam));
      UpdateLayout();
    }
    return 0;
  }

  LRESULT OnGetFont(UINT, WPARAM, LPARAM, BOOL&) { return reinterpret_cast<LRESULT>(m_font); }

  LRESULT OnSetFocus(UINT, WPARAM, LPARAM, BOOL& bHandled) {
    HWND page = GetPageHWND(m_active);
    if (page && ::GetWindowThreadProcessId(page, nullptr) == ::GetCurrentThreadId())
      ::SetFocus(page);
    else
      bHandled = FALSE;
    return 0;
  }

  LRESULT OnContextMenu(UINT, WPARAM wParam, LPARAM lParam, BOOL& bHandled) {
    // The strip never takes the focus, so Shift+F10 arrives from the active page, passed up by it.
    HWND from = reinterpret_cast<HWND>(wParam);
    bool keyboardOnPage = lParam == -1 && from && from == GetPageHWND(m_active);
    if (from != m_tab.m_hWnd && !keyboardOnPage) {
      bHandled = FALSE;
      return 0;
    }
    int page;
    POINT pt;
    if (lParam == -1) {
      page = m_active;
      pt = TabViewCore::ItemCorner(m_tab.m_hWnd, page);
    } else {
      pt = {static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
      page = TabViewCore::HitTest(m_tab.m_hWnd, pt);
    }
    if (page >= 0)
      static_cast<T*>(this)->OnTabContextMenu(page, pt);
    return 0;
  }

  LRESULT OnNotify(UINT, WPARAM, LPARAM lParam, BOOL& bHandled) {
    auto* hdr = reinterpret_cast<NMHDR*>(lParam);
    if (hdr->hwndFrom == m_tab.m_hWnd && hdr->code == static_cast<UINT>(TCN_SELCHANGE)) {
      SetActivePage(TabCtrl_GetCurSel(m_tab.m_hWnd));
      return 0;
    }
    bHandled = FALSE;
    return 0;
  }

  HFONT GetFont() const { return m_font; }

protected:
  void NotifyActivated() {
    NMHDR hdr = {this->m_hWnd, static_cast<UINT_PTR>(this->GetDlgCtrlID()), TBVN_PAGEACTIVATED};
    ::SendMessageW(this->GetParent(), WM_NOTIFY, hdr.idFrom, reinterpret_cast<LPARAM>(&hdr));
  }

  CContainedWindowT<CWindow> m_tab;
  int m_active = -1;
  HFONT m_font = nullptr;
};

class CTabView : public CTabViewImpl<CTabView> {
public:
  DECLARE_WND_CLASS_EX(L"Vx.TabView", 0, COLOR_APPWORKSPACE)
};

}  // namespace WTL
