// The loaded site scripts, shared by every parse context of the same host, and the finding and
// loading of a host's script: from memory, from the script cache table, or from the service's answer.
#pragma once

#include "AppDatabase.h"
#include "RwLock.h"

#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>

namespace Orvane {
class OvResponse;
}
namespace Vellix {
class Script;
}

// The script endpoint's answer, read once from the response; the sender fills host and key.
struct ScriptFetchResult {
    ScriptFetchResult() = default;
    explicit ScriptFetchResult(const Orvane::OvResponse& response);

    std::string host;
    std::string key;
    std::string error;  // "Error-Info"
    std::string info;   // "Script-Info"
    std::string body;
    bool adults = false;
};

// Sync: the cached script of a catalogue key.
class GetScriptCache : public VxDBTask {
public:
    explicit GetScriptCache(const std::string& cacheKey) : VxDBTask(false), key(cacheKey) {}
    void Execute(sqlite3** db) override;
    std::string key;
    int version = 0;     // 0 when there is no row
    std::string data;
    bool found = false;  // a row exists
};

// Posted.
class UpdateScriptCache : public VxDBTask {
public:
    UpdateScriptCache(const std::string& cacheKey, int cacheVersion, const std::string& bytes)
        : VxDBTask(true), key(cacheKey), version(cacheVersion), data(bytes) {}
    void Execute(sqlite3** db) override;
    std::string key;
    int version;
    std::string data;
};

enum FindScriptResult { kScriptLoaded = 0, kScriptMustDownload = 1, kScriptNoSite = 2, kScriptLoadFailed = 3 };
enum { kScriptNoBody = 4 };

// Which of the manager's scripts are loaded and which are being run by other threads. Parse
// contexts hold it beside the script, so it outlives the manager: a script released while a thread
// is still inside it is freed by that thread when it leaves.
class ScriptLifetimes {
public:
    ~ScriptLifetimes();
    void Add(Vellix::Script* script);
    // False when the script is no longer loaded; otherwise it stays until the matching EndUse.
    bool BeginUse(Vellix::Script* script);
    void EndUse(Vellix::Script* script);
    // Frees the script now, or at its last EndUse when a thread is inside it.
    void Release(Vellix::Script* script);

private:
    std::mutex lock_;
    std::set<Vellix::Script*> loaded_;
    std::map<Vellix::Script*, int> busy_;
    std::set<Vellix::Script*> released_;
};

// Keeps a manager's script marked busy for a scope.
class ScriptUse {
public:
    ScriptUse(const std::shared_ptr<ScriptLifetimes>& lifetimes, Vellix::Script* script);
    ~ScriptUse();
    ScriptUse(const ScriptUse&) = delete;
    ScriptUse& operator=(const ScriptUse&) = delete;
    explicit operator bool() const { return ok_; }

private:
    std::shared_ptr<ScriptLifetimes> lifetimes_;
    Vellix::Script* script_;
    bool ok_;
};

class ScriptManager {
public:
    ScriptManager() = default;
    ScriptManager(const ScriptManager&) = delete;
    ScriptManager& operator=(const ScriptManager&) = delete;

    Vellix::Script* GetLoaded(const std::string& host);
    int FindScript(const std::string& host, Vellix::Script*& script);
    int LoadDownloaded(ScriptFetchResult& result, Vellix::Script*& script);
    void ReleaseAll();

    const std::shared_ptr<ScriptLifetimes>& Lifetimes() const { return lifetimes_; }

    RwLock lock;  // its token also serialises every load made here
    std::map<std::string, Vellix::Script*> scripts;

private:
    void Insert(const std::string& host, Vellix::Script* script);  // the caller holds the semaphore

    std::shared_ptr<ScriptLifetimes> lifetimes_ = std::make_shared<ScriptLifetimes>();
    std::set<std::string> failedCache_;  // keys whose cached bytes did not load; under the semaphore
};
