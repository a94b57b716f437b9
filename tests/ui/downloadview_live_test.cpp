// The download view over real downloads of the demo site's volumes: the states a row walks through,
// a failed image, automatic packing read back by Python's zipfile, and deleting the task that is
// downloading.
#include "DbTestSupport.h"
#include "DownloaderTestSupport.h"
#include "UiTestSupport.h"
#include "LinuxTool.h"

#include <AppContext.h>
#include <AppDatabase.h>
#include <CoreTestSupport.h>
#include <DbJobs.h>
#include <DownloadView.h>
#include <MsgCenter.h>
#include <UiSeams.h>
#include <VxDownloadMgr.h>
#include <ZipWorker.h>
#include <common/CodePage.h>
#include <wtl/Module.h>

#include <functional>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

namespace {

class BoxSink : public WTL::CWindowImpl<BoxSink>, public VxMsgObserver {
public:
    DECLARE_WND_CLASS_EX(L"Vx.Test.LiveFrame", 0, COLOR_BTNFACE)
    std::vector<std::wstring> boxes;
    void OnBox(msg_message_box* msg) {
        boxes.push_back(msg->text);
        msg->result = IDYES;
    }
    BEGIN_MSG_MAP(BoxSink)
    if (VxMsgObserver::OnMessage(hWnd, uMsg, wParam, lParam, lResult))
        return TRUE;
    END_MSG_MAP()
};

class LiveViewTest : public ::testing::Test {
protected:
    void SetUp() override {
        Service().Control("reset");
        WTL::AppModule().Init(nullptr);
        folder.reset(new ScopedAppFolder());
        ctx.reset(new AppContext());
        ASSERT_TRUE(ctx->Database().Open());
        ASSERT_TRUE(frame.Create(nullptr, nullptr, L"Live", WS_POPUP | WS_CAPTION));
        frame.id = ctx->Messages().RegisterObserver(frame.m_hWnd, &frame);
        ctx->Messages().Subscribe(frame.id, "message_box", MsgThunk<&BoxSink::OnBox>);
        downloads = *folder + L"dl\\";
        CreateDirectoryW(downloads.c_str(), nullptr);
        ctx->Database().SetConfigW("DownloadFolder", downloads.c_str());
        view = static_cast<CDownloadView*>(CDownloadView::Make(frame.m_hWnd));
        ASSERT_NE(view, nullptr);
        session = DemoSession();
    }
    void TearDown() override {
        if (view)
            ctx->GetDownloadMgr()->GetBuiltIn().FreeSlots();
        if (view && ::IsWindow(view->GetHwnd()))
            ::DestroyWindow(view->GetHwnd());
        ctx->Messages().UnregisterObserver(frame.id);
        frame.DestroyWindow();
        Service().Control("reset");
        ctx.reset();
        folder.reset();
    }

    CDownloaderImpl& Builtin() { return ctx->GetDownloadMgr()->GetBuiltIn(); }
    int AddTask(const char* comic, const wchar_t* volume, const std::vector<std::string>& pages) {
        NamedComic named(comic);
        Vellix::Downloader& d = Builtin();
        std::string url = std::string("http://t/") + comic + "/" + std::to_string(pages.size()) +
                          std::to_string(Builtin().Tasks().size());
        Vellix::DownloadTask* task = d.CreateTask(&named, volume, url.c_str());
        task->SetCookie(session.c_str());
        for (const std::string& page : pages)
            task->AddImage(Service().SiteUrl("/img/" + page).c_str(), ComicPage().c_str());
        task->Finish();
        return 0;
    }
    htmlayout::dom::element Row(int rowid) const {
        return htmlayout::dom::element::root_element(view->engine).find_first("div.taskItem[task-id=%d]", rowid);
    }
    std::wstring Status(int rowid) const {
        const wchar_t* s = Row(rowid).get_attribute("status");
        return s ? s : L"<none>";
    }
    int Rowid(size_t index) {
        auto it = Builtin().Tasks().begin();
        std::advance(it, index);
        return it->rowid;
    }
    // Pumps until done, noting each new state of the row and its progress text on the way.
    bool Watch(int rowid, const std::function<bool()>& done, std::vector<std::string>& seen, DWORD ms = 30000) {
        return PumpUntil(
            [&] {
                std::string state = ToNarrow(Status(rowid), CP_UTF8);
                if (state == "downloading")
                    state += " " + Row(rowid).find_first("div[downloading] > span").text();
                if (seen.empty() || seen.back() != state)
                    seen.push_back(state);
                return done();
            },
            ms);
    }

    std::unique_ptr<ScopedAppFolder> folder;
    std::unique_ptr<AppContext> ctx;
    BoxSink frame;
    CDownloadView* view = nullptr;
    std::wstring downloads;
    std::string session;
};

const std::vector<std::string> kVolume1 = {"harbor/vol-1/1.jpg", "harbor/vol-1/2.png", "harbor/vol-1/3.gif"};
const std::vector<std::string> kVolume2 = {"harbor/vol-2/1.png", "harbor/vol-2/2.webp", "harbor/vol-2/3.jpg",
                                           "harbor/vol-2/4.png"};

TEST_F(LiveViewTest, RowsWalkWaitingDownloadingFinished) {
    // Held images let each state be seen.
    Service().Control("fail", {{"path", "/img/harbor/*"}, {"delay_ms", "300"}});
    // More images than slots in the first task: the second waits for it.
    std::vector<std::string> many = kVolume1;
    many.insert(many.end(), kVolume2.begin(), kVolume2.end());
    AddTask("Harbor", L"Everything", many);
    AddTask("Harbor", L"Volume 2", kVolume2);
    Builtin().Commit();
    ASSERT_EQ(Builtin().Tasks().size(), 2u);
    const int first = Rowid(0), second = Rowid(1);
    ASSERT_TRUE(PumpUntil([&] { return Row(first) && Row(second); }));
    std::vector<std::string> seen;
    ASSERT_TRUE(Watch(second, [&] { return Status(first) == L"finish" && Status(second) == L"finish"; }, seen));
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen.front(), "waiting");
    EXPECT_EQ(seen.back(), "finish");
    // In between only "downloading n/4" with n never going back.
    int last = -1;
    for (size_t i = 1; i + 1 < seen.size(); ++i) {
        int n = -1;
        ASSERT_EQ(sscanf(seen[i].c_str(), "downloading %d/4", &n), 1) << testing::PrintToString(seen);
        EXPECT_GE(n, last);
        last = n;
    }
    EXPECT_GE(seen.size(), 3u) << testing::PrintToString(seen);
    EXPECT_TRUE(PumpUntil([&] { return !view->busy; })) << "the downloader reported idle";
    EXPECT_FALSE(::IsWindowVisible(::GetDlgItem(view->GetHwnd(), IDC_DV_START)));
    EXPECT_EQ(Row(first).find_first("a[command=redownload]").text(), "Re-download");
}

TEST_F(LiveViewTest, AFailedImageShowsRepairAndIsNotPacked) {
    ctx->Database().SetConfig("AutoPacking", "1");
    Service().Control("fail", {{"path", "/img/harbor/vol-1/2.png"}, {"status", "500"}});
    AddTask("Harbor", L"Volume 1", kVolume1);
    Builtin().Commit();
    const int rowid = Rowid(0);
    ASSERT_TRUE(PumpUntil([&] { return Status(rowid) == L"finish"; }, 30000));
    EXPECT_EQ(Row(rowid).find_first("a[command=redownload]").text(), "Repair 1 errors(s)");
    PumpUntil([] { return false; }, 300);
    EXPECT_EQ(RunningZipJobs(), 0);
    EXPECT_EQ(GetFileAttributesW((downloads + L"Harbor - Volume 1.zip").c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST_F(LiveViewTest, AutoPackingEndsInAnArchive) {
    ctx->Database().SetConfig("AutoPacking", "1");
    AddTask("Harbor", L"Volume 2", kVolume2);
    Builtin().Commit();
    const int rowid = Rowid(0);
    std::vector<std::string> seen;
    ASSERT_TRUE(Watch(rowid, [&] { return Status(rowid) == L"finish" && RunningZipJobs() == 0; }, seen));
    EXPECT_NE(std::find(seen.begin(), seen.end(), "packing"), seen.end()) << testing::PrintToString(seen);
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((downloads + L"*.zip").c_str(), &found);
    ASSERT_NE(search, INVALID_HANDLE_VALUE) << "an archive was written";
    FindClose(search);
    std::string entries = CoreTool({"zip", vxtest::UnixPath(downloads + found.cFileName)});
    EXPECT_EQ(entries.find("ERROR"), std::string::npos) << entries;
    for (const char* name : {"1.png", "2.webp", "3.jpg", "4.png"})
        EXPECT_NE(entries.find(name), std::string::npos) << name << " in " << entries;
    EXPECT_TRUE(frame.boxes.empty());
}

TEST_F(LiveViewTest, DeletingTheDownloadingTaskStartsTheOther) {
    Service().Control("fail", {{"path", "/img/harbor/vol-1/*"}, {"delay_ms", "20000"}});
    AddTask("Harbor", L"Volume 1", kVolume1);
    AddTask("Harbor", L"Volume 2", kVolume2);
    Builtin().Commit();
    const int first = Rowid(0), second = Rowid(1);
    ASSERT_TRUE(PumpUntil([&] { return Row(first) && Row(second); }));
    HL_BEHAVIOR_EVENT event = {};
    event.cmd = HL_HYPERLINK_CLICK;
    htmlayout::dom::element link = Row(first).find_first("div[finish] a[command=delete]");
    event.target = link.get();
    ASSERT_TRUE(view->handle_event(link.get(), event));
    EXPECT_EQ(frame.boxes.size(), 1u) << "an unfinished task asks first";
    EXPECT_FALSE(Row(first));
    const DWORD start = GetTickCount();
    ASSERT_TRUE(PumpUntil([&] { return Status(second) == L"downloading"; }, 1000));
    EXPECT_LT(GetTickCount() - start, 1000u);
    EXPECT_TRUE(PumpUntil([&] { return Status(second) == L"finish"; }, 30000));
}

}  // namespace
