// Zip packing: archives read back by Python's zipfile (names, order, deflate, flags, CRC), the
// progress sent to an observer window, and failures that leave no archive and are reported.
#include "CoreTestSupport.h"
#include "DbTestSupport.h"

#include <AppDatabase.h>
#include <LanguageTranslator.h>
#include <LinuxTool.h>
#include <ZipWorker.h>
#include <common/CodePage.h>

#include <Tessara.h>
#include <gtest/gtest.h>
#include <zlib.h>

namespace {

// Observer 0 stands in for the main frame (message boxes); another observer shows the progress.
struct Windows {
    void OnMessageBox(msg_message_box* msg) { boxes.push_back(msg->text); }
    // The worker waits while this runs: what onProgress sees is what it had done by then.
    void OnProgress(msg_zip_progress* msg) {
        progress.push_back({msg->taskId, msg->written, msg->count});
        failed.push_back(msg->failed);
        threads.push_back(GetCurrentThreadId());
        if (onProgress)
            onProgress(*msg);
    }

    TestObserver frame;
    TestObserver dialog;
    std::vector<std::wstring> boxes;
    std::vector<std::vector<int>> progress;
    std::vector<bool> failed;
    std::vector<DWORD> threads;
    std::function<void(const msg_zip_progress&)> onProgress;
};

struct Environment : ::testing::Environment {
    void SetUp() override {
        folder.reset(new ScopedAppFolder());
        ctx.reset(new AppContext());
        ASSERT_TRUE(ctx->Database().Open());
        windows.reset(new Windows());
        MsgCenter& bus = ctx->Messages();
        windows->frame.id = bus.RegisterObserver(windows->frame.window, windows.get());
        ASSERT_EQ(windows->frame.id, 0);
        bus.Subscribe(0, "message_box", MsgThunk<&Windows::OnMessageBox>);
        windows->dialog.id = bus.RegisterObserver(windows->dialog.window, windows.get());
        bus.Subscribe(windows->dialog.id, "zip_progress", MsgThunk<&Windows::OnProgress>);
    }
    void TearDown() override {
        windows.reset();
        ctx.reset();
        folder.reset();
    }
    std::unique_ptr<ScopedAppFolder> folder;
    std::unique_ptr<AppContext> ctx;
    std::unique_ptr<Windows> windows;
};
Environment* g_env = static_cast<Environment*>(::testing::AddGlobalTestEnvironment(new Environment));

std::string Bytes(size_t size, unsigned seed) {
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i) {
        seed = seed * 1103515245 + 12345;
        bytes[i] = static_cast<char>(i % 7 == 0 ? (seed >> 16) : 'a' + i % 13);  // compressible, not trivial
    }
    return bytes;
}

unsigned long Crc(const std::string& bytes) {
    return crc32(0, reinterpret_cast<const Bytef*>(bytes.data()), static_cast<uInt>(bytes.size()));
}

class ZipTest : public ::testing::Test {
protected:
    void SetUp() override {
        static int counter = 0;
        downloads = *g_env->folder + (L"dl" + std::to_wstring(++counter) + L"\\").c_str();
        CreateDirectoryW(downloads.c_str(), nullptr);
        db().SetConfigW("DownloadFolder", downloads.c_str());
        windows().boxes.clear();
        windows().progress.clear();
        windows().failed.clear();
        windows().threads.clear();
        windows().onProgress = nullptr;
    }
    void TearDown() override { windows().onProgress = nullptr; }
    static AppDatabase& db() { return g_env->ctx->Database(); }
    static Windows& windows() { return *g_env->windows; }

    // A task row with its images; each file is written into the task's folder unless its
    // content is null. Returns the rowid.
    int AddTask(const std::string& name, const std::vector<std::pair<std::string, const std::string*>>& images) {
        static int rowid = 100;
        ++rowid;
        std::wstring folder = downloads + L"task" + std::to_wstring(rowid) + L"\\";
        CreateDirectoryW(folder.c_str(), nullptr);
        std::string sql = "INSERT INTO Task2(rowid, url, Name, Path, Status) VALUES(" + std::to_string(rowid) +
                          ", 'http://t/" + std::to_string(rowid) + "', '" + name + "', '" + ToNarrow(folder, CP_UTF8) +
                          "', 2);";
        for (const auto& image : images) {
            size_t dot = image.first.rfind('.');
            sql += "INSERT INTO Image2(url, target, ext, status, parent) VALUES('http://i/x', '" +
                   image.first.substr(0, dot) + "', '" + image.first.substr(dot) + "', 2, " + std::to_string(rowid) +
                   ");";
            if (image.second)
                WriteBytes(folder + ToWide(image.first, CP_UTF8), *image.second);
        }
        EXPECT_TRUE(ExecSql(*g_env->folder + L"Vellix.dat", sql));
        return rowid;
    }

    // Runs the zip thread's routine on a thread of its own while this thread answers its sends.
    void Pack(int rowid) {
        std::atomic<bool> done{false};
        auto* worker = new CZipWorker(rowid, windows().dialog.id);
        std::thread zip([&] {
            ZipWorkerThread(worker);
            done = true;
        });
        bool finished = PumpUntil([&] { return done.load(); }, 30000);
        zip.join();
        ASSERT_TRUE(finished);
        PumpPending();
    }

    std::string Entries(const std::wstring& archive) { return CoreTool({"zip", vxtest::UnixPath(archive)}); }

    // At the last progress: the archive as another reader finds it then, and whether a part
    // file is still there.
    void WatchTheEnd(const std::wstring& archive) {
        windows().onProgress = [this, archive](const msg_zip_progress& msg) {
            if (msg.written != msg.count)
                return;
            atEnd = Exists(archive) ? Entries(archive) : "no archive";
            partAtEnd = Exists(archive + L".part");
        };
    }
    std::string atEnd;
    bool partAtEnd = true;

    // Only the last progress may say that no archive was made.
    std::vector<bool> Failures(bool last) {
        std::vector<bool> expected(windows().progress.size(), false);
        if (!expected.empty())
            expected.back() = last;
        return expected;
    }

    std::vector<std::vector<int>> Steps(int rowid, int count) {
        std::vector<std::vector<int>> steps;
        for (int i = 0; i <= count; ++i)
            steps.push_back({rowid, i, count});
        return steps;
    }

    std::wstring downloads;
};

TEST_F(ZipTest, EveryImageBecomesADeflatedEntryInRowOrder) {
    const std::string big = Bytes(200 * 1024, 1), small = Bytes(3000, 2), empty;
    int task = AddTask("Vol 1", {{"003.jpg", &big}, {"001.png", &small}, {"\xE9\xA1\xB5 2.gif", &empty}});
    WatchTheEnd(downloads + L"Vol 1.zip");
    Pack(task);
    EXPECT_EQ(windows().progress, Steps(task, 3));
    EXPECT_EQ(windows().failed, Failures(false));
    for (DWORD thread : windows().threads)
        EXPECT_EQ(thread, GetCurrentThreadId());
    EXPECT_TRUE(windows().boxes.empty());

    std::string entry = R"(, "date": [1980, 0, 0, 0, 0, 0], "extra": 0, "comment": "", "attr": 0})";
    EXPECT_EQ(Entries(downloads + L"Vol 1.zip"),
              R"({"bad": null, "comment": "", "entries": [)"
              R"({"name": "003.jpg", "method": 8, "flags": 2, "crc": )" +
                  std::to_string(Crc(big)) + R"(, "size": 204800)" + entry + ", " +
                  R"({"name": "001.png", "method": 8, "flags": 2, "crc": )" + std::to_string(Crc(small)) +
                  R"(, "size": 3000)" + entry + ", " +
                  R"({"name": "\u9875 2.gif", "method": 8, "flags": 2, "crc": 0, "size": 0)" + entry + "]}");
    EXPECT_EQ(atEnd, Entries(downloads + L"Vol 1.zip"));
    EXPECT_FALSE(partAtEnd);
    EXPECT_FALSE(Exists(downloads + L"Vol 1.zip.part"));
}

TEST_F(ZipTest, TheArchiveIsNamedAfterTheTaskMadeFitForAFileName) {
    const std::string data = "x";
    int task = AddTask("Vol: 2? <a|b> \"c\" d*e/f\\g \xE6\x9C\xAC", {{"1.jpg", &data}});
    Pack(task);
    EXPECT_TRUE(Exists(downloads + L"Vol_ 2_ _a_b_ _c_ d_e_f_g \u672c.zip"));
    EXPECT_TRUE(windows().boxes.empty());
}

TEST_F(ZipTest, AMissingImageGivesAnEmptyEntryAndARepeatReplacesTheArchive) {
    const std::string data = Bytes(5000, 3);
    int task = AddTask("Vol 3", {{"1.jpg", &data}, {"2.jpg", nullptr}});
    WriteBytes(downloads + L"Vol 3.zip", "an older file of that name that is not an archive at all");
    Pack(task);
    Pack(task);
    EXPECT_EQ(windows().progress.size(), 6u);
    std::string entries = Entries(downloads + L"Vol 3.zip");
    EXPECT_NE(entries.find(R"({"name": "1.jpg", "method": 8, "flags": 2, "crc": )" + std::to_string(Crc(data)) +
                           R"(, "size": 5000,)"),
              std::string::npos)
        << entries;
    EXPECT_NE(entries.find(R"({"name": "2.jpg", "method": 8, "flags": 2, "crc": 0, "size": 0,)"), std::string::npos)
        << entries;
}

TEST_F(ZipTest, ATaskWithoutImagesGivesAnEmptyArchive) {
    int task = AddTask("Vol 4", {});
    WatchTheEnd(downloads + L"Vol 4.zip");
    Pack(task);
    EXPECT_EQ(windows().progress, Steps(task, 0));
    EXPECT_EQ(windows().failed, Failures(false));
    EXPECT_EQ(Entries(downloads + L"Vol 4.zip"), R"({"bad": null, "comment": "", "entries": []})");
    EXPECT_EQ(atEnd, Entries(downloads + L"Vol 4.zip"));
    EXPECT_FALSE(partAtEnd);
}

TEST_F(ZipTest, AMissingTaskMakesNoArchive) {
    Pack(99999);
    EXPECT_EQ(windows().progress, Steps(99999, 0));
    EXPECT_EQ(windows().failed, Failures(true));
    EXPECT_FALSE(Exists(downloads + L".zip"));
    EXPECT_TRUE(windows().boxes.empty());
}

// The archive cannot be made (a folder of its name, which only the finished archive meets, or no
// download folder): nothing is left, the progress still reaches its end and the main frame is told.
TEST_F(ZipTest, AFailedArchiveIsReportedAndTheProgressStillEnds) {
    const std::string data = "data";
    int task = AddTask("Vol 5", {{"1.jpg", &data}, {"2.jpg", &data}});
    ASSERT_TRUE(CreateDirectoryW((downloads + L"Vol 5.zip").c_str(), nullptr));
    WatchTheEnd(downloads + L"Vol 5.zip");
    Pack(task);
    EXPECT_EQ(windows().progress, Steps(task, 2));
    EXPECT_EQ(windows().failed, Failures(true));
    EXPECT_FALSE(partAtEnd);
    EXPECT_FALSE(Exists(downloads + L"Vol 5.zip.part"));
    ASSERT_TRUE(PumpUntil([] { return !windows().boxes.empty(); }));
    std::wstring expected =
        g_env->ctx->Translator().Text(L"Messages", L"ZipFailed", {{L"FILE", downloads + L"Vol 5.zip"}});
    EXPECT_EQ(windows().boxes, std::vector<std::wstring>{expected});
    EXPECT_NE(expected.find(downloads + L"Vol 5.zip"), std::wstring::npos);

    windows().boxes.clear();
    windows().progress.clear();
    windows().failed.clear();
    std::wstring gone = downloads + L"missing\\";
    db().SetConfigW("DownloadFolder", gone.c_str());
    Pack(task);
    EXPECT_EQ(windows().progress, (std::vector<std::vector<int>>{{task, 0, 2}, {task, 2, 2}}));
    EXPECT_EQ(windows().failed, Failures(true));
    ASSERT_TRUE(PumpUntil([] { return !windows().boxes.empty(); }));
    EXPECT_FALSE(Exists(gone));
}

// An entry the archive cannot hold (a name over 65535 bytes) fails it half-way: neither the part
// file nor an older archive of the name is left.
TEST_F(ZipTest, AnArchiveThatFailsHalfWayLeavesNoFile) {
    const std::string data = Bytes(100000, 5);
    int task = AddTask("Vol 7", {{"1.jpg", &data}, {std::string(70000, 'x') + ".jpg", nullptr}, {"3.jpg", &data}});
    std::wstring archive = downloads + L"Vol 7.zip";
    WriteBytes(archive, "an older archive");
    bool partWhileWriting = false;
    windows().onProgress = [&](const msg_zip_progress& msg) {
        if (msg.written == 1)
            partWhileWriting = Exists(archive + L".part");
    };
    Pack(task);
    EXPECT_TRUE(partWhileWriting);
    EXPECT_EQ(windows().progress, (std::vector<std::vector<int>>{{task, 0, 3}, {task, 1, 3}, {task, 3, 3}}));
    EXPECT_EQ(windows().failed, Failures(true));
    EXPECT_FALSE(Exists(archive));
    EXPECT_FALSE(Exists(archive + L".part"));
    ASSERT_TRUE(PumpUntil([] { return !windows().boxes.empty(); }));
}

TEST_F(ZipTest, StartRunsTheWorkerOnItsOwnThread) {
    const std::string data = Bytes(70000, 4);
    int task = AddTask("Vol 6", {{"1.jpg", &data}});
    auto* worker = new CZipWorker(task, windows().dialog.id);
    ASSERT_TRUE(worker->Start());
    ASSERT_TRUE(PumpUntil([] { return windows().progress.size() == 2; }));
    // The last progress comes once the archive is closed: nothing holds it any more.
    HANDLE file = CreateFileW((downloads + L"Vol 6.zip").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(file, INVALID_HANDLE_VALUE) << GetLastError();
    CloseHandle(file);
    EXPECT_EQ(windows().progress, Steps(task, 1));
    EXPECT_NE(Entries(downloads + L"Vol 6.zip").find(R"("crc": )" + std::to_string(Crc(data))), std::string::npos);
}

// A burst of finished tasks is packed in turn, not side by side, every archive whole.
TEST_F(ZipTest, StartedWorkersQueueForOnePackingThread) {
    const std::string data = Bytes(40000, 5);
    std::vector<int> tasks;
    for (int i = 0; i < 8; ++i)
        tasks.push_back(AddTask("Burst " + std::to_string(i), {{"1.jpg", &data}, {"2.jpg", &data}}));
    for (int task : tasks) {
        auto* worker = new CZipWorker(task, windows().dialog.id);
        ASSERT_TRUE(worker->Start());
    }
    ASSERT_TRUE(PumpUntil([&] { return windows().progress.size() == 3 * tasks.size(); }, 30000));
    ASSERT_TRUE(PumpUntil([] { return RunningZipJobs() == 0; }));
    for (size_t i = 0; i < tasks.size(); ++i) {
        SCOPED_TRACE(i);
        std::vector<std::vector<int>> steps(windows().progress.begin() + 3 * i, windows().progress.begin() + 3 * i + 3);
        EXPECT_EQ(steps, Steps(tasks[i], 2));
        std::string entries = Entries(downloads + L"Burst " + std::to_wstring(i) + L".zip");
        EXPECT_NE(entries.find("2.jpg"), std::string::npos) << entries;
    }
    EXPECT_EQ(windows().failed, std::vector<bool>(3 * tasks.size(), false));
}

// The packing thread is held in its first send while this thread starts more workers than the
// queue takes; the refused ones stay the caller's.
TEST_F(ZipTest, TheQueueRefusesWorkersBeyondItsBound) {
    std::vector<CZipWorker*> refused;
    int accepted = 0;
    for (int i = 0; i < 70; ++i) {
        auto* worker = new CZipWorker(90000 + i, windows().dialog.id);
        if (worker->Start())
            ++accepted;
        else
            refused.push_back(worker);
    }
    EXPECT_GE(accepted, 64);
    EXPECT_LE(accepted, 65);
    EXPECT_EQ(refused.size(), 70u - accepted);
    for (CZipWorker* worker : refused)
        delete worker;
    ASSERT_TRUE(PumpUntil([&] { return windows().progress.size() == static_cast<size_t>(accepted); }, 30000));
    ASSERT_TRUE(PumpUntil([] { return RunningZipJobs() == 0; }));
}

}  // namespace
