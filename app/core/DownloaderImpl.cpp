// The built-in downloader: tasks and their database rows, the queue of images and the five slots.
#include "DownloaderImpl.h"

#include "AppContext.h"
#include "DbJobs.h"
#include "LanguageTranslator.h"
#include "Messages.h"
#include "MsgCenter.h"
#include "ParseContext.h"

#include <common/CodePage.h>
#include <common/Log.h>
#include <common/Path.h>
#include <common/Url.h>

#include <functional>
#include <set>

namespace {

// A synchronous database job made of a function.
class DbCall : public VxDBTask {
public:
    explicit DbCall(std::function<void(sqlite3*)> call) : VxDBTask(false), call_(std::move(call)) {}
    void Execute(sqlite3** db) override { call_(*db); }

private:
    std::function<void(sqlite3*)> call_;
};

std::string Text(const char* text) {
    return text ? text : "";
}

// Serials are never reused in a process, so no completion can pass for that of a later request.
unsigned g_nextSerial = 0;

AppDatabase* Database() {
    AppContext* ctx = GetAppContext();
    return ctx ? &ctx->Database() : nullptr;
}

}  // namespace

// ---- tasks ------------------------------------------------------------------------------------

CTaskImpl::CTaskImpl(const std::wstring& comicTitle, const std::wstring& volumeName, const std::string& volumeUrl,
                     const std::wstring& downloadFolder, NamingScheme namingScheme)
    : title(comicTitle), volume(volumeName), scheme(namingScheme) {
    name = title + L" " + volume;
    url = volumeUrl;
    path = downloadFolder + NameImage(scheme, title, volume, 0);
}

void CTaskImpl::AddImage(const char* imageUrl, const char* referer) {
    ImageRecord image;
    image.url = Text(imageUrl);
    image.ref = Text(referer);
    image.target = NameImage(scheme, title, volume, static_cast<int>(images.size()) + 1);
    images.push_back(std::move(image));
}

void CTaskImpl::SetCookie(const char* text) {
    cookie = Text(text);
}

void CTaskImpl::SetHeaders(const char* text) {
    headers = Text(text);
}

void CTaskImpl::SetOption(const char* option, const char*) {
    if (option && std::string(option) == "Proxy")
        proxy = true;
}

// ---- jobs -------------------------------------------------------------------------------------

void CAddTask::Prepare(sqlite3* db) {
    insertTask_.Prepare(db, "INSERT INTO Task2(url, Name, Cookie, Path, Headers, Proxy) VALUES(?, ?, ?, ?, ?, ?)");
    insertImage_.Prepare(db, "INSERT INTO Image2(url, ref, target, parent) VALUES(?, ?, ?, ?)");
}

void CAddTask::Finalize() {
    insertTask_.Finalize();
    insertImage_.Finalize();
}

// A task or image row that does not go in undoes the whole batch, so that no task is stored
// without all of its images.
bool CAddTask::Insert(sqlite3* db) {
    for (auto& task : tasks) {
        insertTask_.Reset();
        insertTask_.BindText(1, task->url);
        insertTask_.BindText(2, task->name);
        insertTask_.BindText(3, task->cookie);
        insertTask_.BindText(4, task->path);
        insertTask_.BindText(5, task->headers);
        insertTask_.BindInt(6, task->proxy ? 1 : 0);
        if (insertTask_.Run() != SQLITE_DONE) {
            Brimholt::Log << "Task not stored: " << task->url << ": " << sqlite3_errmsg(db) << std::endl;
            return false;
        }
        task->rowid = static_cast<int>(sqlite3_last_insert_rowid(db));
        for (const ImageRecord& image : task->images) {
            insertImage_.Reset();
            insertImage_.BindText(1, image.url);
            insertImage_.BindText(2, image.ref);
            insertImage_.BindText(3, image.target);
            insertImage_.BindInt(4, task->rowid);
            if (insertImage_.Run() != SQLITE_DONE) {
                Brimholt::Log << "Image not stored: " << image.url << ": " << sqlite3_errmsg(db) << std::endl;
                return false;
            }
        }
    }
    return true;
}

void CAddTask::Execute(sqlite3** db) {
    committed = false;
    if (!insertTask_.Valid() || !insertImage_.Valid()) {
        Brimholt::Log << "Tasks not stored: the insert statements are not prepared" << std::endl;
    } else if (sqlite3_exec(*db, "BEGIN TRANSACTION;", nullptr, nullptr, nullptr) == SQLITE_OK) {
        if (Insert(*db) && sqlite3_exec(*db, "COMMIT TRANSACTION;", nullptr, nullptr, nullptr) == SQLITE_OK)
            committed = true;
        else
            sqlite3_exec(*db, "ROLLBACK TRANSACTION;", nullptr, nullptr, nullptr);
    }
    insertTask_.Reset();
    insertImage_.Reset();
    if (!committed)
        for (auto& task : tasks)
            task->rowid = -1;
}

void LoadTasks::Execute(sqlite3** db) {
    SqlStatement sql(*db, "SELECT rowid, url, Name, Cookie, Headers, Proxy, Path, Status FROM Task2");
    SqlStatement counts(*db, "SELECT COUNT(*), SUM(status) FROM Image2 WHERE parent=?");
    SqlRow row;
    while (sql.Step(row)) {
        TaskRecord task;
        task.rowid = row.ColumnInt(0);
        task.url = row.ColumnText(1);
        task.name = row.ColumnWideText(2);
        task.cookie = row.ColumnText(3);
        task.headers = row.ColumnText(4);
        task.proxy = row.ColumnInt(5) != 0;
        task.path = row.ColumnWideText(6);
        task.status = row.ColumnInt(7);
        // Nothing is downloading at start-up: such a task is queued again.
        if (task.status == kTaskDownloading)
            task.status = kTaskQueued;
        if (task.status == kTaskFinished) {
            counts.Reset();
            counts.BindInt(1, task.rowid);
            SqlRow sums;
            if (counts.Step(sums)) {
                // Each image of a finished task is done or failed, so the sum is count times the
                // done code plus the codes' difference for each failed image.
                int count = sums.ColumnInt(0);
                int sum = sums.ColumnInt(1);
                task.total = count;
                task.failed = (sum - kImageDone * count) / (kImageFailed - kImageDone);
                task.done = count - task.failed;
            }
        }
        tasks.push_back(std::move(task));
    }
}

// ---- the slot's completion --------------------------------------------------------------------

namespace {

// The error is read before anything else runs, the log stream included, which may change it.
bool SaveWhole(const Orvane::OvResponse& response, const std::wstring& part, const std::wstring& file) {
    if (!response.SaveToFile(part.c_str())) {
        DWORD error = GetLastError();
        Brimholt::Log << "Image not saved: SaveToFile " << ToNarrow(part, CP_UTF8) << " failed, error " << error
                      << std::endl;
        return false;
    }
    // An empty answer is no image, whatever its status said.
    WIN32_FILE_ATTRIBUTE_DATA saved = {};
    if (GetFileAttributesExW(part.c_str(), GetFileExInfoStandard, &saved) && saved.nFileSizeLow == 0 &&
        saved.nFileSizeHigh == 0) {
        Brimholt::Log << "Image not saved: the answer is empty: " << ToNarrow(file, CP_UTF8) << std::endl;
        return false;
    }
    if (!MoveFileExW(part.c_str(), file.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        DWORD error = GetLastError();
        Brimholt::Log << "Image not saved: MoveFileExW to " << ToNarrow(file, CP_UTF8) << " failed, error " << error
                      << std::endl;
        return false;
    }
    return true;
}

}  // namespace

// The body goes to a file of this request's own first (its worker thread's id is unique among the
// requests in flight, also a stale one of the same image) and takes the final name only whole.
void TaskSlotClient::OnResponse(const Orvane::OvResponse& response) {
    unsigned result = msg_slot_status::kFailed;
    std::wstring ext;
    if (response.GetState() == Orvane::kStateComplete && response.GetStatusCode() == 200) {
        std::string type;
        std::string requestUrl;
        {
            Orvane::OvStringFetcher<char> sink(type);
            response.GetHeader(sink, "Content-Type");
        }
        {
            Orvane::OvStringFetcher<char> sink(requestUrl);
            response.GetRequestURL(sink);
        }
        ext = ImageExtension(type, requestUrl);
        if (IsTextAnswer(type)) {
            Brimholt::Log << "Image not saved: the answer is " << type << ", not an image: " << requestUrl << std::endl;
            ext.clear();
        }
    }
    if (!ext.empty()) {
        std::wstring file = SavePath(target + ext);
        std::wstring part = SavePath(target + ext + L"." + std::to_wstring(GetCurrentThreadId()) + L".part");
        if (SaveWhole(response, part, file))
            result = msg_slot_status::kSaved;
        else
            DeleteFileW(part.c_str());
    }
    auto* msg = new msg_slot_status(slot, ext, result, serial);
    {
        AppContextRef ctx;
        if (!ctx || !ctx->Messages().PostTo(observer, msg))
            delete msg;
    }
    delete this;
}

// ---- the downloader ---------------------------------------------------------------------------

CDownloaderImpl::CDownloaderImpl() {
    AppDatabase* db = Database();
    if (!db) {
        Brimholt::Log << "Downloader built without a context" << std::endl;
        return;
    }
    DbCall prepare([this](sqlite3* handle) { pending_.Prepare(handle); });
    db->RunSync(&prepare);
    LoadTasks load;
    db->RunSync(&load);
    tasks_.assign(load.tasks.begin(), load.tasks.end());
}

// The statements go on the database worker while it runs; once it stopped they go here, and the
// connection, closed meanwhile, with the last of them.
CDownloaderImpl::~CDownloaderImpl() {
    bool finalized = false;
    if (AppDatabase* db = Database()) {
        DbCall finalize([this, &finalized](sqlite3*) {
            pending_.Finalize();
            finalized = true;
        });
        db->RunSync(&finalize);
    }
    if (!finalized)
        pending_.Finalize();
}

void CDownloaderImpl::DiscardPending() {
    pending_.tasks.clear();
}

Vellix::DownloadTask* CDownloaderImpl::CreateTask(Vellix::Manga* comic, const wchar_t* volumeName,
                                                  const char* volumeUrl) {
    Vellix::StrObject name;
    if (comic)
        comic->GetField(2, &name);
    std::wstring folder;
    int renameType = 1;
    if (AppDatabase* db = Database()) {
        folder = ToWide(db->GetConfig("DownloadFolder"), CP_UTF8);
        renameType = db->GetConfigInt("RenameType", 1);
    }
    pending_.tasks.emplace_back(new CTaskImpl(ToWide(name.text, CP_UTF8), volumeName ? volumeName : L"",
                                              Text(volumeUrl), folder, NamingSchemeOf(renameType)));
    return pending_.tasks.back().get();
}

void CDownloaderImpl::Commit() {
    // The url column is unique: a task already stored, or twice in this batch, is dropped rather
    // than undoing the whole batch.
    std::set<std::string> urls;
    for (const TaskRecord& task : tasks_)
        urls.insert(task.url);
    std::vector<std::unique_ptr<CTaskImpl>> batch;
    for (auto& task : pending_.tasks) {
        if (urls.insert(task->url).second)
            batch.push_back(std::move(task));
        else
            Brimholt::Log << "Task already listed: " << task->url << std::endl;
    }
    pending_.tasks = std::move(batch);

    if (!pending_.tasks.empty()) {
        pending_.committed = false;
        if (AppDatabase* db = Database())
            db->RunSync(&pending_);
        if (!pending_.committed) {
            ReportLostBatch(pending_.tasks);
        } else {
            std::vector<TaskRecord> added;
            for (const auto& task : pending_.tasks) {
                TaskRecord record;
                record.name = task->name;
                record.url = task->url;
                record.rowid = task->rowid;
                record.cookie = task->cookie;
                record.headers = task->headers;
                record.path = task->path;
                record.proxy = task->proxy;
                added.push_back(record);
            }
            Post(viewObserver, new msg_add_ui_tasks(added));
            tasks_.insert(tasks_.end(), added.begin(), added.end());
        }
        pending_.tasks.clear();
    }

    for (int i = 0; i < kSlots; ++i)
        if (!slots_[i].entry)
            FillSlot(i);
    HWND view = nullptr;
    if (AppContext* ctx = GetAppContext())
        view = ctx->Messages().GetObserverWindow(viewObserver);
    Post(kTabViewObserver, new msg_set_active(view));
    Post(viewObserver, new msg_download_notify(msg_download_notify::kQueued));
}

void CDownloaderImpl::ReportLostBatch(const std::vector<std::unique_ptr<CTaskImpl>>& lost) {
    for (const auto& task : lost)
        Brimholt::Log << "Task not added: " << ToNarrow(task->name, CP_UTF8) << " " << task->url << std::endl;
    auto* box = new msg_message_box(std::wstring());
    box->SetText(L"Messages", L"AddTasksFailed");
    box->flags = MB_ICONWARNING;
    Post(0, box);
}

bool CDownloaderImpl::FillSlot(int slot) {
    if (slots_[slot].entry)
        return true;
    // A task whose images all have a result already queues nothing; the next one is loaded then.
    do {
        for (QueuedImage& entry : queue_) {
            // A paused task keeps its waiting images until it is started again.
            if (entry.image.status == kImageWaiting && entry.task->status != kTaskPaused) {
                StartSlot(slot, &entry);
                return true;
            }
        }
    } while (LoadNextTask());
    return false;
}

bool CDownloaderImpl::LoadNextTask() {
    TaskRecord* next = nullptr;
    for (TaskRecord& task : tasks_) {
        if (task.status == kTaskQueued && task.total == 0) {
            next = &task;
            break;
        }
    }
    AppDatabase* db = Database();
    if (!next || !db)
        return false;
    LoadTaskImages images(next->rowid);
    db->RunSync(&images);
    next->total = static_cast<int>(images.images.size());
    next->done = images.done;
    next->failed = images.failed;
    for (ImageRecord& image : images.images)
        queue_.push_back(QueuedImage{std::move(image), next});
    if (!CreateDirectoryTree(next->path))
        Brimholt::Log << "Cannot create the folder of task " << next->rowid << std::endl;
    next->status = kTaskDownloading;
    Post(viewObserver, new msg_task_progress(next->rowid, next->done, next->failed, next->total));
    FinishIfComplete(*next);
    return true;
}

void CDownloaderImpl::StartSlot(int slot, QueuedImage* entry) {
    DownloadSlot& s = slots_[slot];
    entry->image.status = kImageInSlot;
    s.entry = entry;
    s.serial = ++g_nextSerial;
    const TaskRecord& task = *entry->task;
    auto* client = new TaskSlotClient(slot, s.serial, task.path + entry->image.target, viewObserver);
    Orvane::OvRequest* request = Orvane::OvRequest::CreateInstance(entry->image.url.c_str(), *client, nullptr);
    request->SetTimeout(300);
    request->SetHeader("Referer", entry->image.ref.c_str());
    AppContext* ctx = GetAppContext();
    if (ctx)
        request->SetHeader("Accept-Language", ctx->Translator().CurrentCode().c_str());
    if (!task.cookie.empty())
        request->SetHeader("Cookie", task.cookie.c_str());
    std::string proxy;
    if (task.proxy)
        proxy = ctx ? ctx->Database().GetConfig("Proxy") : std::string();
    else
        proxy = GetIEProxyForUrl(entry->image.url.c_str());
    if (!proxy.empty())
        request->SetProxy(proxy.c_str());
    for (const auto& header : ParseHeaderLines(task.headers))
        request->SetHeader(header.first.c_str(), header.second.c_str());
    // A request that cannot start (an empty or relative address) fails the image at once, so the
    // slot frees and the task can finish.
    if (request->Start() != Orvane::kStarted) {
        delete client;
        Post(viewObserver, new msg_slot_status(slot, std::wstring(), msg_slot_status::kFailed, s.serial));
    }
}

void CDownloaderImpl::StartAll() {
    for (TaskRecord& task : tasks_) {
        if (task.status == kTaskPaused) {
            task.status = kTaskQueued;
            Post(viewObserver, new msg_task_status(task.rowid, kTaskQueued, task.failed));
        }
    }
    for (int i = 0; i < kSlots; ++i) {
        if (slots_[i].entry)
            continue;
        if (!FillSlot(i))
            break;
    }
    NotifyIdle();
}

void CDownloaderImpl::PauseAll() {
    FreeSlots();
    for (TaskRecord& task : tasks_) {
        if (task.status != kTaskFinished) {
            task.status = kTaskPaused;
            Post(viewObserver, new msg_task_status(task.rowid, kTaskPaused, task.failed));
        }
    }
}

// Its old queue entries go first, so that no image is queued, or counted, twice.
void CDownloaderImpl::ResumeTask(int rowid) {
    TaskRecord* task = Find(rowid);
    AppDatabase* db = Database();
    if (!task || !db)
        return;
    FreeSlotsOf(task);
    queue_.remove_if([task](const QueuedImage& entry) { return entry.task == task; });
    task->status = kTaskQueued;
    LoadTaskImages images(rowid);
    db->RunSync(&images);
    task->total = static_cast<int>(images.images.size());
    task->done = images.done;
    task->failed = images.failed;
    for (ImageRecord& image : images.images)
        if (image.status == kImageWaiting)
            queue_.push_back(QueuedImage{std::move(image), task});
    // A repaired task may have lost its folder.
    CreateDirectoryTree(task->path);
    Post(viewObserver, new msg_task_status(rowid, kTaskQueued, task->failed));
    FinishIfComplete(*task);
}

void CDownloaderImpl::ImageDone(QueuedImage* entry, unsigned result) {
    int status = result == msg_slot_status::kSaved ? kImageDone : kImageFailed;
    entry->image.status = status;
    TaskRecord& task = *entry->task;
    if (AppDatabase* db = Database()) {
        auto* job = new SetImageStatus(task.rowid);
        job->Add(entry->image.rowid, entry->image.ext, status);
        db->Post(job);
    }
    if (status == kImageDone)
        ++task.done;
    else
        ++task.failed;
    if (task.total > 0 && task.done + task.failed >= task.total)
        FinishIfComplete(task);
    else
        Post(viewObserver, new msg_task_progress(task.rowid, task.done, task.failed, task.total));
}

// ">=" rather than "==": whatever went wrong in the counting, a task with every image answered
// finishes. Called once a task's images are loaded: a task without any finishes at once, shown as
// failed, rather than downloading for ever.
void CDownloaderImpl::FinishIfComplete(TaskRecord& task) {
    bool empty = task.total <= 0;
    if (!empty && task.done + task.failed < task.total)
        return;
    task.status = kTaskFinished;
    if (AppDatabase* db = Database())
        db->Post(new SetTaskStatus(task.rowid, kTaskFinished));
    Post(viewObserver, new msg_task_status(task.rowid, kTaskFinished, empty ? 1 : task.failed));
}

void CDownloaderImpl::OnSlotStatus(const msg_slot_status& msg) {
    if (msg.slot < 0 || msg.slot >= kSlots)
        return;
    DownloadSlot& slot = slots_[msg.slot];
    if (!slot.entry || slot.serial != msg.serial)
        return;  // the slot was emptied (pause, delete, exit) after this request started
    slot.entry->image.ext = msg.ext;
    QueuedImage* entry = slot.entry;
    slot.entry = nullptr;
    ImageDone(entry, msg.result);
    if (!FillSlot(msg.slot))
        NotifyIdle();
}

void CDownloaderImpl::NotifyIdle() {
    if (!AnyBusy())
        Post(viewObserver, new msg_download_notify(msg_download_notify::kIdle));
}

void CDownloaderImpl::RemoveTasks(const std::vector<int>& rowids) {
    for (int rowid : rowids) {
        TaskRecord* task = Find(rowid);
        if (!task)
            continue;
        FreeSlotsOf(task);
        queue_.remove_if([task](const QueuedImage& entry) { return entry.task == task; });
        tasks_.remove_if([task](const TaskRecord& t) { return &t == task; });
    }
    // The slots of a removed task would otherwise stay idle until the next commit or start.
    for (int i = 0; i < kSlots; ++i)
        FillSlot(i);
    NotifyIdle();
}

void CDownloaderImpl::FreeSlots() {
    for (DownloadSlot& slot : slots_) {
        if (slot.entry) {
            slot.entry->image.status = kImageWaiting;
            slot.entry = nullptr;
        }
    }
}

void CDownloaderImpl::FreeSlotsOf(const TaskRecord* task) {
    for (DownloadSlot& slot : slots_) {
        if (slot.entry && slot.entry->task == task) {
            slot.entry->image.status = kImageWaiting;
            slot.entry = nullptr;
        }
    }
}

bool CDownloaderImpl::AnyBusy() const {
    for (const DownloadSlot& slot : slots_)
        if (slot.entry)
            return true;
    return false;
}

const TaskRecord* CDownloaderImpl::FindTask(int rowid) const {
    for (const TaskRecord& task : tasks_)
        if (task.rowid == rowid)
            return &task;
    return nullptr;
}

TaskRecord* CDownloaderImpl::Find(int rowid) {
    return const_cast<TaskRecord*>(FindTask(rowid));
}

void CDownloaderImpl::Post(int observer, VxMsg* msg) {
    AppContext* ctx = GetAppContext();
    if (!ctx || !ctx->Messages().PostTo(observer, msg))
        delete msg;
}
