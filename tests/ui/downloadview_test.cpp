// The download view in a real window over a real Vellix.dat and the built-in downloader: rows as
// the stored tasks give them, the downloader's reports, the deletion question, Clear Completed, the
// buttons, explore on the user-interface thread, and the screenshots.
#include "UiTestSupport.h"
#include "WtlTestSupport.h"

#include <AppContext.h>
#include <AppDatabase.h>
#include <CoreTestSupport.h>
#include <DbJobs.h>
#include <DbTestSupport.h>
#include <DownloadView.h>
#include <DownloaderImpl.h>
#include <LanguageTranslator.h>
#include <MsgCenter.h>
#include <UiSeams.h>
#include <VxDownloadMgr.h>
#include <common/CodePage.h>
#include <wtl/Module.h>
#include <wtl/Seams.h>
#include <ZipWorker.h>

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace {

// Observer 0 in place of the main window: answers the questions and records what it is asked.
class FrameSink : public WTL::CWindowImpl<FrameSink>, public VxMsgObserver {
public:
    DECLARE_WND_CLASS_EX(L"Vx.Test.DownloadFrame", 0, COLOR_BTNFACE)
    std::vector<std::wstring> boxes;
    std::vector<int> boxFlags;
    std::vector<std::string> posted;
    int answer = IDNO;

    void OnBox(msg_message_box* msg) {
        boxes.push_back(msg->text);
        boxFlags.push_back(msg->flags);
        msg->result = answer;
    }
    void OnRepair(msg_repair_task* msg) { posted.push_back("repair " + std::to_string(msg->taskId)); }
    void OnPack(msg_task_pack* msg) { posted.push_back("pack " + std::to_string(msg->taskId)); }

    BEGIN_MSG_MAP(FrameSink)
    if (VxMsgObserver::OnMessage(hWnd, uMsg, wParam, lParam, lResult))
        return TRUE;
    END_MSG_MAP()
};

std::string Utf8(const std::wstring& text) {
    return ToNarrow(text, CP_UTF8);
}

class DownloadViewTest : public ::testing::Test {
protected:
    void SetUp() override {
        WTL::AppModule().Init(nullptr);
        folder.reset(new ScopedAppFolder());
        ctx.reset(new AppContext());
        ASSERT_TRUE(ctx->Database().Open());
        ASSERT_TRUE(frame.Create(nullptr, nullptr, L"Downloads", WS_POPUP | WS_CAPTION));
        MsgCenter& bus = ctx->Messages();
        frame.id = bus.RegisterObserver(frame.m_hWnd, &frame);
        ASSERT_EQ(frame.id, 0);
        bus.Subscribe(frame.id, "message_box", MsgThunk<&FrameSink::OnBox>);
        bus.Subscribe(frame.id, "repair_task", MsgThunk<&FrameSink::OnRepair>);
        bus.Subscribe(frame.id, "task_pack", MsgThunk<&FrameSink::OnPack>);
    }
    void TearDown() override {
        if (view && ::IsWindow(view->GetHwnd()))
            ::DestroyWindow(view->GetHwnd());
        ctx->Messages().UnregisterObserver(frame.id);
        frame.DestroyWindow();
        WTL::ResetSeams();
        ResetUiSeams();
        ctx.reset();
        folder.reset();
    }

    std::wstring Db() const { return *folder + L"Vellix.dat"; }
    void Store(const std::string& sql) { ASSERT_TRUE(ExecSql(Db(), sql)); }

    // The view over the stored tasks, laid out in the frame as the tab view would.
    void Open(int width = 640, int height = 300) {
        view = static_cast<CDownloadView*>(CDownloadView::Make(frame.m_hWnd));
        ASSERT_NE(view, nullptr);
        frame.SetWindowPos(nullptr, 0, 0, width + 16, height + 40, SWP_NOZORDER);
        RECT rc;
        frame.GetClientRect(&rc);
        ::MoveWindow(view->GetHwnd(), 0, 0, rc.right, rc.bottom, TRUE);
        ::ShowWindow(view->GetHwnd(), SW_SHOW);
        frame.ShowWindow(SW_SHOW);
        PumpPending();
    }
    htmlayout::dom::element Root() const { return htmlayout::dom::element::root_element(view->engine); }
    htmlayout::dom::element Row(int rowid) const { return Root().find_first("div.taskItem[task-id=%d]", rowid); }
    std::wstring Status(int rowid) const {
        const wchar_t* s = Row(rowid).get_attribute("status");
        return s ? s : L"<none>";
    }
    // A link click as the engine reports it.
    void Click(const htmlayout::dom::element& link) {
        ASSERT_TRUE(link);
        HL_BEHAVIOR_EVENT event = {};
        event.cmd = HL_HYPERLINK_CLICK;
        event.target = link.get();
        EXPECT_TRUE(view->handle_event(link.get(), event));
        PumpPending();
    }
    void Post(VxMsg* msg) {
        ASSERT_TRUE(ctx->Messages().PostTo(view->id, msg));
        PumpPending();
    }
    void Drain() {
        GetProxyTask barrier("");
        ctx->Database().RunSync(&barrier);
    }
    std::wstring T(const wchar_t* key, const TextVars& vars = TextVars()) {
        return ctx->Translator().Text(L"DownloadView", key, vars);
    }
    HWND Item(int id) const { return ::GetDlgItem(view->GetHwnd(), id); }

    std::unique_ptr<ScopedAppFolder> folder;
    std::unique_ptr<AppContext> ctx;
    FrameSink frame;
    CDownloadView* view = nullptr;
};

TEST_F(DownloadViewTest, RowsShowStoredStatesAndNamesLiterally) {
    Store("INSERT INTO Task2(rowid, url, Name, Path, Status) VALUES"
          "(1, 'http://a/1', 'a<b & c', 'C:\\x\\', 2), (2, 'http://a/2', '50% off', 'C:\\x\\', 0),"
          "(3, 'http://a/3', '%Delete%', 'C:\\x\\', 3), (4, 'http://a/4', '<i>x</i>&amp;', 'C:\\x\\', 1);");
    Open();
    const struct {
        int rowid;
        const char* name;
        const wchar_t* status;
    } rows[] = {{1, "a<b & c", L"finish"}, {2, "50% off", L"waiting"}, {3, "%Delete%", L"paused"},
                {4, "<i>x</i>&amp;", L"waiting"}};
    ASSERT_EQ(Root().find_all("div.taskItem").size(), 4u);
    for (const auto& row : rows) {
        SCOPED_TRACE(row.rowid);
        EXPECT_EQ(Row(row.rowid).find_first("a.taskName").text(), row.name);
        EXPECT_EQ(Status(row.rowid), row.status);
    }
    // A task left downloading by an earlier run is queued again.
    EXPECT_TRUE(Row(4).find_first("div[waiting]").visible());
    EXPECT_TRUE(Row(1).find_first("div[finish]").visible());
    EXPECT_FALSE(Row(1).find_first("div[waiting]").visible());
    EXPECT_EQ(view->OpenUrl(L"ABOUT:Downloader"), true);
    EXPECT_EQ(view->OpenUrl(L"about:blank"), false);
    EXPECT_FALSE(view->CanClose());
}

TEST_F(DownloadViewTest, ReportsChangeTheRow) {
    Store("INSERT INTO Task2(rowid, url, Name, Path, Status) VALUES (1, 'http://a/1', 'One', 'C:\\x\\', 0),"
          "(2, 'http://a/2', 'Two', 'C:\\x\\', 0), (3, 'http://a/3', 'Three', 'C:\\x\\', 0);");
    ctx->Database().SetConfig("AutoPacking", "1");
    Open();
    Post(new msg_task_progress(1, 3, 0, 10));
    EXPECT_EQ(Status(1), L"downloading");
    htmlayout::dom::element block = Row(1).find_first("div[downloading]");
    EXPECT_EQ(block.find_first("span").text(), "3/10");
    EXPECT_FALSE(block.has_attribute("error"));
    EXPECT_FALSE(block.find_first("span.error").visible());

    Post(new msg_task_progress(1, 5, 2, 10));
    EXPECT_EQ(block.find_first("span").text(), "5/10");
    EXPECT_TRUE(block.has_attribute("error"));
    EXPECT_EQ(block.find_first("span.error > span").text(), Utf8(T(L"Errors", {{L"ERRORS", L"2"}})));
    EXPECT_TRUE(block.find_first("span.error").visible());

    // Finished with failures: the repair text, and no packing even with AutoPacking.
    Post(new msg_task_status(1, kTaskFinished, 3));
    EXPECT_EQ(Status(1), L"finish");
    EXPECT_EQ(Row(1).find_first("a[command=redownload]").text(), Utf8(T(L"Repair", {{L"ERRORS", L"3"}})));

    Post(new msg_task_status(2, kTaskPaused, 1));
    EXPECT_EQ(Status(2), L"paused");
    EXPECT_TRUE(Row(2).find_first("div[paused]").has_attribute("error"));
    Post(new msg_task_status(2, kTaskQueued, 0));
    EXPECT_EQ(Status(2), L"waiting");

    // Reports for tasks without a row change nothing.
    Post(new msg_task_status(99, kTaskFinished, 0));
    Post(new msg_task_progress(99, 1, 0, 2));
    EXPECT_EQ(Root().find_all("div.taskItem").size(), 3u);
}

// Rows come in batches (the stored tasks, a grab's tasks); each row still takes its own reports.
TEST_F(DownloadViewTest, ABatchOfNewTasksGetsARowEachInOrder) {
    Store("INSERT INTO Task2(rowid, url, Name, Path, Status) VALUES (1, 'http://a/1', 'One', 'C:\\x\\', 2),"
          "(2, 'http://a/2', 'Two', 'C:\\x\\', 3);");
    Open();
    msg_add_ui_tasks* added = new msg_add_ui_tasks();
    for (int rowid : {3, 4, 5}) {
        TaskRecord task;
        task.rowid = rowid;
        task.name = L"New " + std::to_wstring(rowid);
        added->tasks.push_back(task);
    }
    Post(added);
    std::vector<std::wstring> order;
    for (const htmlayout::dom::element& row : Root().find_all("div.taskItem"))
        order.push_back(row.get_attribute("task-id"));
    EXPECT_EQ(order, (std::vector<std::wstring>{L"1", L"2", L"3", L"4", L"5"}));

    Post(new msg_task_status(4, kTaskFinished, 0));
    Post(new msg_task_status(2, kTaskQueued, 0));
    const std::pair<int, const wchar_t*> want[] = {
        {1, L"finish"}, {2, L"waiting"}, {3, L"waiting"}, {4, L"finish"}, {5, L"waiting"}};
    for (const auto& w : want)
        EXPECT_EQ(Status(w.first), w.second) << "task " << w.first;
}

TEST_F(DownloadViewTest, RowCommandsGoToTheMainWindow) {
    Store("INSERT INTO Task2(rowid, url, Name, Path, Status) VALUES (7, 'http://a/7', 'Seven', 'C:\\x\\', 2);");
    Open();
    Click(Row(7).find_first("a[command=redownload]"));
    Click(Row(7).find_first("a[command=pack]"));
    ASSERT_TRUE(PumpUntil([&] { return frame.posted.size() == 2; }));
    EXPECT_EQ(frame.posted, (std::vector<std::string>{"repair 7", "pack 7"}));
}

TEST_F(DownloadViewTest, DeleteAsksOnlyForUnfinishedTasks) {
    Store("INSERT INTO Task2(rowid, url, Name, Path, Status) VALUES (1, 'http://a/1', 'Done', 'C:\\x\\', 2),"
          "(2, 'http://a/2', 'Waiting', 'C:\\x\\', 0), (3, 'http://a/3', 'Paused', 'C:\\x\\', 3);"
          "INSERT INTO Image2(url, status, parent) VALUES ('http://a/1/1', 2, 1), ('http://a/2/1', 0, 2);");
    Open();
    CDownloaderImpl& builtIn = ctx->GetDownloadMgr()->GetBuiltIn();

    // Finished: no question.
    Click(Row(1).find_first("div[finish] a[command=delete]"));
    EXPECT_TRUE(frame.boxes.empty());
    EXPECT_FALSE(Row(1));
    EXPECT_EQ(builtIn.FindTask(1), nullptr);

    // Unfinished: asked, and No keeps it.
    frame.answer = IDNO;
    Click(Row(2).find_first("div[finish] a[command=delete]"));
    ASSERT_EQ(frame.boxes.size(), 1u);
    EXPECT_EQ(frame.boxes[0], T(L"DeleteTask"));
    EXPECT_EQ(frame.boxFlags[0], 292);
    EXPECT_TRUE(Row(2));
    EXPECT_NE(builtIn.FindTask(2), nullptr);

    frame.answer = IDYES;
    Click(Row(3).find_first("div[paused] a[command=delete]"));
    EXPECT_EQ(frame.boxes.size(), 2u);
    EXPECT_FALSE(Row(3));

    Drain();
    EXPECT_EQ(Query(Db(), "SELECT rowid FROM Task2 ORDER BY rowid;"), "[[2]]");
    EXPECT_EQ(Query(Db(), "SELECT parent FROM Image2 ORDER BY parent;"), "[[2]]");
}

TEST_F(DownloadViewTest, ClearCompletedKeepsTasksWithFailedImages) {
    Store("INSERT INTO Task2(rowid, url, Name, Path, Status) VALUES (1, 'http://a/1', 'Clean', 'C:\\x\\', 2),"
          "(2, 'http://a/2', 'Failed', 'C:\\x\\', 2), (3, 'http://a/3', 'Waiting', 'C:\\x\\', 0),"
          "(4, 'http://a/4', 'Clean too', 'C:\\x\\', 2);"
          "INSERT INTO Image2(url, status, parent) VALUES ('i1', 2, 1), ('i2', 3, 2), ('i3', 2, 2), ('i4', 0, 3);");
    Open();
    ::SendMessageW(Item(IDC_DV_CLEAR), BM_CLICK, 0, 0);
    PumpPending();
    EXPECT_FALSE(Row(1));
    EXPECT_TRUE(Row(2));
    EXPECT_TRUE(Row(3));
    EXPECT_FALSE(Row(4));
    EXPECT_TRUE(frame.boxes.empty());
    Drain();
    EXPECT_EQ(Query(Db(), "SELECT rowid FROM Task2 ORDER BY rowid;"), "[[2], [3]]");
    EXPECT_EQ(Query(Db(), "SELECT url FROM Image2 ORDER BY url;"), "[[\"i2\"], [\"i3\"], [\"i4\"]]");
}

TEST_F(DownloadViewTest, ButtonsFollowTheTasksAndTheDownloader) {
    Store("INSERT INTO Task2(rowid, url, Name, Path, Status) VALUES (1, 'http://a/1', 'Done', 'C:\\x\\', 2);");
    Open();
    // Every task finished: no Start/Pause; Manage has something to manage.
    EXPECT_FALSE(::IsWindowVisible(Item(IDC_DV_START)));
    EXPECT_TRUE(::IsWindowEnabled(Item(IDC_DV_MANAGE)));

    msg_add_ui_tasks* added = new msg_add_ui_tasks();
    TaskRecord task;
    task.rowid = 2;
    task.name = L"New";
    task.status = kTaskDownloading;
    added->tasks.push_back(task);
    Post(added);
    // Status 1 shows no state block until the first progress report.
    EXPECT_EQ(Status(2), L"");
    EXPECT_FALSE(Row(2).find_first("div[downloading]").visible());
    EXPECT_FALSE(Row(2).find_first("div[waiting]").visible());
    Post(new msg_download_notify(msg_download_notify::kQueued));
    EXPECT_TRUE(view->busy);
    EXPECT_FALSE(::IsWindowEnabled(Item(IDC_DV_MANAGE)));
    Post(new msg_download_notify(7));
    EXPECT_TRUE(view->busy) << "unknown codes are ignored";
    Post(new msg_download_notify(msg_download_notify::kIdle));
    EXPECT_FALSE(view->busy);
    EXPECT_TRUE(::IsWindowEnabled(Item(IDC_DV_MANAGE)));
}

TEST_F(DownloadViewTest, ManageDeletesTheTickedTasks) {
    Store("INSERT INTO Task2(rowid, url, Name, Path, Status) VALUES (1, 'http://a/1', 'One', 'C:\\x\\', 2),"
          "(2, 'http://a/2', 'Two', 'C:\\x\\', 2);");
    Open();
    Dialogs().manage = [](HWND, std::vector<int>& checked) {
        checked.push_back(2);
        return IDOK;
    };
    ::SendMessageW(Item(IDC_DV_MANAGE), BM_CLICK, 0, 0);
    PumpPending();
    EXPECT_TRUE(Row(1));
    EXPECT_FALSE(Row(2));
    Drain();
    EXPECT_EQ(Query(Db(), "SELECT rowid FROM Task2;"), "[[1]]");
}

TEST_F(DownloadViewTest, ExploreOpensTheFolderOnTheWindowThread) {
    std::wstring existing = *folder + L"Comic\\";
    ASSERT_TRUE(CreateDirectoryW(existing.c_str(), nullptr));
    Store("INSERT INTO Task2(rowid, url, Name, Path, Status) VALUES (1, 'http://a/1', 'One', '" + Utf8(existing) +
          "', 2);");
    Open();
    std::vector<std::pair<std::wstring, DWORD>> explored;
    WTL::Seams().shellExplore = [&](HWND, const wchar_t* path) {
        explored.emplace_back(path, GetCurrentThreadId());
        return true;
    };
    Click(Row(1).find_first("a.taskName"));
    Drain();
    ASSERT_TRUE(PumpUntil([&] { return !explored.empty(); }, 2000));
    EXPECT_EQ(explored[0].first, existing);
    EXPECT_EQ(explored[0].second, GetCurrentThreadId());
}

// Holds the database worker, and so the packing thread that reads its tasks through it.
class HoldWorker : public VxDBTask {
public:
    HoldWorker() : VxDBTask(false), release(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
    ~HoldWorker() override { CloseHandle(release); }
    void Execute(sqlite3**) override { WaitForSingleObject(release, 20000); }
    HANDLE release;
};

TEST_F(DownloadViewTest, APackingWorkerRefusedByTheFullQueueLeavesTheRowFinished) {
    Store("INSERT INTO Task2(rowid, url, Name, Path, Status) VALUES (1, 'http://a/1', 'Packed', 'C:\\x\\', 0);");
    ctx->Database().SetConfig("AutoPacking", "1");
    Open();
    HoldWorker hold;
    ctx->Database().Post(&hold);
    // One worker waits in the held database, the others fill the queue.
    // The thread takes its first worker when it gets to it: fill again after that.
    int queued = 0;
    for (int round = 0; round < 2; ++round) {
        for (;;) {
            auto* filler = new CZipWorker(9999, 999);
            if (!filler->Start()) {
                delete filler;
                break;
            }
            ++queued;
        }
        Sleep(500);
    }
    EXPECT_GT(queued, 1);
    Post(new msg_task_status(1, kTaskFinished, 0));
    EXPECT_EQ(Status(1), L"finish");
    EXPECT_TRUE(PumpUntil([&] { return !frame.boxes.empty(); }));
    if (frame.boxes.empty()) {
        SetEvent(hold.release);
        Drain();
        FAIL() << "no ZipFailed message";
    }
    EXPECT_EQ(frame.boxes[0], ctx->Translator().Text(L"Messages", L"ZipFailed", {{L"FILE", L"Packed.zip"}}));
    SetEvent(hold.release);
    EXPECT_TRUE(PumpUntil([] { return RunningZipJobs() == 0; }, 20000));
    Drain();
}

TEST_F(DownloadViewTest, Screenshot) {
    Store("INSERT INTO Task2(rowid, url, Name, Path, Status) VALUES"
          "(1, 'http://a/1', 'Demo Comic - Volume 1', 'C:\\x\\', 2), (2, 'http://a/2', 'Demo Comic - Volume 2', "
          "'C:\\x\\', 2), (3, 'http://a/3', 'Demo Comic - Volume 3', 'C:\\x\\', 0),"
          "(4, 'http://a/4', 'Demo Comic - Volume 4', 'C:\\x\\', 0), (5, 'http://a/5', 'Demo Comic - Volume 5', "
          "'C:\\x\\', 0), (6, 'http://a/6', 'Tom & Jerry <Special> 100%', 'C:\\x\\', 3);");
    Open(640, 260);
    Post(new msg_task_status(2, kTaskFinished, 3));
    Post(new msg_task_progress(3, 12, 0, 40));
    Post(new msg_task_progress(4, 7, 2, 30));
    Post(new msg_task_status(6, kTaskPaused, 1));
    Post(new msg_download_notify(msg_download_notify::kQueued));
    // The packing state as a row shows it while its archive is written.
    Row(5).set_attribute("status", L"packing");
    Row(5).update(true);
    PumpUntil([] { return false; }, 300);
    const char* lang = getenv("VELLIX_TEST_LANG");
    EXPECT_TRUE(Screenshot(frame.m_hWnd, lang ? "downloadview_zh" : "downloadview"));
}

}  // namespace
