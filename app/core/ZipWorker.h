// Packs a finished task's images into "<download folder><task name>.zip" on the packing thread,
// reporting every written entry to one bus observer.
#pragma once

#include "AppDatabase.h"
#include "Messages.h"

#include <string>
#include <vector>

class CZipWorker : public VxDBTask {
public:
    CZipWorker(int taskRowid, int observerId);

    // Queues the worker for the packing thread, which deletes it; on false (no thread, or the
    // queue is full) the caller still owns it.
    bool Start();
    void Execute(sqlite3** db) override;
    void Pack();

    int observer;
    std::string name;    // the task's name made fit for a file name, UTF-8
    std::wstring path;   // the task's folder
    std::vector<std::string> entries;  // file names relative to path, UTF-8
    msg_zip_progress progress;
    bool found = false;  // the task's row exists

private:
    bool WriteArchive(const std::wstring& archive);
    void SendProgress();
    void ReportFailure(const std::wstring& archive);
};

// Archives queued or being written, on any thread.
int RunningZipJobs();

// The thread routine: reads the task through the database worker, packs, deletes the worker.
DWORD WINAPI ZipWorkerThread(void* worker);
