// Owner-drawn popup menus in a light style with icons: while a menu of the window is open its items
// are drawn by us (left band, highlight, check marks, pictures from an image list), and they get
// their own text and type back when the menu closes. T chains CCoolContextMenu<T>'s message map
// and may redefine GetMenuItemImage to choose each item's picture.
#pragma once

#include "wtl/MessageMap.h"

#include <commctrl.h>

#include <memory>
#include <string>
#include <vector>

namespace WTL {

// The part that does not depend on T: item records, measuring and drawing.
class CoolMenuCore {
public:
  enum { kImageWidth = 16, kImageHeight = 15, kBandWidth = 22, kButtonHeight = 21 };
  static constexpr COLORREF kMaskColor = RGB(192, 192, 192);

  struct Item {
    std::wstring text;
    UINT type;  // before it became owner-drawn
    UINT state;
    int image;
    ULONG_PTR data;  // the item data it had
  };
  using ImageChooser = int (*)(void* owner, HMENU menu, UINT pos, const MENUITEMINFOW& info);

  CoolMenuCore();
  ~CoolMenuCore();
  CoolMenuCore(const CoolMenuCore&) = delete;
  CoolMenuCore& operator=(const CoolMenuCore&) = delete;

  // Reads the system menu font and metrics.
  void GetSystemSettings();
  HFONT GetMenuFont() const { return font_; }
  void SetImageList(HIMAGELIST images) { images_ = images; }
  HIMAGELIST GetImageList() const { return images_; }

  void InitPopup(HMENU menu, void* owner, ImageChooser chooser);
  // The menus closed: every item gets its text, type and data back.
  void RestoreAll();
  size_t OpenMenuCount() const { return stack_.size(); }
  // False for items that are not ours (another owner-drawn control or menu).
  bool Measure(HWND hwnd, MEASUREITEMSTRUCT* mis);
  bool Draw(DRAWITEMSTRUCT* dis);
  const Item* Find(ULONG_PTR data) const;

private:
  HFONT font_ = nullptr;
  HIMAGELIST images_ = nullptr;
  std::vector<HMENU> stack_;
  std::vector<std::unique_ptr<Item>> items_;
};

template <class T>
class CCoolContextMenu {
public:
  void GetSystemSettings() { m_core.GetSystemSettings(); }
  void SetMenuImageList(HIMAGELIST images) { m_core.SetImageList(images); }
  CoolMenuCore& GetCoolMenu() { return m_core; }

  // The picture of an item, -1 for none; T may redefine it.
  int GetMenuItemImage(HMENU, UINT, const MENUITEMINFOW&) { return -1; }

  BEGIN_MSG_MAP(CCoolContextMenu)
    MESSAGE_HANDLER(WM_INITMENUPOPUP, OnInitMenuPopup)
    MESSAGE_HANDLER(WM_MENUSELECT, OnMenuSelect)
    MESSAGE_HANDLER(WM_MEASUREITEM, OnMeasureItem)
    MESSAGE_HANDLER(WM_DRAWITEM, OnDrawItem)
  END_MSG_MAP()

  LRESULT OnInitMenuPopup(UINT, WPARAM wParam, LPARAM lParam, BOOL& bHandled) {
    if (!HIWORD(lParam)) {
      if (!m_core.GetMenuFont())
        m_core.GetSystemSettings();
      m_core.InitPopup(reinterpret_cast<HMENU>(wParam), static_cast<T*>(this), &Choose);
    }
    bHandled = FALSE;
    return 0;
  }

  LRESULT OnMenuSelect(UINT, WPARAM wParam, LPARAM lParam, BOOL& bHandled) {
    if (HIWORD(wParam) == 0xFFFF && lParam == 0)
      m_core.RestoreAll();
    bHandled = FALSE;
    return 0;
  }

  LRESULT OnMeasureItem(UINT, WPARAM, LPARAM lParam, BOOL& bHandled) {
    auto* mis = reinterpret_cast<MEASUREITEMSTRUCT*>(lParam);
    HWND hwnd = static_cast<T*>(this)->m_hWnd;
    bHandled = mis->CtlType == ODT_MENU && m_core.Measure(hwnd, mis);
    return TRUE;
  }

  LRESULT OnDrawItem(UINT, WPARAM, LPARAM lParam, BOOL& bHandled) {
    auto* dis = reinterpret_cast<DRAWITEMSTRUCT*>(lParam);
    bHandled = dis->CtlType == ODT_MENU && m_core.Draw(dis);
    return TRUE;
  }

private:
  static int Choose(void* owner, HMENU menu, UINT pos, const MENUITEMINFOW& info) {
    return static_cast<T*>(owner)->GetMenuItemImage(menu, pos, info);
  }

  CoolMenuCore m_core;
};

}  // namespace WTL
