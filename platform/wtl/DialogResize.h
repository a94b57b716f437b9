// Dialog resizing: a resize map says which controls follow the dialog's width and height (size)
// and which keep their distance to the right or bottom edge (move). Chain the class's message map.
#pragma once

#include "wtl/MessageMap.h"

#include <vector>

namespace WTL {

enum : DWORD {
  DLSZ_SIZE_X = 0x01,
  DLSZ_SIZE_Y = 0x02,
  DLSZ_MOVE_X = 0x04,
  DLSZ_MOVE_Y = 0x08,
  DLSZ_REPAINT = 0x10,
};

struct DlgResizeEntry {
  int id;  // -1 ends the map
  DWORD flags;
};

template <class T>
class CDialogResize {
public:
  // Call from WM_INITDIALOG: the current client size and control places are the reference.
  // useMinTrackSize: the dialog cannot be made smaller than that size.
  void DlgResize_Init(bool useMinTrackSize = false) {
    HWND dlg = static_cast<T*>(this)->m_hWnd;
    RECT rc;
    ::GetClientRect(dlg, &rc);
    initial_ = {rc.right, rc.bottom};
    RECT wrc;
    ::GetWindowRect(dlg, &wrc);
    minTrack_ = {useMinTrackSize ? wrc.right - wrc.left : 0, useMinTrackSize ? wrc.bottom - wrc.top : 0};
    items_.clear();
    for (const DlgResizeEntry* e = T::GetDlgResizeMap(); e->id != -1; ++e) {
      HWND ctl = ::GetDlgItem(dlg, e->id);
      if (!ctl)
        continue;
      Item item = {e->id, e->flags, {}};
      ::GetWindowRect(ctl, &item.original);
      ::MapWindowPoints(nullptr, dlg, reinterpret_cast<POINT*>(&item.original), 2);
      items_.push_back(item);
    }
  }

  void DlgResize_UpdateLayout(int cx, int cy) {
    HWND dlg = static_cast<T*>(this)->m_hWnd;
    int dx = cx - initial_.cx, dy = cy - initial_.cy;
    HDWP dwp = ::BeginDeferWindowPos(static_cast<int>(items_.size()));
    for (const Item& item : items_) {
      HWND ctl = ::GetDlgItem(dlg, item.id);
      if (!ctl)
        continue;
      RECT r = item.original;
      if (item.flags & DLSZ_SIZE_X)
        r.right += dx;
      if (item.flags & DLSZ_MOVE_X) {
        r.left += dx;
        r.right += dx;
      }
      if (item.flags & DLSZ_SIZE_Y)
        r.bottom += dy;
      if (item.flags & DLSZ_MOVE_Y) {
        r.top += dy;
        r.bottom += dy;
      }
      if (r.right < r.left)
        r.right = r.left;
      if (r.bottom < r.top)
        r.bottom = r.top;
      UINT swp = SWP_NOZORDER | SWP_NOACTIVATE;
      if (dwp)
        dwp = ::DeferWindowPos(dwp, ctl, nullptr, r.left, r.top, r.right - r.left, r.bottom - r.top, swp);
      else
        ::SetWindowPos(ctl, nullptr, r.left, r.top, r.right - r.left, r.bottom - r.top, swp);
    }
    if (dwp)
      ::EndDeferWindowPos(dwp);
    for (const Item& item : items_) {
      if (item.flags & DLSZ_REPAINT)
        ::InvalidateRect(::GetDlgItem(dlg, item.id), nullptr, TRUE);
    }
  }

  BEGIN_MSG_MAP(CDialogResize)
    MESSAGE_HANDLER(WM_SIZE, OnSize)
    MESSAGE_HANDLER(WM_GETMINMAXINFO, OnGetMinMaxInfo)
  END_MSG_MAP()

  // Left unhandled so that the dialog's own WM_SIZE handling runs as well.
  LRESULT OnSize(UINT, WPARAM wParam, LPARAM lParam, BOOL& bHandled) {
    if (wParam != SIZE_MINIMIZED && !items_.empty())
      DlgResize_UpdateLayout(LOWORD(lParam), HIWORD(lParam));
    bHandled = FALSE;
    return 0;
  }

  LRESULT OnGetMinMaxInfo(UINT, WPARAM, LPARAM lParam, BOOL& bHandled) {
    if (minTrack_.x > 0) {
      auto* mmi = reinterpret_cast<MINMAXINFO*>(lParam);
      mmi->ptMinTrackSize = minTrack_;
      return 0;
    }
    bHandled = FALSE;
    return 0;
  }

private:
  struct Item {
    int id;
    DWORD flags;
    RECT original;
  };
  std::vector<Item> items_;
  SIZE initial_ = {0, 0};
  POINT minTrack_ = {0, 0};
};

}  // namespace WTL

#define BEGIN_DLGRESIZE_MAP(thisClass)                   \
  static const WTL::DlgResizeEntry* GetDlgResizeMap() { \
    static const WTL::DlgResizeEntry map[] = {
#define DLGRESIZE_CONTROL(id, flags) {(id), (flags)},
#define END_DLGRESIZE_MAP() \
  {-1, 0}                   \
  }                         \
  ;                         \
  return map;               \
  }
