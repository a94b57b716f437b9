// Opening and upgrading "Vellix.dat", the worker that runs the jobs, the settings cache, and the
// statement and row wrappers the jobs use.
#include "AppDatabase.h"

#include "AppPath.h"
#include "DbJobs.h"

#include <common/CodePage.h>
#include <common/Log.h>

#include <Quillet.h>

#include <climits>
#include <new>

namespace {

// Each of these fails harmlessly on a file that already has the table or column: this is the
// whole migration from older files.
const char* const kSchema[] = {
    "CREATE TABLE Config2(key TEXT PRIMARY KEY, value TEXT);",
    "CREATE TABLE MangaInfo2(url TEXT PRIMARY KEY, name TEXT, author TEXT, cover TEXT, intro TEXT);",
    "CREATE TABLE Task2(url TEXT PRIMARY KEY, Name TEXT, Cookie TEXT, Path TEXT, Status NUMERIC);",
    "CREATE TABLE Image2(url TEXT, ref TEXT, target TEXT, status NUMERIC, parent NUMERIC);",
    "CREATE TABLE ScriptCache2(key TEXT PRIMARY KEY, version NUMERIC, data BLOB);",
    "CREATE TABLE CoverCache2(key TEXT PRIMARY KEY, ETag TEXT);",
    "ALTER TABLE Image2 ADD ext TEXT;",
    "ALTER TABLE Task2 ADD Headers TEXT;",
    "CREATE TABLE FavVolumes2(url TEXT PRIMARY KEY, vols BLOB);",
    "ALTER TABLE Task2 ADD Proxy NUMERIC;",
    "CREATE TABLE Proxy2(domain TEXT PRIMARY KEY);",
};

// Task images are read by parent; without this every task's load scans the whole table. SQLite
// keeps the text from the name on, so the probe below knows this index by its text.
const char kImage2ParentIndex[] = "CREATE INDEX IF NOT EXISTS Image2_parent ON Image2(parent);";
const char kImage2ParentIndexSql[] = "CREATE INDEX Image2_parent ON Image2(parent)";

const char* const kRebuildImage2[] = {
    "CREATE TEMPORARY TABLE Image2_temp(url TEXT, ref TEXT, target TEXT, status NUMERIC, parent NUMERIC, ext TEXT);",
    "INSERT INTO Image2_temp SELECT url, ref, target, status, parent, ext FROM Image2;",
    "DROP TABLE Image2;",
    "CREATE TABLE Image2(url TEXT, ref TEXT, target TEXT, status NUMERIC, parent NUMERIC, ext TEXT);",
    "INSERT INTO Image2 SELECT url, ref, target, status, parent, ext FROM Image2_temp;",
    "DROP TABLE Image2_temp;",
};

int Exec(sqlite3* db, const char* sql) {
    return sqlite3_exec(db, sql, nullptr, nullptr, nullptr);
}

std::wstring Utf8ToWide(const char* text, int length) {
    return length > 0 ? ToWide(std::string(text, static_cast<size_t>(length)), CP_UTF8) : std::wstring();
}

}  // namespace

// ---- SqlRow ----

int SqlRow::ColumnIndex(const char* name) const {
    auto it = columns_.find(name ? name : "");
    return it == columns_.end() ? -1 : it->second;
}

std::string SqlRow::RowGetText(int i) const {
    const unsigned char* text = stmt_ ? sqlite3_column_text(stmt_, i) : nullptr;
    return text ? std::string(reinterpret_cast<const char*>(text)) : std::string();
}

std::wstring SqlRow::RowGetWideText(int i) const {
    std::string text = RowGetText(i);
    return Utf8ToWide(text.data(), static_cast<int>(text.size()));
}

std::string SqlRow::RowGetTextByName(const char* name, const std::string& def) const {
    int i = ColumnIndex(name);
    return i < 0 ? def : RowGetText(i);
}

std::wstring SqlRow::RowGetWideTextByName(const char* name, const std::wstring& def) const {
    int i = ColumnIndex(name);
    return i < 0 ? def : RowGetWideText(i);
}

int SqlRow::RowGetIntByName(const char* name, int def) const {
    int i = ColumnIndex(name);
    return i < 0 ? def : ColumnInt(i);
}

std::string SqlRow::ColumnText(int i) const {
    if (!stmt_)
        return std::string();
    const void* bytes = sqlite3_column_blob(stmt_, i);
    int length = sqlite3_column_bytes(stmt_, i);
    return bytes && length > 0 ? std::string(static_cast<const char*>(bytes), static_cast<size_t>(length))
                               : std::string();
}

std::wstring SqlRow::ColumnWideText(int i) const {
    std::string bytes = ColumnText(i);
    return Utf8ToWide(bytes.data(), static_cast<int>(bytes.size()));
}

int SqlRow::ColumnInt(int i) const {
    return stmt_ ? sqlite3_column_int(stmt_, i) : 0;
}

// ---- SqlStatement ----

bool SqlStatement::Prepare(sqlite3* db, const char* sql) {
    Finalize();
    if (!db || sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr) != SQLITE_OK) {
        if (db)
            Brimholt::Log << "SQL prepare failed: " << sqlite3_errmsg(db) << " in " << sql << std::endl;
        sqlite3_finalize(stmt_);
        stmt_ = nullptr;
    }
    return stmt_ != nullptr;
}

// Column names are the same for every row of a statement, so the map is filled once per statement.
bool SqlStatement::Step(SqlRow& row) {
    if (!stmt_ || sqlite3_step(stmt_) != SQLITE_ROW)
        return false;
    if (row.stmt_ != stmt_ || row.columns_.empty()) {
        row.columns_.clear();
        int count = sqlite3_column_count(stmt_);
        for (int i = 0; i < count; ++i) {
            const char* name = sqlite3_column_name(stmt_, i);
            row.columns_[name ? name : ""] = i;
        }
    }
    row.stmt_ = stmt_;
    return true;
}

int SqlStatement::Run() {
    return stmt_ ? sqlite3_step(stmt_) : SQLITE_MISUSE;
}

void SqlStatement::Reset() {
    if (stmt_)
        sqlite3_reset(stmt_);
}

bool SqlStatement::BindText(int index, const std::wstring& text) {
    return BindText(index, ToNarrow(text, CP_UTF8));
}

bool SqlStatement::BindText(int index, const std::string& utf8) {
    return stmt_ &&
           sqlite3_bind_text(stmt_, index, utf8.data(), static_cast<int>(utf8.size()), SQLITE_TRANSIENT) == SQLITE_OK;
}

bool SqlStatement::BindInt(int index, int value) {
    return stmt_ && sqlite3_bind_int(stmt_, index, value) == SQLITE_OK;
}

bool SqlStatement::BindBlob(int index, const std::string& bytes) {
    return stmt_ &&
           sqlite3_bind_blob(stmt_, index, bytes.data(), static_cast<int>(bytes.size()), SQLITE_TRANSIENT) == SQLITE_OK;
}

void SqlStatement::Finalize() {
    if (stmt_) {
        sqlite3_finalize(stmt_);
        stmt_ = nullptr;
    }
}

// ---- AppDatabase ----

AppDatabase::AppDatabase() : notEmpty_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
    if (!notEmpty_)
        throw std::bad_alloc();
}

AppDatabase::~AppDatabase() {
    Close();
}

bool AppDatabase::Open() {
    if (db_)
        return true;
    std::string path = ToNarrow(GetAppPath(L"Vellix.dat"), CP_UTF8);
    int rc = sqlite3_open(path.c_str(), &db_);
    // Another reader of the file (a backup, a viewer) would otherwise make a write fail at once,
    // and an image's result would be lost with no trace.
    if (rc == SQLITE_OK)
        sqlite3_busy_timeout(db_, 10000);
    // sqlite3_open reads nothing yet: a file that is no database shows only at the first read.
    if (rc == SQLITE_OK)
        rc = Exec(db_, "SELECT count(*) FROM sqlite_master;");
    if (rc != SQLITE_OK) {
        Brimholt::Log << "Cannot open " << path << ": " << (db_ ? sqlite3_errmsg(db_) : "out of memory") << std::endl;
        sqlite3_close_v2(db_);
        db_ = nullptr;
        return false;
    }

    Exec(db_, "BEGIN TRANSACTION;");
    for (const char* sql : kSchema)
        Exec(db_, sql);
    RebuildImageTable();
    if (Exec(db_, kImage2ParentIndex) != SQLITE_OK)
        Brimholt::Log << "Image2 index not created: " << sqlite3_errmsg(db_) << std::endl;
    Exec(db_, "COMMIT TRANSACTION;");

    sqlite3_prepare_v2(db_, "SELECT value FROM Config2 WHERE key=?", -1, &configRead_, nullptr);
    sqlite3_prepare_v2(db_, "REPLACE INTO Config2(key, value) VALUES(?, ?)", -1, &configWrite_, nullptr);

    LoadConfigKey("AutoPacking", L"0");
    LoadConfigKey("DownloadFolder", GetAppPath(L"Download\\"));
    LoadConfigKey("FavoriteFolder", GetAppPath());
    LoadConfigKey("Proxy", L"");
    LoadConfigKey("RenameType", L"1");

    CreateDirectoryW(GetAppPath(L"CoverCache").c_str(), nullptr);

    thread_.reset(CreateThread(nullptr, 0, DbThread, this, 0, &threadId_));
    if (!thread_) {
        Brimholt::Log << "Cannot start the database thread: " << GetLastError() << std::endl;
        sqlite3_finalize(configRead_);
        sqlite3_finalize(configWrite_);
        configRead_ = configWrite_ = nullptr;
        sqlite3_close_v2(db_);
        db_ = nullptr;
        return false;
    }
    {
        WriteLock guard(queueLock_);
        accepting_ = true;
    }
    CreateDirectoryW(ToWide(GetConfig("DownloadFolder"), CP_UTF8).c_str(), nullptr);
    return true;
}

// Older versions indexed Image2 (the url uniquely); the table is copied into one without indexes,
// and Open adds the parent index again. Every step is checked: a step that fails undoes the
// rebuild, so the old table and its rows stay as they were.
bool AppDatabase::RebuildImageTable() {
    {
        SqlStatement probe(db_,
                           "SELECT * FROM sqlite_master WHERE tbl_name = 'Image2' and type = 'index' "
                           "AND sql IS NOT ?;");
        probe.BindText(1, std::string(kImage2ParentIndexSql));
        SqlRow row;
        if (!probe.Step(row))
            return true;
    }
    if (Exec(db_, "SAVEPOINT rebuild_image2;") != SQLITE_OK) {
        Brimholt::Log << "Image2 rebuild not started: " << sqlite3_errmsg(db_) << std::endl;
        return false;
    }
    for (const char* sql : kRebuildImage2) {
        if (Exec(db_, sql) != SQLITE_OK) {
            Brimholt::Log << "Image2 rebuild failed, table kept: " << sqlite3_errmsg(db_) << " in " << sql << std::endl;
            Exec(db_, "ROLLBACK TO rebuild_image2;");
            Exec(db_, "RELEASE rebuild_image2;");
            return false;
        }
    }
    Exec(db_, "RELEASE rebuild_image2;");
    return true;
}

// Runs before the worker starts and without the config lock: no other thread uses the object yet.
void AppDatabase::LoadConfigKey(const char* key, const std::wstring& def) {
    std::string value = ToNarrow(def, CP_UTF8);
    if (configRead_) {
        sqlite3_reset(configRead_);
        sqlite3_bind_text(configRead_, 1, key, -1, SQLITE_TRANSIENT);
        if (sqlite3_step(configRead_) == SQLITE_ROW) {
            const void* bytes = sqlite3_column_blob(configRead_, 0);
            int length = sqlite3_column_bytes(configRead_, 0);
            value = bytes ? std::string(static_cast<const char*>(bytes), static_cast<size_t>(length)) : std::string();
        }
        sqlite3_reset(configRead_);
    }
    cache_[key] = value;
}

void AppDatabase::Close() {
    bool stopping;
    {
        WriteLock guard(queueLock_);
        stopping = accepting_;
        accepting_ = false;
        if (stopping) {
            queue_.push_back(QueuedJob{nullptr, nullptr});
            SetEvent(notEmpty_.get());
        }
    }
    if (thread_) {
        if (stopping)
            WaitForSingleObject(thread_.get(), INFINITE);
        thread_.reset();
        threadId_ = 0;
    }
    // Nothing is left behind the stop request, since nothing is accepted after it; should
    // anything be, it is released rather than leaked or waited for forever.
    for (const QueuedJob& entry : queue_) {
        if (entry.done)
            SetEvent(entry.done);
        else if (entry.job && entry.job->autoDelete)
            delete entry.job;
    }
    queue_.clear();
    if (!db_)
        return;

    WriteBackConfig();
    {
        std::lock_guard<std::mutex> guard(readLock_);
        sqlite3_finalize(configRead_);
        configRead_ = nullptr;
    }
    sqlite3_finalize(configWrite_);
    configWrite_ = nullptr;
    // Statements still held elsewhere keep the connection until they are finalized; the file is
    // closed with the last of them.
    sqlite3_close_v2(db_);
    db_ = nullptr;
}

void AppDatabase::WriteBackConfig() {
    if (!configWrite_)
        return;
    for (const auto& entry : cache_) {
        sqlite3_reset(configWrite_);
        sqlite3_bind_text(configWrite_, 1, entry.first.data(), static_cast<int>(entry.first.size()), SQLITE_TRANSIENT);
        sqlite3_bind_text(configWrite_, 2, entry.second.data(), static_cast<int>(entry.second.size()),
                          SQLITE_TRANSIENT);
        sqlite3_step(configWrite_);
    }
    sqlite3_reset(configWrite_);
}

DWORD WINAPI AppDatabase::DbThread(void* self) {
    static_cast<AppDatabase*>(self)->RunQueue();
    return 0;
}

void AppDatabase::RunQueue() {
    for (;;) {
        WaitForSingleObject(notEmpty_.get(), INFINITE);
        QueuedJob entry;
        {
            WriteLock guard(queueLock_);
            if (queue_.empty()) {
                ResetEvent(notEmpty_.get());
                continue;
            }
            entry = queue_.front();
            queue_.pop_front();
            if (queue_.empty())
                ResetEvent(notEmpty_.get());
        }
        if (!entry.job)
            return;
        entry.job->Execute(&db_);
        if (entry.done)
            SetEvent(entry.done);
        else if (entry.job->autoDelete)
            delete entry.job;
    }
}

bool AppDatabase::Enqueue(const QueuedJob& entry) {
    WriteLock guard(queueLock_);
    if (!accepting_)
        return false;
    queue_.push_back(entry);
    SetEvent(notEmpty_.get());
    return true;
}

void AppDatabase::Post(VxDBTask* job) {
    if (!job)
        return;
    if (!Enqueue(QueuedJob{job, nullptr})) {
        Brimholt::Log << "Database job dropped: the database is closed" << std::endl;
        if (job->autoDelete)
            delete job;
    }
}

// Each waiting thread has its own event, so one thread's job never releases another's wait.
void AppDatabase::RunSync(VxDBTask* job) {
    if (!job)
        return;
    if (threadId_ != 0 && GetCurrentThreadId() == threadId_) {
        job->Execute(&db_);
        return;
    }
    AutoHandle done(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!done) {
        Brimholt::Log << "Database job not run: no event (" << GetLastError() << ")" << std::endl;
        return;
    }
    if (Enqueue(QueuedJob{job, done.get()}))
        WaitForSingleObject(done.get(), INFINITE);
}

std::string AppDatabase::GetConfig(const char* key) {
    if (!key)
        return std::string();
    {
        ReadLock guard(configLock_);
        auto it = cache_.find(key);
        if (it != cache_.end())
            return it->second;
        // Written by this run, maybe still queued on the worker.
        it = written_.find(key);
        if (it != written_.end())
            return it->second;
    }
    std::lock_guard<std::mutex> guard(readLock_);
    std::string value;
    if (!configRead_)
        return value;
    sqlite3_reset(configRead_);
    sqlite3_bind_text(configRead_, 1, key, -1, SQLITE_TRANSIENT);
    if (sqlite3_step(configRead_) == SQLITE_ROW) {
        const void* bytes = sqlite3_column_blob(configRead_, 0);
        int length = sqlite3_column_bytes(configRead_, 0);
        if (bytes && length > 0)
            value.assign(static_cast<const char*>(bytes), static_cast<size_t>(length));
    }
    sqlite3_reset(configRead_);
    return value;
}

int AppDatabase::GetConfigInt(const char* key, int def) {
    std::string text = GetConfig(key);
    return text.empty() ? def : ParseConfigInt(text);
}

// A cached key answers from memory at once and reaches the table too, so that a change survives
// a crash. Posting under the lock queues the writes of one key in the order the cache took them.
void AppDatabase::SetConfig(const char* key, const char* utf8value) {
    if (!key)
        return;
    const char* value = utf8value ? utf8value : "";
    WriteLock guard(configLock_);
    auto it = cache_.find(key);
    if (it != cache_.end())
        it->second = value;
    else
        written_[key] = value;
    Post(new SetConfigTask(configWrite_, key, value));
}

void AppDatabase::SetConfigW(const char* key, const wchar_t* value) {
    SetConfig(key, ToUtf8CStr(value ? value : L"").c_str());
}

bool AppDatabase::IsProxyDomain(const char* domain) {
    GetProxyTask task(domain ? domain : "");
    RunSync(&task);
    return task.found;
}

void AppDatabase::SetProxyDomain(const char* domain, bool enable) {
    Post(new EnableProxyTask(domain ? domain : "", enable));
}

void AppDatabase::ApplyProxy(Vellix::Script* script) {
    std::string proxy = GetConfig("Proxy");
    if (!script || proxy.empty())
        return;
    script->SetString("Proxy", proxy.c_str());
    script->SetInteger("ProxyType", GetConfigInt("ProxyType", 0));
}

int ParseConfigInt(const std::string& text) {
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r')))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        negative = text[i++] == '-';
    long long value = 0;
    const long long limit = negative ? -static_cast<long long>(INT_MIN) : INT_MAX;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > limit) {
            value = limit;
            break;
        }
    }
    return static_cast<int>(negative ? -value : value);
}
