// Zip packing with minizip: raw deflate at level 9, no dates, attributes or comments; files are
// opened through CreateFileW so UTF-8 paths work.
#include "ZipWorker.h"

#include <atomic>
#include <deque>
#include <mutex>

#include "AppContext.h"
#include "MsgCenter.h"

#include <common/CodePage.h>
#include <common/Log.h>
#include <common/Path.h>
#include <common/Scoped.h>

#include <minizip/zip.h>
// after zip.h, whose ioapi.h it needs
#include <minizip/iowin32.h>

namespace {

const DWORD kChunk = 64 * 1024;

// The record minizip's Win32 callbacks read, write, seek and free (with free()).
struct Win32File {
    HANDLE handle;
    int error;
};

voidpf Win32OpenFile(voidpf, const char* filename, int mode) {
    DWORD access = GENERIC_READ | GENERIC_WRITE;
    DWORD share = 0;
    DWORD disposition;
    DWORD attributes = FILE_ATTRIBUTE_NORMAL;
    if ((mode & ZLIB_FILEFUNC_MODE_READWRITEFILTER) == ZLIB_FILEFUNC_MODE_READ) {
        access = GENERIC_READ;
        share = FILE_SHARE_READ;
        disposition = OPEN_EXISTING;
    } else if (mode & ZLIB_FILEFUNC_MODE_EXISTING) {
        disposition = OPEN_EXISTING;
    } else if (mode & ZLIB_FILEFUNC_MODE_CREATE) {
        disposition = CREATE_ALWAYS;
        attributes = FILE_ATTRIBUTE_ARCHIVE;
    } else {
        return nullptr;
    }
    AutoHandle handle(
        CreateFileW(ToWideCStr(filename, CP_UTF8).c_str(), access, share, nullptr, disposition, attributes, nullptr));
    if (!handle) {
        Brimholt::Log << "Cannot open " << filename << ": " << GetLastError() << std::endl;
        return nullptr;
    }
    auto* file = static_cast<Win32File*>(malloc(sizeof(Win32File)));
    if (!file)
        return nullptr;
    file->handle = handle.release();
    file->error = 0;
    return file;
}

// A file that cannot be opened gives an empty entry; one that fails while being read fails the
// archive, which would otherwise hold a cut-off copy.
bool WriteFileInto(zipFile zip, const std::wstring& path, std::vector<char>& buffer) {
    AutoHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        return true;
    for (;;) {
        DWORD read = 0;
        if (!ReadFile(file.get(), buffer.data(), kChunk, &read, nullptr)) {
            Brimholt::Log << "Cannot read an image to pack: " << GetLastError() << std::endl;
            return false;
        }
        if (read == 0)
            return true;
        if (zipWriteInFileInZip(zip, buffer.data(), read) != ZIP_OK)
            return false;
    }
}

}  // namespace

CZipWorker::CZipWorker(int taskRowid, int observerId) : VxDBTask(false), observer(observerId), progress(taskRowid) {}

namespace {

std::atomic<int> g_running{0};

// Every archive goes through one queue and one thread, so that a burst of finished tasks does not
// start a thread, and a disk-bound writer, each. The thread lives while the queue has work.
const size_t kMaxQueued = 64;
std::mutex g_queueLock;
std::deque<CZipWorker*> g_queue;
bool g_packing = false;

DWORD WINAPI PackingThread(void*) {
    for (;;) {
        CZipWorker* worker;
        {
            std::lock_guard<std::mutex> guard(g_queueLock);
            if (g_queue.empty()) {
                g_packing = false;
                return 0;
            }
            worker = g_queue.front();
            g_queue.pop_front();
        }
        ZipWorkerThread(worker);
        --g_running;
    }
}

}  // namespace

int RunningZipJobs() { return g_running.load(); }

bool CZipWorker::Start() {
    std::lock_guard<std::mutex> guard(g_queueLock);
    if (g_queue.size() >= kMaxQueued) {
        Brimholt::Log << "Too many archives waiting; task " << progress.taskId << " is not packed" << std::endl;
        return false;
    }
    if (!g_packing) {
        AutoHandle thread(CreateThread(nullptr, 0, PackingThread, nullptr, 0, nullptr));
        if (!thread) {
            Brimholt::Log << "Cannot start the zip thread: " << GetLastError() << std::endl;
            return false;
        }
        g_packing = true;
    }
    g_queue.push_back(this);
    ++g_running;
    return true;
}

void CZipWorker::Execute(sqlite3** db) {
    SqlStatement task(*db, "SELECT Name, Path FROM Task2 WHERE rowid=?");
    task.BindInt(1, progress.taskId);
    SqlRow row;
    if (!task.Step(row))
        return;
    found = true;
    std::wstring taskName = row.ColumnWideText(0);
    SanitizeFileName(taskName);
    name = ToNarrow(taskName, CP_UTF8);
    path = row.ColumnWideText(1);

    SqlStatement images(*db, "SELECT target, ext FROM Image2 WHERE parent=?");
    images.BindInt(1, progress.taskId);
    while (images.Step(row))
        entries.push_back(row.ColumnText(0) + row.ColumnText(1));
    progress.count = static_cast<int>(entries.size());
}

// The archive is written as "NAME.zip.part" and takes its name only once closed whole, and the
// last progress (whoever waits for it, the progress dialog, may open the archive then) comes only
// after that. A failed archive leaves no file of either name and is reported; the last progress
// still goes out so that the waiting ends.
void CZipWorker::Pack() {
    // With no entries the first progress is the last: it waits for the archive.
    progress.failed = !found;
    if (!found || progress.count > 0)
        SendProgress();
    if (!found) {
        Brimholt::Log << "Nothing to pack: task " << progress.taskId << " is gone" << std::endl;
        return;
    }
    std::wstring folder;
    {
        AppContextRef ctx;
        if (ctx)
            folder = ToWide(ctx->Database().GetConfig("DownloadFolder"), CP_UTF8);
    }
    std::wstring archive = folder + ToWide(name, CP_UTF8) + L".zip";
    std::wstring part = archive + L".part";
    bool ok = WriteArchive(part);
    if (ok && !MoveFileExW(part.c_str(), archive.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        Brimholt::Log << "Cannot name the archive " << ToNarrow(archive, CP_UTF8) << ": " << GetLastError()
                      << std::endl;
        ok = false;
    }
    if (!ok) {
        DeleteFileW(part.c_str());
        DeleteFileW(archive.c_str());
    }
    progress.written = progress.count;
    progress.failed = !ok;
    SendProgress();
    if (!ok)
        ReportFailure(archive);
}

bool CZipWorker::WriteArchive(const std::wstring& archive) {
    zlib_filefunc_def files;
    fill_win32_filefunc(&files);
    files.zopen_file = Win32OpenFile;
    zipFile zip = zipOpen2(ToNarrow(archive, CP_UTF8).c_str(), APPEND_STATUS_CREATE, nullptr, &files);
    if (!zip)
        return false;
    std::vector<char> buffer(kChunk);
    bool ok = true;
    for (size_t i = 0; i < entries.size() && ok; ++i) {
        if (zipOpenNewFileInZip(zip, entries[i].c_str(), nullptr, nullptr, 0, nullptr, 0, nullptr, Z_DEFLATED, 9) !=
            ZIP_OK) {
            ok = false;
            break;
        }
        ok = WriteFileInto(zip, path + ToWide(entries[i], CP_UTF8), buffer);
        if (zipCloseFileInZip(zip) != ZIP_OK)
            ok = false;
        if (ok && i + 1 < entries.size()) {
            progress.written = static_cast<int>(i + 1);
            SendProgress();
        }
    }
    if (zipClose(zip, nullptr) != ZIP_OK)
        ok = false;
    return ok;
}

void CZipWorker::SendProgress() {
    AppContextRef ctx;
    if (ctx)
        ctx->Messages().SendTo(observer, &progress);
}

void CZipWorker::ReportFailure(const std::wstring& archive) {
    Brimholt::Log << "Packing task " << progress.taskId << " failed: " << ToNarrow(archive, CP_UTF8) << std::endl;
    AppContextRef ctx;
    if (!ctx)
        return;
    auto* box = new msg_message_box(ctx->Translator().Text(L"Messages", L"ZipFailed", {{L"FILE", archive}}));
    box->flags = MB_ICONERROR;
    if (!ctx->Messages().PostTo(0, box))
        delete box;
}

DWORD WINAPI ZipWorkerThread(void* param) {
    auto* worker = static_cast<CZipWorker*>(param);
    {
        AppContextRef ctx;
        if (ctx)
            ctx->Database().RunSync(worker);
    }
    worker->Pack();
    delete worker;
    return 0;
}
