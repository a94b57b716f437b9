// The zip progress dialog over the real worker and a real Vellix.dat: the bar's range and
// positions as its window receives them, the archive read back by Python's zipfile at the last
// position, the failures that end it, and its screenshot.
#include "UiTestSupport.h"
#include "WtlTestSupport.h"

#include <AppContext.h>
#include <AppDatabase.h>
#include <CoreTestSupport.h>
#include <DbTestSupport.h>
#include <LanguageTranslator.h>
#include <LinuxTool.h>
#include <Messages.h>
#include <MsgCenter.h>
#include <UiSeams.h>
#include <ZipProgressDlg.h>
#include <ZipWorker.h>
#include <common/CodePage.h>
#include <wtl/Module.h>

#include <gtest/gtest.h>

#include <commctrl.h>

#include <functional>
#include <memory>

namespace {

// Observer 0 stands in for the main frame, which shows the worker's failure box.
struct Frame {
    void OnMessageBox(msg_message_box* msg) { boxes.push_back(msg->text); }
    TestObserver window;
    std::vector<std::wstring> boxes;
};

struct Environment : ::testing::Environment {
    void SetUp() override {
        INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_PROGRESS_CLASS};
        InitCommonControlsEx(&controls);
        WTL::AppModule().Init(nullptr);
        folder.reset(new ScopedAppFolder());
        ctx.reset(new AppContext());
        ASSERT_TRUE(ctx->Database().Open());
        frame.reset(new Frame());
        frame->window.id = ctx->Messages().RegisterObserver(frame->window.window, frame.get());
        ASSERT_EQ(frame->window.id, 0);
        ctx->Messages().Subscribe(0, "message_box", MsgThunk<&Frame::OnMessageBox>);
    }
    void TearDown() override {
        frame.reset();
        ctx.reset();
        folder.reset();
    }
    std::unique_ptr<ScopedAppFolder> folder;
    std::unique_ptr<AppContext> ctx;
    std::unique_ptr<Frame> frame;
};
Environment* g_env = static_cast<Environment*>(::testing::AddGlobalTestEnvironment(new Environment));

// What the progress bar is told, seen in its own window procedure.
struct BarLog {
    std::vector<std::pair<int, int>> ranges;
    std::vector<int> positions;
    std::function<void(int)> onPosition;
};

LRESULT CALLBACK WatchBar(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR data) {
    auto* log = reinterpret_cast<BarLog*>(data);
    if (message == PBM_SETRANGE32)
        log->ranges.push_back({static_cast<int>(wParam), static_cast<int>(lParam)});
    LRESULT result = DefSubclassProc(window, message, wParam, lParam);
    if (message == PBM_SETPOS) {
        log->positions.push_back(static_cast<int>(wParam));
        if (log->onPosition)
            log->onPosition(static_cast<int>(wParam));
    }
    return result;
}

// A modal run that outlives its bound is ended from its own loop, so the test fails instead of
// hanging.
bool g_gaveUp = false;
BOOL CALLBACK EndThreadDialog(HWND window, LPARAM) {
    wchar_t cls[16] = {};
    GetClassNameW(window, cls, 16);
    if (wcscmp(cls, L"#32770") == 0)
        EndDialog(window, -2);
    return TRUE;
}
void CALLBACK GiveUp(HWND, UINT, UINT_PTR, DWORD) {
    g_gaveUp = true;
    EnumThreadWindows(GetCurrentThreadId(), EndThreadDialog, 0);
}

class ZipProgressTest : public ::testing::Test {
protected:
    void SetUp() override {
        static int counter = 0;
        downloads = *g_env->folder + (L"zdl" + std::to_wstring(++counter) + L"\\").c_str();
        ASSERT_TRUE(CreateDirectoryW(downloads.c_str(), nullptr));
        SetDownloadFolder(downloads);
        g_env->frame->boxes.clear();
    }
    void TearDown() override { SetZipStartForTesting(nullptr); }

    static void SetDownloadFolder(const std::wstring& folder) {
        g_env->ctx->Database().SetConfigW("DownloadFolder", folder.c_str());
    }

    // A task row named NAME with COUNT images written into its folder; returns the rowid.
    int AddTask(const std::string& name, int count) {
        static int rowid = 200;
        ++rowid;
        std::wstring folder = downloads + L"task" + std::to_wstring(rowid) + L"\\";
        EXPECT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
        std::string sql = "INSERT INTO Task2(rowid, url, Name, Cookie, Path, Status) VALUES(" + std::to_string(rowid) +
                          ", 'http://t.invalid/" + std::to_string(rowid) + "', '" + name + "', '', '" +
                          ToNarrow(folder, CP_UTF8) + "', 2);";
        for (int i = 0; i < count; ++i) {
            std::string target = "p" + std::to_string(100 + i);
            sql += "INSERT INTO Image2(url, ref, target, status, parent, ext) VALUES('http://i.invalid/" +
                   std::to_string(i) + "', '', '" + target + "', 2, " + std::to_string(rowid) + ", '.jpg');";
            EXPECT_TRUE(WriteBytes(folder + ToWide(target, CP_UTF8) + L".jpg", std::string(500 + i, 'a' + i % 26)));
        }
        EXPECT_TRUE(ExecSql(*g_env->folder + L"Vellix.dat", sql));
        return rowid;
    }

    // Runs the dialog modeless until it ends; its result, or -3 when it did not end in time.
    int RunModeless(int task, BarLog& log, const std::function<void(HWND)>& onEnded = nullptr) {
        CZipProgressDlg dialog;
        if (!dialog.Create(nullptr, task))
            return -1;
        SetWindowSubclass(dialog.GetDlgItem(IDC_ZIP_PROGRESS), WatchBar, 1, reinterpret_cast<DWORD_PTR>(&log));
        dialog.ShowWindow(SW_SHOWNOACTIVATE);
        shown = dialog.m_hWnd;
        bool ended = wtltest::PumpUntil([&] { return dialog.HasEnded(); }, 60000);
        // The worker may still be between its last send and its end: it must not find the dialog.
        EXPECT_TRUE(wtltest::PumpUntil([] { return RunningZipJobs() == 0; }, 30000));
        if (ended && onEnded)
            onEnded(dialog.m_hWnd);
        RemoveWindowSubclass(dialog.GetDlgItem(IDC_ZIP_PROGRESS), WatchBar, 1);
        dialog.DestroyWindow();
        shown = nullptr;
        return ended ? static_cast<int>(dialog.GetResult()) : -3;
    }

    static std::string Entries(const std::wstring& archive) { return CoreTool({"zip", vxtest::UnixPath(archive)}); }
    static size_t Count(const std::string& text, const std::string& part) {
        size_t n = 0;
        for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
            ++n;
        return n;
    }

    std::wstring downloads;
    HWND shown = nullptr;
};

TEST_F(ZipProgressTest, FortyImagesMoveTheBarThroughFortyOnePositionsAndEndComplete) {
    int task = AddTask("Forty", 40);
    const std::wstring archive = downloads + L"Forty.zip";
    BarLog log;
    std::string atEnd = "no final position";
    log.onPosition = [&](int position) {
        if (position == 40)
            atEnd = Exists(archive) ? Entries(archive) : "no archive";
    };
    ASSERT_EQ(RunModeless(task, log), CZipProgressDlg::kComplete);

    std::vector<int> expected;
    for (int i = 0; i <= 40; ++i)
        expected.push_back(i);
    EXPECT_EQ(log.positions, expected);
    EXPECT_EQ(log.ranges, (std::vector<std::pair<int, int>>{{0, 40}}));
    EXPECT_NE(atEnd.find(R"("bad": null)"), std::string::npos) << atEnd;
    EXPECT_EQ(Count(atEnd, R"("name": "p1)"), 40u) << atEnd;
    EXPECT_EQ(atEnd, Entries(archive));
    EXPECT_FALSE(Exists(archive + L".part"));
    EXPECT_TRUE(g_env->frame->boxes.empty());
}

TEST_F(ZipProgressTest, ATaskWithoutImagesEndsCompleteAtOnceWithAnEmptyArchive) {
    int task = AddTask("None", 0);
    BarLog log;
    ASSERT_EQ(RunModeless(task, log), CZipProgressDlg::kComplete);
    EXPECT_EQ(log.positions, std::vector<int>{0});
    EXPECT_EQ(Entries(downloads + L"None.zip"), R"({"bad": null, "comment": "", "entries": []})");
}

// Archives that cannot be written: the bar still reaches its end, but the dialog ends with the
// failure, no archive is left and the main frame is told.
TEST_F(ZipProgressTest, AnArchiveThatCannotBeWrittenEndsWithFailure) {
    struct Case {
        const char* what;
        std::function<std::wstring(const std::wstring& downloads)> target;  // the download folder to use
        std::function<void(const std::wstring& archive)> prepare;
        std::vector<int> positions;  // no entry is written where no file can be made
    };
    const Case cases[] = {
        {"the download folder is a file",
         [](const std::wstring& d) {
             WriteBytes(d + L"plain", "a file, not a folder");
             return d + L"plain\\";
         },
         nullptr,
         {0, 3}},
        {"the download folder does not exist", [](const std::wstring& d) { return d + L"missing\\"; }, nullptr, {0, 3}},
        {"a folder holds the archive's name",
         [](const std::wstring& d) { return d; },
         [](const std::wstring& archive) { CreateDirectoryW(archive.c_str(), nullptr); },
         {0, 1, 2, 3}},
    };
    int task = AddTask("Blocked", 3);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        g_env->frame->boxes.clear();
        std::wstring folder = c.target(downloads);
        SetDownloadFolder(folder);
        std::wstring archive = folder + L"Blocked.zip";
        if (c.prepare)
            c.prepare(archive);
        BarLog log;
        EXPECT_EQ(RunModeless(task, log), CZipProgressDlg::kFailed);
        EXPECT_EQ(log.positions, c.positions);
        DWORD attributes = GetFileAttributesW(archive.c_str());
        EXPECT_TRUE(attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) << "no archive";
        EXPECT_FALSE(Exists(archive + L".part"));
        EXPECT_TRUE(wtltest::PumpUntil([] { return !g_env->frame->boxes.empty(); }));
    }
}

// Through the dialog seam, modal as the main frame runs it; a worker that cannot start ends the
// dialog at once, since it has no control to close it and no progress would come.
TEST_F(ZipProgressTest, TheModalDialogEndsWithThePackingsResult) {
    struct Case {
        const char* what;
        bool workerStarts;
        int result;
        bool archive;
    };
    const Case cases[] = {
        {"the worker runs", true, CZipProgressDlg::kComplete, true},
        {"the worker cannot start", false, CZipProgressDlg::kFailed, false},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::string name = "Modal" + std::to_string(++n);
        int task = AddTask(name, 2);
        bool tried = false;
        if (!c.workerStarts) {
            SetZipStartForTesting([&](CZipWorker*) {
                tried = true;
                return false;
            });
        }
        g_gaveUp = false;
        UINT_PTR timer = SetTimer(nullptr, 0, 30000, GiveUp);
        int result = Dialogs().zipProgress(nullptr, task);
        KillTimer(nullptr, timer);
        SetZipStartForTesting(nullptr);
        EXPECT_FALSE(g_gaveUp);
        EXPECT_EQ(result, c.result);
        EXPECT_EQ(tried, !c.workerStarts);
        ASSERT_TRUE(wtltest::PumpUntil([] { return RunningZipJobs() == 0; }, 30000));
        EXPECT_EQ(Exists(downloads + ToWide(name, CP_UTF8) + L".zip"), c.archive);
    }
}

TEST_F(ZipProgressTest, Screenshot) {
    int task = AddTask("Shot", 4);
    BarLog log;
    HWND* window = &shown;
    std::wstring caption;
    bool shot = false;
    bool barVisible = false;
    log.onPosition = [&](int position) {
        if (position != 2)
            return;
        wchar_t text[128] = {};
        GetWindowTextW(*window, text, 128);
        caption = text;
        barVisible = IsWindowVisible(GetDlgItem(*window, IDC_ZIP_PROGRESS)) != FALSE;
    };
    // Shot once ended, with the full bar, after its painting has been pumped out to the display.
    auto shoot = [&](HWND dialog) {
        RedrawWindow(dialog, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
        wtltest::Pump();
        shot = ::Screenshot(dialog, "zipprogress_" + LanguageTag(), 4);
    };
    ASSERT_EQ(RunModeless(task, log, shoot), CZipProgressDlg::kComplete);
    EXPECT_TRUE(shot);
    EXPECT_TRUE(barVisible);
    EXPECT_EQ(caption, g_env->ctx->Translator().Text(L"ZipProgressDlg", L"Caption"));
    EXPECT_EQ(caption, LanguageTag() == "zh" ? L"\u6b63\u5728\u538b\u7f29\u4e3a zip..." : L"Compressing into zip...");
}

}  // namespace
