// The program's own downloader: tasks stored in "Task2" and "Image2", kept in memory, and five
// download slots that fetch one image each. Everything here runs on the user-interface thread.
#pragma once

#include "AppDatabase.h"
#include "DownloadRecords.h"
#include "DownloaderApi.h"
#include "ImageNaming.h"

#include <Dornet.h>

#include <list>
#include <memory>
#include <string>
#include <vector>

class msg_slot_status;
class VxMsg;

// The observer that shows the tasks (the download view) and the one that shows it (the tab view).
const int kDownloadViewObserver = 4;
const int kTabViewObserver = 2;

class CTaskImpl : public Vellix::DownloadTask, public TaskItem {
public:
    CTaskImpl(const std::wstring& comicTitle, const std::wstring& volumeName, const std::string& volumeUrl,
              const std::wstring& downloadFolder, NamingScheme namingScheme);
    virtual ~CTaskImpl() = default;

    void AddImage(const char* url, const char* referer) override;
    void SetCookie(const char* cookie) override;
    void SetHeaders(const char* headers) override;
    void Finish() override {}
    void SetOption(const char* name, const char* value) override;

    int rowid = -1;
    std::wstring title;
    std::wstring volume;
    std::wstring path;  // the task's folder, ending in '\'
    NamingScheme scheme;
};

// Sync: stores the tasks created since the last commit in one transaction. The statements are
// prepared once (Prepare, on the database worker) and kept.
class CAddTask : public VxDBTask {
public:
    CAddTask() : VxDBTask(false) {}
    void Prepare(sqlite3* db);
    void Finalize();
    void Execute(sqlite3** db) override;

    std::vector<std::unique_ptr<CTaskImpl>> tasks;
    bool committed = false;  // the last run stored every task; otherwise it stored none

private:
    bool Insert(sqlite3* db);

    SqlStatement insertTask_;
    SqlStatement insertImage_;
};

// Sync: every stored task. A task left "downloading" by an earlier run is queued again.
class LoadTasks : public VxDBTask {
public:
    LoadTasks() : VxDBTask(false) {}
    void Execute(sqlite3** db) override;
    std::vector<TaskRecord> tasks;
};

// The completion of one slot's request, on the request's worker thread: saves the image through a
// ".part" file and posts the slot's status. It never touches the downloader, which may be gone.
class TaskSlotClient : public Orvane::OvRequest::Client {
public:
    TaskSlotClient(int slotIndex, unsigned requestSerial, std::wstring targetStem, int viewObserver)
        : slot(slotIndex), serial(requestSerial), target(std::move(targetStem)), observer(viewObserver) {}
    virtual ~TaskSlotClient() = default;
    void OnResponse(const Orvane::OvResponse& response) override;

    const int slot;
    const unsigned serial;
    const std::wstring target;  // the task's path + the image's stem
    const int observer;
};

class CDownloaderImpl : public Vellix::Downloader {
public:
    static const int kSlots = 5;

    // Prepares the insert statements and loads the stored tasks through the context's database.
    CDownloaderImpl();
    virtual ~CDownloaderImpl();
    CDownloaderImpl(const CDownloaderImpl&) = delete;
    CDownloaderImpl& operator=(const CDownloaderImpl&) = delete;

    void DiscardPending() override;
    Vellix::DownloadTask* CreateTask(Vellix::Manga* comic, const wchar_t* volumeName, const char* volumeUrl) override;
    void Commit() override;
    void SetActive(bool) override {}

    bool FillSlot(int slot);
    bool LoadNextTask();
    void StartAll();
    void PauseAll();
    void ResumeTask(int rowid);
    void ImageDone(QueuedImage* entry, unsigned result);
    void NotifyIdle();
    void RemoveTasks(const std::vector<int>& rowids);
    void FreeSlots();

    // The download view's handler of "slot_status": applied only while the slot still holds the
    // entry its request was started for.
    void OnSlotStatus(const msg_slot_status& msg);

    const std::list<TaskRecord>& Tasks() const { return tasks_; }
    const TaskRecord* FindTask(int rowid) const;
    const std::list<QueuedImage>& Queue() const { return queue_; }
    const DownloadSlot& Slot(int slot) const { return slots_[slot]; }
    bool AnyBusy() const;

    // Where the tasks are shown; the download view's observer id.
    int viewObserver = kDownloadViewObserver;

private:
    TaskRecord* Find(int rowid);
    void StartSlot(int slot, QueuedImage* entry);
    void FreeSlotsOf(const TaskRecord* task);
    void FinishIfComplete(TaskRecord& task);
    void Post(int observer, VxMsg* msg);
    void ReportLostBatch(const std::vector<std::unique_ptr<CTaskImpl>>& lost);

    CAddTask pending_;
    DownloadSlot slots_[kSlots];
    std::list<TaskRecord> tasks_;
    std::list<QueuedImage> queue_;
};
