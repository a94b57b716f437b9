// Database jobs of the downloader records, the favorite volume records, the settings table and the
// proxy domains. Each runs on the database worker; "sync" jobs go through AppDatabase::RunSync.
#pragma once

#include "AppDatabase.h"
#include "DownloadRecords.h"

#include <map>
#include <string>
#include <vector>

// Volume address to its state (0 known, 1 new, 2 downloaded).
typedef std::map<std::string, int> VolumeRecords;

// Sync: finished tasks without a failed image.
class GetFinishedTasks : public VxDBTask {
public:
    GetFinishedTasks() : VxDBTask(false) {}
    void Execute(sqlite3** db) override;
    std::vector<int> tasks;
};

// Posted.
class SetTaskStatus : public VxDBTask {
public:
    SetTaskStatus(int taskRowid, int taskStatus) : VxDBTask(true), rowid(taskRowid), status(taskStatus) {}
    void Execute(sqlite3** db) override;
    int rowid;
    int status;
};

// Sync: a task's name and folder; both stay empty when the task has no row.
class GetTaskInfo : public VxDBTask {
public:
    explicit GetTaskInfo(int taskRowid) : VxDBTask(false), rowid(taskRowid) {}
    void Execute(sqlite3** db) override;
    std::wstring Name;
    std::wstring Path;
    int rowid;
};

// Sync: a task's image records (with their rowids) in row order, with the counts of done and
// failed images.
class LoadTaskImages : public VxDBTask {
public:
    explicit LoadTaskImages(int parentRowid) : VxDBTask(false), parent(parentRowid) {}
    void Execute(sqlite3** db) override;
    int parent;
    int done = 0;
    int failed = 0;
    std::vector<ImageRecord> images;
};

// Posted: status and extension of images of one task, each named by its row: the same address
// may stand in several tasks, and twice in one (placeholders, adverts).
class SetImageStatus : public VxDBTask {
public:
    explicit SetImageStatus(int parentRowid) : VxDBTask(true), parent(parentRowid) {}
    void Add(int imageRowid, const std::wstring& ext, int status);
    void Execute(sqlite3** db) override;

    struct Row {
        int rowid;
        std::wstring ext;
        int status;
    };
    int parent;
    std::vector<Row> rows;
};

// Sync: the stored volume records of a comic into the caller's map.
class CLoadVols : public VxDBTask {
public:
    CLoadVols(const std::string& comicUrl, VolumeRecords* target) : VxDBTask(false), url(comicUrl), records(target) {}
    void Execute(sqlite3** db) override;
    std::string url;
    VolumeRecords* records;
};

// Posted: stores a comic's volume records (JSON text).
class CUpdateVols : public VxDBTask {
public:
    CUpdateVols(const std::string& comicUrl, const std::string& json) : VxDBTask(true), url(comicUrl), vols(json) {}
    void Execute(sqlite3** db) override;
    std::string url;
    std::string vols;
};

// Posted.
class CDeleteVol : public VxDBTask {
public:
    explicit CDeleteVol(const std::string& comicUrl) : VxDBTask(true), url(comicUrl) {}
    void Execute(sqlite3** db) override;
    std::string url;
};

// Posted by AppDatabase::SetConfig with the database's own Config2 write statement, which stays
// prepared afterwards.
class SetConfigTask : public VxDBTask {
public:
    SetConfigTask(sqlite3_stmt* configWrite, const std::string& configKey, const std::string& configValue)
        : VxDBTask(true), statement(configWrite), key(configKey), value(configValue) {}
    void Execute(sqlite3** db) override;
    sqlite3_stmt* statement;
    std::string key;
    std::string value;
};

// Sync.
class GetProxyTask : public VxDBTask {
public:
    explicit GetProxyTask(const std::string& proxyDomain) : VxDBTask(false), domain(proxyDomain) {}
    void Execute(sqlite3** db) override;
    std::string domain;
    bool found = false;
};

// Posted.
class EnableProxyTask : public VxDBTask {
public:
    EnableProxyTask(const std::string& proxyDomain, bool enableProxy)
        : VxDBTask(true), domain(proxyDomain), enable(enableProxy) {}
    void Execute(sqlite3** db) override;
    std::string domain;
    bool enable;
};

// Posted: tasks and their images, all in one transaction.
class CDeleteTasks : public VxDBTask {
public:
    explicit CDeleteTasks(std::vector<int> taskRowids) : VxDBTask(true), rowids(std::move(taskRowids)) {}
    void Execute(sqlite3** db) override;
    std::vector<int> rowids;
};

// Posted: reads a task's folder and hands it to the observer's window, where the shell may be
// called; a task without a row hands nothing.
class CExploreTask : public VxDBTask {
public:
    CExploreTask(int taskRowid, int observerId) : VxDBTask(true), rowid(taskRowid), observer(observerId) {}
    void Execute(sqlite3** db) override;
    int rowid;
    int observer;
};
// Opens an existing folder in the shell; anything else is left alone. User-interface thread.
bool ExploreFolder(const std::wstring& path);

// Sync: the stored ETag of a cover key, empty when there is none.
class GetETag : public VxDBTask {
public:
    explicit GetETag(const std::string& coverKey) : VxDBTask(false), key(coverKey) {}
    void Execute(sqlite3** db) override;
    std::string key;
    std::string etag;
};

// Posted.
class UpdateETag : public VxDBTask {
public:
    UpdateETag(const std::string& coverKey, const std::string& coverETag)
        : VxDBTask(true), key(coverKey), etag(coverETag) {}
    void Execute(sqlite3** db) override;
    std::string key;
    std::string etag;
};

// Posted: the given volumes of a comic become seen, read against the stored records so that
// downloaded volumes and volumes not listed keep their states.
class CMarkVolsSeen : public VxDBTask {
public:
    CMarkVolsSeen(const std::string& comicUrl, std::vector<std::string> volumeUrls)
        : VxDBTask(true), url(comicUrl), volumes(std::move(volumeUrls)) {}
    void Execute(sqlite3** db) override;
    std::string url;
    std::vector<std::string> volumes;
};
