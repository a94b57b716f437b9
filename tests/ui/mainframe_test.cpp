// The main frame and the program's normal mode, in this process: start-up against the reference
// service, the failures that end it, the language setting, the tray, the exit question and the
// favourites saves. Message boxes, the folder browser and the tray go through the window seams.
#include "Application.h"
#include "MainFrame.h"

#include <AppContext.h>
#include <AppDatabase.h>
#include <AppPath.h>
#include <DownloaderImpl.h>
#include <VxDownloadMgr.h>
#include <FavoritesStore.h>
#include <LanguageTranslator.h>
#include <Messages.h>
#include <MsgCenter.h>
#include <VxMsg.h>
#include <ZipWorker.h>

#include "DbTestSupport.h"
#include "ServiceTestSupport.h"
#include "wtl/AxHost.h"
#include "wtl/MessageLoop.h"
#include "wtl/Module.h"
#include "wtl/Seams.h"
#include "UiSeams.h"

#include <common/CodePage.h>
#include <common/Scoped.h>

#include <Tessara.h>

#include <DownloaderTestSupport.h>

#include <gtest/gtest.h>

#include <commctrl.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

class UiEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_LISTVIEW_CLASSES | ICC_BAR_CLASSES};
        InitCommonControlsEx(&controls);
        WTL::AxWinInit();
        WTL::AppModule().Init(nullptr);
    }
};
const auto* const g_environment = ::testing::AddGlobalTestEnvironment(new UiEnvironment);

// Message boxes are answered here (any thread) and kept; a box whose text holds a key of
// `answers` gets that answer, every other one IDOK.
struct Boxes {
    Boxes() {
        WTL::Seams().messageBox = [this](HWND, const wchar_t* text, const wchar_t* caption, UINT flags) {
            std::lock_guard<std::mutex> guard(lock);
            seen.push_back({text ? text : L"", caption ? caption : L"", flags});
            for (const auto& a : answers) {
                if (seen.back().text.find(a.first) != std::wstring::npos)
                    return a.second;
            }
            return IDOK;
        };
        WTL::Seams().shellOpen = [this](HWND, const wchar_t* file, const wchar_t*, int) {
            std::lock_guard<std::mutex> guard(lock);
            opened.push_back(file);
            return true;
        };
    }
    ~Boxes() { WTL::ResetSeams(); }

    struct Box {
        std::wstring text, caption;
        UINT flags;
    };
    size_t Count() {
        std::lock_guard<std::mutex> guard(lock);
        return seen.size();
    }
    bool Saw(const std::wstring& part) {
        std::lock_guard<std::mutex> guard(lock);
        for (const Box& b : seen) {
            if (b.text.find(part) != std::wstring::npos)
                return true;
        }
        return false;
    }
    Box Last() {
        std::lock_guard<std::mutex> guard(lock);
        return seen.empty() ? Box{} : seen.back();
    }

    std::mutex lock;
    std::vector<Box> seen;
    std::vector<std::pair<std::wstring, int>> answers;
    std::vector<std::wstring> opened;
};

std::wstring English(const wchar_t* section, const wchar_t* key) {
    Brimholt::LanguageTranslator builtIn(false);
    return builtIn.Text(section, key);
}

void Fail(const std::string& path, const std::vector<std::pair<std::string, std::string>>& rule) {
    std::vector<std::pair<std::string, std::string>> params = {{"path", path}};
    params.insert(params.end(), rule.begin(), rule.end());
    std::string answer = Service().Control("fail", params);
    ASSERT_EQ(answer.find("ERROR"), std::string::npos) << answer;
}

void ResetService() {
    Service().Control("reset");
}

// This process's main window: other test programs may have one of their own.
HWND OurMainWindow() {
    for (HWND w = FindWindowW(L"Vellix2Window", nullptr); w; w = FindWindowExW(nullptr, w, L"Vellix2Window", nullptr)) {
        DWORD pid = 0;
        GetWindowThreadProcessId(w, &pid);
        if (pid == GetCurrentProcessId())
            return w;
    }
    return nullptr;
}

// Runs the program's normal mode on this thread; closer (on a thread of its own) may end it.
int RunProgram(const std::function<void(HWND frame)>& whenUp = nullptr) {
    std::atomic<bool> running{true};
    std::thread closer([&] {
        if (!whenUp)
            return;
        HWND frame = nullptr;
        DWORD start = GetTickCount();
        while (running && GetTickCount() - start < 60000) {
            frame = OurMainWindow();
            if (frame && IsWindowVisible(frame)) {
                whenUp(frame);
                return;
            }
            Sleep(20);
        }
    });
    int result = RunApplication(SW_SHOWNORMAL);
    running = false;
    closer.join();
    return result;
}

// The frame is up and its start-up job has run once the download list is the first tab.
bool StartedUp(HWND frame) {
    HWND tabView = GetDlgItem(frame, IDC_TAB_VIEW);
    HWND strip = tabView ? FindWindowExW(tabView, nullptr, WC_TABCONTROLW, nullptr) : nullptr;
    return strip && TabCtrl_GetItemCount(strip) >= 1;
}

class ProgramTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(Service().ServicePort() > 0);
        ResetService();
    }
    void TearDown() override { ResetService(); }

    ScopedAppFolder folder;
    Boxes boxes;
};

TEST_F(ProgramTest, StartsUpAgainstTheServiceAndClosesWithZero) {
    std::atomic<bool> up{false};
    int result = RunProgram([&](HWND frame) {
        DWORD start = GetTickCount();
        while (!StartedUp(frame) && GetTickCount() - start < 30000)
            Sleep(20);
        up = StartedUp(frame);
        PostMessageW(frame, WM_CLOSE, 0, 0);
    });
    EXPECT_TRUE(up) << "the download list opened as the first tab";
    EXPECT_EQ(result, 0);
    EXPECT_EQ(boxes.Count(), 0u) << "nothing to ask at a normal start and close";

    // One configuration request, with the version header and the built-in language.
    std::string log = ServiceLog("/v2/config.php");
    EXPECT_NE(log.find("lang=en"), std::string::npos) << log;
    EXPECT_NE(log.find("2.5.0.35"), std::string::npos) << log;
    EXPECT_EQ(ServiceLogCount("/v2/config.php"), 1);
    // The language setting is filled with the translator's choice at the first start.
    EXPECT_EQ(Query(folder + L"Vellix.dat", "SELECT value FROM Config2 WHERE key='Language'"), "[[\"en\"]]");
}

TEST_F(ProgramTest, InitFailureShowsInitFailedAndEnds) {
    const struct {
        const char* name;
        std::vector<std::pair<std::string, std::string>> rule;
    } cases[] = {
        {"status 500", {{"status", "500"}}},
        {"dropped connection", {{"drop", "1"}}},
    };
    const std::wstring initFailed = English(L"Messages", L"InitFailed");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ResetService();
        Fail("/v2/config.php", c.rule);
        size_t before = boxes.Count();
        DWORD start = GetTickCount();
        int result = RunProgram();
        EXPECT_EQ(result, 0);
        EXPECT_LT(GetTickCount() - start, 30000u);
        ASSERT_EQ(boxes.Count(), before + 1);
        EXPECT_EQ(boxes.Last().text, initFailed);
        EXPECT_EQ(boxes.Last().caption, English(L"Global", L"Error"));
    }
}

// A developer starts without the service: the failed configuration does not end the program.
TEST_F(ProgramTest, DeveloperSettingsGoOnAfterAFailedInit) {
    WriteBytes(folder + L"debug.ini", "[Config]\r\n");
    Fail("/v2/config.php", {{"status", "500"}});
    std::atomic<bool> up{false};
    int result = RunProgram([&](HWND frame) {
        DWORD start = GetTickCount();
        while (!StartedUp(frame) && GetTickCount() - start < 30000)
            Sleep(20);
        up = StartedUp(frame);
        PostMessageW(frame, WM_CLOSE, 0, 0);
    });
    EXPECT_TRUE(up);
    EXPECT_EQ(result, 0);
    EXPECT_FALSE(boxes.Saw(English(L"Messages", L"InitFailed")));
}

// The service's addresses (broadcast "u", advert "e", pop-up "p") open only as web addresses; a
// broadcast without an address opens nothing, not even its label.
TEST_F(ProgramTest, ServiceAddressesOpenOnlyAsWebAddresses) {
    const struct {
        const char* name;
        const char* config;
        size_t popups, adverts, opened;
    } cases[] = {
        {"unsafe",
         R"j({"b":[{"n":"http://label.invalid/","u":""}],"e":"file:///C:/x.html","p":"javascript:alert(1)","v":{}})j",
         0, 0, 0},
        {"web",
         R"j({"b":[{"n":"News","u":"https://news.invalid/"}],"e":"http://ad.invalid/?v=%v","p":"http://pop.invalid/","v":{}})j",
         1, 1, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ResetService();
        Fail("/v2/config.php", {{"status", "200"}, {"body", c.config}});
        std::vector<std::wstring> popups, adverts;
        Views().popupAdvert = [&](const std::wstring& url) { popups.push_back(url); };
        Views().advert = [&](HWND, const RECT&, int, const std::wstring& url) -> HWND {
            adverts.push_back(url);
            return nullptr;
        };
        size_t openedBefore = boxes.opened.size();
        int result = RunProgram([&](HWND frame) {
            HWND status = GetDlgItem(frame, IDC_STATUS_BAR);
            HWND link = GetDlgItem(status, IDC_BROADCAST);
            DWORD start = GetTickCount();
            while (!IsWindowVisible(link) && GetTickCount() - start < 30000)
                Sleep(20);
            SendMessageW(link, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(2, 3));
            SendMessageW(link, WM_LBUTTONUP, 0, MAKELPARAM(2, 3));
            PostMessageW(frame, WM_CLOSE, 0, 0);
        });
        ResetUiSeams();
        EXPECT_EQ(result, 0);
        EXPECT_EQ(popups.size(), c.popups);
        EXPECT_EQ(adverts.size(), c.adverts);
        if (!adverts.empty())
            EXPECT_EQ(adverts[0], L"http://ad.invalid/?v=2.5.0.35");
        std::lock_guard<std::mutex> guard(boxes.lock);
        EXPECT_EQ(boxes.opened.size() - openedBefore, c.opened);
    }
}

// A close that comes while the start-up's info bar is up (the bar is modal, but a posted close
// still reaches the frame) waits for the bar: the start-up job never goes on in a destroyed window.
TEST_F(ProgramTest, CloseDuringStartUpWaitsForTheInfoBar) {
    Fail("/v2/config.php", {{"delay_ms", "1500"}});
    std::atomic<bool> closedWhileStarting{false};
    DWORD start = GetTickCount();
    int result = RunProgram([&](HWND frame) {
        PostMessageW(frame, WM_CLOSE, 0, 0);
        closedWhileStarting = !StartedUp(frame);
    });
    EXPECT_TRUE(closedWhileStarting) << "the close came before the start-up ended";
    EXPECT_EQ(result, 0);
    EXPECT_GE(GetTickCount() - start, 1400u) << "the bar ran its course";
    EXPECT_EQ(boxes.Count(), 0u);
}

TEST_F(ProgramTest, DatabaseThatCannotOpenEndsWithOne) {
    ASSERT_TRUE(CreateDirectoryW((folder + L"Vellix.dat").c_str(), nullptr));
    EXPECT_EQ(RunProgram(), 1);
    ASSERT_EQ(boxes.Count(), 1u);
    EXPECT_EQ(boxes.Last().text, L"Failed to initialize, cannot open database.");
    EXPECT_EQ(boxes.Last().caption, English(L"Global", L"Error"));
    EXPECT_EQ(boxes.Last().flags, static_cast<UINT>(MB_ICONERROR));
    EXPECT_EQ(OurMainWindow(), nullptr);
}

TEST_F(ProgramTest, LanguageThatIsNoneFallsBackAndIsWrittenBack) {
    Fail("/v2/config.php", {{"status", "500"}});
    ASSERT_EQ(RunProgram(), 0);  // creates the database
    const std::wstring db = folder + L"Vellix.dat";
    ASSERT_TRUE(ExecSql(db, "UPDATE Config2 SET value='xx-none' WHERE key='Language';"));
    ASSERT_EQ(RunProgram(), 0);
    EXPECT_EQ(Query(db, "SELECT value FROM Config2 WHERE key='Language'"), "[[\"en\"]]");
}

// The frame on this thread, over a context with an open database, with the service answering.
class FrameTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(Service().ServicePort() > 0);
        ResetService();
        ASSERT_TRUE(WTL::AppModule().AddMessageLoop(&loop));
        frame.flushPeriod = 150;  // the deferred save in a fraction of a second
        ASSERT_TRUE(frame.CreateFrame());
        frame.ShowWindow(SW_SHOWNORMAL);
        ASSERT_TRUE(PumpUntil([&] { return StartedUp(frame.m_hWnd); }, 30000));
    }
    void TearDown() override {
        if (frame.IsWindow())
            frame.DestroyWindow();
        PumpPending();
        WTL::AppModule().RemoveMessageLoop();
        ResetService();
    }

    // Pumps through the loop's filters, as the program's own loop does.
    bool Pump(const std::function<bool()>& done, DWORD timeoutMs = 5000) {
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

    ServiceContext context;
    Boxes boxes;
    WTL::CMessageLoop loop;
    CMainFrame frame;
};

TEST_F(FrameTest, ObserversChildrenAndTitle) {
    EXPECT_EQ(frame.id, 0);
    EXPECT_EQ(frame.panel.id, 1);
    EXPECT_EQ(frame.tabView.id, 2);
    wchar_t title[100] = {};
    GetWindowTextW(frame.m_hWnd, title, 100);
    EXPECT_EQ(std::wstring(title), English(L"Global", L"Name") + L" v2.5.0.35");
    wchar_t cls[64] = {};
    GetClassNameW(frame.m_hWnd, cls, 64);
    EXPECT_STREQ(cls, L"Vellix2Window");
    for (int child : {IDC_AVATAR, IDC_PANEL, IDC_STATUS_BAR, IDC_TAB_VIEW})
        EXPECT_NE(GetDlgItem(frame.m_hWnd, child), nullptr) << child;
    // init_finished shows the broadcast link with the catalogue's first entry.
    HWND link = GetDlgItem(frame.statusBar, IDC_BROADCAST);
    ASSERT_TRUE(Pump([&] { return IsWindowVisible(link) != FALSE; }));
    wchar_t label[200] = {};
    GetWindowTextW(link, label, 200);
    EXPECT_STRNE(label, L"Broadcast") << "the first broadcast replaced the initial text";
    // The avatar was written from the built-in picture.
    EXPECT_TRUE(Exists(context.Folder() + L"avatar.bmp"));
    EXPECT_EQ(ReadBytes(context.Folder() + L"avatar.bmp").substr(0, 2), "BM");
    RECT rc;
    GetWindowRect(frame.m_hWnd, &rc);
    EXPECT_EQ(rc.right - rc.left, 800);
    EXPECT_EQ(rc.bottom - rc.top, 600);
}

TEST_F(FrameTest, TrayIconComesBeforeHidingAndGoesOnRestore) {
    context->Database().SetConfig("MinToTray", "1");
    std::vector<DWORD> actions;
    BOOL addWorks = FALSE;
    WTL::Seams().notifyIcon = [&](DWORD action, NOTIFYICONDATAW* data) {
        EXPECT_EQ(data->uID, 419u);
        actions.push_back(action);
        return action == NIM_ADD ? addWorks : TRUE;
    };

    // The shell refuses the icon: the window stays reachable as a normal minimised one.
    frame.ShowWindow(SW_MINIMIZE);
    Pump([] { return false; }, 100);
    EXPECT_EQ(actions, std::vector<DWORD>{NIM_ADD});
    EXPECT_TRUE(frame.IsWindowVisible());
    EXPECT_FALSE(frame.InTray());
    frame.ShowWindow(SW_RESTORE);

    addWorks = TRUE;
    actions.clear();
    frame.ShowWindow(SW_MINIMIZE);
    Pump([] { return false; }, 100);
    EXPECT_EQ(actions, std::vector<DWORD>{NIM_ADD});
    EXPECT_FALSE(frame.IsWindowVisible());
    EXPECT_TRUE(frame.InTray());

    // A restarted shell gets the icon again.
    frame.SendMessageW(RegisterWindowMessageW(L"TaskbarCreated"), 0, 0);
    EXPECT_EQ(actions, (std::vector<DWORD>{NIM_ADD, NIM_ADD}));

    frame.SendMessageW(frame.trayMessage, 0, WM_LBUTTONDBLCLK);
    EXPECT_EQ(actions.back(), static_cast<DWORD>(NIM_DELETE));
    EXPECT_TRUE(frame.IsWindowVisible());
    EXPECT_FALSE(frame.InTray());

    // MinToTray 0: a normal minimised window, no icon.
    context->Database().SetConfig("MinToTray", "0");
    actions.clear();
    frame.ShowWindow(SW_MINIMIZE);
    Pump([] { return false; }, 100);
    EXPECT_TRUE(actions.empty());
    EXPECT_TRUE(frame.IsWindowVisible());
    frame.ShowWindow(SW_RESTORE);
}

TEST_F(FrameTest, EscAsksWhileDownloadsAreUnfinished) {
    HWND box = GetDlgItem(frame.panel.m_hWnd, IDC_INPUT_BOX);
    ASSERT_NE(box, nullptr);
    auto esc = [&] { PostMessageW(box, WM_CHAR, VK_ESCAPE, 0); };
    // The download view has loaded the downloader at start-up: an unfinished task goes in through it.
    CDownloaderImpl& builtIn = context->GetDownloadMgr()->GetBuiltIn();
    NamedComic comic("Comic");
    static_cast<Vellix::Downloader&>(builtIn).CreateTask(&comic, L"Vol 1", "http://a.invalid/1")
        ->AddImage("http://a.invalid/1/1.jpg", "");
    builtIn.Commit();
    builtIn.PauseAll();
    ASSERT_EQ(builtIn.Tasks().size(), 1u);
    ASSERT_EQ(builtIn.Tasks().front().status, kTaskPaused);

    const std::wstring question = English(L"Messages", L"EnsureExit");
    boxes.answers = {{question, IDNO}};
    esc();
    ASSERT_TRUE(Pump([&] { return boxes.Saw(question); }));
    EXPECT_EQ(boxes.Last().flags, static_cast<UINT>(MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2));
    EXPECT_EQ(boxes.Last().caption, English(L"Global", L"Name"));
    Pump([] { return false; }, 100);
    EXPECT_TRUE(frame.IsWindow()) << "No keeps the program";

    boxes.answers = {{question, IDYES}};
    esc();
    EXPECT_TRUE(Pump([&] { return !frame.IsWindow(); }));
}

TEST_F(FrameTest, FavouritesSaveOnceAfterABurstAndAtClose) {
    FavoritesStore& store = context->Favorites();
    ASSERT_TRUE(Pump([&] { return store.root != nullptr; }, 10000)) << "the favourites were loaded";
    // A first load with default folders asks for a save of its own: let it pass.
    ASSERT_TRUE(Pump([&] { return frame.pendingFlushes == 0; }, 5000));
    const int before = frame.favoritesSaves;
    for (int i = 0; i < 5; ++i)
        FavoritesStore::PostFlush();
    ASSERT_TRUE(Pump([&] { return frame.pendingFlushes == 5; }));
    // One save, at the first tick after a whole period without a further flush.
    ASSERT_TRUE(Pump([&] { return frame.pendingFlushes == 0; }, 5000));
    EXPECT_EQ(frame.favoritesSaves, before + 1);
    Pump([] { return false; }, 400);
    EXPECT_EQ(frame.favoritesSaves, before + 1) << "no save without a flush";

    // A change just before the close is in the file when the window is gone.
    FavoriteLink link(L"Closing", "http://site.invalid/closing");
    ASSERT_TRUE(store.AddItem(store.root, link));
    frame.DestroyWindow();
    std::string saved =
        ReadBytes(FavoritesStore::FilePath(ToWide(context->Database().GetConfig("FavoriteFolder"), CP_UTF8)));
    EXPECT_NE(saved.find("http://site.invalid/closing"), std::string::npos) << saved;
}

// The new file and the setting are in place before the old file goes: a kill right after the
// switch loses nothing.
TEST_F(FrameTest, FavouritesFolderSwitchKeepsEverythingAtEveryMoment) {
    FavoritesStore& store = context->Favorites();
    ASSERT_TRUE(Pump([&] { return store.root != nullptr; }, 10000));
    FavoriteLink link(L"Kept", "http://site.invalid/kept");
    ASSERT_TRUE(store.AddItem(store.root, link));
    const std::wstring oldFolder = ToWide(context->Database().GetConfig("FavoriteFolder"), CP_UTF8);
    const std::wstring oldFile = FavoritesStore::FilePath(oldFolder);
    ASSERT_EQ(FavoritesStore::WriterThread(store.Serialize()), 0u);
    ASSERT_TRUE(Exists(oldFile));

    // A folder that cannot take the file: everything stays as it was.
    WTL::Seams().browseFolder = [&](HWND, const wchar_t*, const std::wstring&, int, std::wstring& chosen) {
        chosen = context.Folder() + L"Missing\\Deeper";
        return true;
    };
    frame.SendMessageW(WM_COMMAND, ID_FAV_FOLDER, 0);
    EXPECT_TRUE(boxes.Saw(L"could not be saved"));
    EXPECT_EQ(ToWide(context->Database().GetConfig("FavoriteFolder"), CP_UTF8), oldFolder);
    EXPECT_TRUE(Exists(oldFile));

    const std::wstring newFolder = context.Folder() + L"Moved";
    ASSERT_TRUE(CreateDirectoryW(newFolder.c_str(), nullptr));
    WTL::Seams().browseFolder = [&](HWND, const wchar_t*, const std::wstring& start, int, std::wstring& chosen) {
        EXPECT_EQ(start, oldFolder);
        chosen = newFolder;
        return true;
    };
    frame.SendMessageW(WM_COMMAND, ID_FAV_FOLDER, 0);

    // Right after the command, before any timer: the new file holds the favourites, the stored
    // setting names the new folder, the old file is gone.
    const std::wstring newFile = FavoritesStore::FilePath(newFolder + L"\\");
    EXPECT_NE(ReadBytes(newFile).find("http://site.invalid/kept"), std::string::npos);
    std::string stored = Query(context.DatabaseFile(), "SELECT value FROM Config2 WHERE key='FavoriteFolder'");
    EXPECT_NE(stored.find("Moved"), std::string::npos) << stored;
    EXPECT_FALSE(Exists(oldFile));
    ASSERT_TRUE(Pump([&] { return boxes.Saw(L"Favorites.json"); })) << "the switch is reported";

    // Back to a folder whose file cannot be used, taking the file found: the current one is kept
    // as ".bak" instead of being deleted.
    WriteBytes(oldFile, "not favourites");
    WTL::Seams().browseFolder = [&](HWND, const wchar_t*, const std::wstring&, int, std::wstring& chosen) {
        chosen = oldFolder;
        return true;
    };
    boxes.answers = {{L"Favorites.json", IDYES}};
    frame.SendMessageW(WM_COMMAND, ID_FAV_FOLDER, 0);
    EXPECT_FALSE(Exists(newFile));
    EXPECT_NE(ReadBytes(newFile + L".bak").find("http://site.invalid/kept"), std::string::npos);
}

// The edit request names the favourite by its address: a reload between the post and its handling
// frees the old tree, and the frame looks the address up in the new one.
TEST_F(FrameTest, EditFavouriteIsLookedUpByAddressWhenHandled) {
    FavoritesStore& store = context->Favorites();
    ASSERT_TRUE(Pump([&] { return store.root != nullptr; }, 10000));
    FavoriteLink link(L"Edited", "http://site.invalid/edited");
    ASSERT_TRUE(store.AddItem(store.root, link));
    std::vector<std::string> asked;
    Dialogs().favoriteItem = [&](HWND, HIMAGELIST, const std::wstring&, const std::wstring&, const std::string& url,
                                 bool edit) {
        EXPECT_TRUE(edit);
        asked.push_back(url);
        return IDCANCEL;
    };
    MsgCenter& bus = context->Messages();
    for (const char* url : {"http://site.invalid/edited", "http://site.invalid/missing"})
        ASSERT_TRUE(bus.PostTo(0, new msg_edit_favorite(url, 0)));
    // A reload lands before the two requests are handled: the old tree is freed.
    msg_favorites_loaded reloaded;
    reloaded.tree = newArrayValue();
    store.SetLoaded(reloaded);
    FavoriteLink again(L"Edited", "http://site.invalid/edited");
    ASSERT_TRUE(store.AddItem(store.root, again));
    Pump([] { return false; }, 300);
    ResetUiSeams();
    EXPECT_EQ(asked, std::vector<std::string>{"http://site.invalid/edited"}) << "the missing one opens nothing";
}

// An archive still being written is unfinished work too: closing asks, as with downloads.
TEST_F(FrameTest, ClosingWhileAnArchiveIsWrittenAsks) {
    const std::wstring pictures = context.Folder() + L"Packing\\";
    ASSERT_TRUE(CreateDirectoryW(pictures.c_str(), nullptr));
    // Noise does not compress: packing it at the highest level takes a while.
    std::string noise(3 << 20, '\0');
    unsigned state = 2463534242u;
    for (char& c : noise) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        c = static_cast<char>(state);
    }
    std::string sql =
        "INSERT INTO Task2(rowid, url, Name, Cookie, Path, Status) VALUES(7, 'http://a.invalid/7', "
        "'Packing', '', '" +
        ToNarrow(pictures, CP_UTF8) + "', 2);";
    for (int i = 0; i < 8; ++i) {
        noise[0] = static_cast<char>(i);
        WriteBytes(pictures + L"p" + std::to_wstring(i) + L".jpg", noise);
        sql += "INSERT INTO Image2(url, ref, target, status, parent, ext) VALUES('http://a.invalid/i" +
               std::to_string(i) + "', '', 'p" + std::to_string(i) + "', 1, 7, '.jpg');";
    }
    ASSERT_TRUE(ExecSql(context.DatabaseFile(), sql));

    const std::wstring question = English(L"Messages", L"EnsureExit");
    boxes.answers = {{question, IDNO}};
    auto* worker = new CZipWorker(7, -1);
    ASSERT_TRUE(worker->Start());
    frame.PostMessageW(WM_CLOSE);
    ASSERT_TRUE(Pump([&] { return boxes.Saw(question); }));
    EXPECT_TRUE(frame.IsWindow()) << "No keeps the program while the archive is written";

    // Once it is written, the close goes on without a question.
    ASSERT_TRUE(Pump([] { return RunningZipJobs() == 0; }, 60000));
    size_t asked = boxes.Count();
    frame.PostMessageW(WM_CLOSE);
    EXPECT_TRUE(Pump([&] { return !frame.IsWindow(); }));
    EXPECT_EQ(boxes.Count(), asked);
}

}  // namespace
