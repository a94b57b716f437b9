// The view framework in a real window under Wine: a view whose window is an engine window loads a
// page from the resources, filled from the language texts, with the program's style sheet and
// pictures, and its links do what the link policy says.
#include "UiTestSupport.h"
#include "WtlTestSupport.h"

#include <AppContext.h>
#include <AppDatabase.h>
#include <CoreTestSupport.h>
#include <LanguageTranslator.h>
#include <Messages.h>
#include <MsgCenter.h>
#include <VxHTMLView.h>
#include <VxView.h>
#include <common/CodePage.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

// Observer 0 in place of the main window: what "execute" links ask it to open.
class ExecuteSink : public WTL::CWindowImpl<ExecuteSink>, public VxMsgObserver {
public:
    DECLARE_WND_CLASS_EX(L"Vx.Test.ExecuteSink", 0, -1)
    std::vector<std::wstring> urls;
    void OnExecute(msg_execute* msg) { urls.push_back(msg->url); }

    BEGIN_MSG_MAP(ExecuteSink)
    if (VxMsgObserver::OnMessage(hWnd, uMsg, wParam, lParam, lResult))
        return TRUE;
    END_MSG_MAP()
};

struct Environment : ::testing::Environment {
    void SetUp() override {
        folder.reset(new ScopedAppFolder());
        ctx.reset(new AppContext());
        ASSERT_TRUE(ctx->Database().Open());
        ASSERT_TRUE(sink.Create(HWND_MESSAGE));
        MsgCenter& bus = ctx->Messages();
        sink.id = bus.RegisterObserver(sink.m_hWnd, &sink);
        ASSERT_EQ(sink.id, 0);
        bus.Subscribe(sink.id, "execute", MsgThunk<&ExecuteSink::OnExecute>);
    }
    void TearDown() override {
        ctx->Messages().UnregisterObserver(sink.id);
        sink.DestroyWindow();
        ctx.reset();
        folder.reset();
    }
    std::unique_ptr<ScopedAppFolder> folder;
    std::unique_ptr<AppContext> ctx;
    ExecuteSink sink;
};
Environment* g_env = static_cast<Environment*>(::testing::AddGlobalTestEnvironment(new Environment));

std::wstring Text(const wchar_t* key) {
    return g_env->ctx->Translator().Text(L"MangaView", key);
}

// The small view the framework is driven with: its page comes in at creation, and it takes the
// links that carry a command itself before the framework's link handling.
class CTestView : public VxHTMLView<CTestView>, public VxView {
public:
    bool loadedAtCreation = false;
    std::vector<std::wstring> commands;

    const wchar_t* GetUrl() override { return L"about:viewtest"; }

    bool handle_event(HELEMENT, HL_BEHAVIOR_EVENT& params) override {
        htmlayout::dom::element target(params.target);
        const wchar_t* command = target.get_attribute("command");
        if (params.cmd == HL_HYPERLINK_CLICK && command) {
            commands.push_back(command);
            return true;
        }
        return OnHyperlinkClick(params);
    }

    BEGIN_MSG_MAP(CTestView)
    CHAIN_MSG_MAP(VxHTMLView<CTestView>)
    MESSAGE_HANDLER(WM_CREATE, OnCreate)
    END_MSG_MAP()

private:
    LRESULT OnCreate(UINT, WPARAM, LPARAM, BOOL&) {
        hwnd_ = m_hWnd;
        loadedAtCreation = LoadHtmlTemplate(m_hWnd, L"ViewTest.html", L"MangaView");
        return 0;
    }
};

struct Capture {
    int w = 0, h = 0;
    std::vector<uint32_t> px;
    uint32_t At(int x, int y) const { return px[static_cast<size_t>(y) * w + x] & 0xFFFFFF; }
    RECT Find(uint32_t rgb) const {
        RECT r = {w, h, -1, -1};
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                if (At(x, y) == rgb) {
                    r.left = std::min<LONG>(r.left, x);
                    r.top = std::min<LONG>(r.top, y);
                    r.right = std::max<LONG>(r.right, x + 1);
                    r.bottom = std::max<LONG>(r.bottom, y + 1);
                }
        if (r.right < 0)
            r = RECT{0, 0, 0, 0};
        return r;
    }
    int Count(uint32_t rgb) const {
        int n = 0;
        for (uint32_t p : px)
            n += (p & 0xFFFFFF) == rgb;
        return n;
    }
};

// What the engine paints, through WM_PRINTCLIENT: independent of what covers the screen.
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

const uint32_t kPageBackground = 0xF0F8FF;  // common.css
const uint32_t kNoImageFill = 0xE8EEF4;     // noimg.gif inside its border
const uint32_t kSpinnerHead = 0x1F5FBF;     // the first frame of loading.gif and loading_s.gif

std::wstring Wide(const std::string& utf8) {
    return ToWide(utf8, CP_UTF8);
}

// The program's NOIMG picture written to a file, for a page that names it by a file address.
std::wstring WriteNoImageFile() {
    HRSRC found = FindResourceW(nullptr, L"NOIMG", L"GIF");
    HGLOBAL loaded = found ? LoadResource(nullptr, found) : nullptr;
    DWORD size = found ? SizeofResource(nullptr, found) : 0;
    wchar_t dir[MAX_PATH];
    GetTempPathW(MAX_PATH, dir);
    std::wstring path = std::wstring(dir) + L"vx_views_cover.gif";
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    bool ok = loaded && file != INVALID_HANDLE_VALUE &&
              WriteFile(file, LockResource(loaded), size, &written, nullptr) && written == size;
    if (file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
    return ok ? path : std::wstring();
}

class ViewsTest : public ::testing::Test {
protected:
    static HWND frame;
    static void SetUpTestSuite() {
        WNDCLASSW wc = {};
        wc.lpfnWndProc = DefWindowProcW;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = L"VxViewsTestFrame";
        wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
        RegisterClassW(&wc);
        frame = CreateWindowExW(WS_EX_TOPMOST, L"VxViewsTestFrame", L"views test", WS_POPUP | WS_VISIBLE, 60, 40, 624,
                                524, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    }
    static void TearDownTestSuite() {
        DestroyWindow(frame);
        frame = nullptr;
    }
    void SetUp() override {
        ASSERT_TRUE(frame);
        g_env->sink.urls.clear();
    }
    void TearDown() override { wtltest::Pump(); }

    bool MakeView() {
        RECT rc = {2, 2, 622, 522};
        return view.Create(frame, rc, 5001) != nullptr;
    }
    htmlayout::dom::element Root() { return htmlayout::dom::element::root_element(view.m_hWnd); }
    std::wstring TextOf(const char* selector) { return Wide(Root().find_first("%s", selector).text()); }
    void Click(POINT p) {
        SendMessageW(view.m_hWnd, WM_MOUSEMOVE, 0, MAKELPARAM(p.x, p.y));
        SendMessageW(view.m_hWnd, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(p.x, p.y));
        SendMessageW(view.m_hWnd, WM_LBUTTONUP, 0, MAKELPARAM(p.x, p.y));
    }
    // Waits until a marker posted after the click arrives: an "execute" the click posted came first.
    std::vector<std::wstring> ExecutedSoFar() {
        auto* marker = new msg_execute(L"marker");
        if (!g_env->ctx->Messages().PostTo(0, marker)) {
            delete marker;
            ADD_FAILURE() << "the marker was not posted";
            return {};
        }
        std::vector<std::wstring>& urls = g_env->sink.urls;
        EXPECT_TRUE(wtltest::PumpUntil([&] { return !urls.empty() && urls.back() == L"marker"; }, 5000));
        std::vector<std::wstring> got(urls.begin(), urls.empty() ? urls.begin() : urls.end() - 1);
        urls.clear();
        return got;
    }

    wtltest::SeamRecorder seams;
    wtltest::Owned<CTestView> view;
};
HWND ViewsTest::frame = nullptr;

TEST_F(ViewsTest, PageFromTheResourcesFilledFromTheTexts) {
    // Twice in one process: the view's class is registered once and serves every view.
    for (int round = 0; round < 2; ++round) {
        ASSERT_TRUE(MakeView()) << round;
        EXPECT_TRUE(view.loadedAtCreation);
        EXPECT_EQ(view.GetHwnd(), view.m_hWnd);
        wchar_t cls[64] = L"";
        GetClassNameW(view.m_hWnd, cls, 64);
        EXPECT_STRNE(cls, L"HTMLAYOUT-W") << "a class of its own over the engine's";
        EXPECT_EQ(view.GetStyle() & 0x56000000u, 0x56000000u);
        EXPECT_EQ(view.GetExStyle() & WS_EX_STATICEDGE, static_cast<DWORD>(WS_EX_STATICEDGE));

        EXPECT_EQ(TextOf("#head"), Text(L"MangaName") + L": " + Text(L"Analyzing"));
        EXPECT_EQ(TextOf("#author"), Text(L"Analyzing"));
        EXPECT_EQ(TextOf("#bare-key"), L"NotInSection");
        EXPECT_EQ(TextOf("#percent"), L"100% read");

        Capture c = Grab(view.m_hWnd);
        EXPECT_EQ(c.At(c.w - 3, c.h - 3), kPageBackground) << "common.css from the resources";
        RECT cover = c.Find(kNoImageFill);
        EXPECT_GE(cover.right - cover.left, 110) << "noimg.gif";
        EXPECT_GE(cover.bottom - cover.top, 150);
        EXPECT_GT(c.Count(kSpinnerHead), 20) << "loading.gif and LOADING_S.GIF";
        view.DestroyWindow();
        EXPECT_EQ(view.m_hWnd, nullptr);
    }
}

TEST_F(ViewsTest, AddressesThatAreNoResourceAreLeftToTheEngine) {
    ASSERT_TRUE(MakeView());
    std::wstring file = WriteNoImageFile();
    ASSERT_FALSE(file.empty());
    // The style sheet by its name in capitals; a file address for the picture; a resource the
    // program lacks, and a web address, neither of which the engine fetches.
    std::string page = "<style>@import url(COMMON.CSS);</style><img src=\"file://" + ToNarrow(file, CP_UTF8) +
                       "\"><img src=\"missing.gif\"><img src=\"http://127.0.0.1:1/noimg.gif\">";
    ASSERT_TRUE(view.LoadHtmlText(view.m_hWnd, page));
    Capture c = Grab(view.m_hWnd);
    EXPECT_EQ(c.At(c.w - 3, c.h - 3), kPageBackground);
    RECT cover = c.Find(kNoImageFill);
    EXPECT_GE(cover.right - cover.left, 110) << "the picture from the file";
    DeleteFileW(file.c_str());
}

TEST_F(ViewsTest, MissingPageLeavesTheViewBlank) {
    ASSERT_TRUE(MakeView());
    EXPECT_FALSE(view.LoadHtmlResource(view.m_hWnd, L"NoSuchPage.html"));
    EXPECT_FALSE(view.LoadHtmlTemplate(view.m_hWnd, L"NoSuchPage.html", L"MangaView"));
    EXPECT_TRUE(view.LoadHtmlResource(view.m_hWnd, L"viewtest.HTML")) << "names without regard to case";
    EXPECT_FALSE(vxhtml::LoadHtmlResource(GetDesktopWindow(), L"ViewTest.html")) << "not an engine window";
}

// The element layer the views use: lookups, and handles that hold their element until they go.
TEST_F(ViewsTest, ElementHandlesAndLookups) {
    ASSERT_TRUE(MakeView());
    htmlayout::dom::element root = Root();
    ASSERT_TRUE(root);
    EXPECT_EQ(root.find_all("#links a").size(), 7u);
    EXPECT_EQ(root.find_first("#links a"), root.find_by_id(L"web"));
    EXPECT_EQ(root.find_first("a[command=%s]", "own"), root.find_by_id(L"own"));
    EXPECT_FALSE(root.find_first("#nothing-like-this"));
    EXPECT_FALSE(root.find_by_id(nullptr));
    // A selector that does not fit its buffer matches nothing rather than what is left of it.
    std::string tail(2100, 'x');
    EXPECT_FALSE(root.find_first("#links a%s", tail.c_str()));
    EXPECT_TRUE(root.find_all("#links a%s", tail.c_str()).empty());

    htmlayout::dom::element author = root.find_by_id(L"author");
    EXPECT_EQ(author.parent().parent(), root.find_by_id(L"texts"));
    EXPECT_TRUE(author.set_text(L"Hajime Isayama"));
    EXPECT_EQ(Wide(author.text()), L"Hajime Isayama");
    EXPECT_TRUE(author.set_html("<b>\xE8\xAB\xAB\xE5\xB1\xB1\xE5\x89\xB5</b> &amp; co", HL_REPLACE_CONTENT));
    EXPECT_EQ(Wide(author.text()), L"\u8aeb\u5c71\u5275 & co");
    EXPECT_TRUE(author.set_attribute("error", L""));
    EXPECT_STREQ(author.get_attribute("error"), L"");
    EXPECT_TRUE(author.set_attribute("error", nullptr));
    EXPECT_FALSE(author.has_attribute("error"));

    // Taken out of the page, a held row stays readable; once the last copy goes, so does it.
    HELEMENT raw = nullptr;
    {
        htmlayout::dom::element row = root.find_by_id(L"exec");
        htmlayout::dom::element copy = row;
        raw = row.get();
        EXPECT_TRUE(row.destroy());
        EXPECT_FALSE(root.find_by_id(L"exec"));
        row = htmlayout::dom::element();
        EXPECT_STREQ(copy.get_attribute("href"), L"http://comics.example.net/c");
    }
    LPCWSTR href = nullptr;
    EXPECT_EQ(HTMLayoutGetAttributeByName(raw, "href", &href), HL_INVALID_HANDLE);
}

TEST_F(ViewsTest, LinkClicks) {
    ASSERT_TRUE(MakeView());
    struct Case {
        const char* name;
        uint32_t colour;
        const wchar_t* opened;    // handed to the shell, or null
        const wchar_t* executed;  // posted to the main window, or null
        size_t beeps;
        const wchar_t* command;  // taken by the view itself, or null
    };
    const Case cases[] = {
        {"https link", 0xFFE0E0, L"https://comics.example.net/a", nullptr, 0, nullptr},
        {"# link", 0xE0FFE0, nullptr, nullptr, 1, nullptr},
        {"execute link", 0xE0E0FF, nullptr, L"http://comics.example.net/c", 0, nullptr},
        {"file link", 0xFFF0C0, nullptr, nullptr, 1, nullptr},
        {"javascript link", 0xF0D0FF, nullptr, nullptr, 1, nullptr},
        {"network path", 0xD0F0F0, nullptr, nullptr, 1, nullptr},
        {"view's own command", 0xFFD8B0, nullptr, nullptr, 0, L"own"},
    };
    Capture c = Grab(view.m_hWnd);
    for (const Case& k : cases) {
        seams.opened.clear();
        seams.beeps.clear();
        view.commands.clear();
        RECT link = c.Find(k.colour);
        ASSERT_GT(link.right, link.left) << k.name;
        Click(POINT{(link.left + link.right) / 2, (link.top + link.bottom) / 2});
        std::vector<std::wstring> executed = ExecutedSoFar();
        EXPECT_EQ(seams.opened, k.opened ? std::vector<std::wstring>{k.opened} : std::vector<std::wstring>{}) << k.name;
        EXPECT_EQ(executed, k.executed ? std::vector<std::wstring>{k.executed} : std::vector<std::wstring>{}) << k.name;
        EXPECT_EQ(seams.beeps.size(), k.beeps) << k.name;
        EXPECT_EQ(view.commands, k.command ? std::vector<std::wstring>{k.command} : std::vector<std::wstring>{})
            << k.name;
    }
}

// The shared style sheet has readable colours for high contrast, and each load follows the
// system's setting (where it can be changed: Wine keeps it fixed).
TEST_F(ViewsTest, HighContrastMediaType) {
    ASSERT_TRUE(MakeView());
    std::string page;
    ASSERT_TRUE(vxhtml::ReadHtmlResource(L"ViewTest.html", page));
    ASSERT_TRUE(HTMLayoutSetMediaType(view.m_hWnd, L"contrast-screen"));
    ASSERT_TRUE(
        HTMLayoutLoadHtml(view.m_hWnd, reinterpret_cast<const BYTE*>(page.data()), static_cast<UINT>(page.size())));
    Capture c = Grab(view.m_hWnd);
    EXPECT_EQ(c.At(c.w - 3, c.h - 3), 0x000000u) << "common.css for contrast-screen";
    ASSERT_TRUE(view.LoadHtmlResource(view.m_hWnd, L"ViewTest.html"));
    c = Grab(view.m_hWnd);
    EXPECT_EQ(c.At(c.w - 3, c.h - 3), kPageBackground) << "the loader sets the media type again";

    HIGHCONTRASTW on = {sizeof(on), HCF_HIGHCONTRASTON, nullptr};
    if (!SystemParametersInfoW(SPI_SETHIGHCONTRAST, sizeof(on), &on, 0))
        GTEST_SKIP() << "the high contrast setting cannot be changed here";
    const wchar_t* media = vxhtml::MediaType();
    bool loaded = view.LoadHtmlResource(view.m_hWnd, L"ViewTest.html");
    HIGHCONTRASTW off = {sizeof(off), 0, nullptr};
    SystemParametersInfoW(SPI_SETHIGHCONTRAST, sizeof(off), &off, 0);
    EXPECT_STREQ(media, L"contrast-screen");
    ASSERT_TRUE(loaded);
    c = Grab(view.m_hWnd);
    EXPECT_EQ(c.At(c.w - 3, c.h - 3), 0x000000u);
    EXPECT_STREQ(vxhtml::MediaType(), L"screen");
}

TEST_F(ViewsTest, Screenshot) {
    ASSERT_TRUE(MakeView());
    // The row's title as a tooltip in the picture too.
    Capture c = Grab(view.m_hWnd);
    RECT link = c.Find(0xFFD8B0);
    SendMessageW(view.m_hWnd, WM_MOUSEMOVE, 0, MAKELPARAM(link.left + 40, (link.top + link.bottom) / 2));
    const DWORD until = GetTickCount() + 1200;
    while (GetTickCount() < until) {
        wtltest::Pump();
        Sleep(20);
    }
    RedrawWindow(frame, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    wtltest::Pump();
    EXPECT_TRUE(Screenshot(frame, "htmlview_" + LanguageTag()));
}

}  // namespace
