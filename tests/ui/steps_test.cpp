// The info bar, the input dialog and the three network steps that run in it (initialisation,
// page loading, search), against the reference service and the demo site, with a test window as
// observer 0 standing in for the main frame.
#include "StepsTestSupport.h"

#include <AppDatabase.h>
#include <JsonUtil.h>
#include <LanguageTranslator.h>
#include <MsgCenter.h>
#include <ParseContext.h>
#include <ScriptCatalog.h>
#include <Tessara.h>
#include <common/CodePage.h>

#include <InfoBar.h>
#include <InitDlg.h>
#include <PreloadDlg.h>

#include <gtest/gtest.h>

#include <atomic>

namespace {

// ---------------------------------------------------------------------------------------------
// Info bar

class ScriptedStep : public VxInfoObserver {
public:
    std::function<void(ScriptedStep&)> onStart;
    std::function<void(ScriptedStep&)> onWork;
    std::function<void(ScriptedStep&)> onDone;
    void Start() override {
        startThread = GetCurrentThreadId();
        if (onStart)
            onStart(*this);
    }
    void DoWork() override {
        workThread = GetCurrentThreadId();
        order += "work;";
        if (onWork)
            onWork(*this);
    }
    void OnWorkDone() override {
        doneThread = GetCurrentThreadId();
        order += "done;";
        if (onDone)
            onDone(*this);
    }
    void OnDestroy() override { ++destroyed; }

    HWND Bar() const { return World().ctx->Messages().GetObserverWindow(barId); }
    std::wstring Shown() const {
        wchar_t text[256] = L"";
        GetDlgItemTextW(Bar(), IDC_INFO_TEXT, text, 256);
        return text;
    }

    DWORD startThread = 0;
    std::atomic<DWORD> workThread{0};
    DWORD doneThread = 0;
    std::string order;
    int destroyed = 0;
};

class InfoBarTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (DebugRun())
            GTEST_SKIP() << "run without debug.ini";
        World().frame.Clear();
    }
};

TEST_F(InfoBarTest, AStepThatEndsFromStartReturnsItsResult) {
    ScriptedStep step;
    HWND owner = nullptr;
    step.onStart = [&](ScriptedStep& s) {
        owner = GetWindow(s.Bar(), GW_OWNER);
        s.EndDialog(7);
    };
    EXPECT_EQ(VxInfoBar::Run(&step), 7);
    EXPECT_EQ(step.startThread, GetCurrentThreadId());
    EXPECT_GE(step.barId, 1) << "observer 0 is the test window";
    EXPECT_EQ(owner, World().frame.window.window) << "the bar is owned by observer 0";
    EXPECT_EQ(step.destroyed, 1);
    EXPECT_EQ(step.order, "");
}

TEST_F(InfoBarTest, SeveralTextsShowTheLastAndWorkRunsOffTheUserInterfaceThread) {
    ScriptedStep step;
    std::wstring shown, initial;
    step.onStart = [&](ScriptedStep& s) {
        wchar_t text[64] = L"";
        GetDlgItemTextW(s.Bar(), IDC_INFO_TEXT, text, 64);
        initial = text;
        s.SetInfo(L"FetchingHTML");
        s.SetInfoText(L"one");
        s.SetInfoText(L"two");
        EXPECT_TRUE(VxInfoBar::StartWork(&s));
    };
    step.onWork = [](ScriptedStep& s) { s.SetInfoText(L"three"); };
    step.onDone = [&](ScriptedStep& s) {
        shown = s.Shown();
        s.EndDialog(1);
    };
    EXPECT_EQ(VxInfoBar::Run(&step), 1);
    EXPECT_EQ(initial, L"Info Text");
    EXPECT_EQ(shown, L"three");
    EXPECT_EQ(step.order, "work;done;");
    EXPECT_NE(step.workThread.load(), GetCurrentThreadId());
    EXPECT_NE(step.workThread.load(), 0u);
    EXPECT_EQ(step.doneThread, GetCurrentThreadId());
}

TEST_F(InfoBarTest, ASetInfoKeyShowsTheLanguageText) {
    ScriptedStep step;
    std::wstring shown;
    step.onStart = [](ScriptedStep& s) {
        s.SetInfo(L"FetchingScript");
        VxInfoBar::StartWork(&s);
    };
    step.onDone = [&](ScriptedStep& s) {
        shown = s.Shown();
        s.EndDialog(2);
    };
    EXPECT_EQ(VxInfoBar::Run(&step), 2);
    EXPECT_EQ(shown, World().ctx->Translator().Text(L"Infos", L"FetchingScript"));
}

TEST_F(InfoBarTest, PostsAfterTheBarIsGoneAreDroppedAndBarsRunAgain) {
    ScriptedStep first;
    std::atomic<bool> workEnded{false};
    first.onStart = [&](ScriptedStep& s) {
        EXPECT_TRUE(VxInfoBar::StartWork(&s));
        s.EndDialog(4);  // before the work is done
    };
    first.onWork = [&](ScriptedStep&) {
        Sleep(300);
        workEnded = true;
    };
    EXPECT_EQ(VxInfoBar::Run(&first), 4);
    int oldBar = first.barId;
    EXPECT_EQ(World().ctx->Messages().GetObserverWindow(oldBar), nullptr);
    // The work's post after the bar went is dropped: OnWorkDone never runs.
    EXPECT_TRUE(PumpUntil([&] { return workEnded.load(); }));
    Sleep(100);
    PumpPending();
    EXPECT_EQ(first.order, "work;");
    first.SetInfoText(L"late");
    first.SetInfo(L"Initializing");
    first.EndDialog(9);
    PumpPending();

    // A later bar is not ended by posts to the old one.
    for (int run = 0; run < 3; ++run) {
        ScriptedStep next;
        next.onStart = [&](ScriptedStep& s) {
            EXPECT_NE(s.barId, oldBar);
            first.EndDialog(5);
            VxInfoBar::StartWork(&s);
        };
        next.onDone = [](ScriptedStep& s) { s.EndDialog(3); };
        EXPECT_EQ(VxInfoBar::Run(&next), 3);
        oldBar = next.barId;
    }
}

// The bar as a person sees it; the run under zh_CN.UTF-8 gives the Chinese one.
TEST_F(InfoBarTest, Screenshot) {
    const bool chinese = World().ctx->Translator().BuiltInCode() == "zh-cn";
    const std::string file = std::string(VX_SCREENS_DIR) + (chinese ? "/info_bar_zh.png" : "/info_bar_en.png");
    ScriptedStep step;
    bool grabbed = false;
    std::wstring shown;
    step.onStart = [](ScriptedStep& s) {
        s.SetInfo(L"FetchingHTML");
        VxInfoBar::StartWork(&s);
    };
    step.onWork = [](ScriptedStep&) { Sleep(700); };
    step.onDone = [&](ScriptedStep& s) {
        HWND bar = s.Bar();
        RedrawWindow(bar, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
        PumpPending();
        Sleep(200);
        shown = s.Shown();
        RECT r = {};
        GetWindowRect(bar, &r);
        char crop[64];
        snprintf(crop, sizeof crop, "%ldx%ld+%ld+%ld", r.right - r.left + 20, r.bottom - r.top + 20, r.left - 10,
                 r.top - 10);
        std::string out, error;
        vxtest::RunLinux({"/bin/mkdir", "-p", VX_SCREENS_DIR}, &out, &error, 20000);
        grabbed = vxtest::RunLinux({"/usr/bin/import", "-window", "root", "-crop", crop, file}, &out, &error, 20000);
        EXPECT_TRUE(grabbed) << error;
        s.EndDialog(1);
    };
    EXPECT_EQ(VxInfoBar::Run(&step), 1);
    EXPECT_TRUE(grabbed);
    EXPECT_EQ(shown, chinese ? L"\u6b63\u5728\u52a0\u8f7d\u7f51\u9875\uff0c\u8bf7\u7a0d\u5019..."
                             : L"Loading the web page, please wait...");
}

// ---------------------------------------------------------------------------------------------
// Input dialog, run modeless so the test can drive it

class InputDlgTest : public InfoBarTest {
protected:
    void Open(const std::wstring& title, const std::wstring& text) {
        dlg.title = title;
        dlg.text = text;
        ASSERT_NE(dlg.Create(World().frame.window.window), nullptr);
        PumpPending();
    }
    void TearDown() override {
        if (dlg.m_hWnd)
            DestroyWindow(dlg.m_hWnd);
    }
    bool OkEnabled() { return IsWindowEnabled(GetDlgItem(dlg.m_hWnd, IDOK)) != FALSE; }
    void Type(const wchar_t* text) { SetDlgItemTextW(dlg.m_hWnd, IDC_INPUT_EDIT, text); }
    void Press(int id) {
        SendMessageW(dlg.m_hWnd, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(dlg.m_hWnd, id)));
    }
    std::wstring Text(HWND w) {
        wchar_t text[256] = L"";
        GetWindowTextW(w, text, 256);
        return text;
    }
    VxInputDlg dlg;
};

TEST_F(InputDlgTest, OkIsDisabledWhileTheEditIsEmpty) {
    Open(L"New category", L"");
    EXPECT_EQ(Text(dlg.m_hWnd), L"New category");
    EXPECT_FALSE(OkEnabled()) << "empty initial text";
    EXPECT_EQ(GetFocus(), GetDlgItem(dlg.m_hWnd, IDC_INPUT_EDIT));
    EXPECT_FALSE(Text(GetDlgItem(dlg.m_hWnd, IDOK)).empty());
    EXPECT_FALSE(Text(GetDlgItem(dlg.m_hWnd, IDCANCEL)).empty());
    Press(IDOK);
    EXPECT_FALSE(dlg.HasEnded()) << "an empty text is never accepted";
    Type(L"x");
    EXPECT_TRUE(OkEnabled());
    Type(L"");
    EXPECT_FALSE(OkEnabled());
    Type(L"Comics \u6f2b\u753b");
    EXPECT_TRUE(OkEnabled());
    Press(IDOK);
    EXPECT_TRUE(dlg.HasEnded());
    EXPECT_EQ(dlg.GetResult(), IDOK);
    EXPECT_EQ(dlg.text, L"Comics \u6f2b\u753b");
}

TEST_F(InputDlgTest, AnInitialTextIsSelectedAndCancelGivesTwo) {
    Open(L"Rename", L"Old name");
    EXPECT_TRUE(OkEnabled());
    DWORD from = 0, to = 0;
    SendDlgItemMessageW(dlg.m_hWnd, IDC_INPUT_EDIT, EM_GETSEL, reinterpret_cast<WPARAM>(&from),
                        reinterpret_cast<LPARAM>(&to));
    EXPECT_EQ(from, 0u);
    EXPECT_EQ(to, 8u);
    Type(L"New name");
    Press(IDCANCEL);
    EXPECT_TRUE(dlg.HasEnded());
    EXPECT_EQ(dlg.GetResult(), IDCANCEL);
    EXPECT_EQ(dlg.text, L"Old name");
}

TEST_F(InputDlgTest, ClosingGivesTwo) {
    Open(L"Rename", L"Name");
    SendMessageW(dlg.m_hWnd, WM_CLOSE, 0, 0);
    EXPECT_TRUE(dlg.HasEnded());
    EXPECT_EQ(dlg.GetResult(), IDCANCEL);
}

// ---------------------------------------------------------------------------------------------
// Initialisation

class InitTest : public ::testing::Test {
protected:
    void SetUp() override { ResetWorld(); }
    int RunInit(CInitDlg& step) {
        DWORD start = GetTickCount();
        int result = VxInfoBar::Run(&step);
        elapsed = GetTickCount() - start;
        return result;
    }
    int Failure() const { return DebugRun() ? 1 : 2; }
    void Fail(std::vector<std::pair<std::string, std::string>> rule) {
        rule.insert(rule.begin(), {"path", "/v2/config.php"});
        ASSERT_EQ(Service().Control("fail", rule).find("ERROR"), std::string::npos);
    }
    DWORD elapsed = 0;
};

TEST_F(InitTest, ACatalogueAnswerEndsWithOneAndLoadsTheCatalogue) {
    deleteValue(&World().ctx->Catalog().root);  // start from no catalogue at all
    World().ctx->Catalog().root = nullptr;
    World().ctx->Catalog().broadcasts = nullptr;
    Fail({{"set_header", "Error-Info:Welcome back"}});
    CInitDlg step;
    EXPECT_EQ(RunInit(step), 1);
    EXPECT_EQ(step.error, "Welcome back");
    SiteInfo site;
    EXPECT_TRUE(World().ctx->Catalog().FindSite("127.0.0.1", site));
    EXPECT_EQ(World().ctx->Catalog().BroadcastCount(), 2);
    // The request as the service saw it.
    EXPECT_EQ(ServiceLogCount("/v2/config.php"), 1);
    EXPECT_EQ(LogMember("/v2/config.php", 0, "headers", "Vellix-Version"), "2.5.0.35");
    EXPECT_EQ(LogMember("/v2/config.php", 0, "query", "lang"), World().ctx->Translator().BuiltInCode());
}

TEST_F(InitTest, AnEmptyAnswerStillEndsWithOne) {
    Fail({{"status", "200"}, {"body", ""}});
    CInitDlg step;
    EXPECT_EQ(RunInit(step), 1);
    EXPECT_EQ(step.error, "");
}

TEST_F(InitTest, NotFoundKeepsTheErrorText) {
    Fail({{"status", "404"}, {"set_header", "Error-Info:Closed for maintenance"}});
    CInitDlg step;
    EXPECT_EQ(RunInit(step), Failure());
    EXPECT_EQ(step.error, "Closed for maintenance");
}

TEST_F(InitTest, AServerErrorFailsUnlessDeveloperSettingsExist) {
    Fail({{"status", "500"}});
    CInitDlg step;
    EXPECT_EQ(RunInit(step), Failure());
}

TEST_F(InitTest, ADroppedConnectionFails) {
    Fail({{"drop", "1"}});
    CInitDlg step;
    EXPECT_EQ(RunInit(step), Failure());
}

TEST_F(InitTest, ASilentServerFailsAfterTheTimeOut) {
    SetStepRequestTimeoutForTesting(2);
    Fail({{"delay_ms", "30000"}, {"count", "1"}});
    CInitDlg step;
    EXPECT_EQ(RunInit(step), Failure());
    EXPECT_LT(elapsed, 20000u);
    EXPECT_GE(elapsed, 1500u);
}

TEST_F(InitTest, ARequestThatDoesNotStartEndsTheBar) {
    SetStepStartForTesting([](Orvane::OvRequest* r) {
        delete r;
        return static_cast<int>(Orvane::kStartNoConnection);
    });
    CInitDlg step;
    EXPECT_EQ(RunInit(step), Failure());
    EXPECT_LT(elapsed, 10000u);
    EXPECT_EQ(ServiceLogCount("/v2/config.php"), 0);
}

// ---------------------------------------------------------------------------------------------
// Page loading

class PreloadTest : public ::testing::Test {
protected:
    void SetUp() override { ResetWorld(); }
    void Fail(const std::string& path, std::vector<std::pair<std::string, std::string>> rule) {
        rule.insert(rule.begin(), {"path", path});
        ASSERT_EQ(Service().Control("fail", rule).find("ERROR"), std::string::npos);
    }
    // Runs the step over a fresh dialog; the bar's result.
    int Run(const std::string& address, std::shared_ptr<CParseContext> existing = nullptr) {
        std::wstring wide = ToWide(address, CP_UTF8);
        dlg.reset(existing ? new CPreloadDlg(wide, existing) : new CPreloadDlg(wide));
        DWORD start = GetTickCount();
        int result = VxInfoBar::Run(dlg.get());
        elapsed = GetTickCount() - start;
        return result;
    }
    void Finish() {
        dlg->PreloadFinish();
        Sleep(50);
        PumpPending();
    }
    FrameRecorder& frame = World().frame;
    std::unique_ptr<CPreloadDlg> dlg;
    DWORD elapsed = 0;
    std::string Demo(const char* path) { return Service().SiteUrl(path); }
    std::wstring Msg(const wchar_t* key, const TextVars& vars = TextVars()) {
        return World().ctx->Translator().Text(L"Messages", key, vars);
    }
};

TEST_F(PreloadTest, AComicPageDownloadsTheScriptThenLoadsThePage) {
    if (DebugRun())
        GTEST_SKIP();
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        // Round 0 downloads the script (state 0, then the page from the worker); round 1 finds it.
        std::string address = Demo("/m/comic/harbor.html");
        EXPECT_EQ(Run(address), 1);
        EXPECT_EQ(dlg->result, 0);
        EXPECT_EQ(dlg->url, Demo("/comic/harbor.html")) << "the hook rewrote the mobile address";
        ASSERT_TRUE(dlg->context);
        EXPECT_EQ(JsonStringMember(dlg->context->info, "name"), "Harbor Lights");
        EXPECT_FALSE(dlg->adult);
        EXPECT_FALSE(dlg->PreloadOnParsed());
        EXPECT_EQ(ServiceLogCount("/v2/get_script.php"), 1);
        EXPECT_EQ(LogMember("/v2/get_script.php", 0, "query", "key"), DemoKey());
        EXPECT_EQ(LogMember("/comic/harbor.html", round, "headers", "Accept-Language"),
                  "en-US,en;q=0.8,zh-Hans-CN;q=0.5,zh-Hans;q=0.3");
        Finish();
        EXPECT_TRUE(frame.boxes.empty());
        EXPECT_TRUE(frame.grabs.empty());
    }
}

TEST_F(PreloadTest, AVolumePageGoesToGrabbingOnce) {
    if (DebugRun())
        GTEST_SKIP();
    std::string address = Demo("/comic/harbor/vol-2.html");
    EXPECT_EQ(Run(address), 1);
    EXPECT_TRUE(dlg->PreloadOnParsed());
    Sleep(50);
    PumpPending();
    ASSERT_EQ(frame.grabs.size(), 1u);
    EXPECT_EQ(frame.grabs[0].comic, L"Harbor Lights");
    ASSERT_EQ(frame.grabs[0].volumes.size(), 1u);
    EXPECT_EQ(frame.grabs[0].volumes[0].name, L"Volume 2");
    EXPECT_EQ(frame.grabs[0].volumes[0].url, address);
    EXPECT_EQ(frame.grabs[0].context, dlg->context);
    frame.grabs.clear();
}

TEST_F(PreloadTest, AnAdultSiteIsAskedOnceAndTheAnswerKept) {
    if (DebugRun())
        GTEST_SKIP();
    const std::string address = Demo("/comic/kite.html");
    Fail("/v2/get_script.php", {{"set_header", R"(Script-Info:{"a":true,"v":3})"}});
    // No: nothing is opened and nothing stored.
    frame.answer = IDNO;
    EXPECT_EQ(Run(address), 1);
    EXPECT_TRUE(dlg->adult);
    EXPECT_TRUE(dlg->PreloadOnParsed());
    ASSERT_EQ(frame.boxes.size(), 1u);
    EXPECT_TRUE(frame.boxes[0].sent);
    EXPECT_EQ(frame.boxes[0].flags, 0x124);
    EXPECT_EQ(frame.boxes[0].text, Msg(L"AdultEnsure", {{L"DOMAIN", L"127.0.0.1"}}));
    EXPECT_EQ(World().ctx->Database().GetConfigInt("AdultEnsure", 0), 0);
    // Yes: the comic is shown and the question never asked again.
    ForgetScripts();
    frame.answer = IDYES;
    EXPECT_EQ(Run(address), 1);
    EXPECT_FALSE(dlg->PreloadOnParsed());
    EXPECT_EQ(frame.boxes.size(), 2u);
    ForgetScripts();  // the setting is written on the database thread: wait for its queue
    EXPECT_EQ(World().ctx->Database().GetConfigInt("AdultEnsure", 0), 1);
    EXPECT_EQ(Run(address), 1);
    EXPECT_TRUE(dlg->adult);
    EXPECT_FALSE(dlg->PreloadOnParsed());
    EXPECT_EQ(frame.boxes.size(), 2u);
}

TEST_F(PreloadTest, Outcome1AnEmptyScriptShowsNothing) {
    if (DebugRun())
        GTEST_SKIP();
    Fail("/v2/get_script.php", {{"status", "200"}, {"body", ""}});
    EXPECT_EQ(Run(Demo("/comic/harbor.html")), 2);
    EXPECT_EQ(dlg->result, 1);
    Finish();
    EXPECT_TRUE(frame.boxes.empty());
    EXPECT_EQ(ServiceLogCount("/comic/harbor.html"), 0);
}

TEST_F(PreloadTest, Outcome2ANewerProgramIsOffered) {
    if (DebugRun())
        GTEST_SKIP();
    for (int answer : {IDNO, IDYES}) {
        frame.Clear();
        frame.answer = answer;
        ForgetScripts();
        EXPECT_EQ(Run("http://future.vellix-demo.test/comic/1.html"), 2);
        EXPECT_EQ(dlg->result, 2);
        EXPECT_EQ(dlg->text, "3.0.0.0");
        Finish();
        ASSERT_EQ(frame.boxes.size(), 1u);
        EXPECT_TRUE(frame.boxes[0].sent);
        EXPECT_EQ(frame.boxes[0].flags, 0x24);
        EXPECT_EQ(frame.boxes[0].text, Msg(L"NeedUpdate", {{L"VERSION", L"3.0.0.0"}}));
        EXPECT_EQ(frame.redirects.size(), answer == IDYES ? 1u : 0u);
        if (!frame.redirects.empty()) {
            EXPECT_NE(frame.redirects[0].find("download"), std::string::npos) << frame.redirects[0];
        }
    }
    // From the script manager (already loaded) the same check ends at once.
    EXPECT_EQ(Run("http://future.vellix-demo.test/comic/1.html"), 2);
    EXPECT_EQ(dlg->result, 2);
}

TEST_F(PreloadTest, Outcome4NoUsableScriptShowsNothing) {
    if (DebugRun())
        GTEST_SKIP();
    EXPECT_EQ(Run("http://comics.example.net/title/4711"), 2) << "no catalogue entry";
    EXPECT_EQ(dlg->result, 4);
    EXPECT_LT(elapsed, 5000u);
    EXPECT_EQ(ServiceLogCount("/v2/get_script.php"), 0);
    Finish();
    EXPECT_EQ(Run("http://broken.vellix-demo.test/comic/1.html"), 2) << "the downloaded script does not load";
    EXPECT_EQ(dlg->result, 4);
    Finish();
    EXPECT_TRUE(frame.boxes.empty());
}

TEST_F(PreloadTest, Outcome5TheServiceNamesItsMessage) {
    if (DebugRun())
        GTEST_SKIP();
    // A text that is no key is shown as itself.
    EXPECT_EQ(Run("http://missing.vellix-demo.test/comic/1.html"), 2);
    EXPECT_EQ(dlg->result, 5);
    EXPECT_EQ(dlg->text, "No script is available for this site.");
    Finish();
    ASSERT_EQ(frame.boxes.size(), 1u);
    EXPECT_FALSE(frame.boxes[0].sent);
    EXPECT_EQ(frame.boxes[0].flags, 0x40);
    EXPECT_EQ(frame.boxes[0].text, L"No script is available for this site.");
    // A key is translated.
    frame.Clear();
    Fail("/v2/get_script.php", {{"status", "503"}, {"set_header", "Error-Info:ParseFailed"}, {"count", "1"}});
    EXPECT_EQ(Run(Demo("/comic/harbor.html")), 2);
    EXPECT_EQ(dlg->result, 5);
    Finish();
    ASSERT_EQ(frame.boxes.size(), 1u);
    EXPECT_EQ(frame.boxes[0].text, Msg(L"ParseFailed"));
    // A dropped answer has no text of the service's: the script could not be loaded.
    frame.Clear();
    // (Every time: the HTTP client sends a request again once when the connection drops.)
    Fail("/v2/get_script.php", {{"drop", "1"}});
    EXPECT_EQ(Run(Demo("/comic/harbor.html")), 2);
    EXPECT_EQ(dlg->result, 5);
    EXPECT_EQ(dlg->text, "");
    Finish();
    ASSERT_EQ(frame.boxes.size(), 1u);
    EXPECT_EQ(frame.boxes[0].flags, 0x40);
    EXPECT_EQ(frame.boxes[0].text, Msg(L"ScriptError"));
}

TEST_F(PreloadTest, Outcome6OffersTheBrowser) {
    if (DebugRun())
        GTEST_SKIP();
    const std::string address = Demo("/comic/harbor.html");
    for (int answer : {IDNO, IDYES}) {
        frame.Clear();
        frame.answer = answer;
        Fail("/comic/harbor.html", {{"status", "404"}, {"count", "1"}});
        EXPECT_EQ(Run(address), 2);
        EXPECT_EQ(dlg->result, 6);
        Finish();
        ASSERT_EQ(frame.boxes.size(), 1u);
        EXPECT_TRUE(frame.boxes[0].sent);
        EXPECT_EQ(frame.boxes[0].flags, 0x24);
        EXPECT_EQ(frame.boxes[0].text, Msg(L"GetHTMLFailed"));
        EXPECT_EQ(frame.shellOpens,
                  answer == IDYES ? std::vector<std::wstring>{ToWide(address, CP_UTF8)} : std::vector<std::wstring>{});
    }
}

TEST_F(PreloadTest, Outcome6ASilentSiteTimesOut) {
    if (DebugRun())
        GTEST_SKIP();
    SetStepRequestTimeoutForTesting(2);
    Fail("/comic/harbor.html", {{"delay_ms", "30000"}, {"count", "1"}});
    EXPECT_EQ(Run(Demo("/comic/harbor.html")), 2);
    EXPECT_EQ(dlg->result, 6);
    EXPECT_LT(elapsed, 20000u);
    // The script request has its time-out too.
    ForgetScripts();
    Fail("/v2/get_script.php", {{"delay_ms", "30000"}, {"count", "1"}});
    EXPECT_EQ(Run(Demo("/comic/harbor.html")), 2);
    EXPECT_EQ(dlg->result, 5);
    EXPECT_LT(elapsed, 20000u);
}

TEST_F(PreloadTest, RequestsThatDoNotStartEndTheStep) {
    if (DebugRun())
        GTEST_SKIP();
    int starts = 0;
    SetStepStartForTesting([&](Orvane::OvRequest* r) {
        ++starts;
        delete r;
        return static_cast<int>(Orvane::kStartNoRequest);
    });
    EXPECT_EQ(Run(Demo("/comic/harbor.html")), 2) << "the script request";
    EXPECT_EQ(dlg->result, 5);
    SetStepStartForTesting(nullptr);
    EXPECT_EQ(Run(Demo("/comic/harbor.html")), 1);  // loads the script
    SetStepStartForTesting([&](Orvane::OvRequest* r) {
        ++starts;
        delete r;
        return static_cast<int>(Orvane::kStartNoConnection);
    });
    EXPECT_EQ(Run(Demo("/comic/harbor.html")), 2) << "the page request";
    EXPECT_EQ(dlg->result, 6);
    EXPECT_EQ(starts, 2);
}

TEST_F(PreloadTest, Outcome7OffersTheExample) {
    if (DebugRun())
        GTEST_SKIP();
    for (int exampleAnswer : {2, 1}) {
        frame.Clear();
        frame.exampleAnswer = exampleAnswer;
        Fail("/comic/harbor.html", {{"body", "<html><body>nothing here</body></html>"}, {"count", "1"}});
        EXPECT_EQ(Run(Demo("/comic/harbor.html")), 2);
        EXPECT_EQ(dlg->result, 7);
        Finish();
        std::wstring example = ToWide(Demo("/comic/harbor.html"), CP_UTF8);
        EXPECT_EQ(frame.examples, std::vector<std::wstring>{example});
        EXPECT_EQ(frame.executes,
                  exampleAnswer == 1 ? std::vector<std::wstring>{example} : std::vector<std::wstring>{});
        EXPECT_TRUE(frame.boxes.empty());
    }
}

TEST_F(PreloadTest, ARerunLeavesTheViewsContextAloneUnlessItSucceeds) {
    if (DebugRun())
        GTEST_SKIP();
    ASSERT_EQ(Run(Demo("/comic/harbor.html")), 1);
    std::shared_ptr<CParseContext> view = dlg->context;
    JsonValue* viewInfo = view->info;
    Vellix::Script* viewScript = view->script;
    const std::string viewUrl = view->url;

    Fail("/comic/kite.html", {{"status", "500"}, {"count", "1"}});
    EXPECT_EQ(Run(Demo("/comic/kite.html"), view), 2);
    EXPECT_EQ(dlg->result, 6);
    EXPECT_EQ(dlg->context, view) << "a failure leaves the caller's context";
    EXPECT_EQ(view->info, viewInfo);
    EXPECT_EQ(view->script, viewScript);
    EXPECT_EQ(view->url, viewUrl);
    EXPECT_EQ(JsonStringMember(view->info, "name"), "Harbor Lights");

    EXPECT_EQ(Run(Demo("/comic/kite.html"), view), 1);
    ASSERT_TRUE(dlg->context);
    EXPECT_NE(dlg->context, view) << "success hands over a fresh context";
    EXPECT_EQ(JsonStringMember(dlg->context->info, "name"), "Paper Kite");
    EXPECT_EQ(view->info, viewInfo);
    EXPECT_EQ(JsonStringMember(view->info, "name"), "Harbor Lights");
    EXPECT_EQ(view->url, viewUrl);
}

// Developer run: local scripts from debug.ini.
TEST_F(PreloadTest, DebugIniTypeVolumeExactlyGoesToGrabbing) {
    if (!DebugRun())
        GTEST_SKIP();
    const std::string address = "http://localhost:" + std::to_string(Service().SitePort()) + "/comic/harbor.html";
    const struct {
        const char* body;
        bool handled;
    } cases[] = {
        {R"({"type": "volume", "name": "Local", "volname": "Vol 9"})", true},
        {R"({"type": "Volume", "name": "Local", "volname": "Vol 9"})", false},
        {R"({"type": "volumes", "name": "Local", "volname": "Vol 9"})", false},
        {R"({"type": "index", "name": "Local"})", false},
        {R"({"name": "Local"})", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.body);
        frame.Clear();
        Fail("/comic/harbor.html", {{"body", c.body}, {"count", "1"}});
        EXPECT_EQ(Run(address), 1);
        EXPECT_EQ(dlg->PreloadOnParsed(), c.handled);
        Sleep(50);
        PumpPending();
        ASSERT_EQ(frame.grabs.size(), c.handled ? 1u : 0u);
        if (c.handled) {
            EXPECT_EQ(frame.grabs[0].comic, L"Local");
            ASSERT_EQ(frame.grabs[0].volumes.size(), 1u);
            EXPECT_EQ(frame.grabs[0].volumes[0].name, L"Vol 9");
            EXPECT_EQ(frame.grabs[0].volumes[0].url, address);
        }
        frame.grabs.clear();
    }
    EXPECT_EQ(ServiceLogCount("/v2/get_script.php"), 0) << "a local script is never downloaded";
}

TEST_F(PreloadTest, DebugIniOutcome3AndOutcome7WithoutAnExample) {
    if (!DebugRun())
        GTEST_SKIP();
    EXPECT_EQ(Run("http://broken.local.test/comic/1.html"), 2);
    EXPECT_EQ(dlg->result, 3);
    EXPECT_FALSE(dlg->text.empty());
    Finish();
    ASSERT_EQ(frame.boxes.size(), 1u);
    EXPECT_FALSE(frame.boxes[0].sent);
    EXPECT_EQ(frame.boxes[0].flags, 0x40);
    EXPECT_EQ(frame.boxes[0].text, Msg(L"ScriptError") + L"\n\n" + ToWide(dlg->text, CP_ACP));

    frame.Clear();
    const std::string address = "http://localhost:" + std::to_string(Service().SitePort()) + "/comic/harbor.html";
    Fail("/comic/harbor.html", {{"body", "not json"}, {"count", "1"}});
    EXPECT_EQ(Run(address), 2);
    EXPECT_EQ(dlg->result, 7);
    Finish();
    EXPECT_TRUE(frame.examples.empty());
    ASSERT_EQ(frame.boxes.size(), 1u);
    EXPECT_EQ(frame.boxes[0].text, Msg(L"ParseFailed"));
}

TEST_F(PreloadTest, DebugIniOnlyWebAddressesAreFetchedOrOpened) {
    if (!DebugRun())
        GTEST_SKIP();
    const std::string root = "http://localhost:" + std::to_string(Service().SitePort());
    frame.answer = IDYES;
    for (const char* path : {"/tojs/comic.html", "/tofile/comic.html"}) {
        SCOPED_TRACE(path);
        frame.Clear();
        frame.answer = IDYES;
        EXPECT_EQ(Run(root + path), 2);
        EXPECT_EQ(dlg->result, 6);
        EXPECT_FALSE(WTL::IsWebAddress(dlg->url.c_str())) << dlg->url;
        Finish();
        EXPECT_TRUE(frame.shellOpens.empty());
        for (const SeenBox& box : frame.boxes)
            EXPECT_FALSE(box.sent) << "no question whose Yes would open it";
    }
    EXPECT_EQ(ServiceLogCount("*"), 0);
    // A web address whose request does not start ends the step as well.
    EXPECT_EQ(Run(root + "/badstart/comic.html"), 2);
    EXPECT_EQ(dlg->result, 6);
    EXPECT_FALSE(WTL::IsWebAddress("http://"));
    EXPECT_TRUE(WTL::IsWebAddress("HTTPS://a"));
    EXPECT_FALSE(WTL::IsWebAddress("ftp://a/b"));
}

TEST_F(InitTest, DebugIniFailuresStillStart) {
    if (!DebugRun())
        GTEST_SKIP();
    Fail({{"status", "500"}, {"count", "1"}});
    CInitDlg step;
    EXPECT_EQ(RunInit(step), 1);
}

// ---------------------------------------------------------------------------------------------
// Search

class SearchTest : public PreloadTest {
protected:
    int RunSearch(const std::wstring& keyword, const std::wstring& kind) {
        search.reset(new CPreSearchDlg(keyword, kind));
        return VxInfoBar::Run(search.get());
    }
    std::unique_ptr<CPreSearchDlg> search;
};

TEST_F(SearchTest, ResultsAndNoResults) {
    if (DebugRun())
        GTEST_SKIP();
    EXPECT_EQ(RunSearch(L"harbor", L"n"), 1);
    EXPECT_EQ(search->code, 0);
    JsonTree list(ParseJsonText(search->body));
    JsonValue* first = nullptr;
    ASSERT_TRUE(JsonGetArrayMember(list.get(), 0, first)) << search->body;
    EXPECT_EQ(JsonStringMember(first, "n"), "Harbor Lights");
    EXPECT_EQ(LogMember("/v2/search.php", 0, "form", "q"), "harbor");
    EXPECT_EQ(LogMember("/v2/search.php", 0, "form", "t"), "n");

    EXPECT_EQ(RunSearch(L"\u6708\u4e0b", L""), 1);
    EXPECT_EQ(search->kind, L"na");
    EXPECT_EQ(LogMember("/v2/search.php", 1, "form", "t"), "na") << "an empty kind sends na";
    EXPECT_EQ(LogMember("/v2/search.php", 1, "form", "q"), "\xe6\x9c\x88\xe4\xb8\x8b");
    EXPECT_NE(search->body.find("\xe6\x9c\x88\xe4\xb8\x8b"), std::string::npos);

    EXPECT_EQ(RunSearch(L"no such comic", L"a"), 1);
    EXPECT_EQ(search->body, "[]");
}

TEST_F(SearchTest, FailuresReportTheirCode) {
    if (DebugRun())
        GTEST_SKIP();
    Fail("/v2/search.php", {{"status", "503"}, {"count", "1"}});
    EXPECT_EQ(RunSearch(L"harbor", L"n"), 2);
    EXPECT_EQ(search->code, 503);
    EXPECT_EQ(search->PreSearchOnResult(), Msg(L"SearchError", {{L"CODE", L"503"}}));

    Fail("/v2/search.php", {{"drop", "1"}});
    EXPECT_EQ(RunSearch(L"harbor", L"n"), 2);
    EXPECT_NE(search->code, 0) << "the request state";
    EXPECT_NE(search->code, 200);
    EXPECT_EQ(search->PreSearchOnResult(), Msg(L"SearchError", {{L"CODE", std::to_wstring(search->code)}}));
    Service().Control("clear_failures");

    SetStepStartForTesting([](Orvane::OvRequest* r) {
        delete r;
        return static_cast<int>(Orvane::kStartNoConnection);
    });
    EXPECT_EQ(RunSearch(L"harbor", L"n"), 2) << "never connected";
    EXPECT_EQ(search->code, static_cast<int>(Orvane::kStartNoConnection));
    SetStepStartForTesting(nullptr);

    SetStepRequestTimeoutForTesting(2);
    Fail("/v2/search.php", {{"delay_ms", "30000"}, {"count", "1"}});
    DWORD start = GetTickCount();
    EXPECT_EQ(RunSearch(L"harbor", L"n"), 2);
    EXPECT_LT(GetTickCount() - start, 20000u);
    EXPECT_NE(search->code, 0);

    CPreSearchDlg fresh(L"x", L"n");
    EXPECT_EQ(fresh.PreSearchOnResult(), Msg(L"SearchError", {{L"CODE", L"-1"}}));
}

}  // namespace
