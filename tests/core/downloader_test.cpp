// The built-in downloader against the demo site: commit and its rows, five busy slots and the task
// states, pause and start around an image the server holds, repair, removal, the file names of
// each "RenameType", extensions, and failures that leave no file behind.
#include "DbTestSupport.h"
#include "DebugCapture.h"
#include "DownloaderTestSupport.h"

#include <DbJobs.h>
#include <JsonUtil.h>
#include <LanguageTranslator.h>
#include <Tessara.h>
#include <common/CodePage.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>

namespace {

// Text as Python's json writes it inside quotes (ASCII paths).
std::string J(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\\' || c == '"')
            out += '\\';
        out += c;
    }
    return out;
}

struct Environment : ::testing::Environment {
    void SetUp() override {
        Service();
        folder.reset(new ScopedAppFolder());
        ctx.reset(new AppContext());
        ASSERT_TRUE(ctx->Database().Open());
        windows.reset(new DownloadWindows(ctx->Messages()));
        ASSERT_EQ(windows->frame.id, 0);
        ASSERT_EQ(windows->tabs.id, 2);
        ASSERT_EQ(windows->view.id, 4);
    }
    void TearDown() override {
        windows.reset();
        ctx.reset();
        folder.reset();
    }
    std::unique_ptr<ScopedAppFolder> folder;
    std::unique_ptr<AppContext> ctx;
    std::unique_ptr<DownloadWindows> windows;
};
Environment* g_env = static_cast<Environment*>(::testing::AddGlobalTestEnvironment(new Environment));

class DownloaderTest : public ::testing::Test {
protected:
    void SetUp() override {
        static int counter = 0;
        Service().Control("reset");
        Flush();
        ASSERT_TRUE(ExecSql(Db(), "DELETE FROM Task2; DELETE FROM Image2;"));
        downloads = *g_env->folder + (L"dl" + std::to_wstring(++counter) + L"\\").c_str();
        CreateDirectoryW(downloads.c_str(), nullptr);
        db().SetConfigW("DownloadFolder", downloads.c_str());
        db().SetConfig("RenameType", "1");
        PumpPending();  // what an earlier test left posted
        windows().Clear();
        downloader.reset(new CDownloaderImpl());
        windows().Attach(downloader.get());
        session = DemoSession();
    }
    void TearDown() override {
        windows().Attach(nullptr);
        downloader.reset();
    }

    static AppDatabase& db() { return g_env->ctx->Database(); }
    static DownloadWindows& windows() { return *g_env->windows; }
    static std::wstring Db() { return *g_env->folder + L"Vellix.dat"; }
    // Posted status jobs are done once a synchronous job behind them has run.
    static void Flush() {
        GetFinishedTasks job;
        db().RunSync(&job);
    }

    Vellix::DownloadTask* Task(const char* comic, const wchar_t* volume, const std::string& url,
                               const std::vector<std::string>& images) {
        NamedComic named(comic);
        Vellix::Downloader& d = *downloader;
        Vellix::DownloadTask* task = d.CreateTask(&named, volume, url.c_str());
        task->SetCookie(session.c_str());
        for (const std::string& image : images)
            task->AddImage(image.c_str(), ComicPage().c_str());
        task->Finish();
        return task;
    }
    const TaskRecord& Record(size_t index) {
        auto it = downloader->Tasks().begin();
        std::advance(it, index);
        return *it;
    }
    int Count(const std::string& prefix) {
        int n = 0;
        for (const std::string& e : windows().events)
            n += e.compare(0, prefix.size(), prefix) == 0;
        return n;
    }
    std::string Rows(const std::string& sql) {
        Flush();
        return Query(Db(), sql);
    }
    static std::string Img(const std::string& path) { return Service().SiteUrl("/img/" + path); }

    std::wstring downloads;
    std::unique_ptr<CDownloaderImpl> downloader;
    std::string session;
};

TEST_F(DownloaderTest, CommitDropsDuplicatesAndStoresRows) {
    const std::string missing = Img("harbor/vol-1/9.jpg");  // 404: the downloads end quickly
    Vellix::DownloadTask* first = Task("Harbor", L"A", "http://t/a", {missing, missing + "?2"});
    first->SetHeaders("X-One: 1");
    first->SetOption("proxy", nullptr);  // the name is compared exactly
    downloader->Commit();
    ASSERT_EQ(downloader->Tasks().size(), 1u);
    const int a = Record(0).rowid;
    EXPECT_GT(a, 0);
    EXPECT_EQ(Record(0).name, L"Harbor A");
    EXPECT_EQ(Record(0).path, downloads + L"Harbor_A\\");
    ASSERT_TRUE(windows().WaitFinished(*downloader));
    EXPECT_EQ(windows().events.front(), "add " + std::to_string(a));
    ASSERT_EQ(windows().active.size(), 1u);
    EXPECT_EQ(windows().active[0], windows().view.window);

    // Stored and pending duplicates are dropped, the rest of the batch stays.
    Task("Harbor", L"B", "http://t/b", {missing})->SetOption("Proxy", "ignored");
    Task("Harbor", L"A again", "http://t/a", {missing});
    Task("Harbor", L"B again", "http://t/b", {missing});
    Task("\xE6\x9C\x88",
         L"\x7B2C"
         L"1\x5377",
         "http://t/c", {});
    windows().Clear();
    downloader->Commit();
    ASSERT_EQ(downloader->Tasks().size(), 3u);
    const int b = Record(1).rowid;
    const int c = Record(2).rowid;
    EXPECT_EQ(b, a + 1);
    EXPECT_EQ(c, a + 2);
    EXPECT_TRUE(Record(1).proxy);
    EXPECT_EQ(Record(2).name,
              L"\x6708 \x7B2C"
              L"1\x5377");
    PumpUntil([&] { return Count("add") == 1 && Count("notify 0") == 1; });
    EXPECT_EQ(windows().events.front(), "add " + std::to_string(b) + "," + std::to_string(c));
    EXPECT_TRUE(windows().boxes.empty());

    std::string dl = ToNarrow(downloads, CP_UTF8);
    EXPECT_EQ(Rows("SELECT rowid, url, Name, Cookie, Path, Headers, Proxy FROM Task2 ORDER BY rowid"),
              "[[" + std::to_string(a) + ", \"http://t/a\", \"Harbor A\", \"" + session + "\", \"" + J(dl) +
                  "Harbor_A\\\\\", \"X-One: 1\", 0], [" + std::to_string(b) + ", \"http://t/b\", \"Harbor B\", \"" +
                  session + "\", \"" + J(dl) + "Harbor_B\\\\\", \"\", 1], [" + std::to_string(c) +
                  ", \"http://t/c\", \"\\u6708 \\u7b2c1\\u5377\", \"" + session + "\", \"" + J(dl) +
                  "\\u6708_\\u7b2c1\\u5377\\\\\", \"\", 0]]");
    EXPECT_EQ(Rows("SELECT url, ref, target, parent FROM Image2 ORDER BY rowid"),
              "[[\"" + missing + "\", \"" + ComicPage() + "\", \"0001\", " + std::to_string(a) + "], [\"" + missing +
                  "?2\", \"" + ComicPage() + "\", \"0002\", " + std::to_string(a) + "], [\"" + missing + "\", \"" +
                  ComicPage() + "\", \"0001\", " + std::to_string(b) + "]]");

    // A batch the database refuses is not listed, not shown and reported; nothing of it is stored.
    ASSERT_TRUE(ExecSql(Db(), "INSERT INTO Task2(url, Name) VALUES('http://t/e', 'behind its back');"));
    Task("Harbor", L"D", "http://t/d", {missing});
    Task("Harbor", L"E", "http://t/e", {missing});
    windows().Clear();
    downloader->Commit();
    EXPECT_EQ(downloader->Tasks().size(), 3u);
    ASSERT_TRUE(PumpUntil([&] { return windows().boxes.size() == 1; }));
    EXPECT_EQ(windows().boxes[0], g_env->ctx->Translator().Text(L"Messages", L"AddTasksFailed"));
    EXPECT_EQ(Count("add"), 0);
    EXPECT_EQ(Rows("SELECT url FROM Task2 WHERE url IN ('http://t/d', 'http://t/e') ORDER BY url"),
              "[[\"http://t/e\"]]");
    EXPECT_EQ(Rows("SELECT COUNT(*) FROM Image2"), "[[3]]");

    // Discarded tasks never reach the database.
    Task("Harbor", L"F", "http://t/f", {missing});
    downloader->DiscardPending();
    downloader->Commit();
    EXPECT_EQ(downloader->Tasks().size(), 3u);
    EXPECT_EQ(Rows("SELECT COUNT(*) FROM Task2 WHERE url='http://t/f'"), "[[0]]");
}

TEST_F(DownloaderTest, StoredTasksLoadWithTheirCounts) {
    ASSERT_TRUE(ExecSql(Db(),
                        "INSERT INTO Task2(rowid, url, Name, Cookie, Path, Status, Headers, Proxy) VALUES"
                        " (21, 'http://t/21', 'Queued', 'k=v', 'C:\\dl\\q\\', NULL, 'X: 1', 1),"
                        " (22, 'http://t/22', '\xE6\x9C\x88 1', '', 'C:\\dl\\\xE6\x9C\x88\\', 1, NULL, 0),"
                        " (23, 'http://t/23', 'Done', '', 'C:\\dl\\d\\', 2, '', 0);"
                        "INSERT INTO Image2(url, target, status, parent) VALUES"
                        " ('i1', '0001', 2, 23), ('i2', '0002', 3, 23), ('i3', '0003', 2, 23), ('i4', '0001', 3, 23),"
                        " ('i5', '0001', 0, 22);"));
    CDownloaderImpl loaded;
    std::vector<std::string> seen;
    for (const TaskRecord& t : loaded.Tasks())
        seen.push_back(std::to_string(t.rowid) + " " + ToNarrow(t.name, CP_UTF8) + " " + t.url + " " + t.cookie + " " +
                       t.headers + " " + ToNarrow(t.path, CP_UTF8) + " " + std::to_string(t.proxy) + " " +
                       std::to_string(t.status) + " " + std::to_string(t.done) + "/" + std::to_string(t.failed) + "/" +
                       std::to_string(t.total));
    EXPECT_EQ(seen, (std::vector<std::string>{
                        "21 Queued http://t/21 k=v X: 1 C:\\dl\\q\\ 1 0 0/0/0",
                        "22 \xE6\x9C\x88 1 http://t/22   C:\\dl\\\xE6\x9C\x88\\ 0 0 0/0/0",  // left downloading
                        "23 Done http://t/23   C:\\dl\\d\\ 0 2 2/2/4",
                    }));
}

TEST_F(DownloaderTest, FiveSlotsRunATaskToItsEnd) {
    Service().Control("fail", {{"path", "/img/harbor/*"}, {"delay_ms", "600"}});
    const std::vector<std::string> pages = {"harbor/vol-1/1.jpg", "harbor/vol-1/2.png",  "harbor/vol-1/3.gif",
                                            "harbor/vol-2/1.png", "harbor/vol-2/2.webp", "harbor/vol-2/3.jpg",
                                            "harbor/vol-2/4.png", "harbor/vol-3/1.jpg",  "harbor/vol-3/2.gif"};
    std::vector<std::string> urls;
    for (const std::string& page : pages)
        urls.push_back(Img(page));
    Task("Harbor", L"All", "http://t/all", urls)->SetHeaders("X-Vellix-Test: one\n\nno colon\nX-Second:  two  \r");
    // Images that cannot be had: a 404, an empty and a relative address.
    Task("Harbor", L"Broken", "http://t/broken", {Img("harbor/vol-1/9.jpg"), "", "img/harbor/vol-1/1.jpg"});
    downloader->Commit();

    const int all = Record(0).rowid;
    const int broken = Record(1).rowid;
    for (int i = 0; i < CDownloaderImpl::kSlots; ++i)
        EXPECT_NE(downloader->Slot(i).entry, nullptr) << i;
    std::vector<int> statuses;
    for (const QueuedImage& entry : downloader->Queue())
        statuses.push_back(entry.image.status);
    EXPECT_EQ(statuses, (std::vector<int>{1, 1, 1, 1, 1, 0, 0, 0, 0}));
    EXPECT_EQ(Record(0).status, 1);
    EXPECT_EQ(Record(0).total, 9);
    EXPECT_EQ(Record(1).status, 0);

    ASSERT_TRUE(windows().WaitFinished(*downloader));
    EXPECT_EQ(Record(0).done, 9);
    EXPECT_EQ(Record(0).failed, 0);
    EXPECT_EQ(Record(1).done, 0);
    EXPECT_EQ(Record(1).failed, 3);
    PumpPending();
    const std::vector<std::string>& events = windows().events;
    std::string a = std::to_string(all), b = std::to_string(broken);
    EXPECT_EQ(events.front(), "add " + a + "," + b);
    EXPECT_EQ(events.back(), "notify 1");
    EXPECT_EQ(Count("progress " + a + " "), 9);  // loaded, then after each image but the last
    EXPECT_EQ(Count("status " + a + " 2 0"), 1);
    EXPECT_EQ(Count("progress " + b + " 0 0 3"), 1);
    EXPECT_EQ(Count("status " + b + " 2 3"), 1);
    EXPECT_EQ(Count("notify 1"), 1);

    // What each image request carried.
    JsonValue* log = ParseJsonText(ServiceLog("/img/harbor/vol-2/2.webp"));
    ASSERT_EQ(getArraySize(log), 1u);
    JsonValue* entry = nullptr;
    JsonValue* headers = nullptr;
    ASSERT_TRUE(JsonGetArrayMember(log, 0, entry));
    lookupDictionaryMember(entry, "headers", &headers);
    std::string referer, cookie, language, one, two;
    JsonGetStringMember(headers, "Referer", referer);
    JsonGetStringMember(headers, "Cookie", cookie);
    JsonGetStringMember(headers, "Accept-Language", language);
    JsonGetStringMember(headers, "X-Vellix-Test", one);
    JsonGetStringMember(headers, "X-Second", two);
    EXPECT_EQ(referer, ComicPage());
    EXPECT_EQ(cookie, session);
    EXPECT_EQ(language, g_env->ctx->Translator().CurrentCode());
    EXPECT_EQ(one, "one");
    EXPECT_EQ(two, "two");
    deleteValue(&log);
    EXPECT_EQ(ServiceLogCount("/img/harbor/*"), 10);  // each image once, and the 404
    const char* exts[] = {".jpg", ".png", ".gif", ".png", ".webp", ".jpg", ".png", ".jpg", ".gif"};
    std::string rows;
    for (size_t i = 0; i < pages.size(); ++i) {
        char target[8];
        snprintf(target, sizeof target, "%04d", static_cast<int>(i + 1));
        rows += std::string(rows.empty() ? "" : ", ") + "[\"" + target + "\", \"" + exts[i] + "\", 2]";
        std::wstring file = downloads + L"Harbor_All\\" + ToWide(std::string(target) + exts[i], CP_UTF8);
        EXPECT_EQ(ReadBytes(file), DemoImage(urls[i], session)) << pages[i];
    }
    EXPECT_EQ(Rows("SELECT target, ext, status FROM Image2 WHERE parent=" + a + " ORDER BY rowid"), "[" + rows + "]");
    EXPECT_EQ(Rows("SELECT ext, status FROM Image2 WHERE parent=" + b), "[[\"\", 3], [\"\", 3], [\"\", 3]]");
    EXPECT_EQ(Rows("SELECT Status FROM Task2 ORDER BY rowid"), "[[2], [2]]");
    EXPECT_EQ(FilesUnder(downloads).size(), pages.size());
}

// Each held request's completion comes after its slot was emptied (by a pause) and, for one, given
// another image by a start: it must change nothing. A commit in between starts only the new task.
TEST_F(DownloaderTest, PauseAndStartAroundImagesTheServerHolds) {
    const std::string x0 = Img("harbor/vol-1/1.jpg"), x1 = Img("harbor/vol-1/2.png"), y1 = Img("harbor/vol-3/1.jpg");
    Service().Control("fail", {{"path", "/img/harbor/vol-1/2.png"}, {"delay_ms", "2500"}, {"count", "1"}});
    Service().Control("fail", {{"path", "/img/harbor/vol-3/1.jpg"}, {"delay_ms", "5000"}, {"count", "1"}});
    Task("Harbor", L"X", "http://t/x", {x0, x1});
    downloader->Commit();
    const std::string x = std::to_string(Record(0).rowid);
    ASSERT_TRUE(PumpUntil([&] { return Record(0).done == 1; }, 10000));
    ASSERT_NE(downloader->Slot(1).entry, nullptr);

    downloader->PauseAll();
    EXPECT_FALSE(downloader->AnyBusy());
    EXPECT_EQ(Record(0).status, 3);
    EXPECT_EQ(downloader->Queue().back().image.status, 0);
    Task("Harbor", L"Y", "http://t/y", {y1});
    downloader->Commit();
    const std::string y = std::to_string(Record(1).rowid);
    ASSERT_NE(downloader->Slot(0).entry, nullptr);
    EXPECT_EQ(downloader->Slot(0).entry->image.url, y1);
    for (int i = 1; i < CDownloaderImpl::kSlots; ++i)
        EXPECT_EQ(downloader->Slot(i).entry, nullptr) << i;
    EXPECT_EQ(Record(0).status, 3);
    ASSERT_TRUE(PumpUntil([&] { return windows().completions.size() == 2; }, 10000));  // x1's first request
    PumpPending();
    EXPECT_EQ(Record(0).done, 1);
    EXPECT_EQ(Record(0).status, 3);

    downloader->PauseAll();
    EXPECT_EQ(Record(1).status, 3);
    downloader->StartAll();
    EXPECT_EQ(Record(0).status, 0);
    EXPECT_EQ(Record(1).status, 0);
    EXPECT_EQ(downloader->Slot(0).entry->image.url, x1);
    EXPECT_EQ(downloader->Slot(1).entry->image.url, y1);
    ASSERT_TRUE(windows().WaitFinished(*downloader));
    ASSERT_TRUE(PumpUntil([&] { return windows().completions.size() == 5; }, 10000));  // y1's first request
    PumpPending();
    EXPECT_EQ(Record(0).done, 2);
    EXPECT_EQ(Record(0).failed, 0);
    EXPECT_EQ(Record(1).done, 1);
    EXPECT_EQ(Record(1).failed, 0);
    EXPECT_EQ(Count("status " + x + " 3 0"), 2);
    EXPECT_EQ(Count("status " + x + " 0 0"), 1);
    EXPECT_EQ(Count("status " + x + " 2 0"), 1);
    EXPECT_EQ(Count("status " + y + " 3 0"), 1);
    EXPECT_EQ(Count("status " + y + " 0 0"), 1);
    EXPECT_EQ(Count("status " + y + " 2 0"), 1);
    EXPECT_EQ(ServiceLogCount("/img/harbor/vol-1/2.png"), 2);
    EXPECT_EQ(ServiceLogCount("/img/harbor/vol-3/1.jpg"), 2);
    EXPECT_EQ(FilesUnder(downloads),
              (std::vector<std::wstring>{L"Harbor_X\\0001.jpg", L"Harbor_X\\0002.png", L"Harbor_Y\\0001.jpg"}));
    EXPECT_EQ(ReadBytes(downloads + L"Harbor_X\\0002.png"), DemoImage(x1, session));
    EXPECT_EQ(ReadBytes(downloads + L"Harbor_Y\\0001.jpg"), DemoImage(y1, session));
    EXPECT_EQ(Rows("SELECT status, ext FROM Image2 ORDER BY rowid"), "[[2, \".jpg\"], [2, \".png\"], [2, \".jpg\"]]");
}

// One address twice in a task (a placeholder page, say) is two images: the one the server failed
// stays failed beside the one that was saved, in the file and after a restart.
TEST_F(DownloaderTest, AnAddressTwiceInATaskIsTwoImages) {
    const std::string page = Img("harbor/vol-1/1.jpg");
    Service().Control("fail", {{"path", "/img/harbor/vol-1/1.jpg"}, {"status", "404"}, {"count", "1"}});
    Task("Harbor", L"Twice", "http://t/twice", {page, page});
    downloader->Commit();
    ASSERT_TRUE(windows().WaitFinished(*downloader));
    EXPECT_EQ(Record(0).done, 1);
    EXPECT_EQ(Record(0).failed, 1);
    // Which of the two requests reaches the server first is not ours to choose.
    std::vector<std::wstring> files = FilesUnder(downloads);
    ASSERT_EQ(files.size(), 1u);
    bool firstSaved = files[0] == L"Harbor_Twice\\0001.jpg";
    EXPECT_TRUE(firstSaved || files[0] == L"Harbor_Twice\\0002.jpg");
    EXPECT_EQ(Rows("SELECT target, ext, status FROM Image2 ORDER BY rowid"),
              firstSaved ? R"([["0001", ".jpg", 2], ["0002", "", 3]])" : R"([["0001", "", 3], ["0002", ".jpg", 2]])");

    windows().Attach(nullptr);
    downloader.reset(new CDownloaderImpl());
    windows().Attach(downloader.get());
    EXPECT_EQ(Record(0).status, 2);
    EXPECT_EQ(Record(0).done, 1);
    EXPECT_EQ(Record(0).failed, 1);
    EXPECT_EQ(Record(0).total, 2);
}

TEST_F(DownloaderTest, RepairQueuesFailedImagesOnceAndFinishes) {
    Service().Control("fail", {{"path", "/img/harbor/vol-2/2.webp"}, {"status", "404"}, {"count", "1"}});
    Task("Harbor", L"Repair", "http://t/repair",
         {Img("harbor/vol-2/1.png"), Img("harbor/vol-2/2.webp"), Img("harbor/vol-2/3.jpg")});
    downloader->Commit();
    ASSERT_TRUE(windows().WaitFinished(*downloader));
    const int rowid = Record(0).rowid;
    EXPECT_EQ(Record(0).done, 2);
    EXPECT_EQ(Record(0).failed, 1);
    EXPECT_EQ(Rows("SELECT Status FROM Task2"), "[[2]]");

    // The repair dialog puts the failed image back to waiting.
    ASSERT_TRUE(ExecSql(Db(), "UPDATE Image2 SET status=0 WHERE status=3;"));
    windows().Clear();
    downloader->ResumeTask(rowid);
    downloader->ResumeTask(rowid);  // twice: still one entry per waiting image
    downloader->ResumeTask(12345);  // unknown: nothing
    EXPECT_EQ(Record(0).status, 0);
    EXPECT_EQ(Record(0).total, 3);
    EXPECT_EQ(Record(0).done, 2);
    EXPECT_EQ(Record(0).failed, 0);
    ASSERT_EQ(downloader->Queue().size(), 1u);
    EXPECT_EQ(downloader->Queue().front().image.url, Img("harbor/vol-2/2.webp"));
    downloader->StartAll();
    ASSERT_TRUE(windows().WaitFinished(*downloader));
    PumpPending();
    EXPECT_EQ(Record(0).done, 3);
    EXPECT_EQ(Record(0).failed, 0);
    EXPECT_EQ(Count("status " + std::to_string(rowid) + " 2 0"), 1);
    EXPECT_EQ(Rows("SELECT status, ext FROM Image2 ORDER BY rowid"), "[[2, \".png\"], [2, \".webp\"], [2, \".jpg\"]]");
}

TEST_F(DownloaderTest, RemovedTasksLeaveTheirSlotsAndIgnoreTheirCompletions) {
    Service().Control("fail", {{"path", "/img/harbor/vol-1/*"}, {"delay_ms", "1000"}});
    Task("Harbor", L"Gone", "http://t/gone", {Img("harbor/vol-1/1.jpg"), Img("harbor/vol-1/2.png")});
    Task("Harbor", L"Kept", "http://t/kept", {Img("harbor/vol-2/1.png")});
    downloader->Commit();
    const int gone = Record(0).rowid;
    const int kept = Record(1).rowid;
    EXPECT_TRUE(downloader->Slot(0).entry && downloader->Slot(1).entry && downloader->Slot(2).entry);
    downloader->RemoveTasks({gone, 999});
    ASSERT_EQ(downloader->Tasks().size(), 1u);
    EXPECT_EQ(Record(0).rowid, kept);
    EXPECT_EQ(downloader->Slot(0).entry, nullptr);
    EXPECT_EQ(downloader->Slot(1).entry, nullptr);
    EXPECT_EQ(downloader->Queue().size(), 1u);
    ASSERT_TRUE(windows().WaitFinished(*downloader));
    ASSERT_TRUE(PumpUntil([&] { return windows().completions.size() == 3; }, 10000));
    PumpPending();
    EXPECT_EQ(Rows("SELECT parent, status FROM Image2 ORDER BY rowid"), "[[" + std::to_string(gone) + ", null], [" +
                                                                            std::to_string(gone) + ", null], [" +
                                                                            std::to_string(kept) + ", 2]]");
}

// Deleting the task that fills every slot hands the slots to the next task at once, and deleting
// the last one says that no slot is busy.
TEST_F(DownloaderTest, RemovingTheDownloadingTaskStartsTheNext) {
    Service().Control("fail", {{"path", "/img/harbor/vol-1/*"}, {"delay_ms", "3000"}});
    std::vector<std::string> held;
    for (int i = 1; i <= CDownloaderImpl::kSlots; ++i)
        held.push_back(Img("harbor/vol-1/" + std::to_string(i) + ".jpg"));
    Task("Harbor", L"Busy", "http://t/busy", held);
    Task("Harbor", L"Next", "http://t/next", {Img("harbor/vol-2/1.png"), Img("harbor/vol-2/3.jpg")});
    downloader->Commit();
    const int busy = Record(0).rowid;
    const int next = Record(1).rowid;
    EXPECT_EQ(Record(1).status, 0);

    downloader->RemoveTasks({busy});
    EXPECT_EQ(Record(0).status, 1);
    ASSERT_NE(downloader->Slot(0).entry, nullptr);
    EXPECT_EQ(downloader->Slot(0).entry->task->rowid, next);
    ASSERT_NE(downloader->Slot(1).entry, nullptr);
    EXPECT_EQ(downloader->Slot(1).entry->task->rowid, next);
    ASSERT_TRUE(PumpUntil([&] { return Record(0).status == 2; }, 2500));
    PumpPending();

    Task("Harbor", L"Last", "http://t/last", {Img("harbor/vol-1/1.jpg")});
    downloader->Commit();
    ASSERT_TRUE(downloader->AnyBusy());
    downloader->RemoveTasks({Record(1).rowid});
    EXPECT_FALSE(downloader->AnyBusy());
    PumpPending();
    EXPECT_EQ(windows().events.back(), "notify 1");
    // The held requests answer into emptied slots; later tests must not see them.
    ASSERT_TRUE(PumpUntil([&] { return windows().completions.size() == 8; }, 10000));
}

// A task that came without images ends, as failed, instead of downloading for ever.
TEST_F(DownloaderTest, ATaskWithoutImagesFinishesAsFailed) {
    Task("Harbor", L"Empty", "http://t/empty", {});
    Task("Harbor", L"Full", "http://t/full", {Img("harbor/vol-2/1.png")});
    downloader->Commit();
    const std::string empty = std::to_string(Record(0).rowid);
    EXPECT_EQ(Record(0).status, 2);
    ASSERT_TRUE(windows().WaitFinished(*downloader));
    PumpPending();
    EXPECT_EQ(Count("status " + empty + " 2 1"), 1);
    EXPECT_EQ(Record(1).status, 2);
    EXPECT_EQ(Rows("SELECT Status FROM Task2 ORDER BY rowid"), "[[2], [2]]");
}

TEST_F(DownloaderTest, FileNamesOfEachRenameTypeAndExtensions) {
    // The type decides when the table knows it; otherwise the address does.
    Service().Control("fail", {{"path", "/img/harbor/vol-1/3.gif"}, {"set_header", "Content-Type:image/png"}});
    const std::string jpegWithCharset = "Content-Type:image/jpeg; charset=binary";
    Service().Control("fail", {{"path", "/img/harbor/vol-2/2.webp"}, {"set_header", jpegWithCharset}});
    const std::vector<std::string> urls = {Img("kite/complete/1.webp"), Img("kite/complete/2.jpeg"),
                                           Img("kite/complete/3.png"), Img("harbor/vol-1/3.gif"),
                                           Img("harbor/vol-2/2.webp")};
    const std::vector<std::wstring> exts = {L".webp", L".jpg", L".png", L".png", L".webp"};
    struct Case {
        int renameType;
        std::wstring folder;  // of the task
        std::wstring stem;    // before the number
    };
    const Case cases[] = {
        {0, L"", L"Kite_Vol. 1._"},
        {1, L"Kite_Vol. 1_\\", L""},
        {2, L"Kite\\Vol. 1_\\", L""},
        {3, L"Kite\\", L"Vol. 1__"},
    };
    std::vector<std::wstring> expected;
    for (const Case& c : cases) {
        db().SetConfig("RenameType", std::to_string(c.renameType).c_str());
        Task("Kite", L"Vol. 1.", "http://t/kite" + std::to_string(c.renameType), urls);
        for (size_t i = 0; i < urls.size(); ++i)
            expected.push_back(c.folder + c.stem + L"000" + std::to_wstring(i + 1) + exts[i]);
    }
    downloader->Commit();
    for (size_t i = 0; i < 4; ++i)
        EXPECT_EQ(Record(i).path, downloads + cases[i].folder);
    ASSERT_TRUE(windows().WaitFinished(*downloader));
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(FilesUnder(downloads), expected);
    for (const Case& c : cases)
        for (size_t i = 0; i < urls.size(); ++i)
            EXPECT_EQ(ReadBytes(downloads + c.folder + c.stem + L"000" + std::to_wstring(i + 1) + exts[i]),
                      DemoImage(urls[i], session))
                << c.renameType << " " << urls[i];
}

// The log names the call that failed and the error it left.
TEST_F(DownloaderTest, FailedSavesLeaveNoFile) {
    // A connection closed without an answer; a folder gone by the time the image arrives; a
    // folder in the way of the image's name.
    Service().Control("fail", {{"path", "/img/harbor/vol-1/1.jpg"}, {"drop", "1"}});
    Service().Control("fail", {{"path", "/img/harbor/vol-2/*"}, {"delay_ms", "1500"}});
    Task("Harbor", L"Dropped", "http://t/dropped", {Img("harbor/vol-1/1.jpg")});
    Task("Harbor", L"Lost folder", "http://t/lost", {Img("harbor/vol-2/3.jpg")});
    Task("Harbor", L"Taken", "http://t/taken", {Img("harbor/vol-3/1.jpg")});
    ASSERT_TRUE(CreateDirectoryW((downloads + L"Harbor_Taken").c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW((downloads + L"Harbor_Taken\\0001.jpg").c_str(), nullptr));
    vxtest::DebugCapture capture;
    downloader->Commit();
    ASSERT_TRUE(PumpUntil([&] { return Record(1).status == 1; }));
    ASSERT_TRUE(RemoveDirectoryW((downloads + L"Harbor_Lost folder").c_str()));
    ASSERT_TRUE(windows().WaitFinished(*downloader));
    PumpPending();
    std::vector<std::string> completions = windows().completions;
    std::sort(completions.begin(), completions.end());
    EXPECT_EQ(completions, (std::vector<std::string>{"0  3", "1 .jpg 3", "2 .jpg 3"}));
    EXPECT_EQ(Record(0).failed, 1);
    EXPECT_EQ(Record(1).failed, 1);
    EXPECT_EQ(Record(2).failed, 1);
    EXPECT_EQ(FilesUnder(downloads), std::vector<std::wstring>{});
    EXPECT_EQ(Rows("SELECT ext, status FROM Image2 ORDER BY rowid"), "[[\"\", 3], [\".jpg\", 3], [\".jpg\", 3]]");

    std::string log = Join(capture.Take(), "\n");
    std::string lost = ToNarrow(downloads, CP_UTF8) + "Harbor_Lost folder\\0001.jpg.";
    std::string taken = ToNarrow(downloads, CP_UTF8) + "Harbor_Taken\\0001.jpg";
    EXPECT_NE(log.find("Image not saved: SaveToFile " + lost), std::string::npos) << log;
    EXPECT_NE(log.find(".part failed, error " + std::to_string(ERROR_PATH_NOT_FOUND)), std::string::npos) << log;
    EXPECT_NE(
        log.find("Image not saved: MoveFileExW to " + taken + " failed, error " + std::to_string(ERROR_ACCESS_DENIED)),
        std::string::npos)
        << log;
}

// Folders from 248 characters and files from 260 go through the long form.
TEST_F(DownloaderTest, LongPaths) {
    const std::string title(250 - downloads.size(), 'L');
    Task(title.c_str(), L"V", "http://t/long", {Img("harbor/vol-1/1.jpg"), Img("harbor/vol-1/2.png")});
    downloader->Commit();
    const std::wstring folder = downloads + ToWide(title, CP_UTF8) + L"_V\\";
    ASSERT_GE(folder.size(), 248u);
    EXPECT_EQ(Record(0).path, folder);
    ASSERT_TRUE(windows().WaitFinished(*downloader));
    EXPECT_EQ(Record(0).done, 2);
    EXPECT_EQ(ReadBytes(L"\\\\?\\" + folder + L"0001.jpg"), DemoImage(Img("harbor/vol-1/1.jpg"), session));
    EXPECT_EQ(ReadBytes(L"\\\\?\\" + folder + L"0002.png"), DemoImage(Img("harbor/vol-1/2.png"), session));
    EXPECT_EQ(FilesUnder(L"\\\\?\\" + folder), (std::vector<std::wstring>{L"0001.jpg", L"0002.png"}));
}

}  // namespace
