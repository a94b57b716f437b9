// The pop-up browser, the embedded browser's host-UI answers and the recommendations view under
// Wine's real WebBrowser control and the reference service. Wine's browser never completes a page
// nor opens new windows: those events are invoked on the sinks with built arguments.
#include "ServiceTestSupport.h"
#include "UiTestSupport.h"
#include "WtlTestSupport.h"

#include <AppContext.h>
#include <GrabDlg.h>
#include <LanguageTranslator.h>
#include <MsgCenter.h>
#include <PopupBrowser.h>
#include <RecommendView.h>
#include <UiSeams.h>
#include <WebBrowser.h>
#include <wtl/AxHost.h>
#include <wtl/Module.h>
#include <common/CodePage.h>

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <vector>

namespace {

const char kUserAgent[] = "Mozilla/5.0 (compatible; MSIE 10.0; Windows NT 6.2; WOW64; Trident/6.0)";

struct Environment : ::testing::Environment {
    void SetUp() override {
        WTL::AxWinInit();
        context.reset(new ServiceContext());
        ASSERT_TRUE(context->LoadCatalogue());
        frame.reset(new TestFrame());
        ASSERT_TRUE(frame->Build());
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

bool NoControl() {
    return GetEnvironmentVariableW(L"VELLIX_TEST_NO_BROWSER", nullptr, 0) != 0;
}

// The pop-up windows of this process (other test processes have their own).
BOOL CALLBACK CollectPopup(HWND window, LPARAM found) {
    wchar_t cls[32] = {};
    GetClassNameW(window, cls, 32);
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (wcscmp(cls, L"Vx.PopupBrowser") == 0 && process == GetCurrentProcessId())
        reinterpret_cast<std::vector<HWND>*>(found)->push_back(window);
    return TRUE;
}
std::vector<HWND> Popups() {
    std::vector<HWND> found;
    EnumWindows(CollectPopup, reinterpret_cast<LPARAM>(&found));
    return found;
}

// One event on a sink, arguments given first to last (they travel last first).
HRESULT Fire(IDispatch* sink, DISPID id, std::vector<VARIANT> args) {
    std::vector<VARIANT> reversed(args.rbegin(), args.rend());
    DISPPARAMS params = {reversed.data(), nullptr, static_cast<UINT>(reversed.size()), 0};
    return sink->Invoke(id, IID_NULL, 0, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr);
}
VARIANT Ref(VARIANT_BOOL* b) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_BYREF | VT_BOOL;
    v.pboolVal = b;
    return v;
}
VARIANT Ref(IDispatch** d) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_BYREF | VT_DISPATCH;
    v.ppdispVal = d;
    return v;
}
VARIANT Bstr(BSTR s) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_BSTR;
    v.bstrVal = s;
    return v;
}
VARIANT Long(long n) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_I4;
    v.lVal = n;
    return v;
}

HRESULT DocumentComplete(IDispatch* sink) {
    BSTR url = SysAllocString(L"http://127.0.0.1/done");
    VARIANT address = Bstr(url), ref;
    VariantInit(&ref);
    ref.vt = VT_BYREF | VT_VARIANT;
    ref.pvarVal = &address;
    VARIANT none;
    VariantInit(&none);
    none.vt = VT_DISPATCH;
    none.pdispVal = nullptr;
    HRESULT hr = Fire(sink, 259, {none, ref});
    SysFreeString(url);
    return hr;
}

// NewWindow3(ppDisp, Cancel, dwFlags, bstrUrlContext, bstrUrl): the cancel flag it leaves.
VARIANT_BOOL NewWindow3(IDispatch* sink, const wchar_t* address) {
    IDispatch* disp = nullptr;
    VARIANT_BOOL cancel = VARIANT_FALSE;
    BSTR context = SysAllocString(L"http://127.0.0.1/recommended.html");
    BSTR url = address ? SysAllocString(address) : nullptr;
    EXPECT_EQ(Fire(sink, 273, {Ref(&disp), Ref(&cancel), Long(0), Bstr(context), Bstr(url)}), S_OK);
    SysFreeString(context);
    SysFreeString(url);
    return cancel;
}

// What the pop-up's handler heard, with what the test did on the browser's thread.
class Recorder : public PopupAD {
public:
    void OnFinished(VxPopupBrowser* browser, PopupEnd how) override {
        ends.push_back(how);
        visibleAfter = IsWindowVisible(browser->m_hWnd) != FALSE;
        PopupAD::OnFinished(browser, how);
        ++count;
    }
    std::vector<PopupEnd> ends;  // read once count is set or the browser's thread has ended
    std::atomic<int> count{0};
    std::atomic<bool> visibleAfter{false};
};

bool WaitNoPopupThreads(DWORD ms = 15000) {
    return wtltest::PumpUntil([] { return RunningPopupBrowsers() == 0; }, ms);
}

class BrowserTest : public ::testing::Test {
protected:
    void SetUp() override {
        Service().Control("reset");
        ResetUiSeams();
        tabs().RemoveAllPages();
        frame().Clear();
        wtltest::Pump();
    }
    void TearDown() override {
        for (HWND w : Popups())
            PostMessageW(w, WM_CLOSE, 0, 0);
        EXPECT_TRUE(WaitNoPopupThreads());
        tabs().RemoveAllPages();
        EXPECT_TRUE(wtltest::PumpUntil([] { return RunningRecommendViews() == 0; }, 15000));
    }
    static TestFrame& frame() { return *g_env->frame; }
    static VxTabView& tabs() { return frame().tabs; }
};

// ---------------------------------------------------------------------------------------------
// The pop-up browser

TEST_F(BrowserTest, TheAdvertRequestCarriesTheUserAgentAndTheWindowStaysHidden) {
    if (NoControl())
        GTEST_SKIP();
    auto recorder = std::make_shared<Recorder>();
    std::string url = Service().ServiceUrl("/v2/client_ad.php?lang=en&v=2.5.0.35");
    ASSERT_TRUE(GetAppContext()->OpenPopupBrowser(url, recorder));
    ASSERT_TRUE(wtltest::PumpUntil([] { return ServiceLogCount("/v2/client_ad.php") >= 1; }, 20000));
    std::string log = ServiceLog("/v2/client_ad.php");
    EXPECT_NE(log.find(kUserAgent), std::string::npos) << log;
    std::vector<HWND> windows = Popups();
    ASSERT_EQ(windows.size(), 1u);
    EXPECT_FALSE(IsWindowVisible(windows[0]));
    // Closing by the user ends the thread; the handler heard once (Wine without its HTML engine
    // reports even a served page as a navigation error) and the pop-up let go of it.
    PostMessageW(windows[0], WM_CLOSE, 0, 0);
    ASSERT_TRUE(WaitNoPopupThreads());
    ASSERT_EQ(recorder->ends.size(), 1u);
    EXPECT_NE(recorder->ends[0], PopupEnd::DocumentComplete);
    EXPECT_FALSE(recorder->visibleAfter);
    EXPECT_EQ(recorder.use_count(), 1);
}

// The first document shows the advert topmost, centred, 640 by 480; a later one changes nothing,
// and no new window opens from it.
class FiringAD : public Recorder {
public:
    void OnCreated(VxPopupBrowser* browser) override {
        auto* sink = static_cast<IDispatch*>(browser);
        DocumentComplete(sink);
        HWND w = browser->m_hWnd;
        visible = IsWindowVisible(w) != FALSE;
        topmost = (GetWindowLongW(w, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0;
        GetWindowRect(w, &shown);
        browser->SetWindowPos(nullptr, 10, 10, 300, 200, SWP_NOZORDER | SWP_NOACTIVATE);
        DocumentComplete(sink);
        GetWindowRect(w, &later);
        for (int i = 0; i < 2; ++i) {
            IDispatch* disp = nullptr;
            VARIANT_BOOL cancel = VARIANT_FALSE;
            Fire(sink, 251, {Ref(&disp), Ref(&cancel)});
            newWindow2Cancelled = cancel == VARIANT_TRUE;
        }
        newWindow3Cancelled = NewWindow3(sink, L"http://127.0.0.1/other") == VARIANT_TRUE;
        MONITORINFO info = {sizeof(info)};
        GetMonitorInfoW(MonitorFromWindow(w, MONITOR_DEFAULTTONEAREST), &info);
        work = info.rcWork;
        browser->PostMessageW(WM_CLOSE);
    }
    bool visible = false, topmost = false, newWindow2Cancelled = false, newWindow3Cancelled = false;
    RECT shown = {}, later = {}, work = {};
};

TEST_F(BrowserTest, DocumentCompleteShowsTheAdvertOnceTopmostCentred) {
    if (NoControl())
        GTEST_SKIP();
    auto ad = std::make_shared<FiringAD>();
    ASSERT_TRUE(OpenPopupBrowser(ToWide(Service().ServiceUrl("/v2/client_ad.php"), CP_UTF8), ad));
    ASSERT_TRUE(WaitNoPopupThreads());
    EXPECT_TRUE(ad->visible);
    EXPECT_TRUE(ad->topmost);
    EXPECT_EQ(ad->shown.right - ad->shown.left, 640);
    EXPECT_EQ(ad->shown.bottom - ad->shown.top, 480);
    EXPECT_LE(std::abs((ad->shown.left + ad->shown.right) - (ad->work.left + ad->work.right)), 1);
    EXPECT_LE(std::abs((ad->shown.top + ad->shown.bottom) - (ad->work.top + ad->work.bottom)), 1);
    EXPECT_EQ(ad->later.right - ad->later.left, 300) << "a second document resized the advert";
    EXPECT_TRUE(ad->newWindow2Cancelled);
    EXPECT_TRUE(ad->newWindow3Cancelled);
    ASSERT_EQ(ad->ends.size(), 1u);
    EXPECT_EQ(ad->ends[0], PopupEnd::DocumentComplete);
}

// A refused address ends the navigation with an error: the advert is never shown.
TEST_F(BrowserTest, AnAdvertThatCannotLoadIsNeverShown) {
    if (NoControl())
        GTEST_SKIP();
    auto recorder = std::make_shared<Recorder>();
    ASSERT_TRUE(OpenPopupBrowser(L"http://127.0.0.1:1/refused", recorder));
    ASSERT_TRUE(wtltest::PumpUntil([&] { return recorder->count > 0; }, 30000));
    ASSERT_EQ(recorder->ends.size(), 1u);
    EXPECT_EQ(recorder->ends[0], PopupEnd::NavigateError);
    EXPECT_FALSE(recorder->visibleAfter);
    std::vector<HWND> windows = Popups();
    ASSERT_EQ(windows.size(), 1u);
    EXPECT_FALSE(IsWindowVisible(windows[0]));
}

// A script's synchronous navigation: the browser has let go of the handler when it hears of the
// end; the window's close is on its way before the waiter is woken.
class OrderedNavigate : public SyncNavigate {
public:
    void OnCreated(VxPopupBrowser* browser) override {
        SyncNavigate::OnCreated(browser);
        DocumentComplete(static_cast<IDispatch*>(browser));
        DocumentComplete(static_cast<IDispatch*>(browser));
    }
    void OnFinished(VxPopupBrowser* browser, PopupEnd how) override {
        ++finishes;
        clearedFirst = browser->handler == nullptr;
        setEarly = WaitForSingleObject(Event(), 0) == WAIT_OBJECT_0;
        SyncNavigate::OnFinished(browser, how);
        MSG m;
        closePosted = PeekMessageW(&m, browser->m_hWnd, WM_CLOSE, WM_CLOSE, PM_NOREMOVE) != FALSE;
        setAfter = WaitForSingleObject(Event(), 0) == WAIT_OBJECT_0;
        how_ = how;
    }
    std::atomic<int> finishes{0};
    bool clearedFirst = false, setEarly = true, closePosted = false, setAfter = false;
    PopupEnd how_ = PopupEnd::Destroyed;
};

TEST_F(BrowserTest, ASynchronousNavigationEndsInOrder) {
    if (NoControl())
        GTEST_SKIP();
    auto sync = std::make_shared<OrderedNavigate>();
    ASSERT_TRUE(OpenPopupBrowser(ToWide(Service().ServiceUrl("/"), CP_UTF8), sync));
    EXPECT_TRUE(sync->Wait(nullptr, 20000));
    ASSERT_TRUE(WaitNoPopupThreads());
    EXPECT_EQ(sync->finishes, 1);
    EXPECT_EQ(sync->how_, PopupEnd::DocumentComplete);
    EXPECT_TRUE(sync->clearedFirst);
    EXPECT_FALSE(sync->setEarly);
    EXPECT_TRUE(sync->closePosted);
    EXPECT_TRUE(sync->setAfter);
    EXPECT_EQ(sync.use_count(), 1);
}

// Without the browser's DLL the control cannot be made: the handler hears it once, the thread
// ends and the pop-up lets go of its handler.
TEST_F(BrowserTest, NoControlAPopupThatCannotBeCreatedEndsItsThread) {
    if (!NoControl())
        GTEST_SKIP();
    auto recorder = std::make_shared<Recorder>();
    ASSERT_TRUE(OpenPopupBrowser(L"http://127.0.0.1:1/", recorder));
    ASSERT_TRUE(WaitNoPopupThreads());
    ASSERT_EQ(recorder->ends.size(), 1u);
    EXPECT_EQ(recorder->ends[0], PopupEnd::CreateFailed);
    EXPECT_EQ(recorder.use_count(), 1);
    EXPECT_TRUE(Popups().empty());
}

// ---------------------------------------------------------------------------------------------
// The embedded browser's host-UI answers

class CountingDispatch : public IDispatch {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** out) override {
        *out = this;
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
    ULONG STDMETHODCALLTYPE Release() override { return --refs; }
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
        return E_NOTIMPL;
    }
    ULONG refs = 1;
};

TEST(WebBrowserHost, AnswersTheHostQuestions) {
    VxWebBrowser browser;
    IDocHostUIHandlerDispatch* ui = &browser;
    // The page's window.external is the caller's to release.
    IDispatch* got = reinterpret_cast<IDispatch*>(1);
    EXPECT_EQ(ui->GetExternal(&got), E_NOTIMPL);
    EXPECT_EQ(got, nullptr);
    CountingDispatch external;
    browser.external = &external;
    ASSERT_EQ(ui->GetExternal(&got), S_OK);
    EXPECT_EQ(got, &external);
    EXPECT_EQ(external.refs, 2u);
    got->Release();
    EXPECT_EQ(external.refs, 1u);

    struct {
        bool defaultMenu;
        HRESULT result;
    } menus[] = {{true, E_NOTIMPL}, {false, S_OK}};
    for (const auto& m : menus) {
        browser.defaultContextMenu = m.defaultMenu;
        HRESULT result = 12345;
        EXPECT_EQ(ui->ShowContextMenu(0, 1, 2, nullptr, nullptr, &result), S_OK);
        EXPECT_EQ(result, m.result);
    }
    DWORD flags = 0x1, dblClick = 7;
    browser.hostFlags |= 0xC;
    EXPECT_EQ(ui->GetHostInfo(&flags, &dblClick), S_OK);
    EXPECT_EQ(flags, 0x4000Du);
    EXPECT_EQ(dblClick, 7u);
    void* out = nullptr;
    EXPECT_EQ(ui->QueryInterface(IID_IDocHostUIHandlerDispatch, &out), S_OK);
    EXPECT_EQ(ui->QueryInterface(IID_IOleClientSite, &out), E_NOINTERFACE);
}

// ---------------------------------------------------------------------------------------------
// The recommendations view

struct ExecuteSeen {
    static void On(void*, VxMsg* msg) { urls.push_back(static_cast<msg_execute*>(msg)->url); }
    static std::vector<std::wstring> urls;
};
std::vector<std::wstring> ExecuteSeen::urls;

CRecommendView* OpenRecommended(VxTabView& tabs) {
    int before = tabs.GetPageCount();
    if (!tabs.OpenUrl(L"about:recommended", true))
        return nullptr;
    if (!wtltest::PumpUntil([&] { return tabs.GetPageCount() == before + 1; }, 15000))
        return nullptr;
    return dynamic_cast<CRecommendView*>(tabs.PageView(before));
}

TEST_F(BrowserTest, TheRecommendationsPageIsAskedForInTheCurrentLanguage) {
    if (NoControl())
        GTEST_SKIP();
    Views().recommend = StartRecommendView;
    CRecommendView* view = OpenRecommended(tabs());
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(tabs().GetPageTitle(0), GetAppContext()->Translator().Text(L"HotMangas", L"Title"));
    EXPECT_NE(GetWindowThreadProcessId(view->GetHwnd(), nullptr), GetCurrentThreadId());
    ASSERT_TRUE(wtltest::PumpUntil([] { return ServiceLogCount("/recommended.html") >= 1; }, 20000));
    std::string log = ServiceLog("/recommended.html");
    std::string lang = "\"lang\": \"" + GetAppContext()->Translator().CurrentCode() + "\"";
    EXPECT_NE(log.find(lang), std::string::npos) << log;
    Sleep(300);
    wtltest::Pump();
    EXPECT_TRUE(Screenshot(frame().m_hWnd, "recommend_" + LanguageTag()));
}

// A new window to a supported site opens in the program; to any other, or without an address,
// the browser is left to it.
TEST_F(BrowserTest, NewWindowsToSupportedSitesOpenInTheProgram) {
    if (NoControl())
        GTEST_SKIP();
    GetAppContext()->Messages().Subscribe(0, "execute", &ExecuteSeen::On);
    ExecuteSeen::urls.clear();
    Views().recommend = StartRecommendView;
    CRecommendView* view = OpenRecommended(tabs());
    ASSERT_NE(view, nullptr);
    auto* sink = static_cast<WTL::IDispEventImpl<0, CRecommendView, &DIID_DWebBrowserEvents2>*>(view);
    std::wstring supported = ToWide(Service().SiteUrl("/comic/kite.html"), CP_UTF8);
    struct {
        const wchar_t* url;
        VARIANT_BOOL cancel;
    } cases[] = {
        {supported.c_str(), VARIANT_TRUE},
        {L"http://comics.example.net/title/4711", VARIANT_FALSE},
        {L"not an address", VARIANT_FALSE},
        {nullptr, VARIANT_FALSE},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.url ? c.url : L"(null)");
        EXPECT_EQ(NewWindow3(sink, c.url), c.cancel);
    }
    EXPECT_TRUE(wtltest::PumpUntil([] { return !ExecuteSeen::urls.empty(); }, 5000));
    PostMessageW(frame().m_hWnd, WM_NULL, 0, 0);
    wtltest::Pump();
    ASSERT_EQ(ExecuteSeen::urls.size(), 1u);
    EXPECT_EQ(ExecuteSeen::urls[0], supported);
}

TEST_F(BrowserTest, ClosingTheTabFiftyTimesLeavesNoThread) {
    if (NoControl())
        GTEST_SKIP();
    Views().recommend = StartRecommendView;
    for (int i = 0; i < 50; ++i) {
        SCOPED_TRACE(i);
        CRecommendView* view = OpenRecommended(tabs());
        ASSERT_NE(view, nullptr);
        HWND window = view->GetHwnd();
        ASSERT_TRUE(view->CanClose());
        EXPECT_TRUE(IsWindow(window)) << "the view closed itself before the tab let go of it";
        tabs().CloseTabs({0});
        ASSERT_TRUE(wtltest::PumpUntil([] { return RunningRecommendViews() == 0; }, 15000));
        EXPECT_EQ(tabs().GetPageCount(), 0);
        EXPECT_FALSE(IsWindow(window));
    }
}

TEST_F(BrowserTest, NoControlARecommendationsViewThatCannotBeCreatedEndsItsThread) {
    if (!NoControl())
        GTEST_SKIP();
    RECT rc = {0, 0, 100, 100};
    ASSERT_TRUE(StartRecommendView(tabs().m_hWnd, rc, 5999));
    ASSERT_TRUE(wtltest::PumpUntil([] { return RunningRecommendViews() == 0; }, 15000));
    PostMessageW(frame().m_hWnd, WM_NULL, 0, 0);
    wtltest::Pump();
    EXPECT_EQ(tabs().GetPageCount(), 0);
    // No parent at all: no window.
    RECT none = {0, 0, 1, 1};
    ASSERT_TRUE(StartRecommendView(reinterpret_cast<HWND>(static_cast<UINT_PTR>(0x1234)), none, 5998));
    ASSERT_TRUE(wtltest::PumpUntil([] { return RunningRecommendViews() == 0; }, 15000));
}

}  // namespace
