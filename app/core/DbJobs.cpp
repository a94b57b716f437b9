// The SQL of the database jobs. A statement that cannot be prepared leaves the job's results as
// they were made.
#include "DbJobs.h"
#include "JsonUtil.h"
#include "VolumeRecordSet.h"
#include "VxMsg.h"

#include <common/CodePage.h>
#include <common/Log.h>

#include <Tessara.h>
#include <wtl/Seams.h>

void GetFinishedTasks::Execute(sqlite3** db) {
    SqlStatement sql(*db,
                     "SELECT rowid FROM Task2 WHERE Status=? AND rowid NOT IN "
                     "(SELECT DISTINCT parent FROM Image2 WHERE status=?);");
    sql.BindInt(1, kTaskFinished);
    sql.BindInt(2, kImageFailed);
    SqlRow row;
    while (sql.Step(row))
        tasks.push_back(row.ColumnInt(0));
}

void SetTaskStatus::Execute(sqlite3** db) {
    SqlStatement sql(*db, "UPDATE Task2 SET Status=? WHERE rowid=?");
    sql.BindInt(1, status);
    sql.BindInt(2, rowid);
    sql.Run();
}

void GetTaskInfo::Execute(sqlite3** db) {
    SqlStatement sql(*db, "SELECT Name, Path FROM Task2 WHERE rowid=?");
    sql.BindInt(1, rowid);
    SqlRow row;
    if (!sql.Step(row))
        return;
    Name = row.ColumnWideText(0);
    Path = row.ColumnWideText(1);
}

void LoadTaskImages::Execute(sqlite3** db) {
    SqlStatement sql(*db, "SELECT rowid, url, ref, target, ext, status FROM Image2 WHERE parent=?");
    sql.BindInt(1, parent);
    SqlRow row;
    while (sql.Step(row)) {
        ImageRecord image;
        image.rowid = row.ColumnInt(0);
        image.url = row.RowGetTextByName("url", std::string());
        image.ref = row.RowGetTextByName("ref", std::string());
        image.target = row.RowGetWideTextByName("target", std::wstring());
        image.ext = row.RowGetWideTextByName("ext", std::wstring());
        image.status = row.RowGetIntByName("status", kImageWaiting);
        if (image.status == kImageDone)
            ++done;
        else if (image.status == kImageFailed)
            ++failed;
        images.push_back(std::move(image));
    }
}

void SetImageStatus::Add(int imageRowid, const std::wstring& ext, int status) {
    rows.push_back(Row{imageRowid, ext, status});
}

// The parent is matched too: a row id that is not the task's changes nothing.
void SetImageStatus::Execute(sqlite3** db) {
    SqlStatement sql(*db, "UPDATE Image2 SET status=?, ext=? WHERE rowid=? AND parent=?");
    if (!sql.Valid() || rows.empty())
        return;
    bool batch = rows.size() > 1;
    if (batch)
        sqlite3_exec(*db, "BEGIN TRANSACTION;", nullptr, nullptr, nullptr);
    for (const Row& r : rows) {
        sql.Reset();
        sql.BindInt(1, r.status);
        sql.BindText(2, r.ext);
        sql.BindInt(3, r.rowid);
        sql.BindInt(4, parent);
        if (sql.Run() != SQLITE_DONE)
            Brimholt::Log << "Image state not stored: " << sqlite3_errmsg(*db) << std::endl;
    }
    if (batch)
        sqlite3_exec(*db, "COMMIT TRANSACTION;", nullptr, nullptr, nullptr);
}

namespace {

// Only an array of dictionaries is a stored record list; anything else reads as no records.
bool IsRecordArray(JsonValue* value) {
    if (getValueType(value) != JSON_ARRAY)
        return false;
    unsigned count = getArraySize(value);
    for (unsigned i = 0; i < count; ++i) {
        JsonValue* member = nullptr;
        getArrayMember(value, i, &member);
        if (getValueType(member) != JSON_DICTIONARY)
            return false;
    }
    return true;
}

}  // namespace

void CLoadVols::Execute(sqlite3** db) {
    SqlStatement sql(*db, "SELECT vols FROM FavVolumes2 WHERE url=?");
    sql.BindText(1, url);
    SqlRow row;
    if (!records || !sql.Step(row))
        return;
    std::string text = row.ColumnText(0);
    if (text.empty())
        return;
    JsonTree value(ParseJsonText(text));
    if (IsRecordArray(value.get())) {
        unsigned count = getArraySize(value.get());
        for (unsigned i = 0; i < count; ++i) {
            JsonValue* member = nullptr;
            getArrayMember(value.get(), i, &member);
            JsonValue* state = nullptr;
            lookupDictionaryMember(member, "t", &state);
            (*records)[JsonStringMember(member, "u")] = getValueType(state) == JSON_NUMBER ? toInteger(state) : 0;
        }
    }
}

void CUpdateVols::Execute(sqlite3** db) {
    SqlStatement sql(*db, "REPLACE INTO FavVolumes2(url, vols) VALUES(?, ?)");
    sql.BindText(1, url);
    sql.BindBlob(2, vols);
    sql.Run();
}

void CDeleteVol::Execute(sqlite3** db) {
    SqlStatement sql(*db, "DELETE FROM FavVolumes2 WHERE url=?");
    sql.BindText(1, url);
    sql.Run();
}

void SetConfigTask::Execute(sqlite3** db) {
    if (!statement)
        return;
    sqlite3_reset(statement);
    sqlite3_bind_text(statement, 1, key.data(), static_cast<int>(key.size()), SQLITE_TRANSIENT);
    sqlite3_bind_text(statement, 2, value.data(), static_cast<int>(value.size()), SQLITE_TRANSIENT);
    sqlite3_step(statement);
    sqlite3_reset(statement);
}

void GetProxyTask::Execute(sqlite3** db) {
    SqlStatement sql(*db, "SELECT domain FROM Proxy2 WHERE domain=?");
    sql.BindText(1, domain);
    SqlRow row;
    found = sql.Step(row);
}

void EnableProxyTask::Execute(sqlite3** db) {
    SqlStatement sql(*db, enable ? "REPLACE INTO Proxy2(domain) VALUES(?)" : "DELETE FROM Proxy2 WHERE domain = ?");
    sql.BindText(1, domain);
    sql.Run();
}

void CDeleteTasks::Execute(sqlite3** db) {
    SqlStatement images(*db, "DELETE FROM Image2 WHERE parent=?");
    SqlStatement tasks(*db, "DELETE FROM Task2 WHERE rowid=?");
    sqlite3_exec(*db, "BEGIN TRANSACTION;", nullptr, nullptr, nullptr);
    for (int rowid : rowids) {
        for (SqlStatement* sql : {&images, &tasks}) {
            if (!sql->Valid())
                continue;
            sql->Reset();
            sql->BindInt(1, rowid);
            sql->Run();
        }
    }
    sqlite3_exec(*db, "COMMIT TRANSACTION;", nullptr, nullptr, nullptr);
}

// The shell would run on the database worker and wait there for Explorer; the folder goes to the
// window that asked instead.
void CExploreTask::Execute(sqlite3** db) {
    SqlStatement sql(*db, "SELECT Path FROM Task2 WHERE rowid=?");
    sql.BindInt(1, rowid);
    SqlRow row;
    if (!sql.Step(row))
        return;
    std::wstring path = row.ColumnWideText(0);
    PostUiJob(observer, [path]() { ExploreFolder(path); });
}

bool ExploreFolder(const std::wstring& path) {
    DWORD attributes = path.empty() ? INVALID_FILE_ATTRIBUTES : GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY))
        return false;
    return WTL::ShellExplore(nullptr, path.c_str());
}

void GetETag::Execute(sqlite3** db) {
    SqlStatement sql(*db, "SELECT ETag FROM CoverCache2 WHERE key=?");
    sql.BindText(1, key);
    SqlRow row;
    if (sql.Step(row))
        etag = row.ColumnText(0);
}

void UpdateETag::Execute(sqlite3** db) {
    SqlStatement sql(*db, "REPLACE INTO CoverCache2(key, ETag) VALUES(?, ?)");
    sql.BindText(1, key);
    sql.BindText(2, etag);
    sql.Run();
}

void CMarkVolsSeen::Execute(sqlite3** db) {
    VolumeRecordSet set;
    set.url = url;
    CLoadVols load(url, &set.records);
    load.Execute(db);
    for (const std::string& volume : volumes) {
        auto found = set.records.find(volume);
        if (found == set.records.end())
            set.records[volume] = 0;
        else if (found->second != 2)
            found->second = 0;
    }
    CUpdateVols store(url, set.ToJson());
    store.Execute(db);
}
