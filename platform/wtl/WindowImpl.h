// Window classes of our own: CWindowImpl (a window whose messages go through the object's message
// map), superclasses of existing classes, subclassing of existing windows, and contained windows
// (a child whose messages pass through an alternate map of its container first).
#pragma once

#include "wtl/MessageMap.h"
#include "wtl/Module.h"
#include "wtl/Thunk.h"
#include "wtl/Window.h"

namespace WTL {

// Registration data of one window class, registered at the first Create under the module lock.
// Owners may change wc (an icon, say) before that.
struct CWndClassInfo {
  WNDCLASSEXW wc;
  LPCWSTR origName;  // the base class of a superclass; null for a class of our own
  HINSTANCE origInstance;  // the module that registered the base class, when it is not global
  LPCWSTR cursorId;  // system cursor loaded when wc.hCursor is null
  WNDPROC origProc;  // the base class's procedure, for a superclass
  ATOM atom;
  wchar_t generatedName[40];

  // bkgndColor: a COLOR_ index, or -1 for no background brush.
  static CWndClassInfo Own(LPCWSTR name, UINT style, int bkgndColor);
  static CWndClassInfo Super(LPCWSTR name, LPCWSTR origName);
  // 0 on failure; superProc receives the procedure that unhandled messages go to.
  ATOM Register(WNDPROC startProc, WNDPROC* superProc);
};

}  // namespace WTL

// A null name gets a generated one. bkgnd is a COLOR_ index (the brush is bkgnd + 1) or -1.
#define DECLARE_WND_CLASS_EX(name, style, bkgnd)                                       \
  static WTL::CWndClassInfo& GetWndClassInfo() {                                      \
    static WTL::CWndClassInfo info = WTL::CWndClassInfo::Own((name), (style), (bkgnd)); \
    return info;                                                                      \
  }

#define DECLARE_WND_CLASS(name) DECLARE_WND_CLASS_EX(name, CS_HREDRAW | CS_VREDRAW | CS_DBLCLKS, COLOR_WINDOW)

#define DECLARE_WND_SUPERCLASS(name, origName)                                        \
  static WTL::CWndClassInfo& GetWndClassInfo() {                                      \
    static WTL::CWndClassInfo info = WTL::CWndClassInfo::Super((name), (origName));  \
    return info;                                                                      \
  }

namespace WTL {

template <class TBase = CWindow>
class CWindowImplRoot : public TBase, public CMessageMap {
public:
  // Runs after the window's last message (WM_NCDESTROY, or the outermost message being handled when
  // the window was destroyed inside it), when m_hWnd is already null. An object may delete itself
  // here. It also runs when creation fails after the window's first message.
  virtual void OnFinalMessage(HWND) {}
  const MSG* GetCurrentMessage() const { return m_pCurrentMsg; }

protected:
  WndProcThunk m_thunk;
  const MSG* m_pCurrentMsg = nullptr;
  int m_msgDepth = 0;
  bool m_destroyed = false;
};

template <class TBase = CWindow, class TWinTraits = CControlWinTraits>
class CWindowImplBaseT : public CWindowImplRoot<TBase> {
public:
  WNDPROC m_pfnSuperWindowProc = ::DefWindowProcW;

  CWindowImplBaseT() = default;
  CWindowImplBaseT(const CWindowImplBaseT&) = delete;
  CWindowImplBaseT& operator=(const CWindowImplBaseT&) = delete;
  // An object may go before its window: the window's later messages must not reach it.
  ~CWindowImplBaseT() {
    if (this->m_hWnd)
      this->m_thunk.ReleaseWindow(this->m_hWnd, m_pfnSuperWindowProc);
  }

  static DWORD GetWndStyle(DWORD style) { return TWinTraits::GetWndStyle(style); }
  static DWORD GetWndExStyle(DWORD exStyle) { return TWinTraits::GetWndExStyle(exStyle); }

  BOOL SubclassWindow(HWND hwnd);
  // Gives the window back its previous procedure; null when someone subclassed it after us (unless forced).
  HWND UnsubclassWindow(BOOL force = FALSE);

  LRESULT DefWindowProc(UINT msg, WPARAM wp, LPARAM lp) {
    return ::CallWindowProcW(m_pfnSuperWindowProc, this->m_hWnd, msg, wp, lp);
  }
  // The default processing of the message being handled.
  LRESULT DefWindowProc() {
    const MSG* m = this->m_pCurrentMsg;
    return m ? DefWindowProc(m->message, m->wParam, m->lParam) : 0;
  }

  static LRESULT CALLBACK StartWindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
  static LRESULT CALLBACK WindowProc(HWND self, UINT msg, WPARAM wp, LPARAM lp);

protected:
  HWND CreateWithClass(CWndClassInfo& info, HWND parent, const RECT* rc, LPCWSTR name, DWORD style,
                       DWORD exStyle, MenuOrId menu, LPVOID param);
};

template <class T, class TBase = CWindow, class TWinTraits = CControlWinTraits>
class CWindowImpl : public CWindowImplBaseT<TBase, TWinTraits> {
public:
  DECLARE_WND_CLASS(nullptr)

  // rc null: the system's default position and size. Style and extended style 0 take the traits'.
  HWND Create(HWND parent, const RECT* rc = nullptr, LPCWSTR name = nullptr, DWORD style = 0,
              DWORD exStyle = 0, MenuOrId menu = MenuOrId(), LPVOID param = nullptr) {
    return this->CreateWithClass(T::GetWndClassInfo(), parent, rc, name, T::GetWndStyle(style),
                                 T::GetWndExStyle(exStyle), menu, param);
  }
  HWND Create(HWND parent, const RECT& rc, LPCWSTR name = nullptr, DWORD style = 0, DWORD exStyle = 0,
              MenuOrId menu = MenuOrId(), LPVOID param = nullptr) {
    return Create(parent, &rc, name, style, exStyle, menu, param);
  }
};

template <class TBase, class TWinTraits>
HWND CWindowImplBaseT<TBase, TWinTraits>::CreateWithClass(CWndClassInfo& info, HWND parent, const RECT* rc,
                                                          LPCWSTR name, DWORD style, DWORD exStyle,
                                                          MenuOrId menu, LPVOID param) {
  if (this->m_hWnd)
    return nullptr;
  ATOM atom = info.Register(&StartWindowProc, &m_pfnSuperWindowProc);
  if (!atom)
    return nullptr;
  if (!this->m_thunk.Init(reinterpret_cast<void*>(&WindowProc), this)) {
    ::SetLastError(ERROR_OUTOFMEMORY);
    return nullptr;
  }
  this->m_destroyed = false;
  int x = CW_USEDEFAULT, y = CW_USEDEFAULT, w = CW_USEDEFAULT, h = CW_USEDEFAULT;
  if (rc) {
    x = rc->left;
    y = rc->top;
    w = rc->right - rc->left;
    h = rc->bottom - rc->top;
  }
  SetCreatingObject(this);
  HWND hwnd = ::CreateWindowExW(exStyle, MAKEINTATOM(atom), name, style, x, y, w, h, parent, menu.menu,
                                AppModule().GetModuleInstance(), param);
  TakeCreatingObject();
  return hwnd;
}

template <class TBase, class TWinTraits>
LRESULT CALLBACK CWindowImplBaseT<TBase, TWinTraits>::StartWindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  auto* self = static_cast<CWindowImplBaseT*>(TakeCreatingObject());
  if (!self)
    return ::DefWindowProcW(hwnd, msg, wp, lp);
  self->m_hWnd = hwnd;
  WNDPROC proc = self->m_thunk.GetWndProc();
  ::SetWindowLongPtrW(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(proc));
  return proc(hwnd, msg, wp, lp);
}

template <class TBase, class TWinTraits>
LRESULT CALLBACK CWindowImplBaseT<TBase, TWinTraits>::WindowProc(HWND selfArg, UINT msg, WPARAM wp, LPARAM lp) {
  auto* self = reinterpret_cast<CWindowImplBaseT*>(selfArg);
  HWND hwnd = self->m_hWnd;
  MSG current = {hwnd, msg, wp, lp, 0, {0, 0}};
  const MSG* outer = self->m_pCurrentMsg;
  self->m_pCurrentMsg = &current;
  ++self->m_msgDepth;
  LRESULT result = 0;
  BOOL handled = self->ProcessWindowMessage(hwnd, msg, wp, lp, result, 0);
  // The previous procedure always sees WM_NCDESTROY so that a subclassed control frees its data.
  if (!handled || msg == WM_NCDESTROY) {
    LRESULT def = ::CallWindowProcW(self->m_pfnSuperWindowProc, hwnd, msg, wp, lp);
    if (!handled)
      result = def;
  }
  --self->m_msgDepth;
  self->m_pCurrentMsg = outer;
  if (msg == WM_NCDESTROY)
    self->m_destroyed = true;
  // A window destroyed inside one of its own handlers is finished once the outermost returns,
  // so that OnFinalMessage may delete the object without pulling it from under a running handler.
  if (self->m_destroyed && self->m_msgDepth == 0) {
    self->m_destroyed = false;
    self->m_pfnSuperWindowProc = ::DefWindowProcW;
    self->m_hWnd = nullptr;
    self->OnFinalMessage(hwnd);
  }
  return result;
}

template <class TBase, class TWinTraits>
BOOL CWindowImplBaseT<TBase, TWinTraits>::SubclassWindow(HWND hwnd) {
  if (this->m_hWnd || !::IsWindow(hwnd))
    return FALSE;
  if (!this->m_thunk.Init(reinterpret_cast<void*>(&WindowProc), this)) {
    ::SetLastError(ERROR_OUTOFMEMORY);
    return FALSE;
  }
  WNDPROC previous = reinterpret_cast<WNDPROC>(
      ::SetWindowLongPtrW(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(this->m_thunk.GetWndProc())));
  if (!previous)
    return FALSE;
  m_pfnSuperWindowProc = previous;
  this->m_destroyed = false;
  this->m_hWnd = hwnd;
  return TRUE;
}

template <class TBase, class TWinTraits>
HWND CWindowImplBaseT<TBase, TWinTraits>::UnsubclassWindow(BOOL force) {
  HWND hwnd = this->m_hWnd;
  if (!hwnd || m_pfnSuperWindowProc == ::DefWindowProcW)
    return nullptr;
  LONG_PTR now = ::GetWindowLongPtrW(hwnd, GWLP_WNDPROC);
  if (now != reinterpret_cast<LONG_PTR>(this->m_thunk.GetWndProc()) && !force)
    return nullptr;
  ::SetWindowLongPtrW(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(m_pfnSuperWindowProc));
  m_pfnSuperWindowProc = ::DefWindowProcW;
  this->m_hWnd = nullptr;
  return hwnd;
}

// A child window owned by a container object: its messages go first to the container's map with
// the given map id (usually an ALT_MSG_MAP section), then to the window's own procedure.
template <class TBase = CWindow>
class CContainedWindowT : public TBase {
public:
  CMessageMap* m_pObject;
  DWORD m_dwMsgMapID;
  WNDPROC m_pfnSuperWindowProc = ::DefWindowProcW;

  explicit CContainedWindowT(CMessageMap* object = nullptr, DWORD mapId = 0)
      : m_pObject(object), m_dwMsgMapID(mapId) {}
  CContainedWindowT(const CContainedWindowT&) = delete;
  CContainedWindowT& operator=(const CContainedWindowT&) = delete;
  ~CContainedWindowT() {
    if (this->m_hWnd)
      m_thunk.ReleaseWindow(this->m_hWnd, m_pfnSuperWindowProc);
  }

  void SwitchMessageMap(DWORD mapId) { m_dwMsgMapID = mapId; }

  // Creates a window of an existing class and subclasses it; the map sees messages from then on,
  // so WM_CREATE goes to the class alone.
  HWND Create(LPCWSTR className, HWND parent, const RECT* rc = nullptr, LPCWSTR name = nullptr,
              DWORD style = WS_CHILD | WS_VISIBLE, DWORD exStyle = 0, MenuOrId menu = MenuOrId(),
              LPVOID param = nullptr) {
    if (this->m_hWnd)
      return nullptr;
    CWindow w;
    if (!w.Create(className, parent, rc, name, style, exStyle, menu, param))
      return nullptr;
    if (!SubclassWindow(w.m_hWnd)) {
      ::DestroyWindow(w.m_hWnd);
      return nullptr;
    }
    return this->m_hWnd;
  }

  BOOL SubclassWindow(HWND hwnd) {
    if (this->m_hWnd || !::IsWindow(hwnd))
      return FALSE;
    if (!m_thunk.Init(reinterpret_cast<void*>(&WindowProc), this)) {
      ::SetLastError(ERROR_OUTOFMEMORY);
      return FALSE;
    }
    WNDPROC previous = reinterpret_cast<WNDPROC>(
        ::SetWindowLongPtrW(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(m_thunk.GetWndProc())));
    if (!previous)
      return FALSE;
    m_pfnSuperWindowProc = previous;
    this->m_hWnd = hwnd;
    return TRUE;
  }

  HWND UnsubclassWindow(BOOL force = FALSE) {
    HWND hwnd = this->m_hWnd;
    if (!hwnd)
      return nullptr;
    LONG_PTR now = ::GetWindowLongPtrW(hwnd, GWLP_WNDPROC);
    if (now != reinterpret_cast<LONG_PTR>(m_thunk.GetWndProc()) && !force)
      return nullptr;
    ::SetWindowLongPtrW(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(m_pfnSuperWindowProc));
    m_pfnSuperWindowProc = ::DefWindowProcW;
    this->m_hWnd = nullptr;
    return hwnd;
  }

  LRESULT DefWindowProc(UINT msg, WPARAM wp, LPARAM lp) {
    return ::CallWindowProcW(m_pfnSuperWindowProc, this->m_hWnd, msg, wp, lp);
  }
  LRESULT DefWindowProc() {
    const MSG* m = m_pCurrentMsg;
    return m ? DefWindowProc(m->message, m->wParam, m->lParam) : 0;
  }

  static LRESULT CALLBACK WindowProc(HWND selfArg, UINT msg, WPARAM wp, LPARAM lp) {
    auto* self = reinterpret_cast<CContainedWindowT*>(selfArg);
    HWND hwnd = self->m_hWnd;
    MSG current = {hwnd, msg, wp, lp, 0, {0, 0}};
    const MSG* outer = self->m_pCurrentMsg;
    self->m_pCurrentMsg = &current;
    LRESULT result = 0;
    BOOL handled = self->m_pObject &&
                   self->m_pObject->ProcessWindowMessage(hwnd, msg, wp, lp, result, self->m_dwMsgMapID);
    if (!handled || msg == WM_NCDESTROY) {
      LRESULT def = ::CallWindowProcW(self->m_pfnSuperWindowProc, hwnd, msg, wp, lp);
      if (!handled)
        result = def;
    }
    self->m_pCurrentMsg = outer;
    if (msg == WM_NCDESTROY) {
      self->m_pfnSuperWindowProc = ::DefWindowProcW;
      self->m_hWnd = nullptr;
    }
    return result;
  }

private:
  WndProcThunk m_thunk;
  const MSG* m_pCurrentMsg = nullptr;
};

using CContainedWindow = CContainedWindowT<CWindow>;

}  // namespace WTL
