// The download manager: the built-in downloader, the plug-in loaded from the program folder, and
// the choice of the active downloader kept in the "Downloader" setting.
#include "CoreTestSupport.h"
#include "DbTestSupport.h"

#include <AppDatabase.h>
#include <AppPath.h>
#include <DbJobs.h>
#include <GrabSteps.h>
#include <Messages.h>
#include <ParseContext.h>
#include <VxDownloadMgr.h>
#include <Tessara.h>
#include <common/CodePage.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

namespace {

typedef std::vector<std::pair<std::string, std::wstring>> Offers;

Offers Enumerate(VxDownloadMgr& mgr) {
    Offers offers;
    mgr.EnumDownloaders(
        [](const char* id, const wchar_t* name, void* user) {
            static_cast<Offers*>(user)->emplace_back(id, name);
        },
        &offers);
    return offers;
}

std::wstring BinFolder() {
    wchar_t path[MAX_PATH];
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder = path;
    return folder.substr(0, folder.rfind(L'\\') + 1);
}

// A context with an open database in the current program folder.
class OpenContext {
public:
    OpenContext() { EXPECT_TRUE(context.Database().Open()); }
    AppDatabase& Db() { return context.Database(); }
    // Uncached settings are written by posted jobs: waits until every job posted before ran.
    void Drain() {
        GetFinishedTasks barrier;
        context.Database().RunSync(&barrier);
    }
    AppContext context;
};

// A DLL of the plug-in's name without the export is unloaded again. First in this file: the real
// test plug-in, once loaded, stays for the whole process.
TEST(DownloadMgr, PluginWithoutTheExportIsUnloaded) {
    ScopedAppFolder folder;
    ASSERT_TRUE(CopyFileW((BinFolder() + L"kestrade_noexport.dll").c_str(), (folder + L"Kestrade.dll").c_str(), FALSE));
    OpenContext ctx;
    VxDownloadMgr mgr;
    EXPECT_EQ(GetModuleHandleW((folder + L"Kestrade.dll").c_str()), nullptr);
    EXPECT_EQ(Enumerate(mgr).size(), 1u);
}

TEST(DownloadMgr, BuiltInOnlyWithoutPlugin) {
    ScopedAppFolder folder;
    OpenContext ctx;
    VxDownloadMgr mgr;
    EXPECT_EQ(Enumerate(mgr), (Offers{{"Vellix", L"Vellix"}}));
    EXPECT_EQ(mgr.GetActive(), &mgr.GetBuiltIn());
    for (const char* id : {"Vellix", "vellix", "VELLIX"})
        EXPECT_EQ(mgr.GetDownloader(id), &mgr.GetBuiltIn()) << id;
    EXPECT_EQ(mgr.GetDownloader("TestDL"), nullptr);
    EXPECT_EQ(mgr.GetDownloader(nullptr), nullptr);
    EXPECT_FALSE(mgr.Select("TestDL"));
    EXPECT_TRUE(mgr.Select("VELLIX"));
    EXPECT_EQ(mgr.GetActive(), &mgr.GetBuiltIn());
}

TEST(DownloadMgr, StoredChoiceThatNoLongerResolvesFallsBack) {
    ScopedAppFolder folder;
    struct Case {
        const char* stored;
        const char* after;
    } cases[] = {{"VELLIX", "VELLIX"}, {"", ""}, {"Gone", "Vellix"}};
    for (const Case& c : cases) {
        OpenContext ctx;
        ctx.Db().SetConfig("Downloader", c.stored);
        ctx.Drain();
        VxDownloadMgr mgr;
        ctx.Drain();
        EXPECT_EQ(mgr.GetActive(), &mgr.GetBuiltIn()) << c.stored;
        EXPECT_EQ(ctx.Db().GetConfig("Downloader"), c.after) << c.stored;
    }
}

class PluginTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        folder_ = new ScopedAppFolder;  // a fresh copy of the plug-in, loaded as a module of its own
        seen_ = 0;
        ASSERT_TRUE(
            CopyFileW((BinFolder() + L"kestrade_test.dll").c_str(), (*folder_ + L"Kestrade.dll").c_str(), FALSE));
    }
    static void TearDownTestSuite() {
        delete folder_;
        folder_ = nullptr;
    }
    // The calls the plug-in's downloader got since the last look.
    static std::string Calls() {
        HMODULE module = GetModuleHandleW((*folder_ + L"Kestrade.dll").c_str());
        if (!module)
            return "<not loaded>";
        auto log = reinterpret_cast<const char* (*)()>(reinterpret_cast<void*>(GetProcAddress(module, "TestPluginLog")));
        std::string all = log ? log() : "<no log>";
        std::string fresh = all.substr(seen_);
        seen_ = all.size();
        return fresh;
    }
    static ScopedAppFolder* folder_;
    static size_t seen_;
};
ScopedAppFolder* PluginTest::folder_ = nullptr;
size_t PluginTest::seen_ = 0;

TEST_F(PluginTest, OffersAndSelection) {
    OpenContext ctx;
    VxDownloadMgr mgr;
    Calls();
    EXPECT_EQ(Enumerate(mgr), (Offers{{"Vellix", L"Vellix"}, {"TestDL", L"Test downloader"}}));
    Vellix::Downloader* plugin = mgr.GetDownloader("TestDL");
    ASSERT_NE(plugin, nullptr);
    EXPECT_EQ(mgr.GetDownloader("testdl"), nullptr) << "the plug-in decides about its own names";

    EXPECT_TRUE(mgr.Select("TestDL"));
    EXPECT_EQ(mgr.GetActive(), plugin);
    EXPECT_EQ(Calls(), "active;");
    EXPECT_TRUE(mgr.Select("TestDL"));
    EXPECT_EQ(Calls(), "inactive;active;");
    EXPECT_FALSE(mgr.Select("Other"));
    EXPECT_EQ(mgr.GetActive(), plugin);
    EXPECT_TRUE(mgr.Select("vellix"));
    EXPECT_EQ(Calls(), "inactive;");
    EXPECT_EQ(mgr.GetActive(), &mgr.GetBuiltIn());
}

TEST_F(PluginTest, StoredChoiceSelectsThePluginAtStart) {
    OpenContext ctx;
    ctx.Db().SetConfig("Downloader", "TestDL");
    ctx.Drain();
    Calls();
    VxDownloadMgr mgr;
    EXPECT_EQ(mgr.GetActive(), mgr.GetDownloader("TestDL"));
    EXPECT_EQ(Calls(), "active;");
    EXPECT_EQ(ctx.Db().GetConfig("Downloader"), "TestDL");
}

TEST_F(PluginTest, PluginWithoutManagerLeavesTheBuiltInAlone) {
    OpenContext ctx;
    ctx.Db().SetConfig("Downloader", "TestDL");
    ctx.Drain();
    _putenv("VX_TEST_PLUGIN_NULL=1");
    VxDownloadMgr mgr;
    _putenv("VX_TEST_PLUGIN_NULL=");
    ctx.Drain();
    EXPECT_EQ(Enumerate(mgr).size(), 1u);
    EXPECT_EQ(mgr.GetActive(), &mgr.GetBuiltIn());
    EXPECT_EQ(ctx.Db().GetConfig("Downloader"), "Vellix");
}

// The grab dialogs as a test plays them: a fixed outcome and a fixed answer of the failed dialog.
GrabOutcome g_outcome;
int g_failedAnswer = 0;
int g_failedShown = 0;

void PlayGrab(HWND, const std::vector<GrabItem>&, GrabOutcome& outcome) {
    outcome = g_outcome;
}
int PlayFailed(HWND, const GrabOutcome&) {
    ++g_failedShown;
    return g_failedAnswer;
}

TaskItem Volume(const char* name, const char* url, std::vector<std::pair<std::string, std::string>> images) {
    TaskItem item;
    item.name = ToWide(name, CP_UTF8);
    item.url = url;
    for (const auto& image : images) {
        ImageRecord record;
        record.url = image.first;
        record.ref = image.second;
        item.images.push_back(record);
    }
    return item;
}

// A comic whose script came from the service (so its statistics count) with its information.
std::shared_ptr<CParseContext> Comic(const char* url, const char* name) {
    auto comic = std::make_shared<CParseContext>();
    comic->url = url;
    comic->info = newDictionaryValue();
    setDictionaryMember(comic->info, "name", newStringValue(name, static_cast<int>(strlen(name))));
    return comic;
}

class GrabTest : public PluginTest {
protected:
    void SetUp() override {
        SetGrabDialogs(PlayGrab, PlayFailed);
        g_outcome = GrabOutcome();
        g_failedAnswer = 0;
        g_failedShown = 0;
    }
    void TearDown() override { SetGrabDialogs(nullptr, nullptr); }
};

TEST_F(GrabTest, ResultsBecomeTasksOfTheBuiltInDownloader) {
    OpenContext ctx;
    ctx.Db().SetConfig("Downloader", "Vellix");
    ctx.Drain();
    msg_grab grab;
    grab.AddItem(Comic("http://comics.test/a", "Alpha"), L"Alpha");
    grab.AddItem(Comic("http://comics.test/b", "Beta"), L"Beta");
    g_outcome.results = {Volume("V1", "http://comics.test/a/1", {{"http://127.0.0.1:1/1.png", "http://comics.test/a/1"}}),
                         Volume("V2", "http://comics.test/b/2", {{"http://127.0.0.1:1/2.png", "r2"}, {"http://127.0.0.1:1/3.png", "r3"}}),
                         Volume("V3", "http://comics.test/b/3", {})};
    g_outcome.results[1].cookie = "sid=1";
    g_outcome.results[1].headers = "X-A: 1";
    g_outcome.itemOf = {0, 1, 1};
    g_outcome.code = 2;  // V3 failed; the user keeps the others
    g_failedAnswer = 1;
    g_outcome.volumeRecords = {{"http://comics.test/b", "[{\"url\":\"http://comics.test/b/2\",\"state\":2}]"}};
    grab.Run(nullptr);
    EXPECT_EQ(g_failedShown, 1);

    // Tasks in order, named after comic and volume, with cookie and headers; the failed one left out.
    ctx.Drain();
    EXPECT_EQ(Query(GetAppPath(L"Vellix.dat"), "SELECT url, Name, Cookie, Headers FROM Task2 ORDER BY rowid"),
              "[[\"http://comics.test/a/1\", \"Alpha V1\", \"\", \"\"], "
              "[\"http://comics.test/b/2\", \"Beta V2\", \"sid=1\", \"X-A: 1\"]]");
    EXPECT_EQ(Query(GetAppPath(L"Vellix.dat"), "SELECT url, ref FROM Image2 ORDER BY rowid"),
              "[[\"http://127.0.0.1:1/1.png\", \"http://comics.test/a/1\"], [\"http://127.0.0.1:1/2.png\", \"r2\"], "
              "[\"http://127.0.0.1:1/3.png\", \"r3\"]]");
    EXPECT_EQ(Query(GetAppPath(L"Vellix.dat"), "SELECT url, vols FROM FavVolumes2"),
              "[[\"http://comics.test/b\", \"5b7b2275726c223a22687474703a2f2f636f6d6963732e746573742f622f32222c227374617465223a327d5d\"]]");
    // Both comics were reported (once per run): a second mark finds them there.
    EXPECT_FALSE(ctx.context.MarkReported("http://comics.test/a"));
    EXPECT_FALSE(ctx.context.MarkReported("http://comics.test/b"));
    ctx.context.GetDownloadMgr()->GetBuiltIn().PauseAll();
}

TEST_F(GrabTest, NothingHappensWithoutResultsOrWhenTheFailureIsNotAccepted) {
    struct Case {
        int code;
        int failedAnswer;
        size_t results;
    } cases[] = {{1, 0, 0}, {1, 0, 1}, {2, 2, 2}, {2, 1, 1}, {2, 1, 2}};
    for (const Case& c : cases) {
        OpenContext ctx;
        ctx.Db().SetConfig("Downloader", "TestDL");
        ctx.Drain();
        VxDownloadMgr* mgr = ctx.context.GetDownloadMgr();
        ASSERT_EQ(mgr->GetActive(), mgr->GetDownloader("TestDL"));
        Calls();
        msg_grab grab;
        grab.AddItem(Comic("http://comics.test/c", "Gamma"), L"Gamma");
        g_outcome = GrabOutcome();
        g_outcome.code = c.code;
        for (size_t i = 0; i < c.results; ++i) {
            g_outcome.results.push_back(Volume("V", "http://comics.test/c/1", {}));
            g_outcome.itemOf.push_back(0);
        }
        g_failedAnswer = c.failedAnswer;
        grab.Run(nullptr);
        // Handed over: everything of a grab that succeeded, all but the failed volume of one the user
        // accepted. The plug-in takes no task, which ends the creating but not the commit.
        bool handed = (c.code == 1 && c.results > 0) || (c.code == 2 && c.failedAnswer == 1 && c.results > 1);
        EXPECT_EQ(Calls(), handed ? "create;commit;" : "") << c.code << " " << c.results;
        EXPECT_EQ(ctx.context.MarkReported("http://comics.test/c"), !handed) << c.code << " " << c.results;
        ctx.Db().SetConfig("Downloader", "Vellix");
        ctx.Drain();
    }
}

}  // namespace
