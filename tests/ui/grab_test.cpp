// The grab dialog over the reference service's demo site and its script: captions and the bar as
// the dialog's windows receive them, the grab-failed dialog, tasks and images in the real
// Vellix.dat read back by Python, a cancel that leaves its worker behind, scripts that navigate to
// pages that never complete, a user-interface call of the script while the worker holds it, and
// the screenshots of both dialogs.
#include "ServiceTestSupport.h"
#include "UiTestSupport.h"
#include "WtlTestSupport.h"

#include <AppContext.h>
#include <AppDatabase.h>
#include <DbJobs.h>
#include <DbTestSupport.h>
#include <DebugSettings.h>
#include <GrabDlg.h>
#include <GrabSteps.h>
#include <JsonUtil.h>
#include <LanguageTranslator.h>
#include <Messages.h>
#include <ParseContext.h>
#include <ScriptManager.h>
#include <VolumeRecordSet.h>
#include <VxDownloadMgr.h>
#include <Tessara.h>
#include <common/CodePage.h>
#include <wtl/AxHost.h>
#include <wtl/Module.h>
#include <wtl/Seams.h>

#include <gtest/gtest.h>

#include <commctrl.h>
#include <winsock2.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

struct Environment : ::testing::Environment {
    void SetUp() override {
        INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_PROGRESS_CLASS};
        InitCommonControlsEx(&controls);
        WTL::AppModule().Init(nullptr);
        WTL::AxWinInit();
        OleInitialize(nullptr);
        WSADATA data;
        WSAStartup(MAKEWORD(2, 2), &data);
    }
};
::testing::Environment* g_env = ::testing::AddGlobalTestEnvironment(new Environment);

struct Comic {
    std::shared_ptr<CParseContext> context;
    std::wstring name;
    std::vector<VolumeItem> volumes;
};

GrabItem Item(const Comic& comic, std::vector<int> volumes) {
    GrabItem item{comic.context, comic.name, {}};
    for (int v : volumes)
        item.volumes.push_back(comic.volumes[v]);
    return item;
}

std::wstring Title(HWND window) {
    wchar_t text[256] = L"";
    GetWindowTextW(window, text, 256);
    return text;
}

std::wstring ItemText(HWND dialog, int id) {
    return Title(GetDlgItem(dialog, id));
}

// What the dialog's caption and bar are told, seen in their own window procedures.
struct Watch {
    std::vector<std::wstring> captions;  // each change once
    std::vector<int> ranges;
    std::vector<std::vector<int>> positions;  // the bar's positions after each range was set
};

LRESULT CALLBACK WatchWindow(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR data) {
    auto* watch = reinterpret_cast<Watch*>(data);
    if (message == WM_SETTEXT && GetDlgCtrlID(window) != IDC_GRAB_PROGRESS) {
        std::wstring text = reinterpret_cast<const wchar_t*>(lParam);
        if (GetParent(window) == nullptr && (watch->captions.empty() || watch->captions.back() != text))
            watch->captions.push_back(text);
    }
    if (message == PBM_SETRANGE32) {
        watch->ranges.push_back(static_cast<int>(lParam));
        watch->positions.emplace_back();
    }
    if (message == PBM_SETPOS && !watch->positions.empty())
        watch->positions.back().push_back(static_cast<int>(wParam));
    return DefSubclassProc(window, message, wParam, lParam);
}

// A modal run that outlives its bound is ended from its own loop, so that the test fails instead
// of hanging; each tick shows the drive the grab and grab-failed dialogs of this thread.
struct Drive {
    std::function<void(HWND)> onGrab;
    std::function<void(HWND)> onFailed;  // once; must end the dialog
    DWORD deadline = 0;
    bool gaveUp = false;
    bool failedSeen = false;
};
Drive* g_drive = nullptr;

BOOL CALLBACK VisitDialog(HWND window, LPARAM) {
    wchar_t cls[16] = {};
    GetClassNameW(window, cls, 16);
    if (wcscmp(cls, L"#32770") != 0 || !IsWindowVisible(window))
        return TRUE;
    Drive* d = g_drive;
    if (GetTickCount() > d->deadline) {
        d->gaveUp = true;
        EndDialog(window, -2);
    } else if (GetDlgItem(window, IDC_GRABFAILED_INFO) && !d->failedSeen) {
        d->failedSeen = true;
        if (d->onFailed)
            d->onFailed(window);
    } else if (GetDlgItem(window, IDC_GRAB_PROGRESS) && d->onGrab) {
        d->onGrab(window);
    }
    return TRUE;
}

void CALLBACK DriveTick(HWND, UINT, UINT_PTR, DWORD) {
    if (g_drive)
        EnumThreadWindows(GetCurrentThreadId(), VisitDialog, 0);
}

void Driven(Drive& d, const std::function<void()>& run, DWORD bound = 60000) {
    d.deadline = GetTickCount() + bound;
    g_drive = &d;
    UINT_PTR timer = SetTimer(nullptr, 0, 30, DriveTick);
    run();
    KillTimer(nullptr, timer);
    g_drive = nullptr;
    EXPECT_FALSE(d.gaveUp) << "a dialog did not end in time";
}

// Handled what is queued (paints included) before the shot.
void Shoot(HWND dialog, const std::string& name) {
    RedrawWindow(dialog, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    const DWORD until = GetTickCount() + 400;
    while (GetTickCount() < until) {
        wtltest::Pump();
        Sleep(20);
    }
    EXPECT_TRUE(Screenshot(dialog, name + "_" + LanguageTag(), 4)) << name;
}

class GrabTest : public ::testing::Test {
protected:
    void SetUp() override {
        Service().Control("reset");
        run.reset(new ServiceContext());
        ASSERT_TRUE(run->LoadCatalogue());
        InstallGrabDialogs();
        SetGrabNavigateBound(120000);
        seams.boxAnswer = IDYES;
    }
    void TearDown() override {
        // A cancelled worker may still be on its way out: it must end without the dialog.
        EXPECT_TRUE(wtltest::PumpUntil([] { return RunningGrabWorkers() == 0; }, 30000));
        if (run)
            (*run)->GetDownloadMgr()->GetBuiltIn().PauseAll();
        SetGrabDialogs(nullptr, nullptr);
        run.reset();
    }

    Comic Load(const char* id) {
        Comic comic;
        comic.context = std::make_shared<CParseContext>();
        Vellix::Script* script = ScriptFor(**run, kDemoHost);
        EXPECT_NE(script, nullptr);
        if (!script)
            return comic;
        comic.context->SetSharedScript(script, (*run)->Scripts().Lifetimes());
        PageLoader loader(comic.context);
        EXPECT_TRUE(loader.Load(Service().SiteUrl(std::string("/comic/") + id + ".html")));
        comic.name = ToWide(JsonStringMember(comic.context->info, "name"), CP_UTF8);
        JsonValue* volumes = nullptr;
        EXPECT_TRUE(comic.context->ParseVolumes(volumes));
        for (unsigned i = 0; i < getArraySize(volumes); ++i) {
            JsonValue* volume = nullptr;
            JsonGetArrayMember(volumes, static_cast<int>(i), volume);
            comic.volumes.push_back(
                {ToWide(JsonStringMember(volume, "title"), CP_UTF8), JsonStringMember(volume, "url")});
        }
        if (volumes)
            deleteValue(&volumes);
        return comic;
    }

    // A comic served by a local script of its own (no address, so no volume records).
    std::shared_ptr<CParseContext> Local(const std::string& script) {
        WriteBytes(run->Folder() + L"local.lua", script);
        auto parse = std::make_shared<CParseContext>();
        std::string error;
        EXPECT_TRUE(parse->LoadScriptFile(run->Folder() + L"local.lua", false, error)) << error;
        return parse;
    }

    // Runs the dialog modeless until it ends; false when it did not end in time.
    bool RunModeless(const std::vector<GrabItem>& items, GrabOutcome& outcome, Watch* watch = nullptr,
                     const std::function<void(CGrabDlg&)>& during = nullptr, DWORD bound = 60000) {
        CGrabDlg dialog(items);
        if (!dialog.Create(nullptr))
            return false;
        if (watch) {
            watch->captions.push_back(Title(dialog.m_hWnd));
            SetWindowSubclass(dialog.m_hWnd, WatchWindow, 1, reinterpret_cast<DWORD_PTR>(watch));
            SetWindowSubclass(dialog.GetDlgItem(IDC_GRAB_PROGRESS), WatchWindow, 1,
                              reinterpret_cast<DWORD_PTR>(watch));
        }
        dialog.ShowWindow(SW_SHOWNOACTIVATE);
        bool ended = wtltest::PumpUntil(
            [&] {
                if (during)
                    during(dialog);
                return dialog.HasEnded();
            },
            bound);
        wtltest::Pump();
        if (watch) {
            RemoveWindowSubclass(dialog.m_hWnd, WatchWindow, 1);
            RemoveWindowSubclass(dialog.GetDlgItem(IDC_GRAB_PROGRESS), WatchWindow, 1);
        }
        code = static_cast<int>(dialog.GetResult());
        dialog.DestroyWindow();
        dialog.TakeOutcome(outcome);
        return ended;
    }

    std::string Db(const std::string& sql) { return Query(run->DatabaseFile(), sql); }

    wtltest::SeamRecorder seams;
    std::unique_ptr<ServiceContext> run;
    int code = 0;
};

// ---------------------------------------------------------------------------------------------
// The main road

TEST_F(GrabTest, SixVolumesOfThreeComicsCountInTheCaptionAndBecomeResults) {
    Comic harbor = Load("harbor"), yuexia = Load("yuexia"), kite = Load("kite");
    ASSERT_EQ(harbor.volumes.size(), 3u);
    ASSERT_EQ(yuexia.volumes.size(), 2u);
    std::vector<GrabItem> items = {Item(harbor, {0, 1}), Item(yuexia, {0, 1}), Item(kite, {0}),
                                   Item(harbor, {2})};
    Watch watch;
    GrabOutcome outcome;
    ASSERT_TRUE(RunModeless(items, outcome, &watch));
    EXPECT_EQ(code, CGrabDlg::kDone);

    std::vector<std::wstring> captions;
    for (int i = 1; i <= 6; ++i)
        captions.push_back((*run)->Translator().Text(L"GrabDlg", L"CaptionFormat",
                                                     {{L"PROGRESS", std::to_wstring(i) + L"/6"}}));
    EXPECT_EQ(watch.captions, captions);
    EXPECT_EQ(watch.ranges, (std::vector<int>{3, 4, 2, 3, 3, 2})) << "each volume's page count";
    // The bar follows the pages reported, forward only, and ends each volume full; the next
    // volume's start sets it back to 0.
    ASSERT_EQ(watch.positions.size(), watch.ranges.size());
    for (size_t v = 0; v < watch.ranges.size(); ++v) {
        std::vector<int> shown = watch.positions[v];
        if (v + 1 < watch.ranges.size()) {
            ASSERT_FALSE(shown.empty()) << v;
            EXPECT_EQ(shown.back(), 0) << v;
            shown.pop_back();
        }
        ASSERT_FALSE(shown.empty()) << v;
        EXPECT_EQ(shown.back(), watch.ranges[v]) << "volume " << v << " ends full";
        EXPECT_TRUE(std::is_sorted(shown.begin(), shown.end())) << v;
        // Reports may merge, but the pages reach the bar before its fill.
        EXPECT_GE(shown.size(), 2u) << v;
        EXPECT_LE(shown.size(), static_cast<size_t>(watch.ranges[v]) + 1) << v;
    }

    ASSERT_EQ(outcome.code, 1);
    ASSERT_EQ(outcome.results.size(), 6u);
    EXPECT_EQ(outcome.itemOf, (std::vector<int>{0, 0, 1, 1, 2, 3}));
    const size_t pages[] = {3, 4, 2, 3, 3, 2};
    for (size_t r = 0; r < 6; ++r) {
        const TaskItem& result = outcome.results[r];
        const VolumeItem& volume = items[outcome.itemOf[r]].volumes[r % 2 && r < 4 ? 1 : 0];
        EXPECT_EQ(result.name, volume.name) << r;
        EXPECT_EQ(result.url, volume.url) << r;
        EXPECT_NE(result.cookie.find("vx_session="), std::string::npos) << "the site's cookie, for the images";
        ASSERT_EQ(result.images.size(), pages[r]) << r;
        for (const ImageRecord& image : result.images) {
            EXPECT_EQ(image.ref, volume.url);
            EXPECT_NE(image.url.find("/img/"), std::string::npos) << image.url;
            EXPECT_EQ(image.status, 0);
        }
    }
}

// A volume that fails stops the grab there; the grab-failed dialog offers the volumes before it.
TEST_F(GrabTest, AFailedVolumeAsksWhetherToKeepTheOthersAndTheirTasksAreStored) {
    struct Case {
        const char* failing;   // the image list that the site refuses
        bool offersKeep;       // button 1 shown
        int answer;            // the button pressed
        const char* tasks;     // the Task2 rows: url tail and name
        int images;
    } cases[] = {
        {"/api/harbor/vol-3.json", true, IDOK,
         "[[\"vol-1.html\", \"Harbor Lights Volume 1\"], [\"vol-2.html\", \"Harbor Lights Volume 2\"]]", 7},
        {"/api/harbor/vol-3.json", true, IDCANCEL, "[]", 0},
        {"/api/harbor/vol-1.json", false, IDCANCEL, "[]", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.failing);
        Service().Control("reset");
        Service().Control("fail", {{"path", c.failing}, {"status", "500"}});
        Comic harbor = Load("harbor"), kite = Load("kite");
        auto* grab = new msg_grab();
        size_t h = grab->AddItem(harbor.context, harbor.name);
        for (const VolumeItem& volume : harbor.volumes)
            grab->AddVolume(h, volume);
        grab->AddVolume(grab->AddItem(kite.context, kite.name), kite.volumes[0]);
        Drive drive;
        std::wstring info;
        bool keepShown = false;
        drive.onFailed = [&](HWND dialog) {
            info = ItemText(dialog, IDC_GRABFAILED_INFO);
            keepShown = IsWindowVisible(GetDlgItem(dialog, IDOK)) != FALSE;
            PostMessageW(dialog, WM_COMMAND, c.answer, 0);
        };
        Driven(drive, [&] { grab->Run(nullptr); });
        delete grab;
        // The slots start on the new tasks at once: they are stopped, and their writes done,
        // before another reader opens the file.
        (*run)->GetDownloadMgr()->GetBuiltIn().PauseAll();
        GetFinishedTasks barrier;
        (*run)->Database().RunSync(&barrier);
        EXPECT_TRUE(drive.failedSeen);
        EXPECT_EQ(keepShown, c.offersKeep);
        std::wstring failed = harbor.name + L" " + harbor.volumes[c.offersKeep ? 2 : 0].name;
        EXPECT_EQ(info, (*run)->Translator().Text(L"GrabFailedDlg", L"Info", {{L"NAME", failed}}));
        EXPECT_EQ(seams.beeps, std::vector<UINT>{MB_ICONHAND});
        seams.beeps.clear();
        EXPECT_EQ(ServiceLogCount("/comic/kite/*"), 0) << "nothing after the failed volume was asked for";

        std::string rows = Db("SELECT substr(url, instr(url, 'vol-')), Name FROM Task2 ORDER BY rowid");
        EXPECT_EQ(rows, c.tasks);
        EXPECT_EQ(Db("SELECT count(*) FROM Image2"), "[[" + std::to_string(c.images) + "]]");
        if (c.images) {
            EXPECT_EQ(Db("SELECT count(*) FROM Image2 JOIN Task2 ON Image2.parent = Task2.rowid "
                         "WHERE Image2.ref = Task2.url AND Image2.url LIKE '%/img/harbor/%'"),
                      "[[7]]");
        }
        (*run)->GetDownloadMgr()->GetBuiltIn().PauseAll();
        run.reset();
        run.reset(new ServiceContext());
        ASSERT_TRUE(run->LoadCatalogue());
    }
}

// ---------------------------------------------------------------------------------------------
// Cancel

// The grab message and the comic go while the worker waits for the held image list; once the
// server answers, the worker finds itself cancelled and stops before the next volume.
TEST_F(GrabTest, CancelWhileTheServerHoldsAnImageListLeavesNoTasks) {
    Service().Control("fail", {{"path", "/api/harbor/vol-1.json"}, {"delay_ms", "2500"}, {"count", "1"}});
    Comic harbor = Load("harbor");
    auto* grab = new msg_grab();
    size_t h = grab->AddItem(harbor.context, harbor.name);
    for (const VolumeItem& volume : harbor.volumes)
        grab->AddVolume(h, volume);
    Drive drive;
    bool asked = false;
    drive.onGrab = [&](HWND dialog) {
        if (!asked && ServiceLogCount("/api/harbor/vol-1.json") == 1) {
            asked = true;
            PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
        }
    };
    Driven(drive, [&] { grab->Run(nullptr); });
    EXPECT_TRUE(asked);
    delete grab;
    harbor = Comic();
    EXPECT_EQ(RunningGrabWorkers(), 1) << "the worker is still held by the server";
    ASSERT_EQ(seams.boxes.size(), 1u);
    EXPECT_EQ(seams.boxes[0].text, (*run)->Translator().Text(L"GrabDlg", L"CancelGrab"));
    EXPECT_EQ(seams.boxes[0].flags, static_cast<UINT>(MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2));

    EXPECT_TRUE(wtltest::PumpUntil([] { return RunningGrabWorkers() == 0; }, 20000));
    EXPECT_EQ(ServiceLogCount("/comic/harbor/vol-2.html"), 0) << "the worker went on after the cancel";
    EXPECT_EQ(Db("SELECT count(*) FROM Task2"), "[[0]]");
    EXPECT_EQ(Db("SELECT count(*) FROM Image2"), "[[0]]");
}

// The answer to the cancel question, given while the worker goes on or after it finished.
TEST_F(GrabTest, TheCancelQuestionsAnswer) {
    struct Case {
        int answer;
        bool afterWorker;  // the worker finishes while the question is open
        int code;
        size_t results;
    } cases[] = {{IDYES, false, 1, 0}, {IDYES, true, 1, 0}, {IDNO, false, 1, 2}, {IDNO, true, 1, 2}};
    Comic kite = Load("kite"), harbor = Load("harbor");
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.answer) + (c.afterWorker ? " after" : " during"));
        Service().Control("fail", {{"path", "/api/kite/complete.json"}, {"delay_ms", "1500"}, {"count", "1"}});
        WTL::Seams().messageBox = [&](HWND, const wchar_t*, const wchar_t*, UINT) {
            if (c.afterWorker) {
                EXPECT_TRUE(wtltest::PumpUntil([] { return RunningGrabWorkers() == 0; }, 20000));
            }
            return c.answer;
        };
        bool asked = false;
        GrabOutcome outcome;
        ASSERT_TRUE(RunModeless({Item(kite, {0}), Item(harbor, {0})}, outcome, nullptr, [&](CGrabDlg& dialog) {
            if (!asked && ServiceLogCount("/api/kite/complete.json") == 1) {
                asked = true;
                dialog.PostMessageW(WM_COMMAND, IDCANCEL);
            }
        }));
        EXPECT_TRUE(asked);
        EXPECT_EQ(code, c.code);
        EXPECT_EQ(outcome.code, c.code);
        EXPECT_EQ(outcome.results.size(), c.results);
        EXPECT_TRUE(wtltest::PumpUntil([] { return RunningGrabWorkers() == 0; }, 20000));
        Service().Control("reset");
    }
}

// ---------------------------------------------------------------------------------------------
// Scripts that notify

const char kNavigateScript[] =
    "function Vellix_ParseInfo(url, page) return { name = 'Nav', type = 'index' } end\n"
    "function Vellix_ParseVolumes(url, page) return {} end\n"
    "function Vellix_ParseImages(url)\n"
    "  local target = url:match('#(.*)$')\n"
    "  vxapi2.Notify('navigate', 'go', target)\n"
    "  return { { url = target .. '/1.png' }, 'not a dictionary', { url = 'http://i.test/3.png', ref = 'r3' } }\n"
    "end\n";

// A pop-up browser window of this process (other test processes may have their own).
BOOL CALLBACK FindOwnPopup(HWND window, LPARAM found) {
    wchar_t cls[32] = {};
    GetClassNameW(window, cls, 32);
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (wcscmp(cls, L"Vx.PopupBrowser") != 0 || process != GetCurrentProcessId())
        return TRUE;
    *reinterpret_cast<bool*>(found) = true;
    return FALSE;
}
bool OwnPopup() {
    bool found = false;
    EnumWindows(FindOwnPopup, reinterpret_cast<LPARAM>(&found));
    return found;
}

// A port that refuses: bound, then closed again.
int RefusingPort() {
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in at = {};
    at.sin_family = AF_INET;
    at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int length = sizeof(at);
    bind(s, reinterpret_cast<sockaddr*>(&at), sizeof(at));
    getsockname(s, reinterpret_cast<sockaddr*>(&at), &length);
    closesocket(s);
    return ntohs(at.sin_port);
}

// A server that takes connections and never answers.
struct SilentServer {
    SilentServer() {
        s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in at = {};
        at.sin_family = AF_INET;
        at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        int length = sizeof(at);
        bind(s, reinterpret_cast<sockaddr*>(&at), sizeof(at));
        listen(s, 8);
        getsockname(s, reinterpret_cast<sockaddr*>(&at), &length);
        port = ntohs(at.sin_port);
    }
    ~SilentServer() { closesocket(s); }
    SOCKET s;
    int port = 0;
};

// A navigation ends with the page, an error, or the bound; the grab goes on either way. An entry
// without "ref" takes the volume's address, one that is no dictionary gives an image without one.
TEST_F(GrabTest, ANavigationThatNeverCompletesEndsWithinItsBound) {
    SilentServer silent;
    const DWORD bound = 3000;
    SetGrabNavigateBound(bound);
    struct Case {
        const char* what;
        std::string target;
    } cases[] = {
        {"refused", "http://127.0.0.1:" + std::to_string(RefusingPort()) + "/page"},
        {"silent", "http://127.0.0.1:" + std::to_string(silent.port) + "/page"},
        {"not a web address", "file:///c:/windows/win.ini"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        auto nav = Local(kNavigateScript);
        std::string volume = "http://nav.test/v1#" + c.target;
        GrabOutcome outcome;
        DWORD start = GetTickCount();
        ASSERT_TRUE(RunModeless({GrabItem{nav, L"Nav", {{L"V1", volume}}}}, outcome, nullptr, nullptr, 30000));
        DWORD took = GetTickCount() - start;
        EXPECT_LT(took, bound + 8000);
        ASSERT_EQ(outcome.code, 1);
        ASSERT_EQ(outcome.results.size(), 1u);
        const std::vector<ImageRecord>& images = outcome.results[0].images;
        ASSERT_EQ(images.size(), 3u);
        EXPECT_EQ(images[0].url, c.target + "/1.png");
        EXPECT_EQ(images[0].ref, volume);
        EXPECT_EQ(images[1].url, "");
        EXPECT_EQ(images[1].ref, volume);
        EXPECT_EQ(images[2].ref, "r3");
    }
    // The pop-up windows went with their navigations.
    EXPECT_TRUE(wtltest::PumpUntil([] { return !OwnPopup(); }, 10000));
}

TEST_F(GrabTest, CancelEndsAWaitingNavigationAtOnce) {
    SilentServer silent;
    SetGrabNavigateBound(120000);
    auto nav = Local(kNavigateScript);
    std::string volume = "http://nav.test/v1#http://127.0.0.1:" + std::to_string(silent.port) + "/page";
    GrabOutcome outcome;
    DWORD cancelledAt = 0;
    ASSERT_TRUE(RunModeless({GrabItem{nav, L"Nav", {{L"V1", volume}, {L"V2", volume}}}}, outcome, nullptr,
                            [&](CGrabDlg& dialog) {
                                if (!cancelledAt && OwnPopup()) {
                                    cancelledAt = GetTickCount();
                                    dialog.PostMessageW(WM_COMMAND, IDCANCEL);
                                }
                            }));
    ASSERT_NE(cancelledAt, 0u) << "no pop-up browser came";
    EXPECT_TRUE(outcome.results.empty());
    EXPECT_TRUE(wtltest::PumpUntil([] { return RunningGrabWorkers() == 0; }, 10000));
    EXPECT_LT(GetTickCount() - cancelledAt, 10000u);
    EXPECT_TRUE(wtltest::PumpUntil([] { return !OwnPopup(); }, 10000));
}

// The browser's document-complete event (which Wine never fires) ends the wait: the handler is
// detached and the window closed before the waiter is woken.
class FiringNavigate : public SyncNavigate {
public:
    void OnCreated(VxPopupBrowser* browser) override {
        SyncNavigate::OnCreated(browser);
        for (int i = 0; i < 2; ++i) {
            VARIANT url, ref;
            VariantInit(&url);
            url.vt = VT_BSTR;
            url.bstrVal = SysAllocString(L"http://127.0.0.1/done");
            VariantInit(&ref);
            ref.vt = VT_BYREF | VT_VARIANT;
            ref.pvarVal = &url;
            VARIANT args[2];
            args[0] = ref;
            VariantInit(&args[1]);
            args[1].vt = VT_DISPATCH;
            args[1].pdispVal = nullptr;
            DISPPARAMS params = {args, nullptr, 2, 0};
            static_cast<IDispatch*>(browser)->Invoke(259, IID_NULL, 0, DISPATCH_METHOD, &params, nullptr, nullptr,
                                                     nullptr);
            VariantClear(&url);
        }
        detached = browser->handler == nullptr;
        checked = true;
    }
    void OnFinished(VxPopupBrowser* browser, PopupEnd how) override {
        if (how == PopupEnd::DocumentComplete)
            ++completes;
        SyncNavigate::OnFinished(browser, how);
    }
    std::atomic<int> completes{0};
    std::atomic<bool> detached{false};
    std::atomic<bool> checked{false};
};

TEST_F(GrabTest, DocumentCompleteEndsASynchronousNavigation) {
    SilentServer silent;
    auto sync = std::make_shared<FiringNavigate>();
    ASSERT_TRUE(OpenPopupBrowser(L"http://127.0.0.1:" + std::to_wstring(silent.port) + L"/page", sync));
    DWORD start = GetTickCount();
    EXPECT_TRUE(sync->Wait(nullptr, 20000));
    EXPECT_LT(GetTickCount() - start, 15000u);
    EXPECT_EQ(sync->completes, 1) << "a second document reached a detached handler";
    ASSERT_TRUE(wtltest::PumpUntil([&] { return sync->checked.load(); }, 5000));
    EXPECT_TRUE(sync->detached);
    EXPECT_TRUE(wtltest::PumpUntil([] { return !OwnPopup(); }, 10000));
}

// The user-interface thread asks the same script for volumes while the worker holds the script
// in a parse whose notifications are still to come.
TEST_F(GrabTest, AUserInterfaceCallOfTheScriptDuringAGrabDoesNotDeadlock) {
    Service().Control("fail", {{"path", "/api/harbor/vol-1.json"}, {"delay_ms", "1500"}, {"count", "1"}});
    Comic harbor = Load("harbor");
    HANDLE returned = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::thread watchdog([returned] {
        if (WaitForSingleObject(returned, 40000) != WAIT_OBJECT_0) {
            fprintf(stderr, "DEADLOCK: the user-interface call of the script never returned\n");
            fflush(stderr);
            ExitProcess(3);
        }
    });
    bool called = false, parsed = false;
    GrabOutcome outcome;
    Watch watch;
    EXPECT_TRUE(RunModeless({Item(harbor, {0, 1})}, outcome, &watch, [&](CGrabDlg&) {
        if (!called && ServiceLogCount("/api/harbor/vol-1.json") == 1) {
            called = true;
            JsonValue* volumes = nullptr;
            parsed = harbor.context->ParseVolumes(volumes);
            if (volumes)
                deleteValue(&volumes);
            SetEvent(returned);
        }
    }));
    SetEvent(returned);
    watchdog.join();
    CloseHandle(returned);
    EXPECT_TRUE(called);
    EXPECT_TRUE(parsed);
    EXPECT_EQ(outcome.results.size(), 2u);
    EXPECT_EQ(watch.ranges, (std::vector<int>{3, 4}));
}

// An item without volumes neither reads another item's result nor touches its own records.
TEST_F(GrabTest, AnItemWithoutVolumesLeavesItsRecordsAlone) {
    Comic harbor = Load("harbor"), kite = Load("kite");
    VolumeRecordSet stored;
    stored.url = harbor.context->url;
    for (const VolumeItem& volume : harbor.volumes)
        stored.records[volume.url] = 1;
    (*run)->Database().Post(new CUpdateVols(stored.url, stored.ToJson()));

    VolumeRecordSet kiteRecords;
    kiteRecords.url = kite.context->url;
    kiteRecords.records = {{kite.volumes[0].url, 1}, {"http://old.test/gone", 1}};
    (*run)->Database().Post(new CUpdateVols(kiteRecords.url, kiteRecords.ToJson()));
    GetFinishedTasks barrier;  // runs after the posted jobs
    (*run)->Database().RunSync(&barrier);

    GrabOutcome outcome;
    ASSERT_TRUE(RunModeless({GrabItem{harbor.context, harbor.name, {}}, Item(kite, {0})}, outcome));
    EXPECT_EQ(outcome.code, 1);
    ASSERT_EQ(outcome.results.size(), 1u);
    EXPECT_EQ(outcome.itemOf, std::vector<int>{1});
    EXPECT_EQ(outcome.volumeRecords.count(harbor.context->url), 0u);
    VolumeRecordSet expected;
    expected.records = {{kite.volumes[0].url, 2}, {"http://old.test/gone", 0}};
    EXPECT_EQ(outcome.volumeRecords[kite.context->url], expected.ToJson());
}

// With the developer switch on, what a script saves lands in "Save\\" under the grab's current
// name made safe, and nowhere else.
TEST_F(GrabTest, SavedContextsStayInTheDeveloperFolder) {
    run.reset();
    ScopedAppFolder folder;
    ASSERT_TRUE(WriteBytes(folder + L"debug.ini", "[Config]\nSaveContext=1\n"));
    ServiceRun developer;
    ASSERT_TRUE(developer->Debug().SaveContext);
    ASSERT_TRUE(WriteBytes(folder + L"save.lua",
                           "function Vellix_ParseImages(url)\n"
                           "  vxapi2.Notify('save', 'ctx', 'context of ' .. url)\n"
                           "  return { { url = url .. '/1.png' } }\n"
                           "end\n"));
    auto parse = std::make_shared<CParseContext>();
    std::string error;
    ASSERT_TRUE(parse->LoadScriptFile(folder + L"save.lua", false, error)) << error;
    GrabOutcome outcome;
    ASSERT_TRUE(RunModeless({GrabItem{parse, L"..\\..", {{L"evil", "http://s.test/1"}}},
                             GrabItem{parse, L"CON", {{L"", "http://s.test/2"}}}},
                            outcome));
    ASSERT_EQ(outcome.results.size(), 2u);
    const std::wstring saved = folder + L"Save\\";
    EXPECT_TRUE(wtltest::PumpUntil([&] { return Exists(saved + L"_.. evil.ctx") && Exists(saved + L"_CON.ctx"); }));
    EXPECT_EQ(ReadBytes(saved + L"_.. evil.ctx"), "context of http://s.test/1");
    EXPECT_EQ(ReadBytes(saved + L"_CON.ctx"), "context of http://s.test/2");
    EXPECT_FALSE(Exists(folder + L"evil.ctx"));
    parse.reset();
}

TEST(ContextFileName, IsAPlainFileNameInItsFolder) {
    struct Case {
        const wchar_t* name;
        const wchar_t* file;
    } cases[] = {
        {L"Harbor Lights Volume 1", L"Harbor Lights Volume 1.ctx"},
        {L"..\\..\\Windows\\x", L"_.._Windows_x.ctx"},
        {L"../up", L"_up.ctx"},
        {L"a:b*c?d\"e<f>g|h", L"a_b_c_d_e_f_g_h.ctx"},
        {L"tab\there", L"tab_here.ctx"},
        {L"...", L"_.ctx"},
        {L"", L"_.ctx"},
        {L"name. . ", L"name.ctx"},
        {L"CON", L"_CON.ctx"},
        {L"nul ", L"_nul.ctx"},
        {L"com3.part", L"_com3.part.ctx"},
        {L"LPT9", L"_LPT9.ctx"},
        {L"COM0", L"COM0.ctx"},
        {L"CONSOLE", L"CONSOLE.ctx"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ContextFileName(c.name), c.file) << ToNarrow(c.name, CP_UTF8);
    std::wstring longName = ContextFileName(std::wstring(400, L'x'));
    EXPECT_EQ(longName.size(), 204u);
}

// ---------------------------------------------------------------------------------------------
// Screenshots

TEST_F(GrabTest, GrabDialogScreenshot) {
    Service().Control("fail", {{"path", "/api/harbor/vol-3.json"}, {"delay_ms", "3000"}, {"count", "1"}});
    Comic harbor = Load("harbor");
    GrabOutcome outcome;
    bool shot = false;
    ASSERT_TRUE(RunModeless({Item(harbor, {0, 1, 2})}, outcome, nullptr, [&](CGrabDlg& dialog) {
        if (!shot && ServiceLogCount("/api/harbor/vol-3.json") == 1) {
            shot = true;
            wtltest::PumpUntil([] { return false; }, 300);
            EXPECT_NE(ItemText(dialog.m_hWnd, IDC_GRAB_WHAT).find(harbor.volumes[2].name), std::wstring::npos);
            EXPECT_NE(Title(dialog.m_hWnd).find(L"3/3"), std::wstring::npos);
            Shoot(dialog.m_hWnd, "grab");
        }
    }));
    EXPECT_TRUE(shot);
}

TEST_F(GrabTest, GrabFailedDialogScreenshot) {
    for (bool someSucceeded : {true, false}) {
        GrabOutcome outcome;
        outcome.code = 2;
        outcome.results.resize(someSucceeded ? 2 : 1);
        if (someSucceeded)
            outcome.results[0].images.resize(3);
        outcome.failedName = L"Harbor Lights Volume 3: The Storm";
        CGrabFailedDlg dialog(outcome.failedName, &outcome.results);
        ASSERT_TRUE(dialog.Create(nullptr));
        dialog.ShowWindow(SW_SHOWNOACTIVATE);
        EXPECT_EQ(IsWindowVisible(dialog.GetDlgItem(IDOK)) != FALSE, someSucceeded);
        EXPECT_EQ(ItemText(dialog.m_hWnd, IDC_GRABFAILED_INFO),
                  (*run)->Translator().Text(L"GrabFailedDlg", L"Info", {{L"NAME", outcome.failedName}}));
        EXPECT_EQ(Title(dialog.m_hWnd), (*run)->Translator().Text(L"GrabFailedDlg", L"Caption"));
        Shoot(dialog.m_hWnd, someSucceeded ? "grabfailed" : "grabfailed_nothing");
        dialog.SendMessageW(WM_COMMAND, IDCANCEL);
        EXPECT_EQ(dialog.GetResult(), 2);
        if (someSucceeded) {
            dialog.SendMessageW(WM_COMMAND, IDOK);
            EXPECT_EQ(dialog.GetResult(), 1);
        }
        dialog.DestroyWindow();
    }
}

}  // namespace
