// The program's SQLite database "Vellix.dat": its schema, the worker thread that runs every job in
// queue order, and the in-memory cache of the five settings read most often (written through).
#pragma once

#include "RwLock.h"

#include <common/Scoped.h>

#include <sqlite3.h>
#include <windows.h>

#include <deque>
#include <map>
#include <mutex>
#include <string>

namespace Vellix {
class Script;
}

// A job for the database worker. A posted job (autoDelete true) is deleted by the worker after it
// ran; a synchronous one belongs to its maker, who reads its results after AppDatabase::RunSync.
class VxDBTask {
public:
    explicit VxDBTask(bool autoDeleteFlag) : autoDelete(autoDeleteFlag) {}
    virtual ~VxDBTask() = default;
    VxDBTask(const VxDBTask&) = delete;
    VxDBTask& operator=(const VxDBTask&) = delete;

    // Runs on the database worker (or on the caller when it already is the worker).
    virtual void Execute(sqlite3** db) = 0;

    bool autoDelete;
};

// The current row of a SqlStatement; valid until the statement steps again or goes away.
class SqlRow {
public:
    int ColumnIndex(const char* name) const;

    std::string RowGetText(int i) const;
    std::wstring RowGetWideText(int i) const;
    std::string RowGetTextByName(const char* name, const std::string& def) const;
    std::wstring RowGetWideTextByName(const char* name, const std::wstring& def) const;
    int RowGetIntByName(const char* name, int def) const;

    std::string ColumnText(int i) const;
    std::wstring ColumnWideText(int i) const;
    std::string FirstColumnText() const { return ColumnText(0); }
    int ColumnInt(int i) const;

private:
    friend class SqlStatement;
    sqlite3_stmt* stmt_ = nullptr;
    std::map<std::string, int> columns_;
};

class SqlStatement {
public:
    SqlStatement() = default;
    SqlStatement(sqlite3* db, const char* sql) { Prepare(db, sql); }
    ~SqlStatement() { Finalize(); }
    SqlStatement(const SqlStatement&) = delete;
    SqlStatement& operator=(const SqlStatement&) = delete;

    bool Prepare(sqlite3* db, const char* sql);
    bool Valid() const { return stmt_ != nullptr; }

    // True only for a row; done and errors give false.
    bool Step(SqlRow& row);
    // Steps a statement that yields no rows; the SQLite result code (SQLITE_DONE when it worked).
    int Run();
    void Reset();

    bool BindText(int index, const std::wstring& text);
    bool BindText(int index, const std::string& utf8);
    bool BindInt(int index, int value);
    bool BindBlob(int index, const std::string& bytes);

    void Finalize();

private:
    sqlite3_stmt* stmt_ = nullptr;
};

class AppDatabase {
public:
    AppDatabase();
    ~AppDatabase();
    AppDatabase(const AppDatabase&) = delete;
    AppDatabase& operator=(const AppDatabase&) = delete;

    bool Open();
    void Close();

    void Post(VxDBTask* job);
    void RunSync(VxDBTask* job);

    std::string GetConfig(const char* key);
    int GetConfigInt(const char* key, int def);
    void SetConfig(const char* key, const char* utf8value);
    void SetConfigW(const char* key, const wchar_t* value);

    bool IsProxyDomain(const char* domain);
    void SetProxyDomain(const char* domain, bool enable);
    // Gives a script the user's proxy ("Proxy" and "ProxyType") when one is set.
    void ApplyProxy(Vellix::Script* script);

private:
    struct QueuedJob {
        VxDBTask* job;
        HANDLE done;  // set by the worker for a synchronous job; null for a posted one
    };

    static DWORD WINAPI DbThread(void* self);
    bool Enqueue(const QueuedJob& entry);
    void RunQueue();
    bool RebuildImageTable();
    void LoadConfigKey(const char* key, const std::wstring& def);
    void WriteBackConfig();

    sqlite3* db_ = nullptr;
    sqlite3_stmt* configRead_ = nullptr;
    sqlite3_stmt* configWrite_ = nullptr;
    DWORD threadId_ = 0;
    AutoHandle thread_;
    RwLock queueLock_;
    AutoHandle notEmpty_;
    std::deque<QueuedJob> queue_;
    bool accepting_ = false;  // under queueLock_: the worker runs and no stop request is queued
    RwLock configLock_;
    std::map<std::string, std::string> cache_;
    // Uncached keys set in this run: their writes are queued, so a read must not go to the table.
    std::map<std::string, std::string> written_;
    std::mutex readLock_;  // configRead_ is shared by every thread that reads an uncached key
};

// Decimal text as the C library reads it (leading blanks, a sign, digits up to the first other
// character), clamped to the int range instead of overflowing.
int ParseConfigInt(const std::string& text);
