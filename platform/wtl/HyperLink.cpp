// The hyperlink label.
#include "wtl/HyperLink.h"

#include "wtl/Seams.h"

namespace WTL {

namespace {
const COLORREF kLinkColor = RGB(0, 0, 255);
}

CHyperLink::~CHyperLink() { FreeFonts(); }

BOOL CHyperLink::SubclassWindow(HWND hwnd) {
  if (!CWindowImpl<CHyperLink>::SubclassWindow(hwnd))
    return FALSE;
  Setup();
  return TRUE;
}

LRESULT CHyperLink::OnCreate(UINT, WPARAM, LPARAM, BOOL& bHandled) {
  LRESULT r = DefWindowProc();
  if (r != -1)
    Setup();
  bHandled = TRUE;
  return r;
}

void CHyperLink::Setup() {
  HFONT base = reinterpret_cast<HFONT>(DefWindowProc(WM_GETFONT, 0, 0));
  if (!base)
    base = reinterpret_cast<HFONT>(::SendMessageW(GetParent(), WM_GETFONT, 0, 0));
  MakeFonts(base);
  hot_ = pressed_ = false;
}

void CHyperLink::FreeFonts() {
  if (underline_)
    ::DeleteObject(underline_);
  underline_ = nullptr;
}

void CHyperLink::MakeFonts(HFONT base) {
  FreeFonts();
  font_ = base ? base : static_cast<HFONT>(::GetStockObject(DEFAULT_GUI_FONT));
  LOGFONTW lf;
  if (::GetObjectW(font_, sizeof(lf), &lf)) {
    lf.lfUnderline = TRUE;
    underline_ = ::CreateFontIndirectW(&lf);
  }
}

void CHyperLink::SetLabel(LPCWSTR label) {
  SetWindowText(label ? label : L"");
  Invalidate();
}

bool CHyperLink::Underlined() const {
  if (exStyle_ & HLINK_NOTUNDERLINED)
    return false;
  if (exStyle_ & HLINK_UNDERLINEHOVER)
    return hot_;
  return true;
}

RECT CHyperLink::GetTextRect() {
  RECT rc = {0, 0, 0, 0};
  std::wstring label = GetLabel();
  HDC dc = ::GetDC(m_hWnd);
  if (!dc)
    return rc;
  HGDIOBJ old = ::SelectObject(dc, Underlined() && underline_ ? underline_ : font_);
  ::DrawTextW(dc, label.c_str(), static_cast<int>(label.size()), &rc,
              DT_LEFT | DT_TOP | DT_SINGLELINE | DT_NOPREFIX | DT_CALCRECT);
  ::SelectObject(dc, old);
  ::ReleaseDC(m_hWnd, dc);
  RECT client;
  GetClientRect(&client);
  if (rc.right > client.right)
    rc.right = client.right;
  if (rc.bottom > client.bottom)
    rc.bottom = client.bottom;
  return rc;
}

int CHyperLink::GetIdealHeight() {
  HDC dc = ::GetDC(m_hWnd);
  if (!dc)
    return 0;
  int best = 0;
  for (HFONT f : {font_, underline_}) {
    if (!f)
      continue;
    HGDIOBJ old = ::SelectObject(dc, f);
    SIZE size = {0, 0};
    if (::GetTextExtentPoint32W(dc, L"NS", 2, &size) && size.cy > best)
      best = size.cy;
    ::SelectObject(dc, old);
  }
  ::ReleaseDC(m_hWnd, dc);
  return best;
}

bool CHyperLink::Navigate() {
  std::wstring target = target_.empty() ? GetLabel() : target_;
  if (target.empty())
    return false;
  return OpenWebAddress(GetParent(), target.c_str());
}

LRESULT CHyperLink::OnPaint(UINT msg, WPARAM wParam, LPARAM, BOOL&) {
  PAINTSTRUCT ps = {};
  HDC dc = msg == WM_PRINTCLIENT ? reinterpret_cast<HDC>(wParam) : ::BeginPaint(m_hWnd, &ps);
  RECT client;
  GetClientRect(&client);
  // The parent chooses the background, as it does for its static controls.
  HBRUSH brush = reinterpret_cast<HBRUSH>(
      ::SendMessageW(GetParent(), WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(m_hWnd)));
  ::FillRect(dc, &client, brush ? brush : ::GetSysColorBrush(COLOR_BTNFACE));
  std::wstring label = GetLabel();
  HGDIOBJ old = ::SelectObject(dc, Underlined() && underline_ ? underline_ : font_);
  ::SetBkMode(dc, TRANSPARENT);
  ::SetTextColor(dc, IsWindowEnabled() ? kLinkColor : ::GetSysColor(COLOR_GRAYTEXT));
  ::DrawTextW(dc, label.c_str(), static_cast<int>(label.size()), &client,
              DT_LEFT | DT_TOP | DT_SINGLELINE | DT_NOPREFIX);
  ::SelectObject(dc, old);
  if (msg != WM_PRINTCLIENT)
    ::EndPaint(m_hWnd, &ps);
  return 0;
}

LRESULT CHyperLink::OnSetFont(UINT, WPARAM wParam, LPARAM lParam, BOOL&) {
  MakeFonts(reinterpret_cast<HFONT>(wParam));
  if (LOWORD(lParam))
    Invalidate();
  return 0;
}

LRESULT CHyperLink::OnSetText(UINT msg, WPARAM wParam, LPARAM lParam, BOOL&) {
  LRESULT r = DefWindowProc(msg, wParam, lParam);
  Invalidate();
  return r;
}

bool CHyperLink::TextHit(LPARAM lp) {
  POINT pt = {static_cast<short>(LOWORD(lp)), static_cast<short>(HIWORD(lp))};
  RECT rc = GetTextRect();
  return ::PtInRect(&rc, pt) != FALSE;
}

void CHyperLink::SetHot(bool hot) {
  if (hot == hot_)
    return;
  hot_ = hot;
  Invalidate();
}

LRESULT CHyperLink::OnSetCursor(UINT, WPARAM, LPARAM, BOOL& bHandled) {
  POINT pt;
  ::GetCursorPos(&pt);
  ScreenToClient(&pt);
  RECT rc = GetTextRect();
  if (!::PtInRect(&rc, pt)) {
    bHandled = FALSE;
    return 0;
  }
  ::SetCursor(::LoadCursorW(nullptr, IDC_HAND));
  return TRUE;
}

LRESULT CHyperLink::OnMouseMove(UINT, WPARAM, LPARAM lParam, BOOL&) {
  bool over = TextHit(lParam);
  if (over && !hot_) {
    TRACKMOUSEEVENT tme = {sizeof(tme), TME_LEAVE, m_hWnd, 0};
    ::TrackMouseEvent(&tme);
  }
  SetHot(over);
  return 0;
}

LRESULT CHyperLink::OnMouseLeave(UINT, WPARAM, LPARAM, BOOL&) {
  SetHot(false);
  return 0;
}

LRESULT CHyperLink::OnLButtonDown(UINT, WPARAM, LPARAM lParam, BOOL&) {
  if (TextHit(lParam)) {
    pressed_ = true;
    ::SetCapture(m_hWnd);
  }
  return 0;
}

LRESULT CHyperLink::OnLButtonUp(UINT, WPARAM, LPARAM lParam, BOOL&) {
  if (!pressed_)
    return 0;
  pressed_ = false;
  if (::GetCapture() == m_hWnd)
    ::ReleaseCapture();
  if (TextHit(lParam) && IsWindowEnabled())
    Navigate();
  return 0;
}

LRESULT CHyperLink::OnDestroy(UINT, WPARAM, LPARAM, BOOL& bHandled) {
  FreeFonts();
  font_ = nullptr;
  bHandled = FALSE;
  return 0;
}

}  // namespace WTL
