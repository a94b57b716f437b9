// The database jobs against a real "Vellix.dat": rows made and checked by Python's sqlite3.
#include "CoreTestSupport.h"
#include "DbTestSupport.h"

#include <AppDatabase.h>
#include <AppContext.h>
#include <DbJobs.h>
#include <common/CodePage.h>
#include <wtl/Seams.h>

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <chrono>
#include <thread>

namespace {

class DbJobsTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(db.Open()); }
    std::wstring File() const { return folder + L"Vellix.dat"; }
    std::string Rows(const std::string& sql) { return Query(File(), sql); }
    void Drain() {
        GetProxyTask barrier("");
        db.RunSync(&barrier);
    }

    ScopedAppFolder folder;
    AppDatabase db;
};

// Tasks 1-5 and their images; the same address stands in tasks 1 and 2.
const char kTasks[] = R"(
INSERT INTO Task2(rowid, url, Name, Path, Status) VALUES
  (1, 'http://a/1', 'Done', 'D:\A\1\', 2),
  (2, 'http://a/2', 'Done, one failed', 'D:\A\2\', 2),
  (3, 'http://a/3', 'Done, no images', 'D:\A\3\', 2),
  (4, 'http://a/4', 'Downloading', 'D:\A\4\', 1),
  (5, 'http://a/5', 'Paused', 'D:\A\5\', 3);
INSERT INTO Image2(url, ref, target, status, parent, ext) VALUES
  ('http://i/ad.gif', 'http://a/1', '001', 2, 1, '.gif'),
  ('http://i/1-2.jpg', 'http://a/1', '002', 2, 1, '.jpg'),
  ('http://i/ad.gif', 'http://a/2', '001', 0, 2, NULL),
  ('http://i/2-2.jpg', 'http://a/2', '002', 3, 2, NULL),
  ('http://i/4-1.jpg', 'http://a/4', 'Vol 4 ' || char(26412) || '/001', 2, 4, '.png'),
  ('http://i/4-2.jpg', NULL, '002', 3, 4, NULL),
  ('http://i/4-3.jpg', 'http://a/4', '003', 0, 4, NULL),
  ('http://i/4-4.jpg', 'http://a/4', '004', 2, 4, '.jpg');
)";

TEST_F(DbJobsTest, FinishedTasksAreThoseWithoutAFailedImage) {
    ASSERT_TRUE(ExecSql(File(), kTasks));
    GetFinishedTasks job;
    db.RunSync(&job);
    EXPECT_EQ(job.tasks, (std::vector<int>{1, 3}));
}

TEST_F(DbJobsTest, TaskStatusIsSetByRowid) {
    ASSERT_TRUE(ExecSql(File(), kTasks));
    db.Post(new SetTaskStatus(5, 0));
    db.Post(new SetTaskStatus(4, 2));
    db.Post(new SetTaskStatus(99, 2));
    Drain();
    EXPECT_EQ(Rows("SELECT rowid, Status FROM Task2 ORDER BY rowid"), "[[1, 2], [2, 2], [3, 2], [4, 2], [5, 0]]");
}

TEST_F(DbJobsTest, TaskImagesComeInRowOrderWithTheirCounts) {
    ASSERT_TRUE(ExecSql(File(), kTasks));
    LoadTaskImages job(4);
    db.RunSync(&job);
    ASSERT_EQ(job.images.size(), 4u);
    struct {
        int rowid;
        const char* url;
        const char* ref;
        std::wstring target;
        std::wstring ext;
        int status;
    } expected[] = {
        {5, "http://i/4-1.jpg", "http://a/4", L"Vol 4 \u672c/001", L".png", 2},
        {6, "http://i/4-2.jpg", "", L"002", L"", 3},
        {7, "http://i/4-3.jpg", "http://a/4", L"003", L"", 0},
        {8, "http://i/4-4.jpg", "http://a/4", L"004", L".jpg", 2},
    };
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(job.images[i].rowid, expected[i].rowid) << i;
        EXPECT_EQ(job.images[i].url, expected[i].url) << i;
        EXPECT_EQ(job.images[i].ref, expected[i].ref) << i;
        EXPECT_EQ(job.images[i].target, expected[i].target) << i;
        EXPECT_EQ(job.images[i].ext, expected[i].ext) << i;
        EXPECT_EQ(job.images[i].status, expected[i].status) << i;
    }
    EXPECT_EQ(job.done, 2);
    EXPECT_EQ(job.failed, 1);

    LoadTaskImages none(3);
    db.RunSync(&none);
    EXPECT_TRUE(none.images.empty());
    EXPECT_EQ(none.done + none.failed, 0);
}

// Rows are named by their rowid: the same address in another task is never touched, nor a row
// of another task named with this task's parent.
TEST_F(DbJobsTest, ImageStatusChangesOnlyTheImagesOfItsTask) {
    ASSERT_TRUE(ExecSql(File(), kTasks));
    const char kImages[] = "SELECT parent, url, status, ext FROM Image2 WHERE parent IN (1, 2) ORDER BY rowid";
    const std::string before = Rows(kImages);

    db.Post(new SetImageStatus(2));  // no rows
    Drain();
    EXPECT_EQ(Rows(kImages), before);

    auto* other = new SetImageStatus(2);
    other->Add(1, L".png", 3);  // task 1's row
    db.Post(other);
    Drain();
    EXPECT_EQ(Rows(kImages), before);

    auto* one = new SetImageStatus(2);
    one->Add(3, L"", 3);
    db.Post(one);
    Drain();
    EXPECT_EQ(Rows(kImages), R"([[1, "http://i/ad.gif", 2, ".gif"], [1, "http://i/1-2.jpg", 2, ".jpg"], )"
                             R"([2, "http://i/ad.gif", 3, ""], [2, "http://i/2-2.jpg", 3, null]])");

    // The repair dialog's reset of task 1: both images back to pending without an extension.
    auto* many = new SetImageStatus(1);
    many->Add(1, L"", 0);
    many->Add(2, L"", 0);
    db.Post(many);
    Drain();
    EXPECT_EQ(Rows(kImages), R"([[1, "http://i/ad.gif", 0, ""], [1, "http://i/1-2.jpg", 0, ""], )"
                             R"([2, "http://i/ad.gif", 3, ""], [2, "http://i/2-2.jpg", 3, null]])");
}

// Another connection reading the file when a status is written: the write waits for it instead
// of failing, so the state is not lost.
TEST_F(DbJobsTest, AStatusWrittenWhileAnotherReaderHoldsTheFileIsKept) {
    ASSERT_TRUE(ExecSql(File(), kTasks));
    sqlite3* reader = nullptr;
    ASSERT_EQ(sqlite3_open(ToNarrow(File(), CP_UTF8).c_str(), &reader), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(reader, "BEGIN; SELECT count(*) FROM Image2;", nullptr, nullptr, nullptr), SQLITE_OK);
    std::thread release([reader] {
        std::this_thread::sleep_for(std::chrono::milliseconds(400));
        sqlite3_exec(reader, "COMMIT;", nullptr, nullptr, nullptr);
    });
    auto* done = new SetImageStatus(4);
    done->Add(7, L".jpg", 2);
    db.Post(done);
    Drain();
    release.join();
    sqlite3_close(reader);
    EXPECT_EQ(Rows("SELECT status, ext FROM Image2 WHERE rowid=7"), R"([[2, ".jpg"]])");
}

// A task holding one address twice: the two images load as two rows, and a status set on one
// leaves the other as it was.
TEST_F(DbJobsTest, AnAddressTwiceInATaskIsTwoRows) {
    ASSERT_TRUE(ExecSql(File(), R"(
INSERT INTO Task2(rowid, url, Name, Path) VALUES (7, 'http://a/7', 'Twice', 'D:\A\7\');
INSERT INTO Image2(url, ref, target, status, parent) VALUES
  ('http://i/same.jpg', 'http://a/7', '001', 0, 7),
  ('http://i/same.jpg', 'http://a/7', '002', 0, 7);
)"));
    LoadTaskImages images(7);
    db.RunSync(&images);
    ASSERT_EQ(images.images.size(), 2u);
    const int first = images.images[0].rowid, second = images.images[1].rowid;
    EXPECT_NE(first, second);
    const char kRows[] = "SELECT target, status, ext FROM Image2 WHERE parent=7 ORDER BY rowid";

    auto* saved = new SetImageStatus(7);
    saved->Add(first, L".jpg", 2);
    db.Post(saved);
    Drain();
    EXPECT_EQ(Rows(kRows), R"([["001", 2, ".jpg"], ["002", 0, null]])");

    auto* failed = new SetImageStatus(7);
    failed->Add(second, L"", 3);
    db.Post(failed);
    Drain();
    EXPECT_EQ(Rows(kRows), R"([["001", 2, ".jpg"], ["002", 3, ""]])");
}

// The repair dialog's read of a task: UTF-8 decoded, NULL columns and a missing row give empty
// texts.
TEST_F(DbJobsTest, TaskInfoIsReadByRowid) {
    ASSERT_TRUE(ExecSql(File(), kTasks + std::string(R"(
INSERT INTO Task2(rowid, url, Name, Path, Status) VALUES
  (6, 'http://a/6', 'Vol ' || char(26412) || ' & 100%', 'D:\' || char(26412) || '\6\', 0),
  (8, 'http://a/8', NULL, NULL, 0);
)")));
    const struct {
        int rowid;
        std::wstring name, path;
    } cases[] = {
        {1, L"Done", L"D:\\A\\1\\"},
        {6, L"Vol \u672c & 100%", L"D:\\\u672c\\6\\"},
        {8, L"", L""},
        {99, L"", L""},
        {-1, L"", L""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.rowid);
        GetTaskInfo info(c.rowid);
        db.RunSync(&info);
        EXPECT_EQ(info.Name, c.name);
        EXPECT_EQ(info.Path, c.path);
    }
}

TEST_F(DbJobsTest, ProxyDomainsAreStoredAndRemoved) {
    EXPECT_FALSE(db.IsProxyDomain("a.example"));
    db.SetProxyDomain("a.example", true);
    db.SetProxyDomain("b.example", true);
    db.SetProxyDomain("a.example", true);   // stored once
    db.SetProxyDomain("c.example", false);  // not stored: nothing changes
    EXPECT_TRUE(db.IsProxyDomain("a.example"));
    EXPECT_FALSE(db.IsProxyDomain("A.EXAMPLE"));
    EXPECT_EQ(Rows("SELECT domain FROM Proxy2 ORDER BY domain"), R"([["a.example"], ["b.example"]])");
    db.SetProxyDomain("a.example", false);
    EXPECT_FALSE(db.IsProxyDomain("a.example"));
    EXPECT_EQ(Rows("SELECT domain FROM Proxy2"), R"([["b.example"]])");
}

TEST_F(DbJobsTest, VolumeRecordsAreStoredAsABlobAndDeleted) {
    const std::string json = "[{\"t\":2,\"u\":\"http://a/v1\"},{\"t\":1,\"u\":\"http://a/v\xE6\x9C\xAC\"}]";
    db.Post(new CUpdateVols("http://a/", json));
    db.Post(new CUpdateVols("http://b/", "[]"));
    Drain();
    EXPECT_EQ(Rows("SELECT url, typeof(vols), length(vols) FROM FavVolumes2 ORDER BY url"),
              "[[\"http://a/\", \"blob\", " + std::to_string(json.size()) + "], [\"http://b/\", \"blob\", 2]]");

    VolumeRecords records;
    CLoadVols load("http://a/", &records);
    db.RunSync(&load);
    EXPECT_EQ(records, (VolumeRecords{{"http://a/v1", 2}, {"http://a/v\xE6\x9C\xAC", 1}}));

    db.Post(new CDeleteVol("http://a/"));
    Drain();
    EXPECT_EQ(Rows("SELECT url FROM FavVolumes2"), R"([["http://b/"]])");
    VolumeRecords after;
    CLoadVols again("http://a/", &after);
    db.RunSync(&again);
    EXPECT_TRUE(after.empty());
}

// Whatever a stored row holds, loading gives records or nothing, never a crash.
TEST_F(DbJobsTest, StoredVolumeRecordsAreReadOnlyFromAnArrayOfDictionaries) {
    struct Case {
        const char* stored;
        VolumeRecords expected;
    } cases[] = {
        {R"([{"u":"x","t":1},{"u":"y"},{"u":"x","t":2}])", {{"x", 2}, {"y", 0}}},
        {R"([{"u":"x","t":"2"},{"u":"y","t":1.0}])", {{"x", 0}, {"y", 1}}},
        {R"([{"u":5,"t":1}])", {{"", 1}}},
        {R"([])", {}},
        {R"([{"u":"x","t":1},3])", {}},
        {R"([{"u":"x","t":1},"y"])", {}},
        {R"({"u":"x","t":1})", {}},
        {R"("x")", {}},
        {R"(not json at all)", {}},
        {"", {}},
    };
    for (const Case& c : cases) {
        db.Post(new CUpdateVols("http://c/", c.stored));
        VolumeRecords records;
        CLoadVols load("http://c/", &records);
        db.RunSync(&load);
        EXPECT_EQ(records, c.expected) << c.stored;
    }
}

// The row wrapper as every job uses it: names to indexes, defaults only for absent columns, text
// cut at a zero byte, bytes kept whole.
TEST_F(DbJobsTest, RowsAnswerByNameWithDefaultsOnlyForAbsentColumns) {
    struct RowJob : VxDBTask {
        RowJob() : VxDBTask(false) {}
        void Execute(sqlite3** db) override {
            SqlStatement sql(*db,
                             "SELECT 'a' || char(0) || 'b' AS zero, NULL AS missing, 42 AS number, "
                             "CAST(x'e69cac' AS TEXT) AS wide, ?1 AS bound");
            sql.BindText(1, std::wstring(L"\u672c!"));
            SqlRow row;
            if (!sql.Step(row))
                return;
            stepped = true;
            indexes = {row.ColumnIndex("zero"), row.ColumnIndex("bound"), row.ColumnIndex("absent")};
            zeroText = row.RowGetText(0);
            zeroBytes = row.ColumnText(0);
            first = row.FirstColumnText();
            nothing = row.RowGetTextByName("missing", "default");
            absent = row.RowGetTextByName("absent", "default");
            wideAbsent = row.RowGetWideTextByName("absent", L"wide default");
            wide = row.RowGetWideTextByName("wide", L"");
            bound = row.ColumnWideText(4);
            number = row.RowGetIntByName("number", -1);
            numberAbsent = row.RowGetIntByName("absent", -1);
            again = sql.Step(row);
        }
        bool stepped = false, again = true;
        std::vector<int> indexes;
        std::string zeroText, zeroBytes, first, nothing, absent;
        std::wstring wideAbsent, wide, bound;
        int number = 0, numberAbsent = 0;
    } job;
    db.RunSync(&job);
    ASSERT_TRUE(job.stepped);
    EXPECT_EQ(job.indexes, (std::vector<int>{0, 4, -1}));
    EXPECT_EQ(job.zeroText, "a");
    EXPECT_EQ(job.zeroBytes, std::string("a\0b", 3));
    EXPECT_EQ(job.first, job.zeroBytes);
    EXPECT_EQ(job.nothing, "");
    EXPECT_EQ(job.absent, "default");
    EXPECT_EQ(job.wideAbsent, L"wide default");
    EXPECT_EQ(job.wide, L"\u672c");
    EXPECT_EQ(job.bound, L"\u672c!");
    EXPECT_EQ(job.number, 42);
    EXPECT_EQ(job.numberAbsent, -1);
    EXPECT_FALSE(job.again);
}

TEST_F(DbJobsTest, DeletedTasksTakeTheirImagesAndNothingElse) {
    ASSERT_TRUE(ExecSql(File(), kTasks));
    db.Post(new CDeleteTasks({2, 4, 99}));
    Drain();
    EXPECT_EQ(Rows("SELECT rowid FROM Task2 ORDER BY rowid"), "[[1], [3], [5]]");
    EXPECT_EQ(Rows("SELECT parent, url FROM Image2 ORDER BY rowid"),
              R"([[1, "http://i/ad.gif"], [1, "http://i/1-2.jpg"]])");
}

// The shell is called on the asking window's thread, and only for a folder that exists.
TEST_F(DbJobsTest, ExploreHandsAnExistingFolderToTheWindow) {
    AppContext ctx;
    TestObserver window;
    window.Register();
    std::wstring existing = folder + L"Comic A";
    ASSERT_TRUE(CreateDirectoryW(existing.c_str(), nullptr));
    std::wstring file = folder + L"Vellix.dat";
    std::string sql = "INSERT INTO Task2(rowid, url, Path) VALUES (1, 'http://a/1', '" + ToNarrow(existing, CP_UTF8) +
                      "'), (2, 'http://a/2', '" + ToNarrow(folder + L"Gone", CP_UTF8) + "'), (3, 'http://a/3', '" +
                      ToNarrow(file, CP_UTF8) + "'), (4, 'http://a/4', NULL);";
    ASSERT_TRUE(ExecSql(File(), sql));
    std::vector<std::pair<std::wstring, DWORD>> explored;
    WTL::Seams().shellExplore = [&](HWND, const wchar_t* path) {
        explored.emplace_back(path, GetCurrentThreadId());
        return true;
    };
    for (int rowid : {1, 2, 3, 4, 99})
        db.Post(new CExploreTask(rowid, window.id));
    Drain();
    PumpUntil([&] { return !explored.empty(); }, 2000);
    PumpPending();
    WTL::ResetSeams();
    ASSERT_EQ(explored.size(), 1u);
    EXPECT_EQ(explored[0].first, existing);
    EXPECT_EQ(explored[0].second, GetCurrentThreadId());
    window.Destroy();
}

TEST_F(DbJobsTest, CoverETagsAreStoredAndReplaced) {
    GetETag missing("cafe");
    db.RunSync(&missing);
    EXPECT_EQ(missing.etag, "");
    db.Post(new UpdateETag("cafe", "\"v1\""));
    db.Post(new UpdateETag("cafe", "W/\"v2\""));
    db.Post(new UpdateETag("beef", "other"));
    GetETag stored("cafe");
    db.RunSync(&stored);
    EXPECT_EQ(stored.etag, "W/\"v2\"");
    EXPECT_EQ(Rows("SELECT count(*) FROM CoverCache2"), "[[2]]");
}

// Downloaded volumes stay downloaded and volumes not listed keep what they had.
TEST_F(DbJobsTest, MarkingVolumesSeenKeepsTheStoredStates) {
    db.Post(new CUpdateVols("http://c/", R"([{"u":"v1","t":1},{"u":"v2","t":2},{"u":"v3","t":1}])"));
    db.Post(new CMarkVolsSeen("http://c/", {"v1", "v2", "v4"}));
    VolumeRecords records;
    CLoadVols load("http://c/", &records);
    db.RunSync(&load);
    EXPECT_EQ(records, (VolumeRecords{{"v1", 0}, {"v2", 2}, {"v3", 1}, {"v4", 0}}));
}

}  // namespace
