// The SQL of the database jobs. A statement that cannot be prepared leaves the job's results as
// they were made.
#include "DbJobs.h"
#include "JsonUtil.h"

#include <common/CodePage.h>

#include <Tessara.h>

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
        sql.Run();
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
