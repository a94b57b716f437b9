// A run of the program that ends while an image is on its way, and the next run over the same
// program folder: finished work stays finished, paused and unfinished tasks are queued again, and
// only the images without a result are fetched.
#include "DbTestSupport.h"
#include "DownloaderTestSupport.h"

#include <DbJobs.h>
#include <common/CodePage.h>

#include <gtest/gtest.h>

#include <iterator>

namespace {

std::string Img(const std::string& path) {
    return Service().SiteUrl("/img/harbor/" + path);
}

TEST(DownloaderRestart, TheNextRunResumesWhatTheLastOneLeft) {
    Service().Control("reset");
    Service().Control("fail", {{"path", "/img/harbor/vol-2/2.webp"}, {"delay_ms", "4000"}, {"count", "1"}});
    Service().Control("fail", {{"path", "/img/harbor/vol-3/1.jpg"}, {"delay_ms", "4000"}, {"count", "1"}});
    ScopedAppFolder folder;
    const std::wstring db = folder + L"Vellix.dat";
    const std::wstring downloads = folder + L"Download\\";
    const std::string session = DemoSession();
    const std::vector<std::string> f = {Img("vol-1/1.jpg"), Img("vol-1/2.png")};
    const std::vector<std::string> p = {Img("vol-2/1.png"), Img("vol-2/2.webp"), Img("vol-2/3.jpg")};
    const std::vector<std::string> q = {Img("vol-3/1.jpg")};
    DWORD firstRun = GetTickCount();
    {
        AppContext ctx;
        ASSERT_TRUE(ctx.Database().Open());
        DownloadWindows windows(ctx.Messages());
        CDownloaderImpl downloader;
        windows.Attach(&downloader);
        NamedComic comic("Harbor");
        const std::pair<const wchar_t*, const std::vector<std::string>*> volumes[] = {
            {L"F", &f}, {L"P", &p}, {L"Q", &q}};
        for (const auto& volume : volumes) {
            Vellix::DownloadTask* task =
                downloader.CreateTask(&comic, volume.first, ("http://t/" + ToNarrow(volume.first, CP_UTF8)).c_str());
            task->SetCookie(session.c_str());
            for (const std::string& url : *volume.second)
                task->AddImage(url.c_str(), ComicPage().c_str());
        }
        downloader.Commit();
        ASSERT_TRUE(PumpUntil([&] {
            return downloader.Tasks().front().status == 2 && std::next(downloader.Tasks().begin())->done == 2;
        }, 10000));
        downloader.PauseAll();
        // The run ends with two held images still out; their late completions reach no downloader.
        windows.Attach(nullptr);
    }
    EXPECT_EQ(Query(db, "SELECT Name, Status FROM Task2 ORDER BY rowid"),
              "[[\"Harbor F\", 2], [\"Harbor P\", null], [\"Harbor Q\", null]]");
    EXPECT_EQ(Query(db, "SELECT target, status FROM Image2 ORDER BY rowid"),
              "[[\"0001\", 2], [\"0002\", 2], [\"0001\", 2], [\"0002\", null], [\"0003\", 2], [\"0001\", null]]");
    // An older run may have stored a task as downloading.
    ASSERT_TRUE(ExecSql(db, "UPDATE Task2 SET Status=1 WHERE Name='Harbor P';"));

    {
        AppContext ctx;
        ASSERT_TRUE(ctx.Database().Open());
        DownloadWindows windows(ctx.Messages());
        CDownloaderImpl downloader;
        windows.Attach(&downloader);
        std::vector<std::string> loaded;
        for (const TaskRecord& t : downloader.Tasks())
            loaded.push_back(ToNarrow(t.name, CP_UTF8) + " " + std::to_string(t.status) + " " + std::to_string(t.done) +
                             "/" + std::to_string(t.total));
        EXPECT_EQ(loaded, (std::vector<std::string>{"Harbor F 2 2/2", "Harbor P 0 0/0", "Harbor Q 0 0/0"}));
        downloader.StartAll();
        ASSERT_TRUE(windows.WaitFinished(downloader));
        PumpPending();
        auto it = std::next(downloader.Tasks().begin());
        EXPECT_EQ(it->done, 3);
        EXPECT_EQ(it->total, 3);
        EXPECT_EQ(std::next(it)->done, 1);
        EXPECT_EQ(windows.completions.size(), 2u);  // only the two images without a result
        GetFinishedTasks finished;
        ctx.Database().RunSync(&finished);
        EXPECT_EQ(finished.tasks.size(), 3u);
        windows.Attach(nullptr);
    }
    EXPECT_EQ(ServiceLogCount("/img/harbor/vol-2/2.webp"), 2);
    EXPECT_EQ(ServiceLogCount("/img/harbor/vol-3/1.jpg"), 2);
    EXPECT_EQ(ServiceLogCount("/img/harbor/vol-2/1.png"), 1);
    // The first run's request ends before the files are compared.
    PumpUntil([&] { return GetTickCount() - firstRun > 4500; }, 10000);
    EXPECT_EQ(Query(db, "SELECT status, ext FROM Image2 ORDER BY rowid"),
              "[[2, \".jpg\"], [2, \".png\"], [2, \".png\"], [2, \".webp\"], [2, \".jpg\"], [2, \".jpg\"]]");
    EXPECT_EQ(FilesUnder(downloads),
              (std::vector<std::wstring>{L"Harbor_F\\0001.jpg", L"Harbor_F\\0002.png", L"Harbor_P\\0001.png",
                                         L"Harbor_P\\0002.webp", L"Harbor_P\\0003.jpg", L"Harbor_Q\\0001.jpg"}));
    EXPECT_EQ(ReadBytes(downloads + L"Harbor_P\\0002.webp"), DemoImage(p[1], session));
}

}  // namespace
