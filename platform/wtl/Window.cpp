// CWindow helpers that are more than one call.
#include "wtl/Window.h"

#include "wtl/Module.h"

#include <vector>

namespace WTL {

HWND CWindow::Create(LPCWSTR className, HWND parent, const RECT* rc, LPCWSTR name, DWORD style,
                     DWORD exStyle, MenuOrId menu, LPVOID param) {
  int x = CW_USEDEFAULT, y = CW_USEDEFAULT, w = CW_USEDEFAULT, h = CW_USEDEFAULT;
  if (rc) {
    x = rc->left;
    y = rc->top;
    w = rc->right - rc->left;
    h = rc->bottom - rc->top;
  }
  m_hWnd = ::CreateWindowExW(exStyle, className, name, style, x, y, w, h, parent, menu.menu,
                             AppModule().GetModuleInstance(), param);
  return m_hWnd;
}

BOOL CWindow::DestroyWindow() {
  if (!::DestroyWindow(m_hWnd))
    return FALSE;
  m_hWnd = nullptr;
  return TRUE;
}

static BOOL ModifyLong(HWND hwnd, int index, DWORD remove, DWORD add, UINT swpFlags) {
  DWORD old = static_cast<DWORD>(::GetWindowLongPtrW(hwnd, index));
  DWORD now = (old & ~remove) | add;
  if (now == old)
    return FALSE;
  ::SetWindowLongPtrW(hwnd, index, static_cast<LONG_PTR>(now));
  if (swpFlags)
    ::SetWindowPos(hwnd, nullptr, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE | swpFlags);
  return TRUE;
}

BOOL CWindow::ModifyStyle(DWORD remove, DWORD add, UINT swpFlags) {
  return ModifyLong(m_hWnd, GWL_STYLE, remove, add, swpFlags);
}

BOOL CWindow::ModifyStyleEx(DWORD remove, DWORD add, UINT swpFlags) {
  return ModifyLong(m_hWnd, GWL_EXSTYLE, remove, add, swpFlags);
}

static std::wstring TextOf(HWND hwnd) {
  int n = ::GetWindowTextLengthW(hwnd);
  if (n <= 0)
    return std::wstring();
  std::vector<wchar_t> buf(n + 1);
  int got = ::GetWindowTextW(hwnd, buf.data(), n + 1);
  return std::wstring(buf.data(), got > 0 ? got : 0);
}

std::wstring CWindow::GetWindowText() const { return TextOf(m_hWnd); }

std::wstring CWindow::GetDlgItemText(int id) const { return TextOf(::GetDlgItem(m_hWnd, id)); }

// MapWindowPoints returns 0 both on failure and for a zero offset; the error code tells them apart.
static BOOL MapRect(HWND from, HWND to, RECT* rc) {
  ::SetLastError(0);
  return ::MapWindowPoints(from, to, reinterpret_cast<POINT*>(rc), 2) != 0 || ::GetLastError() == 0;
}

BOOL CWindow::ScreenToClient(RECT* rc) const { return MapRect(nullptr, m_hWnd, rc); }

BOOL CWindow::ClientToScreen(RECT* rc) const { return MapRect(m_hWnd, nullptr, rc); }

BOOL CWindow::CenterWindow(HWND over) {
  RECT self;
  if (!::GetWindowRect(m_hWnd, &self))
    return FALSE;
  DWORD style = GetStyle();
  RECT area, bounds;
  if (style & WS_CHILD) {
    HWND parent = ::GetParent(m_hWnd);
    ::GetClientRect(parent, &bounds);
    area = bounds;
    if (over) {
      ::GetWindowRect(over, &area);
      ::MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&area), 2);
    }
  } else {
    if (!over)
      over = ::GetWindow(m_hWnd, GW_OWNER);
    if (over && (!::IsWindowVisible(over) || ::IsIconic(over)))
      over = nullptr;
    HMONITOR mon = ::MonitorFromWindow(over ? over : m_hWnd, MONITOR_DEFAULTTONEAREST);
    MONITORINFO mi = {};
    mi.cbSize = sizeof(mi);
    if (!::GetMonitorInfoW(mon, &mi))
      ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &mi.rcWork, 0);
    bounds = mi.rcWork;
    area = bounds;
    if (over)
      ::GetWindowRect(over, &area);
  }
  int w = self.right - self.left, h = self.bottom - self.top;
  int x = (area.left + area.right - w) / 2;
  int y = (area.top + area.bottom - h) / 2;
  if (x + w > bounds.right)
    x = bounds.right - w;
  if (x < bounds.left)
    x = bounds.left;
  if (y + h > bounds.bottom)
    y = bounds.bottom - h;
  if (y < bounds.top)
    y = bounds.top;
  return ::SetWindowPos(m_hWnd, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

}  // namespace WTL
