// The favorites store: loading (and the defaults), saving byte for byte and atomically, edits, the
// address index and sorting. A stand-in main frame is observer 0; Python reads the saved file.
#include "CoreTestSupport.h"
#include "DbTestSupport.h"

#include <AppDatabase.h>
#include <FavoritesStore.h>
#include <LinuxTool.h>
#include <VolumeRecordSet.h>
#include <common/CodePage.h>

#include <Tessara.h>
#include <gtest/gtest.h>

namespace {

// Receives what the store sends the main frame.
struct MainFrame {
    void OnLoaded(msg_favorites_loaded* msg) {
        saveNeeded = msg->saveNeeded;
        GetAppContext()->Favorites().SetLoaded(*msg);
        ++loaded;
    }
    void OnFlush(msg_flush_favorites*) { ++flushes; }

    TestObserver window;
    int loaded = 0;
    int flushes = 0;
    int saveNeeded = -1;
};

// Observer ids are never reused in a process, so one context and one observer 0 serve every test.
struct Environment : ::testing::Environment {
    void SetUp() override {
        folder.reset(new ScopedAppFolder());
        ctx.reset(new AppContext());
        ASSERT_TRUE(ctx->Database().Open());
        frame.reset(new MainFrame());
        MsgCenter& bus = ctx->Messages();
        frame->window.id = bus.RegisterObserver(frame->window.window, frame.get());
        ASSERT_EQ(frame->window.id, 0);
        bus.Subscribe(0, "favorites_loaded", MsgThunk<&MainFrame::OnLoaded>);
        bus.Subscribe(0, "flush_favorites", MsgThunk<&MainFrame::OnFlush>);
    }
    void TearDown() override {
        frame.reset();
        ctx.reset();
        folder.reset();
    }
    std::unique_ptr<ScopedAppFolder> folder;
    std::unique_ptr<AppContext> ctx;
    std::unique_ptr<MainFrame> frame;
};
Environment* g_env = static_cast<Environment*>(::testing::AddGlobalTestEnvironment(new Environment));

const std::string kBom = "\xEF\xBB\xBF";
const char kDefaults[] = R"([{"c":[],"n":"Shounen"},{"c":[],"n":"Action"},{"c":[],"n":"Sci-fi"},)"
                         R"({"c":[],"n":"Sports"},{"c":[],"n":"Comedy"},{"c":[],"n":"Mystery"},{"c":[],"n":"Horror"}])";

class FavoritesTest : public ::testing::Test {
protected:
    void SetUp() override {
        static int counter = 0;
        dir = *g_env->folder + (L"fav" + std::to_wstring(++counter) + L"\\").c_str();
        CreateDirectoryW(dir.c_str(), nullptr);
        SetFolder(dir);
        PumpPending();
        frame().loaded = frame().flushes = 0;
        frame().saveNeeded = -1;
    }
    static MainFrame& frame() { return *g_env->frame; }
    static FavoritesStore& store() { return g_env->ctx->Favorites(); }
    static void SetFolder(const std::wstring& folder) {
        g_env->ctx->Database().SetConfigW("FavoriteFolder", folder.c_str());
    }
    std::wstring File() const { return dir + L"Favorites.json"; }

    // Runs the loader on its own thread and handles its message.
    void Load() {
        int before = frame().loaded;
        HANDLE thread = CreateThread(nullptr, 0, FavoritesStore::LoaderThread, nullptr, 0, nullptr);
        ASSERT_NE(thread, nullptr);
        ASSERT_TRUE(PumpUntil([&] { return frame().loaded > before; }));
        WaitForSingleObject(thread, INFINITE);
        CloseHandle(thread);
    }
    static DWORD Save() { return FavoritesStore::WriterThread(store().Serialize()); }
    static std::string Text() {
        std::unique_ptr<FavoritesSnapshot> snapshot(store().Serialize());
        return snapshot ? snapshot->text : "(nothing)";
    }
    static JsonValue* Member(JsonValue* array, unsigned i) {
        JsonValue* member = nullptr;
        getArrayMember(array, i, &member);
        return member;
    }
    static JsonValue* Members(JsonValue* folder) {
        JsonValue* members = nullptr;
        lookupDictionaryMember(folder, "c", &members);
        return members;
    }

    std::wstring dir;
};

TEST_F(FavoritesTest, AMissingFileGivesTheDefaultFoldersQuietly) {
    Load();
    EXPECT_EQ(frame().saveNeeded, 1);
    EXPECT_EQ(Text(), kDefaults);
    EXPECT_TRUE(store().index.empty());
    EXPECT_FALSE(Exists(File() + L".bak"));
    PumpUntil([] { return frame().flushes >= 7; }, 2000);
    EXPECT_EQ(frame().flushes, 7);  // one per folder

    EXPECT_EQ(Save(), 0u);
    EXPECT_EQ(ReadBytes(File()), kBom + kDefaults);
    EXPECT_FALSE(Exists(File() + L".tmp"));
}

TEST_F(FavoritesTest, AnUnusableFileIsKeptBeforeTheDefaultsReplaceIt) {
    const std::string cases[] = {
        "",
        "[]\n",
        "[{\"n\":\"no mark\",\"c\":[]}]",
        kBom,
        kBom + "[",
        kBom + "not json",
        kBom + "{\"n\":\"a dictionary\",\"c\":[]}",
        kBom + "\"text\"",
    };
    for (const std::string& bytes : cases) {
        WriteBytes(File(), bytes);
        DeleteFileW((File() + L".bak").c_str());
        Load();
        EXPECT_EQ(frame().saveNeeded, 1) << bytes;
        EXPECT_EQ(Text(), kDefaults) << bytes;
        EXPECT_EQ(ReadBytes(File() + L".bak"), bytes);
        EXPECT_EQ(Save(), 0u);
        EXPECT_EQ(ReadBytes(File()), kBom + kDefaults) << bytes;
    }
}

// What the writer produces is read back unchanged, and Python agrees on what it holds.
TEST_F(FavoritesTest, AFileIsReadAndWrittenByteForByte) {
    const std::string text =
        "[{\"c\":[{\"n\":\"\xE6\x9D\xB1\xE4\xBA\xAC \\\"quoted\\\"\",\"u\":\"http://a/1\"},"
        "{\"c\":[{\"n\":\"Deep\",\"u\":\"http://a/2\"}],\"n\":\"Inner\"}],\"n\":\"Outer\"},"
        "{\"n\":\"Loose\",\"u\":\"http://a/1\"},{\"c\":[],\"n\":\"Empty\"}]";
    WriteBytes(File(), kBom + text);
    Load();
    EXPECT_EQ(frame().saveNeeded, 0);
    EXPECT_EQ(Text(), text);
    ASSERT_EQ(store().index.size(), 2u);
    // Of two items with one address the later in tree order is indexed.
    EXPECT_EQ(store().FindItem("http://a/1"), Member(store().root, 1));
    EXPECT_EQ(FavoriteLink::FromJsonWithUrl(store().FindItem("http://a/2")).name, L"Deep");

    DeleteFileW(File().c_str());
    EXPECT_EQ(Save(), 0u);
    EXPECT_EQ(ReadBytes(File()), kBom + text);
    EXPECT_FALSE(Exists(File() + L".bak"));
    EXPECT_EQ(CoreTool({"favorites", vxtest::UnixPath(File())}),
              "{\"bom\": true, \"tree\": [{\"c\": [{\"n\": \"\xE6\x9D\xB1\xE4\xBA\xAC \\\"quoted\\\"\", \"u\": "
              "\"http://a/1\"}, {\"c\": [{\"n\": \"Deep\", \"u\": \"http://a/2\"}], \"n\": \"Inner\"}], \"n\": "
              "\"Outer\"}, {\"n\": \"Loose\", \"u\": \"http://a/1\"}, {\"c\": [], \"n\": \"Empty\"}]}");
}

TEST_F(FavoritesTest, FolderAndFileNameAreJoinedWithOneSeparator) {
    struct Case {
        const wchar_t* folder;
        const wchar_t* path;
    } cases[] = {
        {L"C:\\Fav\\", L"C:\\Fav\\Favorites.json"},
        {L"C:\\Fav", L"C:\\Fav\\Favorites.json"},
        {L"C:\\Fav/", L"C:\\Fav/Favorites.json"},
        {L"", L"Favorites.json"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(FavoritesStore::FilePath(c.folder), c.path) << c.folder;

    // A folder setting without the trailing separator still finds and writes the file inside it.
    std::wstring bare = dir.substr(0, dir.size() - 1);
    SetFolder(bare);
    WriteBytes(File(), kBom + "[{\"c\":[],\"n\":\"Mine\"}]");
    Load();
    EXPECT_EQ(Text(), "[{\"c\":[],\"n\":\"Mine\"}]");
    EXPECT_EQ(Save(), 0u);
    EXPECT_EQ(ReadBytes(File()), kBom + "[{\"c\":[],\"n\":\"Mine\"}]");
    EXPECT_FALSE(Exists(bare + L"Favorites.json"));
}

TEST_F(FavoritesTest, AFailedSaveLeavesThePreviousFileWhole) {
    const std::string previous = kBom + "[{\"c\":[],\"n\":\"Previous\"}]";
    WriteBytes(File(), previous);
    Load();
    FavoriteEntry folder{L"New", nullptr};
    ASSERT_TRUE(store().AddFolder(nullptr, folder));
    ASSERT_TRUE(CreateDirectoryW((File() + L".tmp").c_str(), nullptr));  // the temporary file cannot be made
    EXPECT_EQ(Save(), 1u);
    EXPECT_EQ(ReadBytes(File()), previous);
    RemoveDirectoryW((File() + L".tmp").c_str());

    // A snapshot taken before one that was written is not written over it.
    std::unique_ptr<FavoritesSnapshot> older(store().Serialize());
    store().Rename(folder, L"Newer");
    EXPECT_EQ(Save(), 0u);
    EXPECT_EQ(FavoritesStore::WriterThread(older.release()), 0u);
    EXPECT_EQ(ReadBytes(File()), kBom + "[{\"c\":[],\"n\":\"Previous\"},{\"c\":[],\"n\":\"Newer\"}]");

    SetFolder(L"");
    EXPECT_EQ(Save(), 1u);
    EXPECT_EQ(FavoritesStore::WriterThread(nullptr), 1u);
}

TEST_F(FavoritesTest, EditsChangeTreeAndIndexAndAskForAFlush) {
    WriteBytes(File(), kBom + "[]");
    Load();
    FavoriteEntry shounen{L"Shounen", nullptr};
    FavoriteEntry action{L"Action", nullptr};
    ASSERT_TRUE(store().AddFolder(nullptr, shounen));
    ASSERT_TRUE(store().AddFolder(nullptr, action));
    FavoriteEntry sub{L"Sub", nullptr};
    ASSERT_TRUE(store().AddFolder(Members(shounen.node), sub));
    FavoriteEntry misplaced{L"Misplaced", nullptr};
    EXPECT_FALSE(store().AddFolder(shounen.node, misplaced));  // a folder, not its members
    EXPECT_EQ(misplaced.node, nullptr);

    FavoriteLink one(L"One \u00e9", "http://a/1");
    FavoriteLink two(L"Two", "http://a/2");
    FavoriteLink again(L"One again", "http://a/1");
    ASSERT_TRUE(store().AddItem(Members(shounen.node), one));
    ASSERT_TRUE(store().AddItem(Members(sub.node), two));
    EXPECT_EQ(store().FindItem("http://a/1"), one.node);
    ASSERT_TRUE(store().AddItem(Members(action.node), again));
    EXPECT_EQ(store().FindItem("http://a/1"), again.node);
    FavoriteLink notAFolder(L"x", "http://a/x");
    EXPECT_FALSE(store().AddItem(one.node, notAFolder));
    EXPECT_EQ(notAFolder.node, nullptr);

    store().Rename(sub, L"Renamed");
    EXPECT_EQ(FavoriteEntry::FromJson(sub.node).name, L"Renamed");
    EXPECT_EQ(Text(), "[{\"c\":[{\"c\":[{\"n\":\"Two\",\"u\":\"http://a/2\"}],\"n\":\"Renamed\"},"
                      "{\"n\":\"One \xC3\xA9\",\"u\":\"http://a/1\"}],\"n\":\"Shounen\"},{\"c\":[{\"n\":\"One again\",\"u\":\"http://a/1\"}],"
                      "\"n\":\"Action\"}]");
    PumpUntil([] { return frame().flushes >= 7; }, 2000);
    EXPECT_EQ(frame().flushes, 7);
}

// Removing one of two items of one address keeps the other's index entry and the address's
// volume records; removing the last one drops both.
TEST_F(FavoritesTest, RemovingKeepsWhatAnotherItemStillUses) {
    WriteBytes(File(), kBom +
                           "[{\"c\":[{\"n\":\"A\",\"u\":\"http://a/1\"},{\"c\":[{\"n\":\"B\",\"u\":\"http://a/2\"}],"
                           "\"n\":\"Sub\"}],\"n\":\"F\"},{\"n\":\"A too\",\"u\":\"http://a/1\"}]");
    Load();
    AppDatabase& db = g_env->ctx->Database();
    for (const char* url : {"http://a/1", "http://a/2"})
        db.Post(new CUpdateVols(url, "[{\"t\":2,\"u\":\"v\"}]"));

    FavoriteLink later = FavoriteLink::FromJsonWithUrl(Member(store().root, 1));
    ASSERT_EQ(store().FindItem("http://a/1"), later.node);
    store().Remove(later);
    EXPECT_EQ(later.node, nullptr);
    JsonValue* earlier = Member(Members(Member(store().root, 0)), 0);
    EXPECT_EQ(store().FindItem("http://a/1"), earlier);
    EXPECT_TRUE(VolumeRecordSet().Load("http://a/1"));

    FavoriteEntry folder = FavoriteEntry::FromJson(Member(store().root, 0));
    store().Remove(folder);
    EXPECT_EQ(store().FindItem("http://a/1"), nullptr);
    EXPECT_EQ(store().FindItem("http://a/2"), nullptr);
    EXPECT_TRUE(store().index.empty());
    EXPECT_FALSE(VolumeRecordSet().Load("http://a/1"));
    EXPECT_FALSE(VolumeRecordSet().Load("http://a/2"));
    EXPECT_EQ(Text(), "[]");
}

TEST_F(FavoritesTest, SortingIgnoresCaseReversesEqualNamesAndDropsTheNameless) {
    WriteBytes(File(), kBom + "[{\"n\":\"beta\",\"u\":\"http://b\"},{\"n\":\"Alpha\",\"u\":\"http://a1\"},"
                              "{\"n\":\"\",\"u\":\"http://empty\"},{\"u\":\"http://nameless\"},7,"
                              "{\"c\":[{\"n\":\"z\",\"u\":\"http://z\"},{\"n\":\"Y\",\"u\":\"http://y\"},{\"c\":[]}],"
                              "\"n\":\"Folder\"},{\"n\":\"ALPHA\",\"u\":\"http://a2\"},{\"n\":\"alpha\",\"u\":\"http://a3\"}]");
    Load();
    ASSERT_NE(store().FindItem("http://nameless"), nullptr);
    store().SortByName(store().root);
    EXPECT_EQ(Text(), "[{\"n\":\"alpha\",\"u\":\"http://a3\"},{\"n\":\"ALPHA\",\"u\":\"http://a2\"},"
                      "{\"n\":\"Alpha\",\"u\":\"http://a1\"},{\"n\":\"beta\",\"u\":\"http://b\"},"
                      "{\"c\":[{\"n\":\"Y\",\"u\":\"http://y\"},{\"n\":\"z\",\"u\":\"http://z\"}],\"n\":\"Folder\"}]");
    // The dropped members are gone from the index too; the rest still point into the tree.
    EXPECT_EQ(store().FindItem("http://nameless"), nullptr);
    EXPECT_EQ(store().FindItem("http://empty"), nullptr);
    EXPECT_EQ(store().index.size(), 6u);
    for (const auto& entry : store().index)
        EXPECT_EQ(FavoriteLink::FromJsonWithUrl(entry.second).url, entry.first);
}

}  // namespace
