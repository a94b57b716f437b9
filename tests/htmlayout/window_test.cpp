// The engine DLL in real windows under Wine and Xvfb: loading through the callback, pixels,
// clicks, check buttons, scrolling, and the element calls the views make.
#include <windows.h>

#include <commctrl.h>
#include <objidl.h>
#include <gdiplus.h>
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "AnimatedGif.h"
#include "htmlayout.h"

namespace {

// ---- helpers ---------------------------------------------------------------------------------

BOOL CALLBACK TakeFirst(HELEMENT he, LPVOID p) {
  *static_cast<HELEMENT*>(p) = he;
  return TRUE;
}
BOOL CALLBACK StopAtOnce(HELEMENT, LPVOID) { return TRUE; }
VOID CALLBACK KeepText(LPCSTR s, UINT n, LPVOID p) { static_cast<std::string*>(p)->assign(s, n); }
INT_PTR CALLBACK QuietDialog(HWND, UINT, WPARAM, LPARAM) { return FALSE; }

void Pump() {
  MSG m;
  for (int i = 0; i < 1000 && PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE); ++i) {
    TranslateMessage(&m);
    DispatchMessageW(&m);
  }
}

struct Capture {
  int w = 0, h = 0;
  std::vector<uint32_t> px;  // 0x00RRGGBB, top-down
  uint32_t At(int x, int y) const { return px[static_cast<size_t>(y) * w + x] & 0xFFFFFF; }
  // Bounding box of the pixels of one colour, or an empty rect.
  RECT Find(uint32_t rgb) const {
    RECT r = {w, h, -1, -1};
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x)
        if (At(x, y) == rgb) r.left = std::min<LONG>(r.left, x), r.top = std::min<LONG>(r.top, y),
                             r.right = std::max<LONG>(r.right, x + 1), r.bottom = std::max<LONG>(r.bottom, y + 1);
    if (r.right < 0) r = RECT{0, 0, 0, 0};
    return r;
  }
  int Count(uint32_t rgb) const {
    int n = 0;
    for (uint32_t p : px) n += (p & 0xFFFFFF) == rgb;
    return n;
  }
  int CountDark(const RECT& in) const {
    int n = 0;
    for (int y = in.top; y < in.bottom && y < h; ++y)
      for (int x = in.left; x < in.right && x < w; ++x) {
        uint32_t p = At(x, y);
        if (((p >> 16) & 0xFF) < 128 && ((p >> 8) & 0xFF) < 128 && (p & 0xFF) < 128) ++n;
      }
    return n;
  }
};

Capture Grab(HWND hwnd) {
  RECT rc;
  GetClientRect(hwnd, &rc);
  Capture c;
  c.w = rc.right;
  c.h = rc.bottom;
  BITMAPINFO bi = {};
  bi.bmiHeader.biSize = sizeof(bi.bmiHeader);
  bi.bmiHeader.biWidth = c.w;
  bi.bmiHeader.biHeight = -c.h;
  bi.bmiHeader.biPlanes = 1;
  bi.bmiHeader.biBitCount = 32;
  void* bits = nullptr;
  HDC screen = GetDC(nullptr);
  HDC dc = CreateCompatibleDC(screen);
  HBITMAP bmp = CreateDIBSection(screen, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ old = SelectObject(dc, bmp);
  SendMessageW(hwnd, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(dc), PRF_CLIENT);
  GdiFlush();
  c.px.assign(static_cast<uint32_t*>(bits), static_cast<uint32_t*>(bits) + static_cast<size_t>(c.w) * c.h);
  SelectObject(dc, old);
  DeleteObject(bmp);
  DeleteDC(dc);
  ReleaseDC(nullptr, screen);
  return c;
}

// Saves a capture as PNG through GDI+.
bool SavePng(const Capture& c, const std::wstring& path) {
  using namespace Gdiplus;
  using namespace Gdiplus::DllExports;
  GpBitmap* bmp = nullptr;
  std::vector<uint32_t> px = c.px;
  for (uint32_t& p : px) p |= 0xFF000000;
  if (GdipCreateBitmapFromScan0(c.w, c.h, c.w * 4, PixelFormat32bppARGB, reinterpret_cast<BYTE*>(px.data()), &bmp) != Ok)
    return false;
  const CLSID png = {0x557cf406, 0x1a04, 0x11d3, {0x9a, 0x73, 0x00, 0x00, 0xf8, 0x1e, 0xf3, 0x2e}};
  bool ok = GdipSaveImageToFile(bmp, path.c_str(), &png, nullptr) == Ok;
  GdipDisposeImage(bmp);
  return ok;
}

std::wstring BuildPath(const char* name) {
  std::string p = std::string("Z:") + HL_TEST_OUTPUT_DIR + "/" + name;
  for (char& ch : p)
    if (ch == '/') ch = '\\';
  return std::wstring(p.begin(), p.end());
}

struct Gdip {
  ULONG_PTR token = 0;
  Gdip() {
    Gdiplus::GdiplusStartupInput in;
    in.GdiplusVersion = 1;
    in.DebugEventCallback = nullptr;
    in.SuppressBackgroundThread = FALSE;
    in.SuppressExternalCodecs = FALSE;
    Gdiplus::GdiplusStartup(&token, &in, nullptr);
  }
  ~Gdip() { Gdiplus::GdiplusShutdown(token); }
};

// A solid 30x20 PNG in the temporary folder.
std::wstring WriteSolidPng(uint32_t rgb, const wchar_t* name) {
  Capture c;
  c.w = 30;
  c.h = 20;
  c.px.assign(600, rgb);
  wchar_t dir[MAX_PATH];
  GetTempPathW(MAX_PATH, dir);
  std::wstring path = std::wstring(dir) + name;
  return SavePng(c, path) ? path : std::wstring();
}

// Green, written without an extension: the engine must tell the format itself.
std::wstring WriteGreenPng() { return WriteSolidPng(0x00FF00, L"hl_cover_noext"); }

// The owner side of an engine window: answers load requests from a table, records events.
struct Owner {
  std::map<std::wstring, std::string> resources;
  std::vector<std::pair<UINT, std::wstring>> notes;  // code, address
  std::vector<UINT> dataTypes;
  std::vector<std::pair<UINT, std::wstring>> events;  // command, target's id
  BOOL handled = FALSE;
  HWND destroyOnClick = nullptr;

  static UINT CALLBACK Notify(UINT msg, WPARAM, LPARAM lp, LPVOID param) {
    auto* self = static_cast<Owner*>(param);
    auto* hdr = reinterpret_cast<NMHDR*>(lp);
    EXPECT_EQ(msg, static_cast<UINT>(WM_NOTIFY));
    if (hdr->code == HLN_LOAD_DATA) {
      auto* ld = reinterpret_cast<HL_NM_LOAD_DATA*>(lp);
      self->notes.emplace_back(hdr->code, ld->uri);
      self->dataTypes.push_back(ld->dataType);
      auto it = self->resources.find(ld->uri);
      if (it != self->resources.end())
        HTMLayoutDataReady(hdr->hwndFrom, ld->uri, reinterpret_cast<LPBYTE>(&it->second[0]),
                           static_cast<DWORD>(it->second.size()));
    } else {
      self->notes.emplace_back(hdr->code, L"");
    }
    return 0;
  }

  static BOOL CALLBACK Event(LPVOID tag, HELEMENT, UINT group, LPVOID params) {
    auto* self = static_cast<Owner*>(tag);
    if (group != HL_GROUP_BEHAVIOR) return FALSE;
    auto* ev = static_cast<HL_BEHAVIOR_EVENT*>(params);
    LPCWSTR id = nullptr;
    HTMLayoutGetAttributeByName(ev->target, "id", &id);
    self->events.emplace_back(ev->cmd, id ? id : L"");
    if (self->destroyOnClick) DestroyWindow(self->destroyOnClick);
    return self->handled;
  }
};

struct EngineTest : ::testing::Test {
  // One frame for the whole suite: without a window manager Wine waits two seconds for every
  // top-level window that is destroyed.
  static HWND frame;
  HWND view = nullptr;
  Owner owner;

  static void SetUpTestSuite() {
    WNDCLASSW wc = {};
    wc.lpfnWndProc = DefWindowProcW;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"HlTestFrame";
    RegisterClassW(&wc);
    // Topmost: one test reads the screen.
    frame = CreateWindowExW(WS_EX_TOPMOST, L"HlTestFrame", L"engine test", WS_POPUP | WS_VISIBLE, 640, 560, 620,
                            420, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
  }
  static void TearDownTestSuite() {
    DestroyWindow(frame);
    frame = nullptr;
  }
  void SetUp() override {
    ASSERT_TRUE(frame);
    view = CreateWindowExW(0, HTMLayoutClassNameW(), L"", WS_CHILD | WS_VISIBLE, 0, 0, 400, 300, frame,
                           reinterpret_cast<HMENU>(1100), GetModuleHandleW(nullptr), nullptr);
    ASSERT_TRUE(view);
    HTMLayoutSetCallback(view, Owner::Notify, &owner);
  }
  void TearDown() override {
    if (IsWindow(view)) DestroyWindow(view);
    Pump();
  }

  void Load(const std::string& html) {
    ASSERT_TRUE(HTMLayoutLoadHtml(view, reinterpret_cast<const BYTE*>(html.data()), static_cast<UINT>(html.size())));
    HELEMENT root = Root();
    HTMLayoutAttachEventHandlerEx(root, Owner::Event, &owner, HL_GROUP_ALL);
    Pump();
  }
  HELEMENT Root() {
    HELEMENT root = nullptr;
    EXPECT_EQ(HTMLayoutGetRootElement(view, &root), HL_OK);
    return root;
  }
  HELEMENT Select(const char* css) {
    HELEMENT found = nullptr;
    HTMLayoutSelectElements(Root(), css, TakeFirst, &found);
    return found;
  }
  void Click(int x, int y) {
    SendMessageW(view, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(x, y));
    SendMessageW(view, WM_LBUTTONUP, 0, MAKELPARAM(x, y));
    Pump();
  }
  static POINT Center(const RECT& r) { return POINT{(r.left + r.right) / 2, (r.top + r.bottom) / 2}; }
};

HWND EngineTest::frame = nullptr;

const char kBase[] = "<style>body { margin: 0; font-family: Tahoma, sans-serif; font-size: 12px; background-color: #ffffff }</style>";

// ---- tests -----------------------------------------------------------------------------------

TEST(EngineClass, RegisteredForDialogTemplates) {
  EXPECT_STREQ(HTMLayoutClassNameW(), L"HTMLAYOUT-W");
  // A dialog template naming the class, as the program's resources do, from the program's module.
  std::vector<WORD> t(256, 0);
  auto* dlg = reinterpret_cast<DLGTEMPLATE*>(t.data());
  dlg->style = WS_POPUP | DS_SETFONT;  // never shown: Wine waits for a window manager when a shown one goes
  dlg->cdit = 1;
  dlg->cx = 200;
  dlg->cy = 100;
  WORD* p = reinterpret_cast<WORD*>(dlg + 1);
  *p++ = 0;  // menu
  *p++ = 0;  // class
  *p++ = 0;  // title
  *p++ = 8;  // font size
  for (const wchar_t* f = L"MS Shell Dlg"; (*p++ = *f) != 0; ++f) {}
  p = reinterpret_cast<WORD*>((reinterpret_cast<uintptr_t>(p) + 3) & ~uintptr_t(3));
  auto* item = reinterpret_cast<DLGITEMTEMPLATE*>(p);
  item->style = WS_CHILD | WS_VISIBLE;
  item->cx = 180;
  item->cy = 80;
  item->id = 1100;
  p = reinterpret_cast<WORD*>(item + 1);
  for (const wchar_t* c = L"HTMLAYOUT-W"; (*p++ = *c) != 0; ++c) {}
  *p++ = 0;  // title
  *p++ = 0;  // no creation data
  HWND d = CreateDialogIndirectParamW(GetModuleHandleW(nullptr), dlg, nullptr,
                                      QuietDialog, 0);
  ASSERT_TRUE(d);
  HWND engine = GetDlgItem(d, 1100);
  ASSERT_TRUE(engine);
  const char page[] = "<p id=x>in a dialog</p>";
  EXPECT_TRUE(HTMLayoutLoadHtml(engine, reinterpret_cast<const BYTE*>(page), sizeof(page) - 1));
  HELEMENT root = nullptr;
  EXPECT_EQ(HTMLayoutGetRootElement(engine, &root), HL_OK);
  EXPECT_NE(root, nullptr);
  DestroyWindow(d);
  // Calls with windows that are not engine windows fail cleanly.
  EXPECT_EQ(HTMLayoutGetRootElement(d, &root), HL_INVALID_HWND);
  EXPECT_FALSE(HTMLayoutLoadHtml(GetDesktopWindow(), reinterpret_cast<const BYTE*>(page), 3));
}

TEST_F(EngineTest, LoadRequestsGoToTheCallbackAndAnswersApply) {
  owner.resources[L"common.css"] = "body { background-color: #f0f8ff; margin: 0 } .title { font-weight: bold }";
  owner.resources[L"noimg.gif"] = std::string(reinterpret_cast<const char*>(kAnimatedGif), sizeof(kAnimatedGif));
  HTMLayoutSetMediaType(view, L"screen");
  Load("<style>@import url(common.css);</style><img id=g src=noimg.gif width=32 height=24>"
       "<img id=w src=\"http://127.0.0.1:1/x.png\">");
  std::vector<std::pair<UINT, std::wstring>> expected = {
      {HLN_LOAD_DATA, L"common.css"}, {HLN_LOAD_DATA, L"noimg.gif"},
      {HLN_LOAD_DATA, L"http://127.0.0.1:1/x.png"}, {HLN_DOCUMENT_COMPLETE, L""}};
  EXPECT_EQ(owner.notes, expected);
  EXPECT_EQ(owner.dataTypes, (std::vector<UINT>{HL_DATA_STYLE, HL_DATA_IMAGE, HL_DATA_IMAGE}));
  Capture c = Grab(view);
  EXPECT_EQ(c.At(390, 290), 0xF0F8FFu);  // the imported sheet's background
  // The first frame of the GIF, red, scaled to 32x24; the second frame (blue) never shows.
  RECT red = c.Find(0xFF0000);
  EXPECT_EQ(red.right - red.left, 32);
  EXPECT_EQ(red.bottom - red.top, 24);
  EXPECT_EQ(c.Count(0x0000FF), 0);

  // Painted on screen as well, not only when printed.
  UpdateWindow(view);
  HDC dc = GetDC(view);
  COLORREF px = GetPixel(dc, 390, 290);
  ReleaseDC(view, dc);
  EXPECT_EQ(px, RGB(0xF0, 0xF8, 0xFF));
}

TEST_F(EngineTest, FilePicturesLoadWithoutExtension) {
  Gdip gdip;
  std::wstring png = WriteGreenPng();
  ASSERT_FALSE(png.empty());
  std::string path(png.begin(), png.end());
  Load(std::string(kBase) + "<div style='height:10px'></div><img id=cover src=\"file://" + path + "\" style='margin-left:5px'>");
  Capture c = Grab(view);
  RECT g = c.Find(0x00FF00);
  EXPECT_EQ(g.left, 5);
  EXPECT_EQ(g.top, 10);
  EXPECT_EQ(g.right - g.left, 30);
  EXPECT_EQ(g.bottom - g.top, 20);

  // Changing src later (the cover arriving) loads the new picture.
  HELEMENT img = Select("#cover");
  ASSERT_TRUE(img);
  HTMLayoutSetAttributeByName(img, "src", L"file:///nonexistent/none");
  Pump();
  EXPECT_EQ(Grab(view).Count(0x00FF00), 0);
  std::wstring again = L"file://" + png;
  HTMLayoutSetAttributeByName(img, "src", again.c_str());
  Pump();
  EXPECT_EQ(Grab(view).Count(0x00FF00), 600);

  // Paths that are not on a local drive are never opened (a UNC share would be reached over the
  // network); the "\\?\" form names the same file, so only the refusal keeps it out.
  const std::wstring remote[] = {L"file://\\\\?\\" + png, L"file:////?/" + png};
  for (const std::wstring& src : remote) {
    HTMLayoutSetAttributeByName(img, "src", L"file:///nonexistent/none");
    Pump();
    HTMLayoutSetAttributeByName(img, "src", src.c_str());
    Pump();
    EXPECT_EQ(Grab(view).Count(0x00FF00), 0) << std::string(src.begin(), src.end());
  }
  DeleteFileW(png.c_str());
}

TEST_F(EngineTest, RectanglesTextAndFallbackFaces) {
  Load(std::string(kBase) +
       "<div id=a style='background-color:#ff0000; width:100px; height:40px; margin-left:20px'></div>"
       "<div style='height:10px'></div>"
       "<div id=t style='background-color:#00ff00; float:right; width:50px; height:30px'></div>"
       "<p id=latin style='margin:0'>Latin text</p>"
       "<p id=cjk style='margin:0; font-family: &quot;\xE5\xBE\xAE\xE8\xBD\xAF\xE9\x9B\x85\xE9\xBB\x91&quot;, Tahoma'>"
       "\xE4\xB8\xAD\xE6\x96\x87\xE6\xBC\xAB\xE7\x94\xBB</p>");
  Capture c = Grab(view);
  RECT a = c.Find(0xFF0000);
  EXPECT_EQ(a.left, 20);
  EXPECT_EQ(a.top, 0);
  EXPECT_EQ(a.right, 120);
  EXPECT_EQ(a.bottom, 40);
  RECT t = c.Find(0x00FF00);
  EXPECT_EQ(t.left, 350);
  EXPECT_EQ(t.top, 50);
  EXPECT_EQ(t.right, 400);
  // Both lines carry ink: the Latin face and the fallback for the ideographs both exist.
  EXPECT_GT(c.CountDark(RECT{0, 50, 340, 66}), 20);
  EXPECT_GT(c.CountDark(RECT{0, 64, 340, 84}), 40);
}

TEST_F(EngineTest, ErrorSpanShownAndHiddenByAttribute) {
  Load(std::string(kBase) +
       "<style>.error { display: none; color: #ff0000; background-color: #ff0000 } [error] .error { display: inline }</style>"
       "<div id=blk>Downloading [<span>3/9</span><span class=error>, <span>2 errors</span></span>]</div>");
  EXPECT_EQ(Grab(view).Count(0xFF0000), 0);
  HELEMENT blk = Select("#blk");
  EXPECT_EQ(HTMLayoutSetAttributeByName(blk, "error", L""), HL_OK);
  Pump();
  EXPECT_GT(Grab(view).Count(0xFF0000), 100);
  LPCWSTR v = nullptr;
  HTMLayoutGetAttributeByName(blk, "error", &v);
  ASSERT_TRUE(v);
  EXPECT_STREQ(v, L"");
  EXPECT_EQ(HTMLayoutSetAttributeByName(blk, "error", nullptr), HL_OK);
  HTMLayoutGetAttributeByName(blk, "error", &v);
  EXPECT_EQ(v, nullptr);
  Pump();
  EXPECT_EQ(Grab(view).Count(0xFF0000), 0);
}

TEST_F(EngineTest, LinkClicksCarryTheLinkAsTarget) {
  Load(std::string(kBase) +
       "<style>a { background-color: #0000ff; color: #ffffff }</style>"
       "<div style='height:30px'></div>"
       "<div class=taskItem task-id=5><a id=redl href=# command=redownload task-id=5>Re-download <b id=inner>now</b></a></div>"
       "<div style='height:30px; background-color:#00ff00' id=plain></div>");
  Capture c = Grab(view);
  RECT link = c.Find(0x0000FF);
  ASSERT_GT(link.right, link.left);
  POINT p = Center(link);
  Click(p.x, p.y);
  ASSERT_EQ(owner.events.size(), 1u);
  EXPECT_EQ(owner.events[0].first, static_cast<UINT>(HL_HYPERLINK_CLICK));
  EXPECT_EQ(owner.events[0].second, L"redl");
  // A click on the bold word inside the link still names the link.
  Click(link.right - 3, p.y);
  ASSERT_EQ(owner.events.size(), 2u);
  EXPECT_EQ(owner.events[1].second, L"redl");
  // Outside any link nothing is sent; a press on the link released elsewhere is no click.
  POINT g = Center(c.Find(0x00FF00));
  Click(g.x, g.y);
  SendMessageW(view, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(p.x, p.y));
  SendMessageW(view, WM_LBUTTONUP, 0, MAKELPARAM(g.x, g.y));
  EXPECT_EQ(owner.events.size(), 2u);
}

TEST_F(EngineTest, HandlerMayDestroyTheWindow) {
  Load(std::string(kBase) + "<style>a { background-color: #0000ff }</style><a id=l href='#'>close me</a>");
  POINT p = Center(Grab(view).Find(0x0000FF));
  owner.destroyOnClick = view;
  owner.handled = TRUE;
  Click(p.x, p.y);
  EXPECT_FALSE(IsWindow(view));
  EXPECT_EQ(owner.events.size(), 1u);
  HELEMENT root = nullptr;
  EXPECT_EQ(HTMLayoutGetRootElement(view, &root), HL_INVALID_HWND);
}

TEST_F(EngineTest, CheckButtonsToggleState) {
  Load(std::string(kBase) +
       "<style>button { display: block; margin: 4px 0 } #byauthor { background-color: #ff00ff }</style>"
       "<button id=byname type=checkbox checked>Search by Name</button>"
       "<button id=byauthor type=checkbox checked>Search by Author</button>"
       "<button id=vol type=checkbox><a id=vl href='http://x/1' style='background-color:#0000ff'>Volume 1</a></button>");
  HELEMENT byname = Select("#byname"), byauthor = Select("#byauthor"), vol = Select("#vol");
  UINT st = 0;
  HTMLayoutGetElementState(byname, &st);
  EXPECT_TRUE(st & HL_STATE_CHECKED);
  HTMLayoutGetElementState(vol, &st);
  EXPECT_FALSE(st & HL_STATE_CHECKED);

  // A click on the box of the second button unticks it and reports a state change.
  RECT author = Grab(view).Find(0xFF00FF);
  ASSERT_GT(author.right, author.left);
  POINT box = {author.left + 8, (author.top + author.bottom) / 2};
  Click(box.x, box.y);
  HTMLayoutGetElementState(byauthor, &st);
  EXPECT_FALSE(st & HL_STATE_CHECKED);
  ASSERT_EQ(owner.events.size(), 1u);
  EXPECT_EQ(owner.events[0], (std::pair<UINT, std::wstring>{HL_BUTTON_STATE_CHANGED, L"byauthor"}));
  Click(box.x, box.y);
  HTMLayoutGetElementState(byauthor, &st);
  EXPECT_TRUE(st & HL_STATE_CHECKED);

  // A click on the link inside a check button is a link click and leaves the state alone.
  POINT p = Center(Grab(view).Find(0x0000FF));
  Click(p.x, p.y);
  EXPECT_EQ(owner.events.back(), (std::pair<UINT, std::wstring>{HL_HYPERLINK_CLICK, L"vl"}));
  HTMLayoutGetElementState(vol, &st);
  EXPECT_FALSE(st & HL_STATE_CHECKED);

  // Set by the program, as "Check All" does.
  EXPECT_EQ(HTMLayoutSetElementState(vol, HL_STATE_CHECKED, 0, TRUE), HL_OK);
  HTMLayoutGetElementState(vol, &st);
  EXPECT_TRUE(st & HL_STATE_CHECKED);
  EXPECT_EQ(HTMLayoutSetElementState(byname, 0, HL_STATE_CHECKED, TRUE), HL_OK);
  HTMLayoutGetElementState(byname, &st);
  EXPECT_FALSE(st & HL_STATE_CHECKED);
}

TEST_F(EngineTest, WheelAndScrollToView) {
  Load(std::string(kBase) +
       "<div style='height:1000px'></div><div id=band style='height:100px; background-color:#ff00ff'></div>"
       "<div style='height:1000px'></div><div id=loading style='height:20px; background-color:#00ffff'></div>");
  EXPECT_EQ(Grab(view).Count(0xFF00FF), 0);
  for (int i = 0; i < 15; ++i) SendMessageW(view, WM_MOUSEWHEEL, MAKEWPARAM(0, -WHEEL_DELTA), MAKELPARAM(10, 10));
  int pos = GetScrollPos(view, SB_VERT);
  EXPECT_GT(pos, 700);
  Capture c = Grab(view);
  RECT band = c.Find(0xFF00FF);
  EXPECT_EQ(band.top, std::max(0, 1000 - pos));
  SendMessageW(view, WM_MOUSEWHEEL, MAKEWPARAM(0, 100 * WHEEL_DELTA), MAKELPARAM(10, 10));
  EXPECT_EQ(GetScrollPos(view, SB_VERT), 0);

  // The scroll bar: a page down moves by the client height, the thumb to any position.
  RECT client;
  GetClientRect(view, &client);
  SendMessageW(view, WM_VSCROLL, SB_PAGEDOWN, 0);
  EXPECT_EQ(GetScrollPos(view, SB_VERT), client.bottom);
  SendMessageW(view, WM_VSCROLL, SB_BOTTOM, 0);
  EXPECT_EQ(GetScrollPos(view, SB_VERT), 2120 - client.bottom);
  EXPECT_EQ(Grab(view).Find(0x00FFFF).bottom, client.bottom);
  SendMessageW(view, WM_VSCROLL, SB_TOP, 0);
  EXPECT_EQ(GetScrollPos(view, SB_VERT), 0);

  // As the update dialog scrolls its progress line into view.
  EXPECT_EQ(HTMLayoutScrollToView(Select("#loading"), HL_SCROLL_SMOOTH), HL_OK);
  RECT loading = Grab(view).Find(0x00FFFF);
  EXPECT_EQ(loading.bottom, client.bottom);
  EXPECT_EQ(HTMLayoutScrollToView(Select("#band"), HL_SCROLL_TO_TOP), HL_OK);
  EXPECT_EQ(Grab(view).Find(0xFF00FF).top, 0);
}

TEST_F(EngineTest, HoverUnderlinesLinks) {
  Load(std::string(kBase) +
       "<style>a { color: #0000ff; text-decoration: none } a:hover { text-decoration: underline }</style>"
       "<p style='margin:10px'><a id=l href='#'>hover over this link</a></p>");
  Capture before = Grab(view);
  RECT text = before.Find(0x0000FF);
  ASSERT_GT(text.right, text.left);
  SendMessageW(view, WM_MOUSEMOVE, 0, MAKELPARAM((text.left + text.right) / 2, (text.top + text.bottom) / 2));
  Pump();
  Capture after = Grab(view);
  EXPECT_GT(after.Count(0x0000FF), before.Count(0x0000FF) + (text.right - text.left) / 2);
  SendMessageW(view, WM_MOUSEMOVE, 0, MAKELPARAM(5, 200));
  Pump();
  EXPECT_EQ(Grab(view).Count(0x0000FF), before.Count(0x0000FF));
}

TEST_F(EngineTest, ElementCallsOfTheViews) {
  Load(std::string(kBase) + "<div id=list></div><p id=name>N</p>");
  HELEMENT body = Select("body");
  ASSERT_TRUE(body);
  for (int i = 1; i <= 3; ++i) {
    std::string row = "<div class=taskItem status=waiting task-id=" + std::to_string(i) +
                      "><div class=right downloading>[<span></span>]</div><a class=taskName href=# task-id=" +
                      std::to_string(i) + ">Task &lt;" + std::to_string(i) + "&gt; \xE4\xB8\xAD</a></div>";
    EXPECT_EQ(HTMLayoutSetElementHtml(body, reinterpret_cast<const BYTE*>(row.data()), static_cast<DWORD>(row.size()),
                                      HL_APPEND_AFTER_LAST), HL_OK);
  }
  HELEMENT span = Select("div.taskItem[task-id=2] > div[downloading] span");
  ASSERT_TRUE(span);
  EXPECT_EQ(HTMLayoutSetElementInnerText16(span, L"3/10", 4), HL_OK);
  std::string text;
  HTMLayoutGetElementInnerTextCB(Select("div.taskItem[task-id=2]"), KeepText, &text);
  EXPECT_EQ(text, "[3/10]Task <2> \xE4\xB8\xAD");

  HELEMENT found = nullptr;
  EXPECT_EQ(HTMLayoutVisitElements(Root(), nullptr, "id", L"name", TakeFirst, &found, 0), HL_OK);
  EXPECT_EQ(found, Select("#name"));
  HELEMENT parent = nullptr;
  EXPECT_EQ(HTMLayoutGetParentElement(found, &parent), HL_OK);
  EXPECT_EQ(parent, body);

  BOOL visible = TRUE;
  HTMLayoutSetStyleAttribute(found, "display", L"none");
  HTMLayoutIsElementVisible(found, &visible);
  EXPECT_FALSE(visible);
  HTMLayoutSetStyleAttribute(found, "display", nullptr);
  HTMLayoutIsElementVisible(found, &visible);
  EXPECT_TRUE(visible);

  // A deleted row stays usable while held, and its handle dies with the last release.
  HELEMENT row = Select("div.taskItem[task-id=3]");
  EXPECT_EQ(HTMLayout_UseElement(row), HL_OK);
  EXPECT_EQ(HTMLayoutDeleteElement(row), HL_OK);
  EXPECT_EQ(Select("div.taskItem[task-id=3]"), nullptr);
  LPCWSTR id = nullptr;
  EXPECT_EQ(HTMLayoutGetAttributeByName(row, "task-id", &id), HL_OK);
  EXPECT_STREQ(id, L"3");
  EXPECT_EQ(HTMLayoutUpdateElement(row, TRUE), HL_PASSIVE_HANDLE);
  EXPECT_EQ(HTMLayout_UnuseElement(row), HL_OK);
  EXPECT_EQ(HTMLayoutGetAttributeByName(row, "task-id", &id), HL_INVALID_HANDLE);
  EXPECT_EQ(HTMLayout_UnuseElement(Select("#name")), HL_INVALID_PARAMETER);  // never used: ignored

  // A null handle is ignored by every call.
  UINT st = 7;
  EXPECT_EQ(HTMLayoutGetElementState(nullptr, &st), HL_INVALID_HANDLE);
  EXPECT_EQ(st, 0u);
  EXPECT_EQ(HTMLayoutSetAttributeByName(nullptr, "a", L"b"), HL_INVALID_HANDLE);
  EXPECT_EQ(HTMLayoutSetElementHtml(nullptr, reinterpret_cast<const BYTE*>("x"), 1, 0), HL_INVALID_HANDLE);
  EXPECT_EQ(HTMLayoutDeleteElement(nullptr), HL_INVALID_HANDLE);
  EXPECT_EQ(HTMLayoutScrollToView(nullptr, 0), HL_INVALID_HANDLE);
  EXPECT_EQ(HTMLayoutSelectElements(Root(), "div >", StopAtOnce, nullptr), HL_INVALID_PARAMETER);
  EXPECT_EQ(HTMLayoutUpdateElement(Root(), TRUE), HL_OK);
}

// A cover downloaded anew is written over the same file; the view sets the same src again.
TEST_F(EngineTest, SameSrcSetAgainLoadsAgain) {
  Gdip gdip;
  std::wstring png = WriteSolidPng(0x00FF00, L"hl_cover_again.png");
  ASSERT_FALSE(png.empty());
  std::wstring src = L"file://" + png;
  std::string narrow(src.begin(), src.end());
  Load(std::string(kBase) + "<img id=cover src=\"" + narrow + "\"><img id=twin src=\"" + narrow + "\">");
  EXPECT_EQ(Grab(view).Count(0x00FF00), 1200);
  ASSERT_FALSE(WriteSolidPng(0x0000FF, L"hl_cover_again.png").empty());
  HELEMENT cover = Select("#cover");
  ASSERT_TRUE(cover);
  EXPECT_EQ(HTMLayoutSetAttributeByName(cover, "src", src.c_str()), HL_OK);
  Pump();
  Capture c = Grab(view);
  EXPECT_EQ(c.Count(0x0000FF), 600) << "the element set again shows the new file";
  EXPECT_EQ(c.Count(0x00FF00), 600) << "its twin keeps the picture it has";
  // A page with the same picture many times asks for it once; setting it again asks again.
  owner.resources[L"dot.png"] = "";
  Load(std::string(kBase) + "<img src=dot.png><img src=dot.png><img id=d src=dot.png>");
  auto asked = [&] {
    int n = 0;
    for (auto& note : owner.notes) n += note.second == L"dot.png";
    return n;
  };
  EXPECT_EQ(asked(), 1);
  HTMLayoutSetAttributeByName(Select("#d"), "src", L"dot.png");
  EXPECT_EQ(asked(), 2);
  HTMLayoutSetAttributeByName(Select("#d"), "alt", L"dot");
  EXPECT_EQ(asked(), 2) << "other attributes load nothing";
  DeleteFileW(png.c_str());
}

BOOL CALLBACK TakeTooltip(HWND w, LPARAM out) {
  wchar_t cls[32] = {};
  GetClassNameW(w, cls, 32);
  if (_wcsicmp(cls, TOOLTIPS_CLASSW) != 0) return TRUE;
  *reinterpret_cast<HWND*>(out) = w;
  return FALSE;
}

// The tooltip of this thread's engine windows, shown or not; null before the first title.
HWND Tooltip() {
  HWND tip = nullptr;
  EnumThreadWindows(GetCurrentThreadId(), TakeTooltip, reinterpret_cast<LPARAM>(&tip));
  return tip;
}

bool PumpUntil(bool (*done)(), DWORD ms) {
  DWORD end = GetTickCount() + ms;
  while (!done()) {
    if (static_cast<int>(GetTickCount() - end) > 0) return false;
    Pump();
    Sleep(10);
  }
  return true;
}

bool TipShown() {
  HWND tip = Tooltip();
  return tip && IsWindowVisible(tip);
}
bool TipHidden() { return !TipShown(); }

std::wstring TipText() {
  wchar_t text[512] = L"";
  GetWindowTextW(Tooltip(), text, 512);
  return text;
}

TEST_F(EngineTest, TitlesShowAsTooltips) {
  Load(std::string(kBase) +
       "<style>#row { background-color: #ff0000; height: 30px } #plain { background-color: #00ff00; height: 30px }"
       " a { background-color: #0000ff }</style>"
       "<div id=row title=\"C:\\Comics\\Tom &amp; Jerry \xE4\xB8\xAD\"><a href=#>link in the row</a></div>"
       "<div id=plain>no title</div><div id=blank title=' ' style='height:30px; background-color:#ff00ff'></div>");
  Capture c = Grab(view);
  POINT row = {c.Find(0xFF0000).right - 5, 15}, link = Center(c.Find(0x0000FF)), plain = Center(c.Find(0x00FF00));
  POINT blank = Center(c.Find(0xFF00FF));
  SendMessageW(view, WM_MOUSEMOVE, 0, MAKELPARAM(row.x, row.y));
  ASSERT_TRUE(PumpUntil(TipShown, 3000));
  EXPECT_EQ(TipText(), L"C:\\Comics\\Tom & Jerry \u4E2D");
  // Over a link inside the row the row's title stays; elsewhere it goes.
  SendMessageW(view, WM_MOUSEMOVE, 0, MAKELPARAM(link.x, link.y));
  Pump();
  EXPECT_TRUE(TipShown());
  SendMessageW(view, WM_MOUSEMOVE, 0, MAKELPARAM(plain.x, plain.y));
  EXPECT_TRUE(PumpUntil(TipHidden, 1000));
  // A title of white space only shows nothing; the next title shows its own text.
  SendMessageW(view, WM_MOUSEMOVE, 0, MAKELPARAM(blank.x, blank.y));
  Sleep(800);
  Pump();
  EXPECT_FALSE(TipShown());
  HTMLayoutSetAttributeByName(Select("#plain"), "title", L"set by the program");
  SendMessageW(view, WM_MOUSEMOVE, 0, MAKELPARAM(plain.x, plain.y));
  ASSERT_TRUE(PumpUntil(TipShown, 3000));
  EXPECT_EQ(TipText(), L"set by the program");
  // A press hides it, and so does a new page.
  SendMessageW(view, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(plain.x, plain.y));
  SendMessageW(view, WM_LBUTTONUP, 0, MAKELPARAM(plain.x, plain.y));
  EXPECT_TRUE(PumpUntil(TipHidden, 1000));
  SendMessageW(view, WM_MOUSEMOVE, 0, MAKELPARAM(row.x, row.y));
  ASSERT_TRUE(PumpUntil(TipShown, 3000));
  Load(std::string(kBase) + "<p>new page</p>");
  EXPECT_TRUE(PumpUntil(TipHidden, 1000));
  // A page hidden under the mouse, as a tab is when another one shows, takes its title along.
  Load(std::string(kBase) + "<div title=tab style='height:100px'>tab page</div>");
  SendMessageW(view, WM_MOUSEMOVE, 0, MAKELPARAM(20, 20));
  ASSERT_TRUE(PumpUntil(TipShown, 3000));
  ShowWindow(view, SW_HIDE);
  EXPECT_TRUE(PumpUntil(TipHidden, 1000));
  DestroyWindow(view);
  EXPECT_EQ(Tooltip(), nullptr) << "the tooltip goes with its window";
}

// A view class of the program is a superclass of the engine's class, with an atom of its own.
WNDPROC g_engineProc = nullptr;
LRESULT CALLBACK SuperProc(HWND w, UINT m, WPARAM wp, LPARAM lp) { return CallWindowProcW(g_engineProc, w, m, wp, lp); }

TEST_F(EngineTest, SuperclassWindowsAreEngineWindows) {
  WNDCLASSEXW wc = {};
  wc.cbSize = sizeof(wc);
  ASSERT_TRUE(GetClassInfoExW(nullptr, HTMLayoutClassNameW(), &wc));
  g_engineProc = wc.lpfnWndProc;
  wc.lpfnWndProc = SuperProc;
  wc.style &= ~CS_GLOBALCLASS;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = L"HlTestSuperclass";
  static ATOM atom = RegisterClassExW(&wc);
  ASSERT_TRUE(atom);
  HWND super = CreateWindowExW(0, L"HlTestSuperclass", L"", WS_CHILD | WS_VISIBLE, 0, 0, 400, 300, frame, nullptr,
                               GetModuleHandleW(nullptr), nullptr);
  ASSERT_TRUE(super);
  HTMLayoutSetCallback(super, Owner::Notify, &owner);
  owner.resources[L"common.css"] = "body { background-color: #f0f8ff }";
  const char page[] = "<style>@import url(common.css);</style><p id=x>in a superclass</p>";
  EXPECT_TRUE(HTMLayoutSetMediaType(super, L"screen"));
  EXPECT_TRUE(HTMLayoutLoadHtml(super, reinterpret_cast<const BYTE*>(page), sizeof(page) - 1));
  HELEMENT root = nullptr;
  EXPECT_EQ(HTMLayoutGetRootElement(super, &root), HL_OK);
  EXPECT_NE(root, nullptr);
  ASSERT_FALSE(owner.notes.empty());
  EXPECT_EQ(owner.notes[0], (std::pair<UINT, std::wstring>{HLN_LOAD_DATA, L"common.css"}));
  EXPECT_EQ(Grab(super).At(390, 290), 0xF0F8FFu);
  DestroyWindow(super);
  EXPECT_EQ(HTMLayoutGetRootElement(super, &root), HL_INVALID_HWND);

  // Windows that only look like one are refused: extra bytes with junk, or with a live engine
  // window's object copied from another window.
  WNDCLASSEXW other = {};
  other.cbSize = sizeof(other);
  other.lpfnWndProc = DefWindowProcW;
  other.cbWndExtra = sizeof(LONG_PTR);
  other.hInstance = GetModuleHandleW(nullptr);
  other.lpszClassName = L"HlTestLookalike";
  static ATOM otherAtom = RegisterClassExW(&other);
  ASSERT_TRUE(otherAtom);
  HWND look = CreateWindowExW(0, L"HlTestLookalike", L"", WS_CHILD, 0, 0, 10, 10, frame, nullptr,
                              GetModuleHandleW(nullptr), nullptr);
  ASSERT_TRUE(look);
  const LONG_PTR junk[] = {0x12345678, GetWindowLongPtrW(view, 0)};
  for (LONG_PTR value : junk) {
    SetWindowLongPtrW(look, 0, value);
    EXPECT_FALSE(HTMLayoutLoadHtml(look, reinterpret_cast<const BYTE*>(page), sizeof(page) - 1));
    EXPECT_EQ(HTMLayoutGetRootElement(look, &root), HL_INVALID_HWND);
  }
  DestroyWindow(look);
  EXPECT_TRUE(HTMLayoutLoadHtml(view, reinterpret_cast<const BYTE*>(page), sizeof(page) - 1)) << "the real one still works";
}

// The paints that reach the window, counted by a subclass of it.
WNDPROC g_paintedProc = nullptr;
int g_paints = 0;
LRESULT CALLBACK CountPaints(HWND w, UINT m, WPARAM wp, LPARAM lp) {
  if (m == WM_PAINT) ++g_paints;
  return CallWindowProcW(g_paintedProc, w, m, wp, lp);
}

COLORREF OnScreen(HWND w, int x, int y) {
  HDC dc = GetDC(w);
  COLORREF px = GetPixel(dc, x, y);
  ReleaseDC(w, dc);
  return px;
}

bool PumpUntilPainted(int paints, DWORD ms) {
  DWORD end = GetTickCount() + ms;
  while (g_paints < paints) {
    if (static_cast<int>(GetTickCount() - end) > 0) return false;
    Pump();
    Sleep(5);
  }
  return true;
}

// A page changed on every downloaded image: the changes apply at once, the paints are paced, and
// the last state reaches the screen; the first change after a quiet spell and input paint at once.
TEST_F(EngineTest, BurstsOfChangesArePaintedPacedAndToTheEnd) {
  Load(std::string(kBase) +
       "<style>#cell { height: 40px; background-color: #ff0000 } #cell[c=b] { background-color: #0000ff }"
       " #cell[c=g] { background-color: #00ff00 } a { display: block; height: 40px; background-color: #ffffff }"
       " a:hover { background-color: #ff00ff }</style><div id=cell></div><a href=#>hover</a>");
  HELEMENT cell = Select("#cell");
  ASSERT_TRUE(cell);
  g_paints = 0;
  g_paintedProc = reinterpret_cast<WNDPROC>(
      SetWindowLongPtrW(view, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(CountPaints)));
  Sleep(300);
  Pump();

  HTMLayoutSetAttributeByName(cell, "c", L"b");
  Pump();
  EXPECT_EQ(g_paints, 1) << "a change after a quiet spell paints at once";
  const int changes = 1000;
  DWORD start = GetTickCount();
  for (int i = 0; i < changes; ++i) {
    HTMLayoutSetAttributeByName(cell, "c", i % 2 ? L"b" : L"r");
    LPCWSTR now = nullptr;
    HTMLayoutGetAttributeByName(cell, "c", &now);
    ASSERT_STREQ(now, i % 2 ? L"b" : L"r") << "the document changes at once";
    Pump();
    Sleep(1);
  }
  HTMLayoutSetAttributeByName(cell, "c", L"g");
  int burst = g_paints - 1;
  DWORD spell = GetTickCount() - start;
  EXPECT_GE(burst, 2) << "a long burst still shows progress, over " << spell << " ms";
  EXPECT_LE(burst, static_cast<int>(spell / 100) + 2) << "a few paints a second, not one per change";
  ASSERT_TRUE(PumpUntilPainted(g_paints + 1, 1000)) << "the last change is painted";
  EXPECT_EQ(OnScreen(view, 5, 5), RGB(0, 0xFF, 0));

  // Right after a paint a change waits, but the mouse shows its hover, and the change, at once.
  Sleep(300);
  Pump();
  HTMLayoutSetAttributeByName(cell, "c", L"r");
  ASSERT_TRUE(PumpUntilPainted(g_paints + 1, 100));
  HTMLayoutSetAttributeByName(cell, "c", L"b");
  int before = g_paints;
  Pump();
  EXPECT_EQ(g_paints, before) << "paced";
  SendMessageW(view, WM_MOUSEMOVE, 0, MAKELPARAM(5, 60));
  Pump();
  EXPECT_EQ(g_paints, before + 1);
  EXPECT_EQ(OnScreen(view, 5, 60), RGB(0xFF, 0, 0xFF));
  EXPECT_EQ(OnScreen(view, 5, 5), RGB(0, 0, 0xFF));
}

// The screenshot a person looks at: a download list, a comic's details and search results.
TEST_F(EngineTest, Screenshot) {
  owner.resources[L"common.css"] =
      "body { margin: 0; font-family: \"\xE5\xBE\xAE\xE8\xBD\xAF\xE9\x9B\x85\xE9\xBB\x91\", \"Segoe UI\", Tahoma; "
      "font-size: 12px; background-color: #f0f8ff } a { color: blue; text-decoration: none } "
      "a:hover { text-decoration: underline } .title { font-size: 14px; font-weight: bold }";
  owner.resources[L"loading.gif"] = std::string(reinterpret_cast<const char*>(kAnimatedGif), sizeof(kAnimatedGif));
  SetWindowPos(view, nullptr, 0, 0, 600, 400, SWP_NOZORDER);
  Load(R"~(<style>@import url(common.css);
    div.taskItem { padding: 4px 8px; border-bottom: 1px solid #c8d8e8; overflow: hidden }
    div.taskItem div.right { display: none; float: right; color: #555 }
    div.taskItem[status=waiting] div.right[waiting], div.taskItem[status=downloading] div.right[downloading],
    div.taskItem[status=finish] div.right[finish] { display: block }
    .error { display: none; color: red } [error] .error { display: inline }
    #cover { float: left; margin: 0 8px 4px 0; border: 1px solid #999 }
    .status.finish { color: green } #results .item { margin: 6px 8px; padding-bottom: 4px; border-bottom: 1px dotted #aaa }
    #results .from { color: #888; margin: 0 } #results p { margin: 2px 0 }
    </style>
    <div class=taskItem status=finish task-id=1><div class=right finish><a href=#>Re-download</a> | <a href=#>Compress into Zip</a> | <a href=#>Delete</a></div><a class=taskName href=#>One Piece - Volume 101</a></div>
    <div class=taskItem status=downloading task-id=2 error><div class=right downloading>Downloading [<span>12/45</span><span class=error>, <span>Error(s): 2</span></span>]...</div><a class=taskName href=#>&#x6D77;&#x8D3C;&#x738B; &#x7B2C;102&#x8BDD;</a></div>
    <div class=taskItem status=waiting task-id=3><div class=right waiting>Waiting...</div><a class=taskName href=#>Naruto &amp; friends &lt;special&gt;</a></div>
    <p class=title style="margin:8px">Manga Name: &#x9032;&#x6483;&#x306E;&#x5DE8;&#x4EBA;</p>
    <div style="margin: 0 8px"><img id=cover src=loading.gif width=60 height=80>
    <p>Author: <span>Hajime Isayama</span> &nbsp; Status: <span class="status finish">Finished</span></p>
    <div id=intro>Several hundred years ago, humans were nearly exterminated by giants. <b>Giants</b> are typically several stories tall.
    &#x6570;&#x767E;&#x5E74;&#x524D;&#xFF0C;&#x4EBA;&#x7C7B;&#x51E0;&#x4E4E;&#x88AB;&#x5DE8;&#x4EBA;&#x706D;&#x7EDD;&#x3002;</div></div>
    <div style="clear:both"></div>
    <div style="margin:4px 8px"><button id=byname type=checkbox checked>Search by Name</button> <button id=byauthor type=checkbox checked>Search by Author</button></div>
    <hr><div id=results><div class=item><p class=title><a href="http://example.com/1" execute>Attack on Titan</a></p>
    <p class=info>Author: Hajime Isayama | Status: Finished | Downloads: 12345</p><p class=intro>A story of &lt;giants&gt;.</p><p class=from>example.com</p></div></div>)~");
  Capture c = Grab(view);
  EXPECT_EQ(c.At(599, 399), 0xF0F8FFu);
  EXPECT_GT(c.CountDark(RECT{0, 80, 600, 200}), 300);  // the details text
  // The cover: the GIF's first frame (red) scaled to 60x80 inside its grey border, edges sharp.
  EXPECT_EQ(c.At(8, 140), 0x999999u);
  EXPECT_EQ(c.At(9, 140), 0xFF0000u);
  EXPECT_EQ(c.At(68, 140), 0xFF0000u);
  EXPECT_EQ(c.At(69, 140), 0x999999u);
  EXPECT_EQ(c.Count(0x0000FF) > 0, true);  // link text
  std::wstring out = BuildPath("htmlayout_screenshot.png");
  Gdip gdip;
  EXPECT_TRUE(SavePng(c, out));
  EXPECT_NE(GetFileAttributesW(out.c_str()), INVALID_FILE_ATTRIBUTES);
}

}  // namespace
