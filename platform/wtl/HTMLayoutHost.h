// The engine window in the window layer: CHTMLayoutCtrlT is a window handle of the engine's class
// with the document calls on it, CHTMLayoutHost<T> the owner that receives a window's
// notifications (T derives from htmlayout::notification_handler<T>). Users link HTMLayout.dll.
#pragma once

#include <htmlayout.h>
#include <htmlayout_dom.h>
#include <htmlayout_handlers.h>

#include "wtl/Window.h"

namespace WTL {

template <class TBase = CWindow>
class CHTMLayoutCtrlT : public TBase {
public:
  CHTMLayoutCtrlT(HWND hwnd = nullptr) : TBase(hwnd) {}

  // Asked of the engine once: the name is the engine's for the life of the process.
  static LPCWSTR GetWndClassName() {
    static LPCWSTR name = HTMLayoutClassNameW();
    return name;
  }

  HWND Create(HWND parent, const RECT* rc, int id, DWORD style = WS_CHILD | WS_VISIBLE, DWORD exStyle = 0) {
    return TBase::Create(GetWndClassName(), parent, rc, nullptr, style, exStyle, MenuOrId(id));
  }

  bool SetMediaType(LPCWSTR media) { return HTMLayoutSetMediaType(this->m_hWnd, media) != FALSE; }
  // The engine takes at most 4 GB in one call; larger pages are refused, never cut.
  bool LoadHtml(const void* utf8, size_t size) {
    if (static_cast<unsigned long long>(size) > 0xFFFFFFFFull)
      return false;
    return HTMLayoutLoadHtml(this->m_hWnd, static_cast<const BYTE*>(utf8), static_cast<UINT>(size)) != FALSE;
  }
  htmlayout::dom::element GetRootElement() const { return htmlayout::dom::element::root_element(this->m_hWnd); }
};

using CHTMLayoutCtrl = CHTMLayoutCtrlT<CWindow>;

template <class T>
class CHTMLayoutHost {
public:
  // From now on the engine window's notifications reach T: a dialog calls this for its engine
  // control, a view whose own window is an engine window for itself.
  void SetupHost(HWND engine) { static_cast<T*>(this)->setup_callback(engine); }
};

}  // namespace WTL
