// The database: schema of a new file and the upgrade of old ones, opening failures, the settings
// cache against the table, and the worker's posted and synchronous jobs. Python's sqlite3 reads
// the file on the other side.
#include "CoreTestSupport.h"
#include "DbTestSupport.h"

#include <AppDatabase.h>
#include <DbJobs.h>
#include <common/CodePage.h>

#include <gtest/gtest.h>

#include <climits>

namespace {

// A job that runs a function on the worker; counts its live instances.
class FnJob : public VxDBTask {
public:
    FnJob(bool autoDeleteFlag, std::function<void(sqlite3*)> fn) : VxDBTask(autoDeleteFlag), fn_(std::move(fn)) {
        ++live;
    }
    ~FnJob() override { --live; }
    void Execute(sqlite3** db) override {
        thread = GetCurrentThreadId();
        if (fn_)
            fn_(*db);
        ran = true;
    }
    std::atomic<bool> ran{false};
    DWORD thread = 0;
    static std::atomic<int> live;

private:
    std::function<void(sqlite3*)> fn_;
};
std::atomic<int> FnJob::live{0};

// Returns once every job posted before has run.
void Drain(AppDatabase& db) {
    FnJob barrier(false, nullptr);
    db.RunSync(&barrier);
}

class DatabaseTest : public ::testing::Test {
protected:
    std::wstring File() const { return folder + L"Vellix.dat"; }
    std::string Rows(const std::string& sql) { return Query(File(), sql); }
    std::string Columns(const char* table) {
        return Rows(std::string("SELECT name FROM pragma_table_info('") + table + "') ORDER BY cid");
    }
    ScopedAppFolder folder;
};

const char kAllTables[] =
    R"([["Config2"], ["CoverCache2"], ["FavVolumes2"], ["Image2"], ["MangaInfo2"], ["Proxy2"], ["ScriptCache2"], ["Task2"]])";
const char kImage2Columns[] = R"([["url"], ["ref"], ["target"], ["status"], ["parent"], ["ext"]])";
const char kParentIndex[] = R"([["Image2_parent"]])";
const char kTask2Columns[] = R"([["url"], ["Name"], ["Cookie"], ["Path"], ["Status"], ["Headers"], ["Proxy"]])";

TEST_F(DatabaseTest, ANewFileGetsTheWholeSchemaAndTheCacheItsDefaults) {
    AppDatabase db;
    ASSERT_TRUE(db.Open());
    EXPECT_EQ(Rows("SELECT name FROM sqlite_master WHERE type='table' ORDER BY name"), kAllTables);
    EXPECT_EQ(Columns("Image2"), kImage2Columns);
    EXPECT_EQ(Columns("Task2"), kTask2Columns);
    EXPECT_EQ(Rows("SELECT name FROM sqlite_master WHERE type='index' AND tbl_name='Image2'"), kParentIndex);
    EXPECT_EQ(Rows("SELECT * FROM Config2"), "[]");

    struct {
        const char* key;
        std::wstring value;
    } defaults[] = {
        {"AutoPacking", L"0"},
        {"DownloadFolder", folder + L"Download\\"},
        {"FavoriteFolder", folder.path()},
        {"Proxy", L""},
        {"RenameType", L"1"},
    };
    for (const auto& d : defaults)
        EXPECT_EQ(db.GetConfig(d.key), ToNarrow(d.value, CP_UTF8)) << d.key;
    EXPECT_TRUE(Exists(folder + L"Download"));
    EXPECT_TRUE(Exists(folder + L"CoverCache"));

    db.Close();
    // The defaults of the cached keys reach the table when the database closes.
    EXPECT_EQ(Rows("SELECT key FROM Config2 ORDER BY key"),
              R"([["AutoPacking"], ["DownloadFolder"], ["FavoriteFolder"], ["Proxy"], ["RenameType"]])");
    EXPECT_EQ(Rows("PRAGMA integrity_check"), R"([["ok"]])");
}

// The schema of the oldest files: no Headers or Proxy in Task2, no ext in Image2, Image2 indexed,
// neither FavVolumes2 nor Proxy2.
const char kOldSchema[] = R"(
CREATE TABLE Config2(key TEXT PRIMARY KEY, value TEXT);
CREATE TABLE MangaInfo2(url TEXT PRIMARY KEY, name TEXT, author TEXT, cover TEXT, intro TEXT);
CREATE TABLE Task2(url TEXT PRIMARY KEY, Name TEXT, Cookie TEXT, Path TEXT, Status NUMERIC);
CREATE TABLE ScriptCache2(key TEXT PRIMARY KEY, version NUMERIC, data BLOB);
CREATE TABLE CoverCache2(key TEXT PRIMARY KEY, ETag TEXT);
INSERT INTO Config2 VALUES('DownloadFolder', 'D:\Comics\'), ('Proxy', '10.0.0.1:8080'), ('Language', 'zh-cn');
INSERT INTO Task2 VALUES('http://a/1', 'Vol 1', 'c=1', 'D:\Comics\A\Vol 1\', 2);
INSERT INTO Task2 VALUES('http://a/2', 'Vol 2', '', 'D:\Comics\A\Vol 2\', 0);
)";

TEST_F(DatabaseTest, AnOldFileIsUpgradedWithItsRowsKept) {
    ASSERT_TRUE(ExecSql(File(), std::string(kOldSchema) + R"(
CREATE TABLE Image2(url TEXT, ref TEXT, target TEXT, status NUMERIC, parent NUMERIC);
CREATE INDEX Image2_parent ON Image2(parent);
CREATE UNIQUE INDEX Image2_url ON Image2(url);
INSERT INTO Image2 VALUES('http://i/1.jpg', 'http://a/1', '001', 2, 1);
INSERT INTO Image2 VALUES('http://i/2.jpg', 'http://a/1', '002', 3, 1);
INSERT INTO Image2 VALUES('http://i/3.jpg', 'http://a/2', '001', 0, 2);
)"));
    AppDatabase db;
    ASSERT_TRUE(db.Open());
    EXPECT_EQ(Rows("SELECT name FROM sqlite_master WHERE type='table' ORDER BY name"), kAllTables);
    // The old indexes went with the rebuild; only the parent index came back.
    EXPECT_EQ(Rows("SELECT name FROM sqlite_master WHERE type='index' AND tbl_name='Image2'"), kParentIndex);
    EXPECT_EQ(Columns("Image2"), kImage2Columns);
    EXPECT_EQ(Columns("Task2"), kTask2Columns);
    EXPECT_EQ(Rows("SELECT rowid, * FROM Image2 ORDER BY rowid"),
              R"([[1, "http://i/1.jpg", "http://a/1", "001", 2, 1, null], )"
              R"([2, "http://i/2.jpg", "http://a/1", "002", 3, 1, null], )"
              R"([3, "http://i/3.jpg", "http://a/2", "001", 0, 2, null]])");
    EXPECT_EQ(Rows("SELECT rowid, * FROM Task2 ORDER BY rowid"),
              R"([[1, "http://a/1", "Vol 1", "c=1", "D:\\Comics\\A\\Vol 1\\", 2, null, null], )"
              R"([2, "http://a/2", "Vol 2", "", "D:\\Comics\\A\\Vol 2\\", 0, null, null]])");
    // Stored values win over the defaults; keys not cached stay in the table only.
    EXPECT_EQ(db.GetConfig("DownloadFolder"), "D:\\Comics\\");
    EXPECT_EQ(db.GetConfig("Proxy"), "10.0.0.1:8080");
    EXPECT_EQ(db.GetConfig("RenameType"), "1");
    EXPECT_EQ(db.GetConfig("Language"), "zh-cn");
    db.Close();
    EXPECT_EQ(Rows("PRAGMA integrity_check"), R"([["ok"]])");

    // A second open finds nothing left to do.
    AppDatabase again;
    ASSERT_TRUE(again.Open());
    again.Close();
    EXPECT_EQ(Rows("SELECT count(*) FROM Image2"), "[[3]]");
}

// An indexed Image2 that cannot be copied (here it lacks a column the copy names) stays as it was,
// index and rows included, and the rest of the upgrade still applies. The parent index alone asks
// for no copy; the unique url index does.
TEST_F(DatabaseTest, AFailedImageRebuildKeepsTheOldTable) {
    struct {
        const char* indexes;
        const char* names;
    } cases[] = {
        {"CREATE INDEX Image2_parent ON Image2(parent);", R"([["Image2_parent"]])"},
        {"CREATE INDEX Image2_parent ON Image2(parent); CREATE UNIQUE INDEX Image2_url ON Image2(url);",
         R"([["Image2_parent"], ["Image2_url"]])"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.indexes);
        DeleteFileW(File().c_str());
        ASSERT_TRUE(ExecSql(File(), std::string(kOldSchema) + R"(
CREATE TABLE Image2(url TEXT, target TEXT, status NUMERIC, parent NUMERIC);
INSERT INTO Image2 VALUES('http://i/1.jpg', '001', 2, 1);
INSERT INTO Image2 VALUES('http://i/2.jpg', '002', 0, 1);
)" + c.indexes));
        AppDatabase db;
        ASSERT_TRUE(db.Open());
        db.Close();
        EXPECT_EQ(Rows("SELECT name FROM sqlite_master WHERE type='index' AND tbl_name='Image2'"), c.names);
        EXPECT_EQ(Rows("SELECT * FROM Image2 ORDER BY rowid"),
                  R"([["http://i/1.jpg", "001", 2, 1, null], ["http://i/2.jpg", "002", 0, 1, null]])");
        EXPECT_EQ(Columns("Task2"), kTask2Columns);
        EXPECT_EQ(Rows("SELECT count(*) FROM sqlite_master WHERE name IN ('FavVolumes2', 'Proxy2')"), "[[2]]");
        EXPECT_EQ(Rows("PRAGMA integrity_check"), R"([["ok"]])");
    }
}

// Files written without the parent index gain it on opening, rows and row ids unchanged (a rebuild
// would renumber the gap left by row 2); a file that already has it is not rebuilt.
TEST_F(DatabaseTest, ImagesAreIndexedByParentWithTheRowsKept) {
    const char kImages[] = R"(
CREATE TABLE Image2(url TEXT, ref TEXT, target TEXT, status NUMERIC, parent NUMERIC, ext TEXT);
INSERT INTO Image2 VALUES('http://i/1.jpg', 'http://a/1', '001', 2, 1, '.jpg');
INSERT INTO Image2 VALUES('http://i/2.jpg', 'http://a/1', '002', 0, 1, NULL);
INSERT INTO Image2 VALUES('http://i/3.jpg', 'http://a/2', '001', 3, 2, '.png');
DELETE FROM Image2 WHERE rowid = 2;
)";
    const char kRows[] = R"([[1, "http://i/1.jpg", "http://a/1", "001", 2, 1, ".jpg"], )"
                         R"([3, "http://i/3.jpg", "http://a/2", "001", 3, 2, ".png"]])";
    const char kRebuiltRows[] = R"([[1, "http://i/1.jpg", "http://a/1", "001", 2, 1, ".jpg"], )"
                                R"([2, "http://i/3.jpg", "http://a/2", "001", 3, 2, ".png"]])";
    struct {
        const char* name;
        const char* extra;  // run after the rows go in
        const char* rows;
    } cases[] = {
        {"1 no index", "", kRows},
        {"2 already indexed", "CREATE INDEX Image2_parent ON Image2(parent);", kRows},
        {"3 unique url only", "CREATE UNIQUE INDEX Image2_url ON Image2(url);", kRebuiltRows},
        {"4 the name on another column", "CREATE INDEX Image2_parent ON Image2(url);", kRebuiltRows},
        {"5 the name on two columns", "CREATE INDEX Image2_parent ON Image2(parent, status);", kRebuiltRows},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        DeleteFileW(File().c_str());
        ASSERT_TRUE(ExecSql(File(), std::string(kOldSchema) + kImages + c.extra));
        for (int open = 1; open <= 2; ++open) {
            SCOPED_TRACE(open);
            AppDatabase db;
            ASSERT_TRUE(db.Open());
            db.Close();
            EXPECT_EQ(Rows("SELECT name, sql FROM sqlite_master WHERE type='index' AND tbl_name='Image2'"),
                      R"sql([["Image2_parent", "CREATE INDEX Image2_parent ON Image2(parent)"]])sql");
            EXPECT_EQ(Rows("SELECT rowid, * FROM Image2 ORDER BY rowid"), c.rows);
            EXPECT_EQ(Rows("SELECT count(*) FROM Task2"), "[[2]]");
            EXPECT_NE(Rows("EXPLAIN QUERY PLAN SELECT rowid, url FROM Image2 WHERE parent=1")
                          .find("USING INDEX Image2_parent"),
                      std::string::npos);
            EXPECT_EQ(Rows("PRAGMA integrity_check"), R"([["ok"]])");
        }
    }
}

TEST_F(DatabaseTest, AFileThatIsNoDatabaseFailsTheOpenAndIsLeftAlone) {
    const std::string junk = "this is not a database file, just text that is long enough to look like one";
    WriteBytes(File(), junk);
    {
        AppDatabase db;
        EXPECT_FALSE(db.Open());
        EXPECT_EQ(ReadBytes(File()), junk);
        // Closed at once: nothing holds the file any more.
        EXPECT_TRUE(DeleteFileW(File().c_str())) << GetLastError();
        db.Close();
    }
    // A folder in the file's place cannot be opened at all.
    ASSERT_TRUE(CreateDirectoryW(File().c_str(), nullptr));
    AppDatabase db;
    EXPECT_FALSE(db.Open());
}

TEST_F(DatabaseTest, CloseReleasesTheFile) {
    AppDatabase db;
    ASSERT_TRUE(db.Open());
    db.SetConfig("Language", "en");
    db.Close();
    EXPECT_TRUE(DeleteFileW(File().c_str())) << GetLastError();
}

// A change is in the file while the database is still open: a crash keeps it.
TEST_F(DatabaseTest, CachedKeysChangeInMemoryAndInTheTable) {
    ASSERT_TRUE(ExecSql(File(),
                        "CREATE TABLE Config2(key TEXT PRIMARY KEY, value TEXT);"
                        "INSERT INTO Config2 VALUES('Proxy', '10.0.0.1:8080');"));
    AppDatabase db;
    ASSERT_TRUE(db.Open());
    db.SetConfig("Proxy", "");
    db.SetConfigW("RenameType", L"3");
    EXPECT_EQ(db.GetConfig("Proxy"), "");
    EXPECT_EQ(db.GetConfigInt("RenameType", 1), 3);
    Drain(db);
    EXPECT_EQ(Rows("SELECT key, value FROM Config2 ORDER BY key"), R"([["Proxy", ""], ["RenameType", "3"]])");
    db.SetConfig("Proxy", "10.0.0.2:3128");
    Drain(db);
    EXPECT_EQ(Rows("SELECT value FROM Config2 WHERE key='Proxy'"), R"([["10.0.0.2:3128"]])");
    db.SetConfig("Proxy", "");
    db.Close();
    EXPECT_EQ(Rows("SELECT value FROM Config2 WHERE key IN ('Proxy', 'RenameType') ORDER BY key"), R"([[""], ["3"]])");
}

TEST_F(DatabaseTest, OtherKeysAreStoredByTheWorkerAndReadFromTheTable) {
    AppDatabase db;
    ASSERT_TRUE(db.Open());
    HANDLE release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    db.Post(new FnJob(true, [release](sqlite3*) { WaitForSingleObject(release, INFINITE); }));
    db.SetConfigW("Language", L"zh-cn");
    // The write is still queued behind the blocked job, yet a read sees it.
    EXPECT_EQ(Rows("SELECT value FROM Config2 WHERE key='Language'"), "[]");
    EXPECT_EQ(db.GetConfig("Language"), "zh-cn");
    SetEvent(release);
    Drain(db);
    EXPECT_EQ(db.GetConfig("Language"), "zh-cn");
    EXPECT_EQ(Rows("SELECT value FROM Config2 WHERE key='Language'"), R"([["zh-cn"]])");
    CloseHandle(release);
}

TEST_F(DatabaseTest, IntegerSettingsReadLikeTheCLibraryButClamped) {
    struct Case {
        const char* text;
        int value;
    } cases[] = {
        {"12abc", 12},
        {"abc", 0},
        {"  -7", -7},
        {"+5", 5},
        {"\t42\n", 42},
        {"0x10", 0},
        {"-", 0},
        {"2147483647", INT_MAX},
        {"2147483648", INT_MAX},
        {"99999999999999999999", INT_MAX},
        {"-2147483648", INT_MIN},
        {"-99999999999", INT_MIN},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ParseConfigInt(c.text), c.value) << c.text;

    AppDatabase db;
    ASSERT_TRUE(db.Open());
    db.SetConfig("ProxyType", "12abc");
    db.SetConfig("AdultEnsure", "abc");
    db.SetConfig("FastCheck", "");
    Drain(db);
    EXPECT_EQ(db.GetConfigInt("ProxyType", 5), 12);
    EXPECT_EQ(db.GetConfigInt("AdultEnsure", 5), 0);
    EXPECT_EQ(db.GetConfigInt("FastCheck", 5), 5);  // empty text gives the default
    EXPECT_EQ(db.GetConfigInt("MinToTray", 5), 5);  // so does an absent key
}

// Many threads read keys that are not cached through the one shared statement at once.
TEST_F(DatabaseTest, ConcurrentReadsOfUncachedKeysEachGetTheirOwnValue) {
    AppDatabase db;
    ASSERT_TRUE(db.Open());
    const int kThreads = 6;
    for (int t = 0; t < kThreads; ++t)
        db.SetConfig(("Key" + std::to_string(t)).c_str(), std::string(100 + t, static_cast<char>('a' + t)).c_str());
    Drain(db);
    std::atomic<int> wrong{0};
    std::vector<std::thread> readers;
    for (int t = 0; t < kThreads; ++t) {
        readers.emplace_back([&, t] {
            std::string key = "Key" + std::to_string(t);
            std::string expected(100 + t, static_cast<char>('a' + t));
            for (int i = 0; i < 300; ++i) {
                if (db.GetConfig(key.c_str()) != expected)
                    ++wrong;
            }
        });
    }
    for (auto& r : readers)
        r.join();
    EXPECT_EQ(wrong, 0);
}

TEST_F(DatabaseTest, JobsRunOnTheWorkerInQueueOrder) {
    AppDatabase db;
    ASSERT_TRUE(db.Open());
    std::vector<int> order;
    std::vector<DWORD> threads;
    for (int i = 0; i < 20; ++i) {
        db.Post(new FnJob(true, [&, i](sqlite3*) {
            order.push_back(i);
            threads.push_back(GetCurrentThreadId());
        }));
    }
    Drain(db);
    ASSERT_EQ(order.size(), 20u);
    for (int i = 0; i < 20; ++i) {
        EXPECT_EQ(order[i], i);
        EXPECT_EQ(threads[i], threads[0]);
    }
    EXPECT_NE(threads[0], GetCurrentThreadId());
    EXPECT_EQ(FnJob::live, 0);  // posted jobs are deleted by the worker
}

// Each synchronous caller is released by its own job: when RunSync returns, that job has run.
TEST_F(DatabaseTest, SynchronousCallersOnManyThreadsWaitForTheirOwnJob) {
    AppDatabase db;
    ASSERT_TRUE(db.Open());
    const int kThreads = 8;
    std::atomic<int> early{0};
    std::atomic<bool> go{false};
    std::vector<std::thread> callers;
    for (int t = 0; t < kThreads; ++t) {
        callers.emplace_back([&, t] {
            while (!go) {}
            for (int i = 0; i < 10; ++i) {
                FnJob job(false, [t](sqlite3*) { Sleep(t % 3); });
                db.RunSync(&job);
                if (!job.ran)
                    ++early;
            }
        });
    }
    go = true;
    for (auto& c : callers)
        c.join();
    EXPECT_EQ(early, 0);
    EXPECT_EQ(FnJob::live, 0);
}

TEST_F(DatabaseTest, RunSyncInsideAJobRunsTheInnerJobAtOnce) {
    AppDatabase db;
    ASSERT_TRUE(db.Open());
    FnJob inner(false, nullptr);
    FnJob outer(false, [&](sqlite3*) { db.RunSync(&inner); });
    db.RunSync(&outer);
    EXPECT_TRUE(outer.ran);
    EXPECT_TRUE(inner.ran);
    EXPECT_EQ(inner.thread, outer.thread);
}

TEST_F(DatabaseTest, JobsQueuedBeforeCloseRunAndLaterOnesAreDropped) {
    AppDatabase db;
    ASSERT_TRUE(db.Open());
    std::atomic<int> ran{0};
    for (int i = 0; i < 5; ++i)
        db.Post(new FnJob(true, [&](sqlite3*) {
            Sleep(10);
            ++ran;
        }));
    db.Close();
    EXPECT_EQ(ran, 5);

    db.Post(new FnJob(true, [&](sqlite3*) { ++ran; }));
    FnJob late(false, [&](sqlite3*) { ++ran; });
    db.RunSync(&late);  // returns at once
    EXPECT_FALSE(late.ran);
    EXPECT_EQ(ran, 5);
    EXPECT_EQ(FnJob::live, 1);  // only the caller's own job is left
    EXPECT_EQ(db.GetConfig("Language"), "");
    EXPECT_FALSE(db.IsProxyDomain("example.org"));
}

}  // namespace
