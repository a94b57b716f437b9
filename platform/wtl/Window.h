// CWindow: a thin handle wrapper with the helpers the user interface calls, and the window traits
// (default styles) that window classes declare.
#pragma once

#include <windows.h>

#include <string>

namespace WTL {

// A menu handle for top-level windows or a control id for child windows, in one parameter.
struct MenuOrId {
  HMENU menu;
  MenuOrId(HMENU m = nullptr) : menu(m) {}
  MenuOrId(UINT id) : menu(reinterpret_cast<HMENU>(static_cast<UINT_PTR>(id))) {}
  MenuOrId(int id) : menu(reinterpret_cast<HMENU>(static_cast<INT_PTR>(id))) {}
};

class CWindow {
public:
  HWND m_hWnd = nullptr;

  CWindow(HWND hwnd = nullptr) : m_hWnd(hwnd) {}
  CWindow& operator=(HWND hwnd) { m_hWnd = hwnd; return *this; }
  operator HWND() const { return m_hWnd; }

  void Attach(HWND hwnd) { m_hWnd = hwnd; }
  HWND Detach() { HWND h = m_hWnd; m_hWnd = nullptr; return h; }

  // rc null: CW_USEDEFAULT position and size.
  HWND Create(LPCWSTR className, HWND parent, const RECT* rc = nullptr, LPCWSTR name = nullptr,
              DWORD style = 0, DWORD exStyle = 0, MenuOrId menu = MenuOrId(), LPVOID param = nullptr);
  BOOL DestroyWindow();

  BOOL IsWindow() const { return ::IsWindow(m_hWnd); }
  BOOL IsWindowVisible() const { return ::IsWindowVisible(m_hWnd); }
  BOOL IsWindowEnabled() const { return ::IsWindowEnabled(m_hWnd); }
  BOOL IsIconic() const { return ::IsIconic(m_hWnd); }

  LRESULT SendMessage(UINT msg, WPARAM wp = 0, LPARAM lp = 0) const { return ::SendMessageW(m_hWnd, msg, wp, lp); }
  BOOL PostMessage(UINT msg, WPARAM wp = 0, LPARAM lp = 0) const { return ::PostMessageW(m_hWnd, msg, wp, lp); }

  DWORD GetStyle() const { return static_cast<DWORD>(::GetWindowLongPtrW(m_hWnd, GWL_STYLE)); }
  DWORD GetExStyle() const { return static_cast<DWORD>(::GetWindowLongPtrW(m_hWnd, GWL_EXSTYLE)); }
  BOOL ModifyStyle(DWORD remove, DWORD add, UINT swpFlags = 0);
  BOOL ModifyStyleEx(DWORD remove, DWORD add, UINT swpFlags = 0);

  HWND GetParent() const { return ::GetParent(m_hWnd); }
  HWND GetDlgItem(int id) const { return ::GetDlgItem(m_hWnd, id); }
  int GetDlgCtrlID() const { return ::GetDlgCtrlID(m_hWnd); }
  HWND GetWindow(UINT cmd) const { return ::GetWindow(m_hWnd, cmd); }

  std::wstring GetWindowText() const;
  BOOL SetWindowText(LPCWSTR text) { return ::SetWindowTextW(m_hWnd, text); }
  std::wstring GetDlgItemText(int id) const;
  BOOL SetDlgItemText(int id, LPCWSTR text) { return ::SetDlgItemTextW(m_hWnd, id, text); }
  UINT IsDlgButtonChecked(int id) const { return ::IsDlgButtonChecked(m_hWnd, id); }
  BOOL CheckDlgButton(int id, UINT check) { return ::CheckDlgButton(m_hWnd, id, check); }

  BOOL GetClientRect(RECT* rc) const { return ::GetClientRect(m_hWnd, rc); }
  BOOL GetWindowRect(RECT* rc) const { return ::GetWindowRect(m_hWnd, rc); }
  BOOL ScreenToClient(POINT* pt) const { return ::ScreenToClient(m_hWnd, pt); }
  BOOL ClientToScreen(POINT* pt) const { return ::ClientToScreen(m_hWnd, pt); }
  BOOL ScreenToClient(RECT* rc) const;
  BOOL ClientToScreen(RECT* rc) const;
  BOOL MoveWindow(int x, int y, int w, int h, BOOL repaint = TRUE) { return ::MoveWindow(m_hWnd, x, y, w, h, repaint); }
  BOOL MoveWindow(const RECT& rc, BOOL repaint = TRUE) {
    return ::MoveWindow(m_hWnd, rc.left, rc.top, rc.right - rc.left, rc.bottom - rc.top, repaint);
  }
  BOOL SetWindowPos(HWND after, int x, int y, int w, int h, UINT flags) {
    return ::SetWindowPos(m_hWnd, after, x, y, w, h, flags);
  }
  // Over the owner when it is visible and not minimised (or over `over` when given); a child in
  // its parent's client area; otherwise in the work area of the window's monitor. Kept inside
  // that work area.
  BOOL CenterWindow(HWND over = nullptr);

  BOOL ShowWindow(int cmd) { return ::ShowWindow(m_hWnd, cmd); }
  BOOL EnableWindow(BOOL enable = TRUE) { return ::EnableWindow(m_hWnd, enable); }
  HWND SetFocus() { return ::SetFocus(m_hWnd); }
  BOOL Invalidate(BOOL erase = TRUE) { return ::InvalidateRect(m_hWnd, nullptr, erase); }
  BOOL InvalidateRect(const RECT* rc, BOOL erase = TRUE) { return ::InvalidateRect(m_hWnd, rc, erase); }
  BOOL UpdateWindow() { return ::UpdateWindow(m_hWnd); }
  void SetRedraw(BOOL redraw) { SendMessage(WM_SETREDRAW, redraw); }

  void SetFont(HFONT font, BOOL redraw = TRUE) { SendMessage(WM_SETFONT, reinterpret_cast<WPARAM>(font), redraw); }
  HFONT GetFont() const { return reinterpret_cast<HFONT>(SendMessage(WM_GETFONT)); }
  HICON SetIcon(HICON icon, BOOL big = TRUE) {
    return reinterpret_cast<HICON>(SendMessage(WM_SETICON, big ? ICON_BIG : ICON_SMALL, reinterpret_cast<LPARAM>(icon)));
  }

  UINT_PTR SetTimer(UINT_PTR id, UINT ms) { return ::SetTimer(m_hWnd, id, ms, nullptr); }
  BOOL KillTimer(UINT_PTR id) { return ::KillTimer(m_hWnd, id); }
};

// Default styles of a window class: a style of 0 given to Create means "the traits' style".
template <DWORD t_style = 0, DWORD t_exStyle = 0>
class CWinTraits {
public:
  static DWORD GetWndStyle(DWORD style) { return style == 0 ? t_style : style; }
  static DWORD GetWndExStyle(DWORD exStyle) { return exStyle == 0 ? t_exStyle : exStyle; }
};

using CNullTraits = CWinTraits<0, 0>;
using CControlWinTraits = CWinTraits<WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN | WS_CLIPSIBLINGS, 0>;
using CFrameWinTraits = CWinTraits<WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN | WS_CLIPSIBLINGS, WS_EX_APPWINDOW | WS_EX_WINDOWEDGE>;

}  // namespace WTL
