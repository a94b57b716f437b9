// The input panel in a stand-in main window: the box and its button, Enter, the bus text, the
// toolbar, the favourites drop-down (its menu, picks, reloads while it is open) and the owner-drawn
// menus, drawn for real and shot.
#include "UiTestSupport.h"
#include "WtlTestSupport.h"

#include <AppContext.h>
#include <CoreTestSupport.h>
#include <FavoritesStore.h>
#include <JsonUtil.h>
#include <MsgCenter.h>
#include <UiMetrics.h>
#include <common/Hsl.h>
#include <wtl/Seams.h>

#include <Tessara.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <functional>

namespace {

BOOL CALLBACK TakeMenuWindow(HWND w, LPARAM out) {
    wchar_t cls[16] = {};
    GetClassNameW(w, cls, 16);
    if (wcscmp(cls, L"#32768") != 0 || !IsWindowVisible(w))
        return TRUE;
    *reinterpret_cast<HWND*>(out) = w;
    return FALSE;
}

// The open menu of this thread: another test program may have a menu open too.
HWND ThreadMenuWindow() {
    HWND popup = nullptr;
    EnumThreadWindows(GetCurrentThreadId(), TakeMenuWindow, reinterpret_cast<LPARAM>(&popup));
    return popup;
}

struct Environment : ::testing::Environment {
    void SetUp() override {
        folder.reset(new ScopedAppFolder());
        ctx.reset(new AppContext());
        frame.reset(new TestFrame());
        ASSERT_TRUE(frame->Build());
        ASSERT_EQ(frame->id, 0);
        ASSERT_EQ(frame->panel.id, 1);
        ASSERT_EQ(frame->tabs.id, 2);
        wtltest::Pump();
    }
    void TearDown() override {
        frame.reset();
        ctx.reset();
        folder.reset();
    }
    std::unique_ptr<ScopedAppFolder> folder;
    std::unique_ptr<AppContext> ctx;
    std::unique_ptr<TestFrame> frame;
};
Environment* g_env = static_cast<Environment*>(::testing::AddGlobalTestEnvironment(new Environment));

const char kTree[] = R"([{"n":"Harbor Lights","u":"http://127.0.0.1/comic/harbor.html"},)"
                     R"({"n":"Action","c":[{"n":"A & B","u":"https://example.org/ab"},{"n":"No address"}]},)"
                     R"({"n":"Empty","c":[]}])";

void LoadFavorites(const char* text) {
    msg_favorites_loaded msg;
    msg.tree = ParseJsonText(text);
    FavoritesStore::RebuildIndex(msg.tree, msg.index);
    GetAppContext()->Favorites().SetLoaded(msg);
}

class PanelTest : public ::testing::Test {
protected:
    void SetUp() override {
        frame().Clear();
        SetBoxText(L"");
        frame().Clear();
    }
    static TestFrame& frame() { return *g_env->frame; }
    static VxPanel& panel() { return frame().panel; }
    static HWND box() { return panel().inputBox.m_hWnd; }
    static HWND button() { return panel().goButton.m_hWnd; }
    static void SetBoxText(const wchar_t* text) {
        SetWindowTextW(box(), text);
        wtltest::Pump();
    }
    static RECT InPanel(HWND child) {
        RECT rc = {};
        GetWindowRectInParent(child, rc);
        return rc;
    }
    static size_t Count(const std::vector<UINT>& list, UINT value) {
        return std::count(list.begin(), list.end(), value);
    }
    // Opens the favourites drop-down the way a click on the toolbar does.
    static void DropDown() {
        NMTOOLBARW info = {};
        info.hdr = {panel().toolbar, IDC_TOOLBAR, static_cast<UINT>(TBN_DROPDOWN)};
        info.iItem = ID_FAVORITES;
        SendMessageW(panel().m_hWnd, WM_NOTIFY, IDC_TOOLBAR, reinterpret_cast<LPARAM>(&info));
    }
    static void Key(HWND window, UINT key) {
        SendMessageW(window, WM_KEYDOWN, key, 1);
        SendMessageW(window, WM_CHAR, key == VK_RETURN ? L'\r' : key, 1);
        SendMessageW(window, WM_KEYUP, key, 0xC0000001);
    }
    wtltest::SeamRecorder seams;
};

// Pixels of a colour inside a window's client area, read back from the screen.
int CountPixels(HWND window, COLORREF colour) {
    UpdateWindow(window);
    RECT rc;
    GetClientRect(window, &rc);
    HDC dc = GetDC(window);
    int count = 0;
    for (int y = rc.top; y < rc.bottom; ++y) {
        for (int x = rc.left; x < rc.right; ++x)
            count += GetPixel(dc, x, y) == colour;
    }
    ReleaseDC(window, dc);
    return count;
}

bool Near(COLORREF a, COLORREF b, int tolerance) {
    return std::abs(GetRValue(a) - GetRValue(b)) <= tolerance && std::abs(GetGValue(a) - GetGValue(b)) <= tolerance &&
           std::abs(GetBValue(a) - GetBValue(b)) <= tolerance;
}

// Pixels close to a colour: the pictures' own colours, as the screen gives them back.
int CountNear(HWND window, COLORREF colour) {
    UpdateWindow(window);
    RECT rc;
    GetClientRect(window, &rc);
    HDC dc = GetDC(window);
    int count = 0;
    for (int y = rc.top; y < rc.bottom; ++y) {
        for (int x = rc.left; x < rc.right; ++x)
            count += Near(GetPixel(dc, x, y), colour, 24);
    }
    ReleaseDC(window, dc);
    return count;
}

const COLORREF kGreen = RGB(0x2E, 0x9E, 0x5B);  // the open-address mark
const COLORREF kBlue = RGB(0x2F, 0x6F, 0xD6);   // the search mark

TEST_F(PanelTest, TheCueTextIsPaintedOnlyWhileTheBoxIsEmpty) {
    const COLORREF grey = GetSysColor(COLOR_GRAYTEXT);
    InvalidateRect(box(), nullptr, TRUE);
    EXPECT_GT(CountPixels(box(), grey), 20);
    SetBoxText(L"x");
    InvalidateRect(box(), nullptr, TRUE);
    EXPECT_EQ(CountPixels(box(), grey), 0);
    SetBoxText(L"");
    InvalidateRect(box(), nullptr, TRUE);
    EXPECT_GT(CountPixels(box(), grey), 20);
}

TEST_F(PanelTest, TheButtonFollowsTheTextAndShowsAddressOrSearch) {
    const struct {
        const wchar_t* text;
        bool visible;
        bool address;
    } cases[] = {
        {L"https://example.org/x", true, true},
        {L"htt", true, false},
        {L"HTTP://EXAMPLE.ORG", true, true},
        {L"http:/", true, false},
        {L"", false, false},
        {L"One Piece", true, false},
        {L"http://a", true, true},
        {L"", false, false},
    };
    const int cx = GetAppContext()->Metrics().frameCx;
    const RECT panelRect = InPanel(panel().m_hWnd);
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "text \"" << std::string(c.text, c.text + wcslen(c.text)) << "\"");
        SetBoxText(c.text);
        ASSERT_EQ(IsWindowVisible(button()) != FALSE, c.visible);
        EXPECT_EQ((panel().buttonFlags & VxPanel::kAddressMode) != 0, c.address);
        RECT b = InPanel(button()), e = InPanel(box());
        int width = panelRect.right - panelRect.left;
        EXPECT_EQ(b.right, width - cx);
        if (c.visible) {
            EXPECT_EQ(e.right, b.left - cx);
            EXPECT_GT(CountNear(button(), c.address ? kGreen : kBlue), 20);
            EXPECT_EQ(CountNear(button(), c.address ? kBlue : kGreen), 0);
        } else {
            EXPECT_EQ(e.right, b.right);
        }
    }
}

TEST_F(PanelTest, EnterBeepsOnAnEmptyBoxAndSendsTheCommandOtherwise) {
    Key(box(), VK_RETURN);
    EXPECT_EQ(seams.beeps, std::vector<UINT>{0});
    EXPECT_EQ(Count(frame().commands, IDC_GO), 0u);
    SetBoxText(L"harbor lights");
    Key(box(), VK_RETURN);
    EXPECT_EQ(seams.beeps.size(), 1u);
    EXPECT_EQ(Count(frame().commands, IDC_GO), 1u);
    EXPECT_EQ(panel().inputBox.GetText(), L"harbor lights");  // Enter is no character of the text
}

TEST_F(PanelTest, TheBusPutsTextIntoTheBox) {
    MsgCenter& bus = GetAppContext()->Messages();
    ASSERT_TRUE(bus.PostTo(1, new msg_set_input_text(L"http://127.0.0.1/comic/a.html", true)));
    ASSERT_TRUE(wtltest::PumpUntil([] { return panel().inputBox.GetText() == L"http://127.0.0.1/comic/a.html"; }));
    DWORD start = 0, end = 0;
    ASSERT_TRUE(wtltest::PumpUntil([&] {
        SendMessageW(box(), EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
        return end == 29;
    }));
    EXPECT_EQ(start, 0u);
    EXPECT_TRUE(IsWindowVisible(button()));
    ASSERT_TRUE(bus.PostTo(1, new msg_set_input_text(L"")));
    ASSERT_TRUE(wtltest::PumpUntil([] { return GetWindowTextLengthW(box()) == 0; }));
    EXPECT_FALSE(IsWindowVisible(button()));
}

TEST_F(PanelTest, ToolbarButtonsReachTheMainWindow) {
    HWND bar = panel().toolbar;
    ASSERT_EQ(SendMessageW(bar, TB_BUTTONCOUNT, 0, 0), 4);
    const struct {
        int command;
        int image;
        const wchar_t* key;
    } buttons[] = {
        {ID_FAVORITES, 0, L"40002"}, {ID_SETTINGS, 1, L"40003"}, {ID_HOT_MANGAS, 4, L"40005"}, {ID_ABOUT, 2, L"40001"}};
    for (int i = 0; i < 4; ++i) {
        TBBUTTON b = {};
        ASSERT_TRUE(SendMessageW(bar, TB_GETBUTTON, i, reinterpret_cast<LPARAM>(&b)));
        EXPECT_EQ(b.idCommand, buttons[i].command);
        EXPECT_EQ(b.iBitmap, buttons[i].image);
        wchar_t text[64] = {};
        SendMessageW(bar, TB_GETBUTTONTEXTW, b.idCommand, reinterpret_cast<LPARAM>(text));
        EXPECT_EQ(std::wstring(text), GetAppContext()->Translator().Text(L"ToolBar", buttons[i].key));
    }
    for (int command : {ID_SETTINGS, ID_HOT_MANGAS, ID_ABOUT}) {
        RECT rc = {};
        SendMessageW(bar, TB_GETRECT, command, reinterpret_cast<LPARAM>(&rc));
        LPARAM at = MAKELPARAM((rc.left + rc.right) / 2, (rc.top + rc.bottom) / 2);
        SendMessageW(bar, WM_LBUTTONDOWN, MK_LBUTTON, at);
        SendMessageW(bar, WM_LBUTTONUP, 0, at);
        ASSERT_TRUE(wtltest::PumpUntil([&] { return Count(frame().commands, command) == 1; })) << command;
    }
    // The favourites button drops its menu down at its left-bottom corner.
    RECT rc = {};
    SendMessageW(bar, TB_GETRECT, ID_FAVORITES, reinterpret_cast<LPARAM>(&rc));
    LPARAM at = MAKELPARAM((rc.left + rc.right) / 2, (rc.top + rc.bottom) / 2);
    SendMessageW(bar, WM_LBUTTONDOWN, MK_LBUTTON, at);
    SendMessageW(bar, WM_LBUTTONUP, 0, at);
    ASSERT_TRUE(wtltest::PumpUntil([&] { return seams.tracks.size() == 1; }));
    POINT corner = {rc.left, rc.bottom};
    ClientToScreen(bar, &corner);
    EXPECT_EQ(seams.tracks[0].x, corner.x);
    EXPECT_EQ(seams.tracks[0].y, corner.y);
    EXPECT_EQ(seams.tracks[0].owner, panel().m_hWnd);
    EXPECT_EQ(seams.tracks[0].flags, static_cast<UINT>(TPM_RETURNCMD | TPM_VERTICAL));
}

struct MenuItem {
    UINT id;
    std::wstring text;
    bool grayed;
    bool popup;
};

std::vector<MenuItem> Items(HMENU menu) {
    std::vector<MenuItem> items;
    for (int i = 0, n = GetMenuItemCount(menu); i < n; ++i) {
        wchar_t text[128] = {};
        MENUITEMINFOW info = {};
        info.cbSize = sizeof info;
        info.fMask = MIIM_ID | MIIM_STATE | MIIM_SUBMENU | MIIM_STRING | MIIM_FTYPE;
        info.dwTypeData = text;
        info.cch = 127;
        GetMenuItemInfoW(menu, i, TRUE, &info);
        items.push_back({info.wID, (info.fType & MFT_SEPARATOR) ? L"-" : text, (info.fState & MFS_GRAYED) != 0,
                         info.hSubMenu != nullptr});
    }
    return items;
}

TEST_F(PanelTest, TheFavoritesMenuHoldsTheTree) {
    const std::wstring empty = GetAppContext()->Translator().Text(L"Favorites", L"Empty");
    std::vector<MenuItem> top, more, action, emptyFolder;
    WTL::Seams().trackPopupMenu = [&](HMENU menu, UINT, int, int, HWND) -> UINT {
        top = Items(menu);
        more = Items(GetSubMenu(menu, 1));
        action = Items(GetSubMenu(menu, 4));
        emptyFolder = Items(GetSubMenu(menu, 5));
        return 0;
    };
    LoadFavorites(kTree);
    DropDown();
    ASSERT_EQ(top.size(), 6u);
    EXPECT_EQ(top[0].id, static_cast<UINT>(ID_FAV_CHECK_UPDATE));
    EXPECT_FALSE(top[0].grayed);
    EXPECT_TRUE(top[1].popup);
    EXPECT_EQ(top[2].text, L"-");
    EXPECT_EQ(top[3].id, 50000u);
    EXPECT_EQ(top[3].text, L"Harbor Lights");
    EXPECT_EQ(top[4].text, L"Action");
    ASSERT_EQ(more.size(), 3u);
    EXPECT_EQ(more[0].id, static_cast<UINT>(ID_FAV_SORT));
    EXPECT_EQ(more[1].id, static_cast<UINT>(ID_FAV_MANAGE));
    EXPECT_EQ(more[2].id, static_cast<UINT>(ID_FAV_FOLDER));
    EXPECT_FALSE(more[0].grayed || more[1].grayed || more[2].grayed);
    ASSERT_EQ(action.size(), 2u);
    EXPECT_EQ(action[0].id, 50001u);
    EXPECT_EQ(action[0].text, L"A && B");  // shown as "A & B", not with B underlined
    EXPECT_EQ(action[1].id, 50002u);
    ASSERT_EQ(emptyFolder.size(), 1u);
    EXPECT_EQ(emptyFolder[0].id, 50003u);
    EXPECT_EQ(emptyFolder[0].text, empty);
    EXPECT_TRUE(emptyFolder[0].grayed);

    // An empty tree: "(Empty)" at the top, nothing to update, sort or manage.
    LoadFavorites("[]");
    DropDown();
    ASSERT_EQ(top.size(), 4u);
    EXPECT_TRUE(top[0].grayed);
    EXPECT_EQ(top[3].text, empty);
    EXPECT_TRUE(top[3].grayed);
    EXPECT_TRUE(more[0].grayed && more[1].grayed);
    EXPECT_FALSE(more[2].grayed);
}

TEST_F(PanelTest, PickingAFavoriteOpensItsAddress) {
    LoadFavorites(kTree);
    const struct {
        UINT answer;
        const wchar_t* boxText;  // null: the box keeps what it had
        bool opened;
    } cases[] = {
        {50000, L"http://127.0.0.1/comic/harbor.html", true},
        {50001, L"https://example.org/ab", true},
        {50002, nullptr, false},  // no address
        {50003, nullptr, false},  // "(Empty)"
        {50004, nullptr, false},  // beyond the menu
        {0, nullptr, false},      // nothing chosen
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.answer);
        SetBoxText(L"typed");
        frame().Clear();
        seams.trackAnswer = c.answer;
        DropDown();
        // The pick ends inside the drop-down; a later command proves that nothing more follows.
        PostMessageW(frame().m_hWnd, WM_COMMAND, 1, 0);
        ASSERT_TRUE(wtltest::PumpUntil([] { return Count(frame().commands, 1) == 1; }));
        EXPECT_EQ(panel().inputBox.GetText(), c.boxText ? c.boxText : L"typed");
        EXPECT_EQ(Count(frame().commands, IDC_GO), c.opened ? 1u : 0u);
    }
}

TEST_F(PanelTest, CommandsOfTheFavoritesMenuGoToTheMainWindow) {
    LoadFavorites(kTree);
    for (UINT command : {ID_FAV_CHECK_UPDATE, ID_FAV_MANAGE, ID_FAV_SORT, ID_FAV_FOLDER}) {
        frame().Clear();
        seams.trackAnswer = command;
        SetBoxText(L"typed");
        DropDown();
        ASSERT_TRUE(wtltest::PumpUntil([&] { return Count(frame().commands, command) == 1; })) << command;
        EXPECT_EQ(panel().inputBox.GetText(), L"typed");
    }
}

// The menu reads only its own copies: a reload while it is open frees the old tree.
TEST_F(PanelTest, AReloadWhileTheMenuIsOpenFreesNothingItReads) {
    LoadFavorites(kTree);
    WTL::Seams().trackPopupMenu = [](HMENU, UINT, int, int, HWND) -> UINT {
        LoadFavorites(R"([{"n":"Other","u":"http://other.example/1"},{"n":"X","c":[]}])");
        // Fresh allocations of the same sizes land where the old nodes were.
        std::vector<JsonValue*> filler;
        for (int i = 0; i < 64; ++i)
            filler.push_back(ParseJsonText(R"({"n":"zzzzzzzzzzzzzzzzzzzz","u":"zzzzzzzzzzzzzzzzzzzzzzzzzzzzzzzzzz"})"));
        for (JsonValue* v : filler)
            deleteValue(&v);
        return 50001;
    };
    SetBoxText(L"typed");
    DropDown();
    ASSERT_TRUE(wtltest::PumpUntil([] { return Count(frame().commands, IDC_GO) == 1; }));
    EXPECT_EQ(panel().inputBox.GetText(), L"https://example.org/ab");
}

// The drop-down in a real menu loop: items are measured and drawn by the panel while it is open,
// get their own texts back once it closed; a screenshot of it is written.
class RealMenu {
public:
    // Each tick does one step: a key for the menu, then the checks and the shot, then the end.
    explicit RealMenu(std::function<void(HMENU)> whileOpen, int downKeys = 0)
        : whileOpen_(std::move(whileOpen)), downKeys_(downKeys) {
        current_ = this;
    }
    ~RealMenu() { current_ = nullptr; }

    UINT Track(HMENU menu, UINT flags, int x, int y, HWND owner) {
        menu_ = menu;
        owner_ = owner;
        ticks_ = 0;
        timer_ = SetTimer(nullptr, 0, 40, &Tick);
        // A bound for the loop, in case the ticks never come.
        watchdog_ = SetTimer(nullptr, 0, 8000, &Watchdog);
        UINT result = static_cast<UINT>(TrackPopupMenuEx(menu, flags, x, y, owner, nullptr));
        KillTimer(nullptr, timer_);
        KillTimer(nullptr, watchdog_);
        return result;
    }
    bool ended = false;
    bool timedOut = false;

private:
    static void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD) { current_->Step(); }
    static void CALLBACK Watchdog(HWND, UINT, UINT_PTR, DWORD) {
        current_->timedOut = true;
        EndMenu();
    }
    void Step() {
        ++ticks_;
        if (ticks_ <= downKeys_) {
            PostMessageW(owner_, WM_KEYDOWN, VK_DOWN, 0);
            return;
        }
        if (ticks_ == downKeys_ + 2) {
            if (whileOpen_)
                whileOpen_(menu_);
            ended = true;
            EndMenu();
        }
    }

    static RealMenu* current_;
    std::function<void(HMENU)> whileOpen_;
    int downKeys_;
    HMENU menu_ = nullptr;
    HWND owner_ = nullptr;
    UINT_PTR timer_ = 0, watchdog_ = 0;
    int ticks_ = 0;
};
RealMenu* RealMenu::current_ = nullptr;

TEST_F(PanelTest, OwnerDrawnMenuItemsAreMeasuredDrawnAndRestored) {
    LoadFavorites(kTree);
    NONCLIENTMETRICSW ncm = {};
    ncm.cbSize = sizeof ncm;
    SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof ncm, &ncm, 0);
    const int itemHeight = std::abs(ncm.lfMenuFont.lfHeight) + 10;
    HMENU tracked = nullptr;
    std::vector<UINT> types;
    std::vector<int> heights;
    COLORREF band = 0, rest = 0, selected = 0;
    const COLORREF face = GetSysColor(COLOR_BTNFACE);
    RealMenu real(
        [&](HMENU menu) {
            tracked = menu;
            for (int i = 0, n = GetMenuItemCount(menu); i < n; ++i) {
                MENUITEMINFOW info = {};
                info.cbSize = sizeof info;
                info.fMask = MIIM_FTYPE;
                GetMenuItemInfoW(menu, i, TRUE, &info);
                types.push_back(info.fType);
                RECT rc = {};
                GetMenuItemRect(nullptr, menu, i, &rc);
                heights.push_back(rc.bottom - rc.top);
            }
            RECT first = {}, harbor = {};
            GetMenuItemRect(nullptr, menu, 0, &first);
            GetMenuItemRect(nullptr, menu, 3, &harbor);
            // The menu's own window: a screen DC does not see other top-level windows under Wine.
            HWND popup = ThreadMenuWindow();
            // A busy machine may not have painted the menu yet.
            RedrawWindow(popup, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
            auto at = [popup](int x, int y) {
                POINT pt = {x, y};
                ScreenToClient(popup, &pt);
                HDC dc = GetDC(popup);
                COLORREF colour = GetPixel(dc, pt.x, pt.y);
                ReleaseDC(popup, dc);
                return colour;
            };
            band = at(first.left + 1, first.top + 1);
            rest = at(first.right - 3, first.top + 2);
            selected = at(harbor.right - 4, harbor.top + 3);
            RECT shot = {first.left - 8, first.top - 8, first.left + 260, harbor.bottom + 3 * itemHeight + 8};
            EXPECT_TRUE(ScreenshotRect(shot, "favorites_menu_" + LanguageTag()));
        },
        3);  // the third item down is "Harbor Lights", past the separator
    WTL::Seams().trackPopupMenu = [&](HMENU menu, UINT flags, int x, int y, HWND owner) {
        return real.Track(menu, flags, x, y, owner);
    };
    DropDown();
    ASSERT_FALSE(real.timedOut);
    ASSERT_TRUE(real.ended);
    ASSERT_EQ(types.size(), 6u);
    for (size_t i = 0; i < types.size(); ++i) {
        EXPECT_TRUE(types[i] & MFT_OWNERDRAW) << i;
        EXPECT_EQ(heights[i], (types[i] & MFT_SEPARATOR) ? GetSystemMetrics(SM_CYMENU) / 2 : itemHeight) << i;
    }
    EXPECT_TRUE(Near(band, AdjustColor(face, 20, 0), 2)) << std::hex << band << " " << AdjustColor(face, 20, 0);
    EXPECT_TRUE(Near(rest, AdjustColor(face, 75, 0), 2)) << std::hex << rest << " " << AdjustColor(face, 75, 0);
    EXPECT_TRUE(Near(selected, AdjustColor(GetSysColor(COLOR_HIGHLIGHT), 70, -57), 2))
        << std::hex << selected << " " << AdjustColor(GetSysColor(COLOR_HIGHLIGHT), 70, -57);
    EXPECT_EQ(panel().GetCoolMenu().OpenMenuCount(), 0u);
}

TEST_F(PanelTest, ImageChoiceOfMenuItems) {
    HMENU favorites = CreatePopupMenu();
    AppendMenuW(favorites, MF_STRING, 50007, L"fav");
    HMENU nested = CreatePopupMenu();
    AppendMenuW(nested, MF_POPUP, reinterpret_cast<UINT_PTR>(favorites), L"inner");
    HMENU more = CreatePopupMenu();
    AppendMenuW(more, MF_STRING, ID_FAV_SORT, L"sort");
    HMENU menu = CreatePopupMenu();
    AppendMenuW(menu, MF_POPUP, reinterpret_cast<UINT_PTR>(nested), L"folder of folder");
    AppendMenuW(menu, MF_POPUP, reinterpret_cast<UINT_PTR>(favorites), L"folder");
    AppendMenuW(menu, MF_POPUP, reinterpret_cast<UINT_PTR>(more), L"more");
    AppendMenuW(menu, MF_STRING, ID_FAV_CHECK_UPDATE, L"update");
    AppendMenuW(menu, MF_STRING, 50001, L"favourite");
    AppendMenuW(menu, MF_STRING | MF_GRAYED, 50002, L"(Empty)");
    const int expected[] = {0, 0, -1, -1, 1, -1};
    for (int i = 0; i < 6; ++i) {
        MENUITEMINFOW info = {};
        info.cbSize = sizeof info;
        info.fMask = MIIM_ID | MIIM_STATE | MIIM_SUBMENU;
        GetMenuItemInfoW(menu, i, TRUE, &info);
        EXPECT_EQ(panel().GetMenuItemImage(menu, i, info), expected[i]) << i;
    }
    DestroyMenu(menu);
}

TEST_F(PanelTest, ObjectCountsStayFlatOverManyMenus) {
    LoadFavorites(kTree);
    RealMenu real(nullptr);
    WTL::Seams().trackPopupMenu = [&](HMENU menu, UINT flags, int x, int y, HWND owner) {
        return real.Track(menu, flags, x, y, owner);
    };
    ASSERT_TRUE(GuiCounts::SeesNewObjects());
    DropDown();  // the first one loads what every later one shares
    GuiCounts before = GuiCounts::Now();
    for (int i = 0; i < 200; ++i) {
        DropDown();
        ASSERT_FALSE(real.timedOut);
    }
    GuiCounts after = GuiCounts::Now();
    EXPECT_LE(after.gdi, before.gdi + 2);
    EXPECT_LE(after.user, before.user + 2);
}

TEST_F(PanelTest, Screenshot) {
    SetBoxText(L"");
    SetFocus(nullptr);
    RedrawWindow(frame().m_hWnd, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    wtltest::Pump();
    EXPECT_TRUE(Screenshot(panel().m_hWnd, "panel_empty_" + LanguageTag()));
    SetBoxText(L"https://127.0.0.1/comic/harbor.html");
    SendMessageW(button(), WM_MOUSEMOVE, 0, MAKELPARAM(2, 2));
    RedrawWindow(frame().m_hWnd, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    wtltest::Pump();
    EXPECT_TRUE(Screenshot(panel().m_hWnd, "panel_address_" + LanguageTag()));
    SendMessageW(button(), WM_MOUSELEAVE, 0, 0);
}

}  // namespace
