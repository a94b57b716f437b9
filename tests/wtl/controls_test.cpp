// The layer's controls under Wine: a property sheet with two pages driven by PSM_ messages, the tab
// view (pages added, activated, closed, context menus, a page of another thread), the hyperlink's
// click through the shell seam, and the owner-drawn menus.
#include "WtlTestResource.h"
#include "WtlTestSupport.h"

#include "common/Hsl.h"
#include "wtl/CoolMenu.h"
#include "wtl/HyperLink.h"
#include "wtl/PropertySheet.h"
#include "wtl/TabView.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <thread>
#include <vector>

using namespace WTL;
using wtltest::HostWindow;
using wtltest::PumpUntil;
using wtltest::SeamRecorder;

namespace {

using Log = std::vector<std::string>;

bool Contains(const Log& log, const std::string& entry) {
  return std::find(log.begin(), log.end(), entry) != log.end();
}

template <class T, int Id, int EditId>
class TestPage : public CPropertyPageImpl<T> {
public:
  enum { IDD = Id };
  TestPage(const char* name, const wchar_t* title, Log* log) : CPropertyPageImpl<T>(title), name_(name), log_(log) {}

  int setActiveAnswer = 0;
  BOOL refuseLeave = FALSE;
  int applyAnswer = PSNRET_NOERROR;
  std::wstring applied;

  BEGIN_MSG_MAP(TestPage)
    MESSAGE_HANDLER(WM_INITDIALOG, OnInitDialog)
    CHAIN_MSG_MAP(CPropertyPageImpl<T>)
  END_MSG_MAP()

  LRESULT OnInitDialog(UINT, WPARAM, LPARAM, BOOL&) {
    Note("init");
    ::SetDlgItemTextW(this->m_hWnd, EditId, L"start");
    return TRUE;
  }
  int OnSetActive() {
    Note("active");
    return setActiveAnswer;
  }
  BOOL OnKillActive() {
    Note("kill");
    return refuseLeave;
  }
  int OnApply() {
    Note("apply");
    applied = CWindow(this->m_hWnd).GetDlgItemText(EditId);
    return applyAnswer;
  }
  void OnReset() { Note("reset"); }
  BOOL OnQueryCancel() {
    Note("query cancel");
    return FALSE;
  }

private:
  void Note(const char* what) { log_->push_back(name_ + " " + what); }
  std::string name_;
  Log* log_;
};

class PageOne : public TestPage<PageOne, IDD_PAGE_ONE, IDC_PAGE_ONE_EDIT> {
public:
  explicit PageOne(Log* log) : TestPage("one", L"General", log) {}
};
class PageTwo : public TestPage<PageTwo, IDD_PAGE_TWO, IDC_PAGE_TWO_EDIT> {
public:
  explicit PageTwo(Log* log) : TestPage("two", L"Proxy", log) {}
};

class Sheet : public CPropertySheetImpl<Sheet> {
public:
  Sheet() : CPropertySheetImpl(L"Settings") { m_psh.dwFlags |= PSH_NOAPPLYNOW; }
  bool initialised = false;
  bool pressOkAtStart = false;
  BEGIN_MSG_MAP(Sheet)
    MESSAGE_HANDLER(WM_APP, OnApp)
    CHAIN_MSG_MAP(CPropertySheetImpl<Sheet>)
  END_MSG_MAP()
  LRESULT OnApp(UINT, WPARAM, LPARAM, BOOL&) { return 9; }
  void OnSheetInitialized() {
    initialised = true;
    if (pressOkAtStart)
      PostMessage(PSM_PRESSBUTTON, PSBTN_OK);
  }
};

struct SheetRun {
  Log log;
  PageOne one{&log};
  PageTwo two{&log};
  Sheet sheet;
  HostWindow owner;
  SheetRun() {
    sheet.AddPage(one);
    sheet.AddPage(two);
  }
  ~SheetRun() {
    if (sheet.m_hWnd)
      sheet.DestroyWindow();
  }
};

TEST(PropertySheets, TwoPagesDrivenByMessages) {
  SheetRun run;
  HWND hwnd = run.sheet.Create(run.owner.hwnd());
  ASSERT_TRUE(hwnd);
  EXPECT_TRUE(run.sheet.initialised);
  EXPECT_EQ(run.sheet.m_hWnd, hwnd);
  EXPECT_EQ(SendMessageW(hwnd, WM_APP, 0, 0), 9) << "the sheet's messages go through its map";
  EXPECT_EQ(run.sheet.GetWindowText(), L"Settings");
  EXPECT_EQ(run.sheet.GetPageCount(), 2);
  EXPECT_EQ(run.log, (Log{"one init", "one active"}));
  EXPECT_EQ(run.two.m_hWnd, nullptr) << "a page is created when first shown";

  run.log.clear();
  ASSERT_TRUE(run.sheet.SetActivePage(1));
  EXPECT_EQ(run.log, (Log{"one kill", "two init", "two active"}));
  ASSERT_TRUE(run.two.m_hWnd);
  EXPECT_EQ(run.sheet.GetActivePage(), run.two.m_hWnd);
  SetDlgItemTextW(run.two.m_hWnd, IDC_PAGE_TWO_EDIT, L"127.0.0.1:8964");

  run.log.clear();
  run.sheet.PressButton(PSBTN_OK);
  EXPECT_TRUE(Contains(run.log, "one apply"));
  EXPECT_TRUE(Contains(run.log, "two apply"));
  EXPECT_FALSE(Contains(run.log, "one reset"));
  EXPECT_EQ(run.two.applied, L"127.0.0.1:8964");
  EXPECT_EQ(run.one.applied, L"start");
  EXPECT_TRUE(run.sheet.IsDone());
}

TEST(PropertySheets, PageNeverShownIsNeverApplied) {
  SheetRun run;
  ASSERT_TRUE(run.sheet.Create(run.owner.hwnd()));
  run.sheet.PressButton(PSBTN_OK);
  EXPECT_TRUE(Contains(run.log, "one apply"));
  EXPECT_FALSE(Contains(run.log, "two init"));
  EXPECT_FALSE(Contains(run.log, "two apply"));
  EXPECT_TRUE(run.sheet.IsDone());
}

TEST(PropertySheets, AnswersReachTheSheet) {
  SheetRun run;
  ASSERT_TRUE(run.sheet.Create(run.owner.hwnd()));
  // Refusing to be left keeps the page.
  run.one.refuseLeave = TRUE;
  run.sheet.SetActivePage(1);
  EXPECT_EQ(run.sheet.GetActivePage(), run.one.m_hWnd);
  EXPECT_FALSE(Contains(run.log, "two init"));
  run.one.refuseLeave = FALSE;
  // An invalid apply keeps the sheet open.
  run.one.applyAnswer = PSNRET_INVALID_NOCHANGEPAGE;
  run.sheet.PressButton(PSBTN_OK);
  EXPECT_TRUE(Contains(run.log, "one apply"));
  EXPECT_FALSE(run.sheet.IsDone());
  run.one.applyAnswer = PSNRET_NOERROR;
  run.sheet.PressButton(PSBTN_OK);
  EXPECT_TRUE(run.sheet.IsDone());
}

TEST(PropertySheets, CancelAppliesNothing) {
  SheetRun run;
  ASSERT_TRUE(run.sheet.Create(run.owner.hwnd()));
  run.sheet.SetActivePage(1);
  run.log.clear();
  run.sheet.PressButton(PSBTN_CANCEL);
  EXPECT_TRUE(Contains(run.log, "one query cancel") || Contains(run.log, "two query cancel"));
  EXPECT_TRUE(Contains(run.log, "one reset"));
  EXPECT_FALSE(Contains(run.log, "one apply"));
  EXPECT_FALSE(Contains(run.log, "two apply"));
  EXPECT_TRUE(run.sheet.IsDone());
}

TEST(PropertySheets, ModalRun) {
  SheetRun run;
  run.sheet.pressOkAtStart = true;
  EXPECT_GT(run.sheet.DoModal(run.owner.hwnd()), 0);
  EXPECT_TRUE(Contains(run.log, "one apply"));
  EXPECT_EQ(run.sheet.m_hWnd, nullptr);
  EXPECT_TRUE(IsWindowEnabled(run.owner.hwnd()));
}

// A parent that records the tab view's activations.
class TabParent : public CWindowImpl<TabParent> {
public:
  std::vector<int> activations;
  std::function<int()> activeNow;
  BEGIN_MSG_MAP(TabParent)
    NOTIFY_CODE_HANDLER(TBVN_PAGEACTIVATED, OnActivated)
  END_MSG_MAP()
  LRESULT OnActivated(int, NMHDR*, BOOL&) {
    activations.push_back(activeNow ? activeNow() : 0);
    return 0;
  }
};

class Tabs : public CTabViewImpl<Tabs> {
public:
  DECLARE_WND_CLASS_EX(L"Vx.Test.Tabs", 0, COLOR_APPWORKSPACE)
  Log log;
  int menuPage = -2;
  POINT menuPoint = {0, 0};
  BEGIN_MSG_MAP(Tabs)
    CHAIN_MSG_MAP(CTabViewImpl<Tabs>)
  ALT_MSG_MAP(1)
    MESSAGE_HANDLER(WM_LBUTTONDOWN, OnTabButtonDown)
  END_MSG_MAP()
  // Observed before the tab control's own handling, which still runs.
  LRESULT OnTabButtonDown(UINT, WPARAM, LPARAM, BOOL& bHandled) {
    log.push_back("strip button down");
    bHandled = FALSE;
    return 0;
  }
  void OnTabContextMenu(int page, POINT pt) {
    menuPage = page;
    menuPoint = pt;
  }
};

struct TabRun {
  HostWindow host{800, 600};
  TabParent parent;
  Tabs tabs;
  TabRun() {
    parent.Create(host.hwnd(), RECT{0, 0, 700, 500}, nullptr, WS_CHILD | WS_VISIBLE);
    parent.activeNow = [this] { return tabs.GetActivePage(); };
    tabs.Create(parent.m_hWnd, RECT{10, 10, 610, 410}, nullptr, WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN, 0, 1005);
    tabs.SetFont(static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT)));
  }
  // The windows go before the objects that handle their messages.
  ~TabRun() { parent.DestroyWindow(); }
  HWND NewPage() {
    return CreateWindowExW(0, L"STATIC", L"page", WS_CHILD | WS_VISIBLE, 0, 0, 10, 10, tabs.m_hWnd, nullptr,
                           GetModuleHandleW(nullptr), nullptr);
  }
};

bool Shown(HWND w) { return (GetWindowLongPtrW(w, GWL_STYLE) & WS_VISIBLE) != 0; }

std::wstring ShownText(HWND tab, int index) {
  wchar_t text[64] = {};
  TCITEMW item = {};
  item.mask = TCIF_TEXT;
  item.pszText = text;
  item.cchTextMax = 64;
  TabCtrl_GetItem(tab, index, &item);
  return text;
}

TEST(TabView, PagesAddedActivatedAndClosed) {
  TabRun run;
  ASSERT_TRUE(run.tabs.m_hWnd);
  ASSERT_TRUE(run.tabs.GetTabCtrl());
  int data[3] = {};
  HWND pages[3];
  for (int i = 0; i < 3; ++i) {
    pages[i] = run.NewPage();
    ASSERT_TRUE(run.tabs.AddPage(pages[i], i == 2 ? L"A title that is much longer than thirty characters" : L"Tab",
                                 i, &data[i]));
  }
  EXPECT_EQ(run.tabs.GetPageCount(), 3);
  EXPECT_EQ(run.tabs.GetActivePage(), 2) << "an appended page becomes active";
  EXPECT_EQ(run.parent.activations, (std::vector<int>{0, 1, 2}));
  EXPECT_FALSE(Shown(pages[0]));
  EXPECT_FALSE(Shown(pages[1]));
  EXPECT_TRUE(Shown(pages[2]));
  EXPECT_EQ(run.tabs.GetPageData(1), &data[1]);
  EXPECT_EQ(run.tabs.GetPageImage(1), 1);
  EXPECT_EQ(run.tabs.PageIndexFromHwnd(pages[1]), 1);
  EXPECT_EQ(run.tabs.PageIndexFromHwnd(run.tabs.m_hWnd), -1);

  // The page fills the area under the strip.
  RECT strip, page, view;
  GetWindowRect(run.tabs.GetTabCtrl(), &strip);
  GetWindowRect(pages[2], &page);
  GetWindowRect(run.tabs.m_hWnd, &view);
  EXPECT_GE(page.top, strip.bottom);
  EXPECT_GT(strip.bottom, strip.top);
  EXPECT_EQ(page.bottom, view.bottom);
  EXPECT_EQ(page.right - page.left, view.right - view.left);

  // Titles: the whole kept, at most 30 characters shown.
  EXPECT_STREQ(run.tabs.GetPageTitle(2), L"A title that is much longer than thirty characters");
  EXPECT_EQ(ShownText(run.tabs.GetTabCtrl(), 2), L"A title that is much longer...");
  EXPECT_EQ(ShownText(run.tabs.GetTabCtrl(), 2).size(), 30u);
  ASSERT_TRUE(run.tabs.SetPageTitle(0, L"Downloads"));
  EXPECT_EQ(ShownText(run.tabs.GetTabCtrl(), 0), L"Downloads");

  run.tabs.SetActivePage(0);
  EXPECT_TRUE(Shown(pages[0]));
  EXPECT_FALSE(Shown(pages[2]));
  EXPECT_EQ(run.parent.activations.back(), 0);
  size_t notes = run.parent.activations.size();
  run.tabs.SetActivePage(0);
  run.tabs.SetActivePage(7);
  EXPECT_EQ(run.parent.activations.size(), notes) << "no change, no notification";

  // Closing a page before the active one keeps the active page.
  run.tabs.SetActivePage(2);
  run.tabs.RemovePage(0);
  EXPECT_FALSE(IsWindow(pages[0])) << "the page window is destroyed";
  EXPECT_EQ(run.tabs.GetActivePage(), 1);
  EXPECT_EQ(run.tabs.GetPageHWND(1), pages[2]);
  EXPECT_EQ(TabCtrl_GetCurSel(run.tabs.GetTabCtrl()), 1);
  // Closing the active page activates its neighbour.
  run.tabs.RemovePage(1);
  EXPECT_EQ(run.tabs.GetActivePage(), 0);
  EXPECT_EQ(run.tabs.GetPageHWND(0), pages[1]);
  EXPECT_TRUE(Shown(pages[1]));
  run.tabs.RemovePage(0);
  EXPECT_EQ(run.tabs.GetActivePage(), -1);
  EXPECT_EQ(run.parent.activations.back(), -1) << "the parent hears that no page is left";
  run.tabs.RemovePage(0);  // nothing left: no effect
}

TEST(TabView, ClickOnTheStripSwitchesPagesAndIsObserved) {
  TabRun run;
  HWND a = run.NewPage(), b = run.NewPage();
  run.tabs.AddPage(a, L"First");
  run.tabs.AddPage(b, L"Second");
  ASSERT_EQ(run.tabs.GetActivePage(), 1);
  HWND strip = run.tabs.GetTabCtrl();
  RECT item;
  ASSERT_TRUE(TabCtrl_GetItemRect(strip, 0, &item));
  LPARAM at = MAKELPARAM((item.left + item.right) / 2, (item.top + item.bottom) / 2);
  SendMessageW(strip, WM_LBUTTONDOWN, MK_LBUTTON, at);
  SendMessageW(strip, WM_LBUTTONUP, 0, at);
  EXPECT_EQ(run.tabs.log, (Log{"strip button down"}));
  EXPECT_EQ(run.tabs.GetActivePage(), 0) << "the tab control's own handling selected the tab";
  EXPECT_TRUE(Shown(a));
  EXPECT_FALSE(Shown(b));
}

TEST(TabView, ContextMenuHook) {
  TabRun run;
  run.tabs.AddPage(run.NewPage(), L"First");
  run.tabs.AddPage(run.NewPage(), L"Second");
  HWND strip = run.tabs.GetTabCtrl();
  RECT item;
  ASSERT_TRUE(TabCtrl_GetItemRect(strip, 0, &item));
  POINT on = {item.left + 3, item.top + 3};
  ClientToScreen(strip, &on);
  SendMessageW(run.tabs.m_hWnd, WM_CONTEXTMENU, reinterpret_cast<WPARAM>(strip), MAKELPARAM(on.x, on.y));
  EXPECT_EQ(run.tabs.menuPage, 0);
  EXPECT_EQ(run.tabs.menuPoint.x, on.x);

  // Keyboard: the active page, at the left-bottom corner of its tab.
  ASSERT_TRUE(TabCtrl_GetItemRect(strip, 1, &item));
  POINT corner = {item.left, item.bottom};
  ClientToScreen(strip, &corner);
  SendMessageW(run.tabs.m_hWnd, WM_CONTEXTMENU, reinterpret_cast<WPARAM>(strip), -1);
  EXPECT_EQ(run.tabs.menuPage, 1);
  EXPECT_EQ(run.tabs.menuPoint.x, corner.x);
  EXPECT_EQ(run.tabs.menuPoint.y, corner.y);

  // Shift+F10 in the active page (the strip never has the focus): the page passes it up.
  run.tabs.menuPage = -2;
  run.tabs.SetActivePage(0);
  HWND first = run.tabs.GetPageHWND(0);
  SendMessageW(first, WM_CONTEXTMENU, reinterpret_cast<WPARAM>(first), -1);
  EXPECT_EQ(run.tabs.menuPage, 0);
  // A right click inside a page is the page's own business.
  run.tabs.menuPage = -2;
  SendMessageW(run.tabs.m_hWnd, WM_CONTEXTMENU, reinterpret_cast<WPARAM>(first), MAKELPARAM(on.x, on.y));
  EXPECT_EQ(run.tabs.menuPage, -2);

  // Off every tab: no menu.
  run.tabs.menuPage = -2;
  run.tabs.menuPage = -2;
  RECT rc;
  GetWindowRect(strip, &rc);
  SendMessageW(run.tabs.m_hWnd, WM_CONTEXTMENU, reinterpret_cast<WPARAM>(strip), MAKELPARAM(rc.right - 2, rc.top + 2));
  EXPECT_EQ(run.tabs.menuPage, -2);
}

TEST(TabView, PageOfAnotherThreadIsAskedToClose) {
  TabRun run;
  HWND page = nullptr;
  HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  std::thread t([&] {
    page = CreateWindowExW(0, L"STATIC", L"other thread", WS_CHILD | WS_VISIBLE, 0, 0, 10, 10, run.tabs.m_hWnd,
                           nullptr, GetModuleHandleW(nullptr), nullptr);
    SetEvent(ready);
    MSG msg;
    // WM_CLOSE reaches DefWindowProc, which destroys the window on this thread.
    while (IsWindow(page) && GetMessageW(&msg, nullptr, 0, 0) > 0)
      DispatchMessageW(&msg);
  });
  // Sent messages of the other thread (its window's creation) need this thread to pump.
  ASSERT_TRUE(PumpUntil([&] { return WaitForSingleObject(ready, 0) == WAIT_OBJECT_0; }));
  ASSERT_TRUE(page);
  ASSERT_TRUE(run.tabs.AddPage(page, L"Hot"));
  run.tabs.RemovePage(0);
  EXPECT_EQ(run.tabs.GetPageCount(), 0);
  EXPECT_TRUE(PumpUntil([&] { return !IsWindow(page); }));
  t.join();
  CloseHandle(ready);
}

TEST(HyperLink, ClickOpensTheTargetThroughTheShellSeam) {
  SeamRecorder seams;
  HostWindow host;
  HWND label = CreateWindowExW(0, L"STATIC", L"More Information...", WS_CHILD | WS_VISIBLE, 5, 5, 300, 20,
                               host.hwnd(), reinterpret_cast<HMENU>(1256), GetModuleHandleW(nullptr), nullptr);
  wtltest::Owned<CHyperLink> link;
  ASSERT_TRUE(link.SubclassWindow(label));
  link.SetHyperLink(L"http://service.invalid/redirect?t=downloader");
  EXPECT_EQ(link.GetLabel(), L"More Information...") << "the text stays";
  RECT text = link.GetTextRect();
  ASSERT_GT(text.right, 0);
  ASSERT_LT(text.right, 300);
  auto click = [&](int downX, int upX) {
    SendMessageW(label, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(downX, 3));
    SendMessageW(label, WM_LBUTTONUP, 0, MAKELPARAM(upX, 3));
  };
  const struct {
    const char* name;
    int down, up;
    size_t opened;
  } cases[] = {
      {"click on the text", 2, 2, 1},
      {"click beside the text", 298, 298, 1},
      {"pressed on the text, released beside it", 2, 298, 1},
      {"pressed beside the text, released on it", 298, 2, 1},
      {"another click on the text", 3, 3, 2},
  };
  for (const auto& c : cases) {
    click(c.down, c.up);
    EXPECT_EQ(seams.opened.size(), c.opened) << c.name;
  }
  EXPECT_EQ(seams.opened[0], L"http://service.invalid/redirect?t=downloader");

  // Without a target the label is the address; a disabled link opens nothing.
  link.SetHyperLink(nullptr);
  link.SetLabel(L"http://example.invalid/volume");
  click(2, 2);
  ASSERT_EQ(seams.opened.size(), 3u);
  EXPECT_EQ(seams.opened[2], L"http://example.invalid/volume");
  // Targets come from the service and from sites: only web addresses reach the shell.
  for (const wchar_t* refused : {L"file:///C:/windows/system32/calc.exe", L"javascript:alert(1)", L"C:\\x.exe",
                                 L"http://", L"mailto:a@b.invalid"}) {
    link.SetHyperLink(refused);
    click(2, 2);
    EXPECT_EQ(seams.opened.size(), 3u) << "refused: " << std::string(refused, refused + wcslen(refused));
  }
  link.SetHyperLink(L"HTTPS://example.invalid/");
  click(2, 2);
  ASSERT_EQ(seams.opened.size(), 4u) << "the scheme is compared without case";
  EnableWindow(label, FALSE);
  click(2, 2);
  EXPECT_EQ(seams.opened.size(), 4u);
}

TEST(HyperLink, HoverAndIdealHeight) {
  HostWindow host;
  CHyperLink link;
  ASSERT_TRUE(link.Create(host.hwnd(), RECT{5, 5, 400, 30}, L"Broadcast", WS_CHILD | WS_VISIBLE, 0, 1006));
  link.SetHyperLinkExtendedStyle(HLINK_UNDERLINEHOVER);
  link.SendMessage(WM_MOUSEMOVE, 0, MAKELPARAM(2, 2));
  EXPECT_TRUE(link.IsHot());
  link.SendMessage(WM_MOUSEMOVE, 0, MAKELPARAM(390, 2));
  EXPECT_FALSE(link.IsHot()) << "beside the text";
  link.SendMessage(WM_MOUSEMOVE, 0, MAKELPARAM(2, 2));
  link.SendMessage(WM_MOUSELEAVE);
  EXPECT_FALSE(link.IsHot());

  int small = link.GetIdealHeight();
  EXPECT_GT(small, 0);
  LOGFONTW lf = {};
  lf.lfHeight = -40;
  wcscpy(lf.lfFaceName, L"Tahoma");
  HFONT big = CreateFontIndirectW(&lf);
  link.SetFont(big);
  EXPECT_GT(link.GetIdealHeight(), small);
  link.DestroyWindow();
  DeleteObject(big);
}

// A window with the owner-drawn menus; favourites (ids from 50000) get picture 1.
class CoolWindow : public CWindowImpl<CoolWindow>, public CCoolContextMenu<CoolWindow> {
public:
  BEGIN_MSG_MAP(CoolWindow)
    CHAIN_MSG_MAP(CCoolContextMenu<CoolWindow>)
  END_MSG_MAP()
  int GetMenuItemImage(HMENU, UINT, const MENUITEMINFOW& info) {
    if (info.hSubMenu)
      return 0;
    return info.wID >= 50000 ? 1 : -1;
  }
};

struct MenuRun {
  HostWindow host;
  CoolWindow w;
  HMENU menu = CreatePopupMenu();
  HMENU sub = CreatePopupMenu();
  HIMAGELIST images = ImageList_Create(16, 16, ILC_COLOR24 | ILC_MASK, 2, 1);
  MenuRun() {
    w.Create(host.hwnd(), RECT{0, 0, 100, 100});
    AppendMenuW(menu, MF_STRING, 100, L"Open\tCtrl+O");
    SetMenuDefaultItem(menu, 100, FALSE);
    AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
    AppendMenuW(menu, MF_STRING | MF_CHECKED, 50000, L"Fav");
    AppendMenuW(menu, MF_STRING | MF_GRAYED, 101, L"Disabled");
    AppendMenuW(menu, MF_STRING | MF_CHECKED, 102, L"Checked");
    AppendMenuW(sub, MF_STRING, 50001, L"Inside");
    AppendMenuW(menu, MF_POPUP, reinterpret_cast<UINT_PTR>(sub), L"Folder");
    MENUITEMINFOW data = {};
    data.cbSize = sizeof(data);
    data.fMask = MIIM_DATA;
    data.dwItemData = 0x1234;
    SetMenuItemInfoW(menu, 101, FALSE, &data);
    // Two plain pictures for the image list.
    HDC screen = GetDC(nullptr);
    HBITMAP bmp = CreateCompatibleBitmap(screen, 32, 16);
    ReleaseDC(nullptr, screen);
    ImageList_AddMasked(images, bmp, RGB(192, 192, 192));
    DeleteObject(bmp);
    w.SetMenuImageList(images);
  }
  ~MenuRun() {
    w.DestroyWindow();
    DestroyMenu(menu);
    ImageList_Destroy(images);
  }
  MENUITEMINFOW Info(UINT pos) {
    static wchar_t text[100];
    MENUITEMINFOW info = {};
    info.cbSize = sizeof(info);
    info.fMask = MIIM_FTYPE | MIIM_DATA | MIIM_STRING | MIIM_ID;
    info.dwTypeData = text;
    info.cch = 99;
    text[0] = 0;
    GetMenuItemInfoW(menu, pos, TRUE, &info);
    return info;
  }
  ULONG_PTR Data(UINT pos) { return Info(pos).dwItemData; }
};

TEST(CoolMenu, ItemsBecomeOwnerDrawnWhileOpenAndComeBack) {
  MenuRun run;
  const UINT count = GetMenuItemCount(run.menu);
  run.w.SendMessage(WM_INITMENUPOPUP, reinterpret_cast<WPARAM>(run.menu), 0);
  auto& core = run.w.GetCoolMenu();
  EXPECT_EQ(core.OpenMenuCount(), 1u);
  const struct {
    UINT pos;
    const wchar_t* text;
    int image;
  } expected[] = {{0, L"Open\tCtrl+O", -1}, {2, L"Fav", 1}, {3, L"Disabled", -1}, {5, L"Folder", 0}};
  for (UINT pos = 0; pos < count; ++pos)
    EXPECT_TRUE(run.Info(pos).fType & MFT_OWNERDRAW) << pos;
  for (const auto& e : expected) {
    const CoolMenuCore::Item* item = core.Find(run.Data(e.pos));
    ASSERT_TRUE(item) << e.pos;
    EXPECT_EQ(item->text, e.text);
    EXPECT_EQ(item->image, e.image) << e.pos;
  }
  // A submenu opening joins the stack; the system menu is left alone.
  run.w.SendMessage(WM_INITMENUPOPUP, reinterpret_cast<WPARAM>(run.sub), 5);
  run.w.SendMessage(WM_INITMENUPOPUP, reinterpret_cast<WPARAM>(GetSystemMenu(run.host.hwnd(), FALSE)), MAKELPARAM(0, TRUE));
  EXPECT_EQ(core.OpenMenuCount(), 2u);

  run.w.SendMessage(WM_MENUSELECT, MAKEWPARAM(0, 0xFFFF), 0);
  EXPECT_EQ(core.OpenMenuCount(), 0u);
  for (UINT pos = 0; pos < count; ++pos)
    EXPECT_FALSE(run.Info(pos).fType & MFT_OWNERDRAW) << pos;
  MENUITEMINFOW open = run.Info(0);
  EXPECT_STREQ(open.dwTypeData, L"Open\tCtrl+O");
  EXPECT_EQ(run.Data(3), 0x1234u) << "the item's own data is back";
  EXPECT_TRUE(run.Info(1).fType & MFT_SEPARATOR);
}

TEST(CoolMenu, MeasureItems) {
  MenuRun run;
  run.w.SendMessage(WM_INITMENUPOPUP, reinterpret_cast<WPARAM>(run.menu), 0);
  MEASUREITEMSTRUCT sep = {ODT_MENU, 0, 0, 0, 0, run.Data(1)};
  run.w.SendMessage(WM_MEASUREITEM, 0, reinterpret_cast<LPARAM>(&sep));
  EXPECT_EQ(sep.itemHeight, static_cast<UINT>(GetSystemMetrics(SM_CYMENU) / 2));
  EXPECT_EQ(sep.itemWidth, 0u);

  LOGFONTW lf = {};
  GetObjectW(run.w.GetCoolMenu().GetMenuFont(), sizeof(lf), &lf);
  MEASUREITEMSTRUCT fav = {ODT_MENU, 0, 50000, 0, 0, run.Data(2)};
  run.w.SendMessage(WM_MEASUREITEM, 0, reinterpret_cast<LPARAM>(&fav));
  EXPECT_EQ(fav.itemHeight, static_cast<UINT>(std::abs(lf.lfHeight) + 10));
  MEASUREITEMSTRUCT open = {ODT_MENU, 0, 100, 0, 0, run.Data(0)};
  run.w.SendMessage(WM_MEASUREITEM, 0, reinterpret_cast<LPARAM>(&open));
  EXPECT_GT(open.itemWidth, fav.itemWidth) << "a longer text and an accelerator";
  EXPECT_GE(static_cast<int>(fav.itemWidth), 2 * 22 + 6 - GetSystemMetrics(SM_CXMENUCHECK));

  // Measuring something that is not ours is left to others.
  MEASUREITEMSTRUCT other = {ODT_MENU, 0, 1, 0, 7, 0x99};
  run.w.SendMessage(WM_MEASUREITEM, 0, reinterpret_cast<LPARAM>(&other));
  EXPECT_EQ(other.itemHeight, 7u);
}

COLORREF Pixel(HDC dc, int x, int y) { return GetPixel(dc, x, y) & 0xFFFFFF; }

TEST(CoolMenu, DrawsBandHighlightAndCheckBox) {
  MenuRun run;
  run.w.SendMessage(WM_INITMENUPOPUP, reinterpret_cast<WPARAM>(run.menu), 0);
  HDC screen = GetDC(nullptr);
  HDC dc = CreateCompatibleDC(screen);
  HBITMAP bmp = CreateCompatibleBitmap(screen, 200, 24);
  ReleaseDC(nullptr, screen);
  HGDIOBJ old = SelectObject(dc, bmp);
  auto draw = [&](UINT pos, UINT state) {
    DRAWITEMSTRUCT dis = {};
    dis.CtlType = ODT_MENU;
    dis.itemID = run.Info(pos).wID;
    dis.itemState = state;
    dis.hDC = dc;
    dis.rcItem = {0, 0, 200, 24};
    dis.itemData = run.Data(pos);
    return run.w.SendMessage(WM_DRAWITEM, 0, reinterpret_cast<LPARAM>(&dis));
  };
  COLORREF face = GetSysColor(COLOR_BTNFACE), highlight = GetSysColor(COLOR_HIGHLIGHT);

  draw(3, ODS_GRAYED);  // "Disabled": light band and lighter rest, no check box
  EXPECT_EQ(Pixel(dc, 5, 2), AdjustColor(face, 20, 0));
  EXPECT_EQ(Pixel(dc, 190, 2), AdjustColor(face, 75, 0));

  draw(3, ODS_SELECTED);  // selected: framed highlight over the whole item
  EXPECT_EQ(Pixel(dc, 0, 0), highlight & 0xFFFFFF);
  EXPECT_EQ(Pixel(dc, 199, 23), highlight & 0xFFFFFF);
  EXPECT_EQ(Pixel(dc, 190, 2), AdjustColor(highlight, 70, -57));

  draw(4, ODS_CHECKED);  // "Checked" without picture: a framed box in the band
  EXPECT_EQ(Pixel(dc, 1, 1), highlight & 0xFFFFFF);
  EXPECT_EQ(Pixel(dc, 2, 20), AdjustColor(highlight, 70, -57));
  EXPECT_EQ(Pixel(dc, 21, 2), AdjustColor(face, 20, 0)) << "the band continues right of the box";

  SelectObject(dc, old);
  DeleteObject(bmp);
  DeleteDC(dc);
}

}  // namespace
