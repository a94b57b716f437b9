// The engine window. Messages hold a reference on the window object, so a callback that destroys
// the window (a dialog ending on a link click) leaves the object alive until the message is done.
#include "EngineWindow_win.h"

#include <windowsx.h>

#include <commctrl.h>

#include <algorithm>
#include <mutex>
#include <unordered_set>
#include <vector>

#include <common/FileText.h>

#include "Css.h"
#include "GdiFonts_win.h"
#include "GdiPainter_win.h"
#include "Images_win.h"
#include "Utf.h"

namespace hl {
namespace {

const wchar_t kClassName[] = L"HTMLAYOUT-W";
constexpr int kLinePx = 20;
constexpr size_t kMaxFileBytes = 64u << 20;
// A view built on the engine's class shares the window's timers: an id no view would pick.
constexpr UINT_PTR kTipTimer = 0x484C5450;
constexpr UINT_PTR kPaintTimer = 0x484C5041;
// A page the program keeps changing (the download list on every image) is painted at most this
// often: a paint runs whenever the thread's queue empties, and that thread also starts the
// downloader's next requests, so a paint per change slows the downloads themselves.
constexpr DWORD kPaintIntervalMs = 200;
constexpr int kTipMaxWidthPx = 400;
ATOM g_atom = 0;

// The windows alive now. A window of a superclass has a class atom of its own, so a handle is
// known by the object its first extra bytes point to, checked against this set before it is used.
std::mutex g_liveLock;
std::unordered_set<const EngineWindow*>& Live() {
  static auto* live = new std::unordered_set<const EngineWindow*>;
  return *live;
}

HMODULE ThisModule() {
  HMODULE m = nullptr;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCWSTR>(&ThisModule), &m);
  return m;
}

bool StartsWithNoCase(const std::u16string& s, const char* prefix) {
  size_t n = strlen(prefix);
  if (s.size() < n) return false;
  for (size_t i = 0; i < n; ++i) {
    char16_t c = s[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char16_t>(c - 'A' + 'a');
    if (c != static_cast<unsigned char>(prefix[i])) return false;
  }
  return true;
}

std::wstring PercentDecoded(const std::wstring& s) {
  std::string bytes = Utf16To8(reinterpret_cast<const char16_t*>(s.data()), s.size()), out;
  auto hex = [](char c) {
    return c >= '0' && c <= '9'   ? c - '0'
           : c >= 'a' && c <= 'f' ? c - 'a' + 10
           : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                  : -1;
  };
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (bytes[i] == '%' && i + 2 < bytes.size() && hex(bytes[i + 1]) >= 0 && hex(bytes[i + 2]) >= 0) {
      out.push_back(static_cast<char>(hex(bytes[i + 1]) * 16 + hex(bytes[i + 2])));
      i += 2;
    } else {
      out.push_back(bytes[i]);
    }
  }
  std::u16string w = Utf8To16(out);
  return std::wstring(w.begin(), w.end());
}

Element* LinkOf(Element* e) {
  for (; e; e = e->parent())
    if (e->Attr("href")) return e;
  return nullptr;
}

// The nearest element with a title that has text: a title on a row covers its links.
Element* TitledOf(Element* e) {
  for (; e; e = e->parent()) {
    const std::u16string* title = e->Attr("title");
    if (title && title->find_first_not_of(u" \t\r\n") != std::u16string::npos) return e;
  }
  return nullptr;
}

Element* CheckButtonOf(Element* e) {
  for (; e; e = e->parent()) {
    const std::u16string* type = e->Attr("type");
    if (e->tag() == "button" && type && *type == u"checkbox") return e;
  }
  return nullptr;
}

}  // namespace

bool EngineWindow::Register() {
  if (g_atom) return true;
  WNDCLASSEXW wc = {};
  wc.cbSize = sizeof(wc);
  wc.style = CS_GLOBALCLASS;  // dialog templates of the program name the class
  wc.lpfnWndProc = WndProc;
  wc.cbWndExtra = sizeof(LONG_PTR);
  wc.hInstance = ThisModule();
  wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  wc.lpszClassName = kClassName;
  g_atom = RegisterClassExW(&wc);
  if (!g_atom && GetLastError() == ERROR_CLASS_ALREADY_EXISTS) {
    WNDCLASSEXW existing = {};
    existing.cbSize = sizeof(existing);
    g_atom = static_cast<ATOM>(GetClassInfoExW(wc.hInstance, kClassName, &existing));
  }
  return g_atom != 0;
}

const wchar_t* EngineWindow::ClassName() {
  Register();
  return kClassName;
}

EngineWindow* EngineWindow::FromHwnd(HWND hwnd) {
  if (!hwnd || !IsWindow(hwnd) || GetClassLongPtrW(hwnd, GCL_CBWNDEXTRA) < static_cast<LONG_PTR>(sizeof(LONG_PTR)))
    return nullptr;
  auto* w = reinterpret_cast<EngineWindow*>(GetWindowLongPtrW(hwnd, 0));
  {
    std::lock_guard<std::mutex> guard(g_liveLock);
    if (!w || !Live().count(w)) return nullptr;
  }
  return w->hwnd_ == hwnd && w->Alive() ? w : nullptr;
}

EngineWindow* EngineWindow::FromElement(Element* e) {
  Document* d = e ? e->document() : nullptr;
  auto* w = d ? static_cast<EngineWindow*>(d->owner()) : nullptr;
  return w && w->Alive() ? w : nullptr;
}

EngineWindow::EngineWindow(HWND hwnd)
    : hwnd_(hwnd), doc_(new Document(GdiFonts::Instance(), this)), lastPaint_(GetTickCount() - kPaintIntervalMs) {
  doc_->SetOwner(this);
  std::lock_guard<std::mutex> guard(g_liveLock);
  Live().insert(this);
}

EngineWindow::~EngineWindow() {
  {
    std::lock_guard<std::mutex> guard(g_liveLock);
    Live().erase(this);
  }
  tipFor_ = Ref<Element>();
  pressed_ = Ref<Element>();
  doc_.reset();
  if (backDc_) {
    SelectObject(backDc_, backOld_);
    DeleteDC(backDc_);
  }
  if (backBmp_) DeleteObject(backBmp_);
}

LRESULT CALLBACK EngineWindow::WndProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_NCCREATE) SetWindowLongPtrW(hwnd, 0, reinterpret_cast<LONG_PTR>(new EngineWindow(hwnd)));
  auto* w = reinterpret_cast<EngineWindow*>(GetWindowLongPtrW(hwnd, 0));
  if (!w) return DefWindowProcW(hwnd, msg, wp, lp);
  w->AddRef();
  LRESULT r = w->Proc(msg, wp, lp);
  w->Release();
  return r;
}

// Tools outside the process (the end-to-end tests' driver) find where to click in a page, as an
// accessibility client would: wParam is a global atom naming a selector; the answer is the client
// point at the middle of the first matching element, scrolled into view, or -1. An element without
// size cannot be clicked and is not reported, so 0 (what other windows answer) is never a point.
static UINT LocateMessage() {
  static const UINT message = RegisterWindowMessageW(L"HTMLayoutLocateElement");
  return message;
}

LRESULT EngineWindow::LocateElement(ATOM selector) {
  char text[256] = {};
  std::vector<Selector> selectors;
  if (!GlobalGetAtomNameA(selector, text, sizeof text) || !ParseSelectorList(text, selectors)) return -1;
  EnsureLayout();
  Element* found = nullptr;
  SelectElements(doc_->root(), selectors, [&](Element* e) { return (found = e) != nullptr; });
  Rect box;
  if (!found || !doc_->ElementBox(found, box) || box.w <= 0 || box.h <= 0) return -1;
  int middle = box.y + box.h / 2;
  if (middle < scrollY_ || middle >= scrollY_ + ViewHeight()) SetScroll(box.y);
  return MAKELRESULT(box.x + box.w / 2, middle - scrollY_);
}

LRESULT EngineWindow::Proc(UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == LocateMessage() && msg != 0) return LocateElement(static_cast<ATOM>(wp));
  switch (msg) {
    case WM_NCDESTROY:
      HideTip();
      if (tip_) DestroyWindow(tip_);
      tip_ = nullptr;
      SetWindowLongPtrW(hwnd_, 0, 0);
      destroyed_ = true;
      Release();
      return DefWindowProcW(hwnd_, msg, wp, lp);
    case WM_ERASEBKGND:
      return 1;
    case WM_PAINT: {
      PAINTSTRUCT ps;
      invalid_ = false;
      HDC dc = BeginPaint(hwnd_, &ps);
      if (dc) Paint(dc, ps.rcPaint);
      EndPaint(hwnd_, &ps);
      lastPaint_ = GetTickCount();
      return 0;
    }
    case WM_PRINTCLIENT: {
      RECT rc;
      GetClientRect(hwnd_, &rc);
      Paint(reinterpret_cast<HDC>(wp), rc);
      return 0;
    }
    case WM_SIZE:
      if (!inLayout_) Repaint();
      return 0;
    case WM_GETDLGCODE:
      return DLGC_WANTARROWS;
    case WM_MOUSEMOVE:
      OnMouseMove(GET_X_LPARAM(lp), GET_Y_LPARAM(lp));
      return 0;
    case WM_MOUSELEAVE:
      tracking_ = false;
      HideTip();
      if (doc_->SetHover(nullptr)) Repaint();
      return 0;
    case WM_SETCURSOR:
      if (LOWORD(lp) == HTCLIENT) {
        bool hand = false;
        for (Element* e = doc_->hover(); e; e = e->parent()) {
          if (e->style.cursor == CursorKind::Auto) continue;
          hand = e->style.cursor == CursorKind::Pointer;
          break;
        }
        SetCursor(LoadCursorW(nullptr, hand ? IDC_HAND : IDC_ARROW));
        return TRUE;
      }
      break;
    case WM_SHOWWINDOW:
      if (!wp) HideTip();  // a page hidden under the mouse (another tab shown) takes its title along
      break;
    case WM_TIMER:
      if (wp == kPaintTimer) {
        Repaint();
        return 0;
      }
      if (wp != kTipTimer) break;
      KillTimer(hwnd_, kTipTimer);
      ShowTip();
      return 0;
    case WM_LBUTTONDOWN: {
      HideTip();
      if (GetFocus() != hwnd_) SetFocus(hwnd_);
      SetCapture(hwnd_);
      EnsureLayout();
      pressed_ = Ref<Element>(doc_->HitTest(GET_X_LPARAM(lp), GET_Y_LPARAM(lp) + scrollY_));
      return 0;
    }
    case WM_LBUTTONUP:
      if (GetCapture() == hwnd_) ReleaseCapture();
      OnButtonUp(GET_X_LPARAM(lp), GET_Y_LPARAM(lp));
      return 0;
    case WM_MOUSEWHEEL: {
      HideTip();
      EnsureLayout();
      if (contentH_ <= ViewHeight()) break;  // nothing to scroll: the parent may want it
      UINT lines = 3;
      SystemParametersInfoW(SPI_GETWHEELSCROLLLINES, 0, &lines, 0);
      if (lines == WHEEL_PAGESCROLL) lines = static_cast<UINT>(std::max(1, ViewHeight() / kLinePx));
      int delta = GET_WHEEL_DELTA_WPARAM(wp);
      SetScroll(scrollY_ - delta * static_cast<int>(lines) * kLinePx / WHEEL_DELTA);
      return 0;
    }
    case WM_VSCROLL:
      HideTip();
      OnVScroll(LOWORD(wp));
      return 0;
    case WM_KEYDOWN:
      switch (wp) {
        case VK_UP:
          SetScroll(scrollY_ - kLinePx);
          return 0;
        case VK_DOWN:
          SetScroll(scrollY_ + kLinePx);
          return 0;
        case VK_PRIOR:
          SetScroll(scrollY_ - ViewHeight());
          return 0;
        case VK_NEXT:
          SetScroll(scrollY_ + ViewHeight());
          return 0;
        case VK_HOME:
          SetScroll(0);
          return 0;
        case VK_END:
          SetScroll(contentH_);
          return 0;
      }
      break;
  }
  return DefWindowProcW(hwnd_, msg, wp, lp);
}

UINT EngineWindow::Notify(NMHDR* hdr) {
  if (!callback_) return 0;
  hdr->hwndFrom = hwnd_;
  hdr->idFrom = static_cast<UINT_PTR>(GetDlgCtrlID(hwnd_));
  return callback_(WM_NOTIFY, hdr->idFrom, reinterpret_cast<LPARAM>(hdr), callbackParam_);
}

void EngineWindow::SetMediaType(const std::string& media) {
  doc_->SetMediaType(media);
  Changed();
}

void EngineWindow::LoadHtml(const char* utf8, size_t len) {
  HideTip();
  pressed_ = Ref<Element>();
  scrollY_ = 0;
  doc_->Load(utf8, len);
  if (!Alive()) return;
  NMHDR done = {};
  done.code = HLN_DOCUMENT_COMPLETE;
  Notify(&done);
  if (Alive()) Changed();
}

bool EngineWindow::DataReady(const std::u16string& uri, const uint8_t* data, size_t size) {
  bool used = doc_->DataReady(uri, data, size);
  if (used) Changed();
  return used;
}

void EngineWindow::RequestData(const std::u16string& uri, DataType type, Element* principal) {
  std::u16string keep = uri;
  HL_NM_LOAD_DATA nm = {};
  nm.hdr.code = HLN_LOAD_DATA;
  nm.uri = reinterpret_cast<LPCWSTR>(keep.c_str());
  nm.dataType = static_cast<UINT>(type);
  nm.principal = ToHandle(principal);
  Notify(&nm.hdr);
  // What the owner did not answer is loaded here, from files only: web addresses are the
  // program's business, never fetched by the engine.
  if (Alive() && doc_->IsPending(keep) && StartsWithNoCase(keep, "file://")) LoadFile(keep);
}

// Only a path on a local drive: introductions come from comic sites, and a UNC path there would
// make the engine open a network share (and hand it the user's credentials).
static bool IsDrivePath(const std::wstring& path) {
  return path.size() >= 3 && path[0] < 128 && iswalpha(path[0]) && path[1] == ':' &&
         (path[2] == '\\' || path[2] == '/');
}

void EngineWindow::LoadFile(const std::u16string& uri) {
  std::wstring path(uri.begin() + 7, uri.end());
  // "file:///C:/x" and "file://C:\x" both name C:\x.
  if (path.size() >= 3 && path[0] == '/' && path[2] == ':') path.erase(0, 1);
  std::string bytes;
  if (!IsDrivePath(path) || ReadFileBytes(path, kMaxFileBytes, bytes) != ERROR_SUCCESS) {
    std::wstring decoded = PercentDecoded(path);
    if (decoded == path || !IsDrivePath(decoded) || ReadFileBytes(decoded, kMaxFileBytes, bytes) != ERROR_SUCCESS)
      return;
  }
  doc_->DataReady(uri, reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

std::shared_ptr<Image> EngineWindow::DecodeImage(const uint8_t* data, size_t size) {
  return DecodeGdiImage(data, size);
}

// The document has changed already; only its paint waits. The first change after a quiet spell
// paints at once, and a burst paints again once the interval since the last paint is over.
void EngineWindow::Changed() {
  if (!Alive() || invalid_ || deferred_) return;
  DWORD since = GetTickCount() - lastPaint_;
  if (since < kPaintIntervalMs && SetTimer(hwnd_, kPaintTimer, kPaintIntervalMs - since, nullptr)) {
    deferred_ = true;
    return;
  }
  Repaint();
}

// Input (hover, clicks, scrolling, sizing) paints at once: the user waits for it.
void EngineWindow::Repaint() {
  if (!Alive()) return;
  if (deferred_) KillTimer(hwnd_, kPaintTimer);
  deferred_ = false;
  if (invalid_) return;
  invalid_ = true;
  InvalidateRect(hwnd_, nullptr, FALSE);
}

int EngineWindow::ViewHeight() const {
  RECT rc;
  GetClientRect(hwnd_, &rc);
  return rc.bottom - rc.top;
}

// Lays out for the client width; showing or hiding the scroll bar changes that width, so the
// layout runs again, and a page that only fits without the bar keeps it rather than flicker.
void EngineWindow::EnsureLayout() {
  if (inLayout_ || !Alive()) return;
  inLayout_ = true;
  for (int round = 0; round < 3; ++round) {
    RECT rc;
    GetClientRect(hwnd_, &rc);
    doc_->Layout(rc.right - rc.left);
    contentH_ = doc_->Height();
    bool need = contentH_ > rc.bottom - rc.top;
    if (need == scrollBar_ || (round == 2 && !need)) break;
    scrollBar_ = need;
    ShowScrollBar(hwnd_, SB_VERT, need);
    if (!Alive()) break;
  }
  if (Alive()) {
    int view = ViewHeight();
    scrollY_ = std::max(0, std::min(scrollY_, contentH_ - view));
    SCROLLINFO si = {};
    si.cbSize = sizeof(si);
    si.fMask = SIF_RANGE | SIF_PAGE | SIF_POS;
    si.nMin = 0;
    si.nMax = std::max(0, contentH_ - 1);
    si.nPage = static_cast<UINT>(std::max(0, view));
    si.nPos = scrollY_;
    if (scrollBar_) SetScrollInfo(hwnd_, SB_VERT, &si, TRUE);
  }
  inLayout_ = false;
}

void EngineWindow::SetScroll(int y) {
  EnsureLayout();
  y = std::max(0, std::min(y, contentH_ - ViewHeight()));
  if (y == scrollY_) return;
  scrollY_ = y;
  if (scrollBar_) SetScrollPos(hwnd_, SB_VERT, y, TRUE);
  Repaint();
}

void EngineWindow::OnVScroll(int code) {
  SCROLLINFO si = {};
  si.cbSize = sizeof(si);
  si.fMask = SIF_ALL;
  GetScrollInfo(hwnd_, SB_VERT, &si);
  switch (code) {
    case SB_LINEUP:
      SetScroll(scrollY_ - kLinePx);
      break;
    case SB_LINEDOWN:
      SetScroll(scrollY_ + kLinePx);
      break;
    case SB_PAGEUP:
      SetScroll(scrollY_ - ViewHeight());
      break;
    case SB_PAGEDOWN:
      SetScroll(scrollY_ + ViewHeight());
      break;
    case SB_THUMBTRACK:
    case SB_THUMBPOSITION:
      SetScroll(si.nTrackPos);
      break;
    case SB_TOP:
      SetScroll(0);
      break;
    case SB_BOTTOM:
      SetScroll(contentH_);
      break;
  }
}

void EngineWindow::ScrollToView(Element* e, unsigned flags) {
  EnsureLayout();
  Rect r;
  if (!doc_->ElementBox(e, r)) return;
  int view = ViewHeight();
  int y = scrollY_;
  if ((flags & HL_SCROLL_TO_TOP) || r.y < y)
    y = r.y;
  else if (r.y + r.h > y + view)
    y = std::min(r.y, r.y + r.h - view);
  SetScroll(y);
}

void EngineWindow::Paint(HDC target, const RECT& update) {
  EnsureLayout();
  if (!Alive()) return;
  RECT rc;
  GetClientRect(hwnd_, &rc);
  int w = std::max<LONG>(1, rc.right), h = std::max<LONG>(1, rc.bottom);
  if (!backDc_ || w > backW_ || h > backH_) {
    if (backDc_) {
      SelectObject(backDc_, backOld_);
      DeleteDC(backDc_);
      DeleteObject(backBmp_);
    }
    backW_ = std::max(w, backW_);
    backH_ = std::max(h, backH_);
    backDc_ = CreateCompatibleDC(target);
    backBmp_ = CreateCompatibleBitmap(target, backW_, backH_);
    backOld_ = SelectObject(backDc_, backBmp_);
  }
  RECT area = update;
  IntersectRect(&area, &area, &rc);
  HRGN clip = CreateRectRgnIndirect(&area);
  SelectClipRgn(backDc_, clip);
  DeleteObject(clip);
  SetDCBrushColor(backDc_, ToColorRef(doc_->Canvas()));
  FillRect(backDc_, &area, static_cast<HBRUSH>(GetStockObject(DC_BRUSH)));
  {
    GdiPainter painter(backDc_, 0, -scrollY_);
    doc_->Paint(Rect{0, scrollY_ + area.top, w, area.bottom - area.top}, painter);
  }
  SelectClipRgn(backDc_, nullptr);
  BitBlt(target, area.left, area.top, area.right - area.left, area.bottom - area.top, backDc_, area.left, area.top,
         SRCCOPY);
}

void EngineWindow::OnMouseMove(int x, int y) {
  if (!tracking_) {
    TRACKMOUSEEVENT t = {};
    t.cbSize = sizeof(t);
    t.dwFlags = TME_LEAVE;
    t.hwndTrack = hwnd_;
    tracking_ = TrackMouseEvent(&t) != FALSE;
  }
  EnsureLayout();
  Element* hit = doc_->HitTest(x, y + scrollY_);
  if (hit != doc_->hover() && doc_->SetHover(hit)) Repaint();
  TrackTip(hit, x, y);
}

// A title shows once the mouse has rested on its element for the system's hover time; moving
// within the element keeps what shows, moving to another element starts again.
void EngineWindow::TrackTip(Element* hover, int x, int y) {
  Element* titled = TitledOf(hover);
  if (titled && titled == tipFor_.get()) return;
  HideTip();
  if (!titled) return;
  tipFor_ = Ref<Element>(titled);
  tipAt_ = POINT{x, y};
  ClientToScreen(hwnd_, &tipAt_);
  UINT delay = 400;
  SystemParametersInfoW(SPI_GETMOUSEHOVERTIME, 0, &delay, 0);
  SetTimer(hwnd_, kTipTimer, std::max(delay, 50u), nullptr);
}

void EngineWindow::ShowTip() {
  const std::u16string* title = tipFor_ && doc_->Contains(tipFor_.get()) ? tipFor_->Attr("title") : nullptr;
  if (!title || !Alive()) return;
  if (!tip_) {
    INITCOMMONCONTROLSEX icc = {sizeof(icc), ICC_WIN95_CLASSES};
    InitCommonControlsEx(&icc);
    // No prefix processing: a title is site text, and its '&' is a character.
    tip_ = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_NOPREFIX | TTS_ALWAYSTIP,
                           CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, hwnd_, nullptr,
                           ThisModule(), nullptr);
    if (!tip_) return;
    TTTOOLINFOW ti = {};
    ti.cbSize = sizeof(ti);
    ti.uFlags = TTF_TRACK | TTF_ABSOLUTE;
    ti.hwnd = hwnd_;
    ti.uId = 1;
    ti.lpszText = const_cast<wchar_t*>(L"");
    SendMessageW(tip_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&ti));
    SendMessageW(tip_, TTM_SETMAXTIPWIDTH, 0, kTipMaxWidthPx);
  }
  tipText_.assign(title->begin(), title->end());
  TTTOOLINFOW ti = {};
  ti.cbSize = sizeof(ti);
  ti.hwnd = hwnd_;
  ti.uId = 1;
  ti.lpszText = &tipText_[0];
  SendMessageW(tip_, TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&ti));
  SendMessageW(tip_, TTM_TRACKPOSITION, 0, MAKELPARAM(tipAt_.x, tipAt_.y + GetSystemMetrics(SM_CYCURSOR) / 2 + 4));
  SendMessageW(tip_, TTM_TRACKACTIVATE, TRUE, reinterpret_cast<LPARAM>(&ti));
  tipShown_ = true;
}

void EngineWindow::HideTip() {
  KillTimer(hwnd_, kTipTimer);
  tipFor_ = Ref<Element>();
  if (!tipShown_ || !tip_) return;
  tipShown_ = false;
  TTTOOLINFOW ti = {};
  ti.cbSize = sizeof(ti);
  ti.hwnd = hwnd_;
  ti.uId = 1;
  SendMessageW(tip_, TTM_TRACKACTIVATE, FALSE, reinterpret_cast<LPARAM>(&ti));
}

void EngineWindow::OnButtonUp(int x, int y) {
  Ref<Element> down = pressed_;
  pressed_ = Ref<Element>();
  EnsureLayout();
  Ref<Element> hit(doc_->HitTest(x, y + scrollY_));
  if (!hit || !down) return;
  Element* link = LinkOf(hit.get());
  if (link) {
    if (link != LinkOf(down.get())) return;
    Dispatch(HL_HYPERLINK_CLICK, link);
    if (deferred_) Repaint();  // what the click changed shows at once, like the click itself
    return;
  }
  Element* button = CheckButtonOf(hit.get());
  if (button && button == CheckButtonOf(down.get())) {
    bool checked = (button->state() & kStateChecked) != 0;
    doc_->SetState(button, checked ? 0u : uint32_t{kStateChecked}, checked ? uint32_t{kStateChecked} : 0u);
    Repaint();
    Dispatch(HL_BUTTON_STATE_CHANGED, button);
  }
}

// Bubbles from the target up to the root; the first handler that answers TRUE ends it.
bool EngineWindow::Dispatch(UINT cmd, Element* target) {
  std::vector<Ref<Element>> chain;
  for (Element* e = target; e; e = e->parent()) chain.emplace_back(e);
  HL_BEHAVIOR_EVENT ev = {};
  ev.cmd = cmd;
  ev.target = ToHandle(target);
  for (Ref<Element>& e : chain) {
    std::vector<EventHandler> handlers = e->handlers;
    for (const EventHandler& h : handlers) {
      if (!(h.subscription & HL_GROUP_BEHAVIOR)) continue;
      ev.source = ToHandle(e.get());
      BOOL done = reinterpret_cast<HL_EVENT_PROC>(h.proc)(h.tag, ev.source, HL_GROUP_BEHAVIOR, &ev);
      if (done || !Alive()) return done != FALSE;
    }
  }
  return false;
}

}  // namespace hl
