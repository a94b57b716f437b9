// The search results tab in the real main frame against the reference service: what a keyword
// search shows, escaped; hostile and broken answers; refined searches by typing and by the check
// buttons, which come back to the same tab; result links open the comic.
#include "MainFrame.h"
#include "SearchView.h"
#include "UiTestSupport.h"
#include "WtlTestSupport.h"

#include <AppContext.h>
#include <LanguageTranslator.h>
#include <Messages.h>
#include <MsgCenter.h>
#include <ServiceTestSupport.h>
#include <common/CodePage.h>
#include <wtl/AxHost.h>
#include <wtl/MessageLoop.h>
#include <wtl/Module.h>

#include <JsonTree.h>
#include <JsonUtil.h>

#include <gtest/gtest.h>

#include <set>

#include <commctrl.h>

#include <string>
#include <vector>

namespace {

struct UiEnvironment : ::testing::Environment {
    void SetUp() override {
        INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_LISTVIEW_CLASSES | ICC_BAR_CLASSES};
        InitCommonControlsEx(&controls);
        WTL::AxWinInit();
        WTL::AppModule().Init(nullptr);
    }
};
const auto* const g_environment = ::testing::AddGlobalTestEnvironment(new UiEnvironment);

std::wstring Wide(const std::string& utf8) {
    return ToWide(utf8, CP_UTF8);
}

void Fail(const std::vector<std::pair<std::string, std::string>>& rule) {
    std::vector<std::pair<std::string, std::string>> params = {{"path", "/v2/search.php"}, {"count", "1"}};
    params.insert(params.end(), rule.begin(), rule.end());
    std::string answer = Service().Control("fail", params);
    ASSERT_EQ(answer.find("ERROR"), std::string::npos) << answer;
}

std::string Form(int index, const char* name) {
    JsonTree log(ParseJsonText(ServiceLog("/v2/search.php")));
    JsonValue* entry = nullptr;
    JsonValue* form = nullptr;
    if (!getArrayMember(log.get(), static_cast<unsigned>(index), &entry) ||
        !lookupDictionaryMember(entry, "form", &form))
        return "<none>";
    return JsonStringMember(form, name);
}

class SearchViewTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(Service().ServicePort() > 0);
        Service().Control("reset");
        ASSERT_TRUE(WTL::AppModule().AddMessageLoop(&loop));
        ASSERT_TRUE(frame.CreateFrame());
        frame.ShowWindow(SW_SHOWNORMAL);
        ASSERT_TRUE(Pump([&] { return Pages() >= 1; }, 30000));
    }
    void TearDown() override {
        if (frame.IsWindow())
            frame.DestroyWindow();
        Pump([] { return false; }, 50);
        WTL::AppModule().RemoveMessageLoop();
        Service().Control("reset");
    }

    bool Pump(const std::function<bool()>& done, DWORD timeoutMs = 15000) {
        DWORD start = GetTickCount();
        for (;;) {
            MSG msg;
            while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
                if (!loop.PreTranslateMessage(&msg)) {
                    TranslateMessage(&msg);
                    DispatchMessageW(&msg);
                }
            }
            if (done())
                return true;
            if (GetTickCount() - start > timeoutMs)
                return false;
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
        }
    }
    int Pages() { return frame.tabView.IsWindow() ? frame.tabView.GetPageCount() : 0; }
    std::wstring Text(const wchar_t* key) { return GetAppContext()->Translator().Text(L"SearchView", key); }

    // A keyword search as the input box starts it; the tab it opened.
    // Other tabs (the recommendations page) may arrive meanwhile: the search tab is the new one
    // that shows the keyword.
    CSearchView* SearchFromTheFrame(const std::wstring& keyword) {
        std::set<VxView*> before;
        for (int i = 0; i < Pages(); ++i)
            before.insert(frame.tabView.PageView(i));
        auto* msg = new msg_search(keyword, 0);
        if (!GetAppContext()->Messages().PostTo(0, msg)) {
            delete msg;
            return nullptr;
        }
        CSearchView* found = nullptr;
        Pump([&] {
            for (int i = 0; i < Pages() && !found; ++i) {
                auto* view = dynamic_cast<CSearchView*>(frame.tabView.PageView(i));
                if (view && !before.count(view) && keyword == view->GetUrl())
                    found = view;
            }
            return found != nullptr;
        });
        return found;
    }
    // Waits until the service has seen n searches and their answers reached the frame.
    bool Searched(int n) {
        return Pump([&] { return ServiceLogCount("/v2/search.php") >= n; }) && Settle();
    }
    // The frame handles the answer once its info bar is gone; a posted job proves it is past.
    bool Settle() {
        bool ran = false;
        for (int round = 0; round < 3; ++round) {
            ran = false;
            if (!PostUiJob(0, [&ran] { ran = true; }) || !Pump([&] { return ran; }))
                return false;
        }
        return true;
    }
    htmlayout::dom::element Root(CSearchView* v) { return htmlayout::dom::element::root_element(v->m_hWnd); }
    std::vector<std::wstring> Texts(CSearchView* v, const char* selector) {
        std::vector<std::wstring> out;
        for (auto& e : Root(v).find_all("%s", selector))
            out.push_back(Wide(e.text()));
        return out;
    }
    // Clicks the middle of an element, found by a colour given to it for the moment.
    bool ClickOn(CSearchView* v, htmlayout::dom::element e) {
        if (!e || HTMLayoutSetStyleAttribute(e.get(), "background-color", L"#fe01fe") != HL_OK)
            return false;
        HTMLayoutUpdateElement(e.get(), TRUE);
        RECT client;
        v->GetClientRect(&client);
        BITMAPINFO bi = {};
        bi.bmiHeader = {sizeof(bi.bmiHeader), client.right, -client.bottom, 1, 32};
        void* bits = nullptr;
        HDC screen = GetDC(nullptr);
        HDC dc = CreateCompatibleDC(screen);
        HBITMAP bmp = CreateDIBSection(screen, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
        HGDIOBJ old = SelectObject(dc, bmp);
        SendMessageW(v->m_hWnd, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(dc), PRF_CLIENT);
        GdiFlush();
        long x0 = client.right, y0 = client.bottom, x1 = -1, y1 = -1;
        auto* px = static_cast<uint32_t*>(bits);
        for (long y = 0; y < client.bottom; ++y)
            for (long x = 0; x < client.right; ++x)
                if ((px[y * client.right + x] & 0xFFFFFF) == 0xFE01FE) {
                    x0 = std::min(x0, x), y0 = std::min(y0, y), x1 = std::max(x1, x), y1 = std::max(y1, y);
                }
        SelectObject(dc, old);
        DeleteObject(bmp);
        DeleteDC(dc);
        ReleaseDC(nullptr, screen);
        HTMLayoutSetStyleAttribute(e.get(), "background-color", nullptr);
        if (x1 < 0)
            return false;
        LPARAM at = MAKELPARAM((x0 + x1) / 2, (y0 + y1) / 2);
        SendMessageW(v->m_hWnd, WM_MOUSEMOVE, 0, at);
        SendMessageW(v->m_hWnd, WM_LBUTTONDOWN, MK_LBUTTON, at);
        SendMessageW(v->m_hWnd, WM_LBUTTONUP, 0, at);
        return true;
    }

    ServiceContext context;
    wtltest::SeamRecorder seams;
    WTL::CMessageLoop loop;
    CMainFrame frame;
};

TEST_F(SearchViewTest, DemoSearchShowsEscapedResults) {
    CSearchView* view = SearchFromTheFrame(L"harbor");
    ASSERT_TRUE(view);
    EXPECT_EQ(std::wstring(view->GetUrl()), L"harbor");
    EXPECT_EQ(Form(0, "q"), "harbor");
    EXPECT_EQ(Form(0, "t"), "na") << "both check buttons start ticked";
    EXPECT_TRUE(Root(view).find_by_id(L"byname").is_checked());
    EXPECT_TRUE(Root(view).find_by_id(L"byauthor").is_checked());

    EXPECT_EQ(Texts(view, "#results .title"), (std::vector<std::wstring>{L"Harbor Lights", L"Harbor Cats"}));
    std::vector<std::wstring> info = Texts(view, "#results .info");
    ASSERT_EQ(info.size(), 2u);
    EXPECT_EQ(info[0], L"Author: Mara Quint | Status: Finished | Downloads: 1520");
    EXPECT_EQ(info[1], L"Author: N/A | Status: Ongoing | Downloads: 3");
    std::vector<std::wstring> intro = Texts(view, "#results .intro");
    ASSERT_EQ(intro.size(), 2u);
    EXPECT_NE(intro[0].find(L"<b>three winters</b>"), std::wstring::npos) << "markup in an intro is text";
    EXPECT_NE(intro[1].find(L"100% unsupervised"), std::wstring::npos);
    EXPECT_EQ(Texts(view, "#results .from")[1], L"comics.example.net");
    auto links = Root(view).find_all("#results .title a");
    ASSERT_EQ(links.size(), 2u);
    EXPECT_TRUE(links[0].has_attribute("execute"));
    EXPECT_EQ(std::wstring(links[1].get_attribute("href")), L"http://comics.example.net/title/4711");
    EXPECT_TRUE(Root(view).find_all("#results b").empty());
}

TEST_F(SearchViewTest, HostileAndIncompleteFieldsAreEscapedOrLeftOut) {
    Fail({{"body", "[{\"u\":\"http://evil.example/a\\\"onclick=\\\"x\",\"n\":\"<b>Bold</b> 50%Author%\","
                   "\"a\":\"<i>Ann</i> &amp;\",\"f\":1,\"c\":4},"
                   "7, \"text\", null, [1,2],"
                   "{\"u\":\"javascript:alert(1)\",\"n\":\"Script\",\"c\":2},"
                   "{\"u\":\"https://only.example/x\"},"
                   "{}]"}});
    CSearchView* view = SearchFromTheFrame(L"anything");
    ASSERT_TRUE(view);
    EXPECT_EQ(Root(view).find_all("#results .item").size(), 4u) << "members that are no dictionaries are skipped";
    EXPECT_EQ(Texts(view, "#results .title"),
              (std::vector<std::wstring>{L"<b>Bold</b> 50%Author%", L"Script", L"https://only.example/x", L""}));
    EXPECT_TRUE(Root(view).find_all("#results b").empty());
    EXPECT_TRUE(Root(view).find_all("#results i").empty());
    auto links = Root(view).find_all("#results a");
    ASSERT_EQ(links.size(), 2u) << "no link for an address that is no web address";
    EXPECT_EQ(std::wstring(links[0].get_attribute("href")), L"http://evil.example/a\"onclick=\"x");
    EXPECT_FALSE(links[0].has_attribute("onclick"));
    EXPECT_EQ(std::wstring(links[1].get_attribute("href")), L"https://only.example/x");
    std::vector<std::wstring> info = Texts(view, "#results .info");
    ASSERT_EQ(info.size(), 4u);
    EXPECT_EQ(info[0], L"Author: <i>Ann</i> &amp; | Status: Finished | Downloads: 4");
    EXPECT_EQ(info[2], L"Author: N/A | Downloads: 0") << "no status without f, 0 without c";
    EXPECT_EQ(Texts(view, "#results .from"), (std::vector<std::wstring>{L"evil.example", L"only.example"}));
    EXPECT_EQ(Texts(view, "#results .intro").size(), 0u);
}

TEST_F(SearchViewTest, RefinedSearchesComeBackToTheSameTab) {
    CSearchView* view = SearchFromTheFrame(L"harbor");
    ASSERT_TRUE(view);
    const int pages = Pages();
    EXPECT_FALSE(view->OpenUrl(L"HTTPS://comics.example.net/title/1")) << "an address is no keyword";
    EXPECT_FALSE(view->OpenUrl(L"http://x"));

    // Typing a keyword into the tab.
    EXPECT_TRUE(view->OpenUrl(L"mara"));
    ASSERT_TRUE(Searched(2));
    EXPECT_EQ(Form(1, "q"), "mara");
    EXPECT_EQ(Form(1, "t"), "na");
    EXPECT_EQ(Pages(), pages);
    EXPECT_EQ(std::wstring(view->GetUrl()), L"mara");
    EXPECT_EQ(Texts(view, "#results .title"), (std::vector<std::wstring>{L"Harbor Lights", L"Quiet Lighthouse"}));

    // Unticking one button searches by the other: by author alone "mara" still finds both.
    ASSERT_TRUE(ClickOn(view, Root(view).find_by_id(L"byname")));
    ASSERT_TRUE(Searched(3));
    EXPECT_EQ(Form(2, "t"), "a");
    EXPECT_EQ(Texts(view, "#results .title").size(), 2u);
    ASSERT_TRUE(ClickOn(view, Root(view).find_by_id(L"byname")));
    ASSERT_TRUE(Searched(4));
    EXPECT_EQ(Form(3, "t"), "na");

    // By name alone "mara" finds nothing: the "[]" empties the list.
    ASSERT_TRUE(ClickOn(view, Root(view).find_by_id(L"byauthor")));
    ASSERT_TRUE(Searched(5));
    EXPECT_EQ(Form(4, "t"), "n");
    EXPECT_TRUE(Root(view).find_all("#results .item").empty());
    EXPECT_EQ(Texts(view, "#results .empty"), std::vector<std::wstring>{Text(L"NoResults")});
    EXPECT_FALSE(seams.boxes.empty()) << "the frame tells of no results too";

    // Both unticked: nothing is sent. The next search proves it, being the next in the log.
    ASSERT_TRUE(ClickOn(view, Root(view).find_by_id(L"byname")));
    EXPECT_TRUE(view->OpenUrl(L"kite"));
    ASSERT_TRUE(Searched(6));
    EXPECT_EQ(Form(5, "q"), "kite");
    EXPECT_EQ(ServiceLogCount("/v2/search.php"), 6);
    EXPECT_EQ(Pages(), pages);
}

TEST_F(SearchViewTest, AnswersThatAreNoListLeaveNoStaleResults) {
    CSearchView* view = SearchFromTheFrame(L"harbor");
    ASSERT_TRUE(view);
    ASSERT_EQ(Root(view).find_all("#results .item").size(), 2u);
    struct Case {
        const char* name;
        std::vector<std::pair<std::string, std::string>> rule;
    };
    const Case cases[] = {
        {"a dictionary", {{"body", "{\"u\":\"http://x.example/\"}"}}},
        {"no JSON", {{"body", "<html>busy</html>"}}},
        {"a failed request", {{"status", "503"}}},
    };
    int n = 1;
    for (const Case& k : cases) {
        ASSERT_TRUE(view->OpenUrl(L"harbor"));
        ASSERT_TRUE(Searched(++n)) << k.name;
        ASSERT_TRUE(Root(view).find_all("#results .item").size() == 2u) << k.name << ": the real answer first";
        Fail(k.rule);
        ASSERT_TRUE(view->OpenUrl(L"harbor"));
        ASSERT_TRUE(Searched(++n)) << k.name;
        EXPECT_TRUE(Root(view).find_all("#results .item").empty()) << k.name;
        EXPECT_EQ(Texts(view, "#results .empty"), std::vector<std::wstring>{Text(L"NoAnswer")}) << k.name;
    }
}

TEST_F(SearchViewTest, ResultLinkOpensTheComic) {
    CSearchView* view = SearchFromTheFrame(L"kite");
    ASSERT_TRUE(view);
    auto links = Root(view).find_all("#results .title a");
    ASSERT_EQ(links.size(), 1u);
    std::wstring address = links[0].get_attribute("href");
    const int pages = Pages();
    ASSERT_TRUE(ClickOn(view, links[0]));
    ASSERT_TRUE(Pump([&] { return Pages() > pages; }, 30000)) << "the comic opens in a tab of the program";
    EXPECT_EQ(std::wstring(frame.tabView.PageView(Pages() - 1)->GetUrl()), address);
    EXPECT_TRUE(seams.opened.empty()) << "not handed to the user's browser";
}

TEST_F(SearchViewTest, Screenshot) {
    // The demo answer, then one with Chinese data beside it: the keyword box of the frame has no
    // Chinese glyphs in the English run, the page must have them in both.
    CSearchView* view = SearchFromTheFrame(L"a");
    ASSERT_TRUE(view);
    ASSERT_GE(Root(view).find_all("#results .item").size(), 3u);
    Fail({{"body", "[{\"u\":\"http://comics.example.net/title/88\",\"n\":\"\u6708\u4e0b\u4e66\u5e93\","
                   "\"a\":\"\u6797\u5c0f\u96e8\",\"f\":0,\"c\":87,\"i\":\"\u6bcf\u5230\u6708\u5706"
                   "\u4e4b\u591c\uff0c\u65e7\u4e66\u5e93\u91cc\u7684\u4e66\u5c31\u4f1a\u81ea\u5df1"
                   "\u7ffb\u9875\u3002\"},"
                   "{\"u\":\"http://comics.example.net/title/4711\",\"n\":\"Harbor Cats\",\"f\":0,\"c\":3,"
                   "\"i\":\"Cats of the old harbor, 100% unsupervised.\"},"
                   "{\"u\":\"https://comics.example.net/title/4712\",\"n\":\"Quiet Lighthouse\","
                   "\"a\":\"Mara Quint\",\"f\":1,\"c\":0,\"i\":\"An earlier work by the author of Harbor "
                   "Lights, who once kept a lighthouse herself and wrote these pages through one long winter on the "
                   "coast.\"}]"}});
    ASSERT_TRUE(view->OpenUrl(L"a"));
    ASSERT_TRUE(Searched(2));
    ASSERT_EQ(Root(view).find_all("#results .item").size(), 3u);
    RedrawWindow(frame.m_hWnd, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    Pump([] { return false; }, 300);
    EXPECT_TRUE(Screenshot(frame.m_hWnd, "searchview_" + LanguageTag()));
}

}  // namespace
