// Database and packing speed: 200 tasks of 200 images, then 2,000 tasks of 100 and 800 of 200 more,
// committed through the database worker (one transaction per task) and read back, then 500 files of
// 200 KB packed into one archive.
// Usage: dbzip_bench FOLDER ; FOLDER (a Windows path, created) takes the database and the files,
// which run.sh then packs with zip -9 for the ratio.
#include <AppContext.h>
#include <AppDatabase.h>
#include <AppPath.h>
#include <DbJobs.h>
#include <ZipWorker.h>
#include <common/CodePage.h>

#include "LinuxTool.h"

#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace {

const int kFiles = 500;
const size_t kFileSize = 200 * 1024;

// The SQL that the downloader uses to commit a task with its images.
class CommitTask : public VxDBTask {
public:
    CommitTask(std::string taskUrl, std::wstring taskPath, int images)
        : VxDBTask(false), url(std::move(taskUrl)), path(std::move(taskPath)), count(images) {}
    void Execute(sqlite3** db) override {
        sqlite3_exec(*db, "BEGIN TRANSACTION;", nullptr, nullptr, nullptr);
        SqlStatement task(*db, "INSERT INTO Task2(url, Name, Cookie, Path, Headers, Proxy) VALUES(?, ?, ?, ?, ?, ?)");
        task.BindText(1, url);
        task.BindText(2, std::wstring(L"Volume ") + std::to_wstring(count));
        task.BindText(3, std::string("session=abcdef0123456789"));
        task.BindText(4, path);
        task.BindText(5, std::string("Referer: http://example.org/\r\n"));
        task.BindInt(6, 0);
        if (task.Run() != SQLITE_DONE) {
            sqlite3_exec(*db, "ROLLBACK TRANSACTION;", nullptr, nullptr, nullptr);
            return;
        }
        rowid = static_cast<int>(sqlite3_last_insert_rowid(*db));
        SqlStatement image(*db, "INSERT INTO Image2(url, ref, target, parent) VALUES(?, ?, ?, ?)");
        for (int i = 1; i <= count; ++i) {
            char target[16];
            std::snprintf(target, sizeof target, "%03d", i);
            image.Reset();
            image.BindText(1, url + "/img/" + target + ".jpg");
            image.BindText(2, url);
            image.BindText(3, std::string(target));
            image.BindInt(4, rowid);
            image.Run();
        }
        sqlite3_exec(*db, "COMMIT TRANSACTION;", nullptr, nullptr, nullptr);
    }
    std::string url;
    std::wstring path;
    int count;
    int rowid = 0;
};

class Barrier : public VxDBTask {
public:
    Barrier() : VxDBTask(false) {}
    void Execute(sqlite3**) override {}
};

double Now() {
    static LARGE_INTEGER freq = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return double(t.QuadPart) / double(freq.QuadPart);
}

// Bytes shaped like the page images that get packed: compressed data (random bytes) with a few
// repeated blocks, so deflate finds some matches but gains little.
std::string FileBytes(uint32_t seed) {
    std::string bytes;
    bytes.reserve(kFileSize);
    uint32_t s = seed * 2654435761u + 1;
    auto next = [&s] {
        s ^= s << 13;
        s ^= s >> 17;
        s ^= s << 5;
        return s;
    };
    while (bytes.size() < kFileSize) {
        size_t block = std::min<size_t>(64, kFileSize - bytes.size());
        if (bytes.size() >= 4096 && next() % 10 == 0) {
            size_t from = bytes.size() - 64 * (1 + next() % 60);
            bytes.append(bytes, from, block);
        } else {
            for (size_t i = 0; i < block; ++i)
                bytes.push_back(static_cast<char>(next() >> 11));
        }
    }
    return bytes;
}

long long FileSize(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data))
        return -1;
    return (static_cast<long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

int PackTask(AppDatabase& db, const std::wstring& folder) {
    std::wstring files = folder + L"pages\\";
    CreateDirectoryW(files.c_str(), nullptr);
    for (int i = 1; i <= kFiles; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "%03d.png", i);
        if (!vxtest::WriteBytes(files + ToWide(name, CP_UTF8), FileBytes(i))) {
            std::fprintf(stderr, "cannot write the files\n");
            return -1;
        }
    }
    CommitTask task("http://example.org/pack", files, kFiles);
    db.RunSync(&task);
    LoadTaskImages images(task.rowid);
    db.RunSync(&images);
    auto* ext = new SetImageStatus(task.rowid);
    for (const ImageRecord& image : images.images)
        ext->Add(image.rowid, L".png", kImageDone);
    db.Post(ext);
    return task.rowid;
}

// Commits TASKS tasks of PER_TASK images, one transaction each, then reads every task's images back
// as the downloader does when it queues a task.
void CommitAndRead(AppDatabase& db, const std::wstring& folder, const char* name, int tasks, int perTask) {
    double start = Now();
    std::vector<int> rowids;
    for (int t = 0; t < tasks; ++t) {
        std::string url = std::string("http://example.org/") + name + "/" + std::to_string(t);
        CommitTask task(url, folder + L"tasks\\" + std::to_wstring(t) + L"\\", perTask);
        db.RunSync(&task);
        rowids.push_back(task.rowid);
    }
    double commit = Now() - start;
    const int images = tasks * perTask;
    std::printf("db commit tasks=%d images=%d seconds=%.3f images/s=%.0f\n", tasks, images, commit, images / commit);

    start = Now();
    int read = 0;
    for (int rowid : rowids) {
        LoadTaskImages load(rowid);
        db.RunSync(&load);
        read += static_cast<int>(load.images.size());
    }
    double readBack = Now() - start;
    std::printf("db read tasks=%d images=%d seconds=%.3f images/s=%.0f\n", tasks, read, readBack, read / readBack);
    if (read != images)
        std::printf("db read MISMATCH: %d of %d images\n", read, images);
    std::fflush(stdout);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: dbzip_bench FOLDER\n");
        return 2;
    }
    std::wstring folder = argv[1];
    if (folder.back() != L'\\')
        folder += L'\\';
    CreateDirectoryW(folder.c_str(), nullptr);
    DeleteFileW((folder + L"Vellix.dat").c_str());
    SetAppPathForTesting(folder);

    AppContext ctx;
    AppDatabase& db = ctx.Database();
    if (!db.Open()) {
        std::fprintf(stderr, "cannot open the database\n");
        return 1;
    }
    db.SetConfigW("DownloadFolder", folder.c_str());

    int packRowid = PackTask(db, folder);
    if (packRowid <= 0)
        return 1;

    // The fixed part of every task's read-back: the job's hop to the worker and back.
    double hopStart = Now();
    for (int i = 0; i < 2000; ++i) {
        Barrier barrier;
        db.RunSync(&barrier);
    }
    std::printf("db empty-job round-trips=2000 us-each=%.1f\n", (Now() - hopStart) * 1e6 / 2000);
    // The read-back rate must not depend on how many rows the table holds: "wide" reads tasks as
    // large as "small" does from a table ten times the size.
    CommitAndRead(db, folder, "small", 200, 200);
    CommitAndRead(db, folder, "large", 2000, 100);
    CommitAndRead(db, folder, "wide", 800, 200);

    // Best of three, as run.sh does for zip -9.
    double best = 1e9;
    for (int round = 0; round < 3; ++round) {
        double start = Now();
        ZipWorkerThread(new CZipWorker(packRowid, -1));
        best = std::min(best, Now() - start);
    }
    std::wstring archive = folder + L"Volume " + std::to_wstring(kFiles) + L".zip";
    std::printf("zip vellix files=%d bytes=%lld seconds=%.3f MB/s=%.1f archive=%lld\n", kFiles,
                static_cast<long long>(kFiles) * kFileSize, best, kFiles * kFileSize / best / 1e6, FileSize(archive));
    std::fflush(stdout);
    return 0;
}
