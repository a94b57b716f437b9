// The tab view in a stand-in main window, with the site catalogue of the reference service: what an
// address opens, the bus messages of the pages, closing by the close mark, double click and the
// menus, a page on a thread of its own, and object counts over many tabs.
#include "UiTestSupport.h"
#include "WtlTestSupport.h"

#include <AppContext.h>
#include <LanguageTranslator.h>
#include <MsgCenter.h>
#include <ServiceTestSupport.h>
#include <UiSeams.h>
#include <VxView.h>
#include <common/CodePage.h>
#include <wtl/Seams.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>

namespace {

struct Environment : ::testing::Environment {
    void SetUp() override {
        context.reset(new ServiceContext());
        ASSERT_TRUE(context->LoadCatalogue());
        frame.reset(new TestFrame());
        ASSERT_TRUE(frame->Build());
        ASSERT_EQ(frame->id, 0);
        ASSERT_EQ(frame->panel.id, 1);
        ASSERT_EQ(frame->tabs.id, 2);
        wtltest::Pump();
    }
    void TearDown() override {
        frame.reset();
        context.reset();
    }
    std::unique_ptr<ServiceContext> context;
    std::unique_ptr<TestFrame> frame;
};
Environment* g_env = static_cast<Environment*>(::testing::AddGlobalTestEnvironment(new Environment));

// A page of the tab view's own thread with a say in closing and in taking addresses.
class TestView : public WTL::CWindowImpl<TestView>, public VxView {
public:
    DECLARE_WND_CLASS_EX(L"Vx.Test.View", CS_DBLCLKS, COLOR_WINDOW)

    static TestView* Make(HWND parent, bool isClosable = true, bool allowsClose = true, bool takesAll = false) {
        auto* view = new TestView();
        view->closable = isClosable;
        view->allowsClose = allowsClose;
        view->takesAll = takesAll;
        RECT rc = {0, 0, 10, 10};
        if (!view->Create(parent, &rc, nullptr, WS_CHILD | WS_CLIPSIBLINGS)) {
            delete view;
            return nullptr;
        }
        view->hwnd_ = view->m_hWnd;
        return view;
    }
    bool OpenUrl(const wchar_t* url) override {
        offered.push_back(url);
        return takesAll;
    }
    bool CanClose() override { return closable && allowsClose; }
    void OnFinalMessage(HWND) override {
        if (deleteAtEnd)
            delete this;
    }

    BEGIN_MSG_MAP(TestView)
    END_MSG_MAP()

    bool allowsClose = true;
    bool takesAll = false;
    bool deleteAtEnd = true;
    std::vector<std::wstring> offered;
};

class TabViewTest : public ::testing::Test {
protected:
    void SetUp() override {
        tabs().RemoveAllPages();
        ResetUiSeams();
        wtltest::Pump();
        frame().Clear();
    }
    void TearDown() override {
        tabs().RemoveAllPages();
        ResetUiSeams();
    }
    static TestFrame& frame() { return *g_env->frame; }
    static VxTabView& tabs() { return frame().tabs; }
    static HWND strip() { return tabs().GetTabCtrl(); }
    static MsgCenter& bus() { return GetAppContext()->Messages(); }
    static std::wstring Text(const wchar_t* section, const wchar_t* key) {
        return GetAppContext()->Translator().Text(section, key);
    }

    // A page added the way views add themselves; the download list first when asked.
    static TestView* Add(bool isClosable = true, bool allowsClose = true, bool takesAll = false,
                         const std::wstring& title = L"page") {
        TestView* view = TestView::Make(tabs().m_hWnd, isClosable, allowsClose, takesAll);
        HWND window = view->GetHwnd();
        EXPECT_TRUE(bus().PostTo(2, new msg_add_tab(view, 6, title)));
        EXPECT_TRUE(wtltest::PumpUntil([&] { return tabs().FindPage(window) >= 0; }));
        return view;
    }
    // Everything the view posted to itself or the frame before this call has been handled after it:
    // both queues are first in, first out.
    static void Settle() {
        static int serial = 0;
        std::wstring mark = L"settled " + std::to_wstring(++serial);
        HWND page = tabs().GetPageHWND(0);
        if (page) {
            std::wstring before = tabs().GetPageTitle(0);
            EXPECT_TRUE(bus().PostTo(2, new msg_title_change(page, mark)));
            EXPECT_TRUE(wtltest::PumpUntil([&] { return tabs().GetPageTitle(0) == mark; }));
            tabs().SetPageTitle(0, before.c_str());
        }
        size_t seen = frame().commands.size();
        PostMessageW(frame().m_hWnd, WM_COMMAND, 1, 0);
        EXPECT_TRUE(wtltest::PumpUntil([&] { return frame().commands.size() > seen; }));
    }
    static POINT CloseMarkOf(int page) {
        RECT rc = {};
        TabCtrl_GetItemRect(strip(), page, &rc);
        return {rc.left + 4 * GetSystemMetrics(SM_CXEDGE) + 8, (rc.top + rc.bottom) / 2};
    }
    static POINT OutsideMarkOf(int page) {
        RECT rc = {};
        TabCtrl_GetItemRect(strip(), page, &rc);
        return {rc.right - 3, (rc.top + rc.bottom) / 2};
    }
    static void Mouse(UINT message, POINT pt) {
        SendMessageW(strip(), message, message == WM_LBUTTONDOWN ? MK_LBUTTON : 0, MAKELPARAM(pt.x, pt.y));
    }
    static std::wstring ShownTitle(int page) {
        wchar_t text[64] = {};
        TCITEMW item = {};
        item.mask = TCIF_TEXT;
        item.pszText = text;
        item.cchTextMax = 63;
        TabCtrl_GetItem(strip(), page, &item);
        return text;
    }

    wtltest::SeamRecorder seams;
};

TEST_F(TabViewTest, PseudoAddressesAreNeverOfferedToThePage) {
    std::vector<int> recommendIds;
    Views().recommend = [&](HWND, const RECT&, int controlId) {
        recommendIds.push_back(controlId);
        return true;
    };
    // No page yet: the download list is made.
    EXPECT_TRUE(tabs().OpenUrl(L"ABOUT:DOWNLOADER", false));
    ASSERT_EQ(tabs().GetPageCount(), 1);
    EXPECT_FALSE(tabs().PageView(0)->closable);
    EXPECT_EQ(tabs().GetPageTitle(0), Text(L"DownloadView", L"Title"));
    EXPECT_EQ(tabs().GetPageImage(0), 1);
    // Active pages of every kind, one of which would take any text as its keywords.
    TestView* taker = Add(true, true, true);
    Add();
    const wchar_t* const addresses[] = {L"about:downloader", L"About:Downloader", L"about:recommended",
                                        L"ABOUT:RECOMMENDED"};
    for (int active : {0, 1, 2}) {
        for (const wchar_t* address : addresses) {
            tabs().SetActivePage(active);
            EXPECT_TRUE(tabs().OpenUrl(address, false));
            bool download = _wcsnicmp(address, L"about:d", 7) == 0;
            EXPECT_EQ(tabs().GetActivePage(), download ? 0 : active);
            EXPECT_EQ(tabs().GetPageCount(), 3);
        }
    }
    EXPECT_TRUE(taker->offered.empty());
    ASSERT_EQ(recommendIds.size(), 6u);
    for (size_t i = 1; i < recommendIds.size(); ++i)
        EXPECT_EQ(recommendIds[i], recommendIds[i - 1] + 1);
    Settle();
    EXPECT_TRUE(frame().searches.empty());
    EXPECT_TRUE(frame().simpleUrls.empty());
}

TEST_F(TabViewTest, KeywordsSearchAndAddressesOfOtherSitesGoToTheFrame) {
    const struct {
        const wchar_t* text;
        bool search;
    } cases[] = {
        {L"One Piece", true},
        {L"\u6d77\u8d3c\u738b", true},
        {L"harbor", true},
        {L"Re:Zero", false},  // parses as an address with scheme "Re" and no host
        {L"re:zero", false},
        {L"http://unsupported.example/comic/1", false},
        {L"https://EXAMPLE.org", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << (c.search ? "search " : "address ") << ToNarrow(c.text, CP_UTF8));
        frame().Clear();
        EXPECT_TRUE(tabs().OpenUrl(c.text, false));
        Settle();
        EXPECT_EQ(tabs().GetPageCount(), 0);
        EXPECT_TRUE(frame().boxes.empty());
        if (c.search) {
            ASSERT_EQ(frame().searches.size(), 1u);
            EXPECT_EQ(frame().searches[0].keyword, c.text);
            EXPECT_EQ(frame().searches[0].kinds, L"");
            EXPECT_EQ(frame().searches[0].requester, 0);
            EXPECT_TRUE(frame().simpleUrls.empty());
        } else {
            EXPECT_EQ(frame().simpleUrls, std::vector<std::wstring>{c.text});
            EXPECT_TRUE(frame().searches.empty());
        }
    }
}

// The demo site has a script: its page is loaded in the info bar and shown as a comic page; a
// page that cannot be had ends in the step's question and opens nothing.
TEST_F(TabViewTest, AnAddressOfASiteWithAScriptOpensAComicPage) {
    const std::wstring comic = ToWide(Service().SiteUrl("/comic/harbor.html"), CP_UTF8);
    EXPECT_TRUE(tabs().OpenUrl(comic, false));
    ASSERT_EQ(tabs().GetPageCount(), 1);
    EXPECT_EQ(tabs().GetPageImage(0), 2);
    EXPECT_EQ(std::wstring(tabs().PageView(0)->GetUrl()), comic);
    EXPECT_TRUE(frame().boxes.empty());
    EXPECT_TRUE(frame().simpleUrls.empty());

    EXPECT_FALSE(tabs().OpenUrl(ToWide(Service().SiteUrl("/comic/no-such-comic.html"), CP_UTF8), true));
    EXPECT_EQ(tabs().GetPageCount(), 1);
    ASSERT_EQ(frame().boxes.size(), 1u);
    EXPECT_EQ(frame().boxes[0].text, Text(L"Messages", L"GetHTMLFailed"));
    Settle();
    EXPECT_TRUE(frame().simpleUrls.empty());
    EXPECT_TRUE(frame().searches.empty());
}

TEST_F(TabViewTest, ADisabledSearchShowsAMessageInstead) {
    ASSERT_EQ(Service()
                  .Control("fail", {{"path", "/v2/config.php"}, {"body", R"({"b":[],"e":"","p":"","v":{},"sd":true})"}})
                  .find("ERROR"),
              std::string::npos);
    ASSERT_TRUE(g_env->context->LoadCatalogue());
    Service().Control("clear_failures");
    EXPECT_TRUE(tabs().OpenUrl(L"One Piece", false));
    Settle();
    ASSERT_TRUE(g_env->context->LoadCatalogue());
    EXPECT_TRUE(frame().searches.empty());
    ASSERT_EQ(frame().boxes.size(), 1u);
    EXPECT_EQ(frame().boxes[0].text, Text(L"Messages", L"SearchDisabled"));
    EXPECT_EQ(frame().boxes[0].flags, MB_ICONINFORMATION);
    EXPECT_FALSE(frame().boxes[0].kept);
}

TEST_F(TabViewTest, TheActivePageGetsTheFirstChanceUnlessTheCallerSaysOtherwise) {
    TestView* taker = Add(true, true, true);
    EXPECT_TRUE(tabs().OpenUrl(L"One Piece", false));
    Settle();
    EXPECT_EQ(taker->offered, std::vector<std::wstring>{L"One Piece"});
    EXPECT_TRUE(frame().searches.empty());
    EXPECT_TRUE(tabs().OpenUrl(L"One Piece", true));
    Settle();
    EXPECT_EQ(taker->offered.size(), 1u);
    EXPECT_EQ(frame().searches.size(), 1u);
}

TEST_F(TabViewTest, PagesComeGoAndChangeThroughTheBus) {
    TestView* a = Add(true, true, false, L"first");
    HWND aw = a->GetHwnd();
    int activations = frame().activations;
    TestView* b = Add(true, true, false, L"second");
    HWND bw = b->GetHwnd();
    EXPECT_EQ(tabs().GetActivePage(), 1);
    EXPECT_GT(frame().activations, activations);
    EXPECT_EQ(tabs().GetPageImage(1), 6);
    EXPECT_EQ(tabs().PageView(1), b);

    const std::wstring longTitle = L"A title of forty characters, long enough";
    ASSERT_TRUE(bus().PostTo(2, new msg_title_change(aw, longTitle)));
    ASSERT_TRUE(bus().PostTo(2, new msg_set_active(aw)));
    ASSERT_TRUE(wtltest::PumpUntil([] { return tabs().GetActivePage() == 0; }));
    EXPECT_EQ(tabs().GetPageTitle(0), longTitle);
    EXPECT_EQ(ShownTitle(0), longTitle.substr(0, 27) + L"...");

    // Messages for windows that are no pages change nothing.
    HWND stranger = CreateWindowExW(0, L"STATIC", L"", WS_CHILD, 0, 0, 1, 1, tabs().m_hWnd, nullptr, nullptr, nullptr);
    ASSERT_TRUE(bus().PostTo(2, new msg_close_tab(stranger)));
    ASSERT_TRUE(bus().PostTo(2, new msg_set_active(stranger)));
    ASSERT_TRUE(bus().PostTo(2, new msg_title_change(stranger, L"x")));
    Settle();
    EXPECT_EQ(tabs().GetPageCount(), 2);
    EXPECT_EQ(tabs().GetActivePage(), 0);
    DestroyWindow(stranger);

    // A view whose window is gone already is not shown.
    TestView kept;
    kept.deleteAtEnd = false;
    RECT rc = {0, 0, 1, 1};
    kept.Create(tabs().m_hWnd, &rc, nullptr, WS_CHILD);
    kept.DestroyWindow();
    ASSERT_TRUE(bus().PostTo(2, new msg_add_tab(&kept, 6, L"gone")));
    Settle();
    EXPECT_EQ(tabs().GetPageCount(), 2);

    ASSERT_TRUE(bus().PostTo(2, new msg_close_tab(aw)));
    ASSERT_TRUE(wtltest::PumpUntil([] { return tabs().GetPageCount() == 1; }));
    EXPECT_FALSE(IsWindow(aw));
    EXPECT_EQ(tabs().GetPageHWND(0), bw);
    EXPECT_EQ(tabs().GetActivePage(), 0);
}

TEST_F(TabViewTest, TheCloseMarkClosesOnlyWhenPressedAndReleasedOnIt) {
    ASSERT_TRUE(tabs().OpenUrl(L"about:downloader", true));
    TestView* a = Add();
    HWND aw = a->GetHwnd();
    // Hovering the active tab shows the close mark in place of its picture.
    Mouse(WM_MOUSEMOVE, OutsideMarkOf(1));
    EXPECT_EQ(tabs().GetPageImage(1), 0);
    EXPECT_EQ(tabs().hoverImage, 6);
    Mouse(WM_MOUSEMOVE, OutsideMarkOf(0));
    EXPECT_EQ(tabs().GetPageImage(1), 6);
    EXPECT_EQ(tabs().hoverImage, -1);
    Mouse(WM_MOUSEMOVE, CloseMarkOf(1));
    SendMessageW(strip(), WM_MOUSELEAVE, 0, 0);
    EXPECT_EQ(tabs().GetPageImage(1), 6);

    // Pressed on the mark, released beside it: nothing closes, the picture comes back.
    Mouse(WM_MOUSEMOVE, CloseMarkOf(1));
    Mouse(WM_LBUTTONDOWN, CloseMarkOf(1));
    Mouse(WM_LBUTTONUP, OutsideMarkOf(1));
    Settle();
    EXPECT_EQ(tabs().GetPageCount(), 2);
    EXPECT_EQ(tabs().GetPageImage(1), 6);
    EXPECT_EQ(tabs().pressPoint.x, -1);

    // Pressed beside it, released on it: nothing either.
    Mouse(WM_LBUTTONDOWN, OutsideMarkOf(1));
    Mouse(WM_LBUTTONUP, CloseMarkOf(1));
    Settle();
    EXPECT_EQ(tabs().GetPageCount(), 2);

    // A view that refuses keeps its tab.
    a->allowsClose = false;
    Mouse(WM_LBUTTONDOWN, CloseMarkOf(1));
    Mouse(WM_LBUTTONUP, CloseMarkOf(1));
    Settle();
    EXPECT_EQ(tabs().GetPageCount(), 2);
    a->allowsClose = true;

    Mouse(WM_LBUTTONDOWN, CloseMarkOf(1));
    Mouse(WM_LBUTTONUP, CloseMarkOf(1));
    ASSERT_TRUE(wtltest::PumpUntil([] { return tabs().GetPageCount() == 1; }));
    EXPECT_FALSE(IsWindow(aw));

    // The download list has no close mark.
    Mouse(WM_MOUSEMOVE, CloseMarkOf(0));
    EXPECT_EQ(tabs().GetPageImage(0), 1);
    Mouse(WM_LBUTTONDOWN, CloseMarkOf(0));
    Mouse(WM_LBUTTONUP, CloseMarkOf(0));
    Mouse(WM_LBUTTONDBLCLK, CloseMarkOf(0));
    Settle();
    EXPECT_EQ(tabs().GetPageCount(), 1);
}

TEST_F(TabViewTest, ADoubleClickClosesTheActiveTab) {
    ASSERT_TRUE(tabs().OpenUrl(L"about:downloader", true));
    TestView* a = Add();
    TestView* b = Add(true, false);  // refuses
    HWND aw = a->GetHwnd();
    Mouse(WM_LBUTTONDBLCLK, OutsideMarkOf(2));
    Settle();
    EXPECT_EQ(tabs().GetPageCount(), 3);
    EXPECT_EQ(tabs().PageView(2), b);
    tabs().SetActivePage(1);
    // A double click on another tab than the active one closes nothing.
    Mouse(WM_LBUTTONDBLCLK, OutsideMarkOf(2));
    Settle();
    EXPECT_EQ(tabs().GetPageCount(), 3);
    Mouse(WM_LBUTTONDBLCLK, OutsideMarkOf(1));
    ASSERT_TRUE(wtltest::PumpUntil([] { return tabs().GetPageCount() == 2; }));
    EXPECT_FALSE(IsWindow(aw));
}

TEST_F(TabViewTest, CloseAllCloseTabAndCloseOthers) {
    ASSERT_TRUE(tabs().OpenUrl(L"about:downloader", true));
    TestView* a = Add();
    TestView* refuser = Add(true, false);
    TestView* c = Add();
    HWND aw = a->GetHwnd(), cw = c->GetHwnd();
    (void)aw;

    // The tab menu of the download list cannot close it, even when the command comes.
    struct Seen {
        UINT first;
        UINT closeState;
        std::wstring closeText;
    };
    std::vector<Seen> seen;
    UINT answer = ID_TAB_CLOSE;
    WTL::Seams().trackPopupMenu = [&](HMENU menu, UINT flags, int x, int y, HWND owner) -> UINT {
        wchar_t text[64] = {};
        GetMenuStringW(menu, ID_TAB_CLOSE, text, 63, MF_BYCOMMAND);
        seen.push_back({GetMenuItemID(menu, 0), GetMenuState(menu, ID_TAB_CLOSE, MF_BYCOMMAND), text});
        seams.tracks.push_back({menu, flags, x, y, owner});
        return answer;
    };
    auto tabMenu = [](int page) {
        RECT rc = {};
        TabCtrl_GetItemRect(strip(), page, &rc);
        POINT pt = {(rc.left + rc.right) / 2, (rc.top + rc.bottom) / 2};
        ClientToScreen(strip(), &pt);
        SendMessageW(tabs().m_hWnd, WM_CONTEXTMENU, reinterpret_cast<WPARAM>(strip()), MAKELPARAM(pt.x, pt.y));
        return pt;
    };
    POINT pt = tabMenu(0);
    Settle();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].first, static_cast<UINT>(ID_TAB_CLOSE));
    EXPECT_TRUE(seen[0].closeState & MF_GRAYED);
    EXPECT_EQ(seen[0].closeText, Text(L"TabView", L"41101"));
    EXPECT_EQ(seams.tracks[0].x, pt.x);
    EXPECT_EQ(seams.tracks[0].owner, tabs().m_hWnd);
    EXPECT_TRUE(seams.tracks[0].flags & TPM_RETURNCMD);
    EXPECT_EQ(tabs().GetPageCount(), 4);

    // Close Tab on the last one.
    tabMenu(3);
    EXPECT_FALSE(seen.back().closeState & MF_GRAYED);
    ASSERT_TRUE(wtltest::PumpUntil([] { return tabs().GetPageCount() == 3; }));
    EXPECT_FALSE(IsWindow(cw));

    // Close Others from the refusing page: the others that can go, go.
    TestView* d = Add();
    HWND dw = d->GetHwnd();
    answer = ID_TAB_CLOSE_OTHERS;
    tabMenu(2);
    ASSERT_TRUE(wtltest::PumpUntil([&] { return !IsWindow(dw) && tabs().GetPageCount() == 2; }));
    EXPECT_EQ(tabs().PageView(0)->closable, false);
    EXPECT_EQ(tabs().PageView(1), refuser);

    // Shift+F10 on the active page: its tab's left-bottom corner.
    seams.tracks.clear();
    answer = 0;
    tabs().SetActivePage(1);
    SendMessageW(tabs().m_hWnd, WM_CONTEXTMENU, reinterpret_cast<WPARAM>(tabs().GetPageHWND(1)), -1);
    ASSERT_EQ(seams.tracks.size(), 1u);
    RECT item = {};
    TabCtrl_GetItemRect(strip(), 1, &item);
    POINT corner = {item.left, item.bottom};
    ClientToScreen(strip(), &corner);
    EXPECT_EQ(seams.tracks[0].x, corner.x);
    EXPECT_EQ(seams.tracks[0].y, corner.y);

    // Close All from the tab view: the download list and the refusing page stay.
    Add();
    Add();
    seen.clear();
    answer = ID_TAB_CLOSE_ALL;
    SendMessageW(tabs().m_hWnd, WM_RBUTTONUP, 0, MAKELPARAM(20, 200));
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].first, static_cast<UINT>(ID_TAB_CLOSE_ALL));
    ASSERT_TRUE(wtltest::PumpUntil([] { return tabs().GetPageCount() == 2; }));
    Settle();
    EXPECT_EQ(tabs().GetPageCount(), 2);
    EXPECT_FALSE(tabs().PageView(0)->closable);
    EXPECT_EQ(tabs().PageView(1), refuser);
}

// A page that runs on a thread of its own, as the recommendations page does: it frees itself once
// its window is gone, and its memory is poisoned then, so that a late use of it crashes.
class ThreadView : public WTL::CWindowImpl<ThreadView>, public VxView {
public:
    DECLARE_WND_CLASS_EX(L"Vx.Test.ThreadView", 0, COLOR_WINDOW)

    static void operator delete(void* p) {
        std::memset(p, 0xCC, sizeof(ThreadView));
        ::operator delete(p);
    }
    static DWORD WINAPI Run(void* param) {
        auto* view = static_cast<ThreadView*>(param);
        RECT rc = {0, 0, 10, 10};
        if (!view->Create(view->parent_, &rc, nullptr, WS_CHILD | WS_CLIPSIBLINGS)) {
            delete view;  // no window: the thread ends, nothing is added
            return 1;
        }
        view->hwnd_ = view->m_hWnd;
        auto* add = new msg_add_tab(view, 6, L"Hot");
        AppContextRef ctx;
        if (!ctx || !ctx->Messages().PostTo(2, add))
            delete add;
        MSG msg;
        while (GetMessageW(&msg, nullptr, 0, 0) > 0)
            DispatchMessageW(&msg);
        return 0;
    }
    void OnFinalMessage(HWND) override {
        PostQuitMessage(0);
        delete this;
    }
    BEGIN_MSG_MAP(ThreadView)
    END_MSG_MAP()

    HWND parent_ = nullptr;
};

// Waits for a thread while answering what it sends this thread (a child's parent lives here).
bool JoinPumping(HANDLE thread, DWORD timeoutMs) {
    DWORD start = GetTickCount();
    for (;;) {
        DWORD r = MsgWaitForMultipleObjects(1, &thread, FALSE, 20, QS_ALLINPUT);
        if (r == WAIT_OBJECT_0)
            return true;
        wtltest::Pump();
        if (GetTickCount() - start > timeoutMs)
            return false;
    }
}

TEST_F(TabViewTest, APageOnItsOwnThreadIsRemovedBeforeItsWindowCloses) {
    HANDLE thread = nullptr;
    bool failCreation = false;
    Views().recommend = [&](HWND tabView, const RECT&, int) {
        auto* view = new ThreadView();
        view->parent_ = failCreation ? reinterpret_cast<HWND>(static_cast<UINT_PTR>(0x1234)) : tabView;
        thread = CreateThread(nullptr, 0, &ThreadView::Run, view, 0, nullptr);
        return thread != nullptr;
    };
    ASSERT_TRUE(tabs().OpenUrl(L"about:downloader", true));
    ASSERT_TRUE(tabs().OpenUrl(L"about:recommended", true));
    ASSERT_TRUE(wtltest::PumpUntil([] { return tabs().GetPageCount() == 2; }));
    HWND page = tabs().GetPageHWND(1);
    EXPECT_NE(GetWindowThreadProcessId(page, nullptr), GetCurrentThreadId());
    EXPECT_EQ(tabs().GetActivePage(), 1);
    Mouse(WM_MOUSEMOVE, OutsideMarkOf(1));

    WTL::Seams().trackPopupMenu = [](HMENU, UINT, int, int, HWND) -> UINT { return ID_TAB_CLOSE; };
    RECT rc = {};
    TabCtrl_GetItemRect(strip(), 1, &rc);
    POINT pt = {rc.left + 2, rc.top + 2};
    ClientToScreen(strip(), &pt);
    SendMessageW(tabs().m_hWnd, WM_CONTEXTMENU, reinterpret_cast<WPARAM>(strip()), MAKELPARAM(pt.x, pt.y));
    ASSERT_TRUE(JoinPumping(thread, 10000));
    CloseHandle(thread);
    EXPECT_EQ(tabs().GetPageCount(), 1);
    EXPECT_FALSE(IsWindow(page));
    // The strip still works with what is left: nothing of the freed page is read.
    Mouse(WM_MOUSEMOVE, OutsideMarkOf(0));
    Mouse(WM_LBUTTONDBLCLK, OutsideMarkOf(0));
    SendMessageW(tabs().m_hWnd, WM_CONTEXTMENU, reinterpret_cast<WPARAM>(strip()), MAKELPARAM(pt.x, pt.y));
    Settle();
    EXPECT_EQ(tabs().GetPageCount(), 1);

    // A page whose window cannot be made ends its thread and shows nothing.
    failCreation = true;
    thread = nullptr;
    ASSERT_TRUE(tabs().OpenUrl(L"about:recommended", true));
    ASSERT_TRUE(JoinPumping(thread, 10000));
    DWORD code = 0;
    GetExitCodeThread(thread, &code);
    EXPECT_EQ(code, 1u);
    CloseHandle(thread);
    Settle();
    EXPECT_EQ(tabs().GetPageCount(), 1);
}

TEST_F(TabViewTest, ObjectCountsStayFlatOverManyTabsSwitchesAndMenus) {
    ASSERT_TRUE(GuiCounts::SeesNewObjects());
    ASSERT_TRUE(tabs().OpenUrl(L"about:downloader", true));
    Add();
    WTL::Seams().trackPopupMenu = [](HMENU, UINT, int, int, HWND) -> UINT { return 0; };
    auto round = [](int i) {
        ASSERT_TRUE(tabs().AddMangaView(L"http://127.0.0.1/comic/" + std::to_wstring(i), "", nullptr));
        HWND page = tabs().GetPageHWND(tabs().GetPageCount() - 1);
        ASSERT_TRUE(bus().PostTo(2, new msg_set_active(tabs().GetPageHWND(i % 2))));
        ASSERT_TRUE(bus().PostTo(2, new msg_close_tab(page)));
        ASSERT_TRUE(wtltest::PumpUntil([&] { return !IsWindow(page); }));
        SendMessageW(tabs().m_hWnd, WM_RBUTTONUP, 0, MAKELPARAM(20, 200));
        SendMessageW(tabs().m_hWnd, WM_CONTEXTMENU, reinterpret_cast<WPARAM>(tabs().GetPageHWND(0)), -1);
    };
    round(0);
    GuiCounts before = GuiCounts::Now();
    for (int i = 1; i <= 200; ++i) {
        round(i);
        if (HasFatalFailure())
            return;
    }
    GuiCounts after = GuiCounts::Now();
    EXPECT_LE(after.gdi, before.gdi + 2);
    EXPECT_LE(after.user, before.user + 2);
    EXPECT_EQ(tabs().GetPageCount(), 2);
}

TEST_F(TabViewTest, Screenshot) {
    ASSERT_TRUE(tabs().OpenUrl(L"about:downloader", true));
    ASSERT_TRUE(tabs().AddSearchView(L"harbor", "[]"));
    ASSERT_TRUE(tabs().AddMangaView(L"http://127.0.0.1/comic/harbor.html", "", nullptr));
    // The built-in language's own script: the English locale of the test prefix has no CJK font links.
    tabs().SetPageTitle(2, LanguageTag() == "zh" ? L"\u6708\u4e0b\u4e66\u5e93\uff1a\u7b2c\u4e00\u5377 Harbor Lights"
                                                 : L"Harbor Lights: a title long enough to be cut");
    Mouse(WM_MOUSEMOVE, CloseMarkOf(2));
    SetWindowTextW(frame().panel.inputBox.m_hWnd, L"http://127.0.0.1/comic/harbor.html");
    RedrawWindow(frame().m_hWnd, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    wtltest::Pump();
    RECT r;
    GetWindowRect(frame().m_hWnd, &r);
    RECT tabsRect;
    GetWindowRect(strip(), &tabsRect);
    r.bottom = tabsRect.bottom + 40;
    EXPECT_TRUE(ScreenshotRect(r, "tabstrip_" + LanguageTag()));
    EXPECT_EQ(tabs().GetPageImage(2), 0);
}

}  // namespace
