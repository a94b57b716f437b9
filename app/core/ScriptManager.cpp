// Finding, loading, caching and releasing site scripts. The map is read under the reader side of
// the lock and written only while its semaphore is held; the semaphore also keeps two loads apart.
#include "ScriptManager.h"

#include "AppContext.h"
#include "ScriptCatalog.h"
#include "ServiceApi.h"

#include <Dornet.h>
#include <Quillet.h>

namespace {

using Orvane::kStateComplete;

// The proxy of the settings for a site whose domain the user sends through it.
void ApplySiteProxy(AppContext& context, const std::string& host, Vellix::Script* script) {
    SiteInfo site;
    if (context.Catalog().FindSite(host, site) && context.Database().IsProxyDomain(site.name.c_str()))
        context.Database().ApplyProxy(script);
}

}  // namespace

ScriptFetchResult::ScriptFetchResult(const Orvane::OvResponse& response) {
    if (response.GetState() != kStateComplete)
        return;
    if (response.GetStatusCode() == 200) {
        Orvane::OvStringFetcher<char> infoSink(info), bodySink(body);
        response.GetHeader(infoSink, "Script-Info");
        response.GetBody(bodySink);
    } else {
        Orvane::OvStringFetcher<char> errorSink(error);
        response.GetHeader(errorSink, "Error-Info");
    }
}

void GetScriptCache::Execute(sqlite3** db) {
    SqlStatement sql(*db, "SELECT version, data FROM ScriptCache2 WHERE key=?");
    sql.BindText(1, key);
    SqlRow row;
    if (!sql.Step(row))
        return;
    found = true;
    version = row.ColumnInt(0);
    data = row.ColumnText(1);
}

void UpdateScriptCache::Execute(sqlite3** db) {
    SqlStatement sql(*db, "REPLACE INTO ScriptCache2(key, version, data) VALUES(?, ?, ?)");
    sql.BindText(1, key);
    sql.BindInt(2, version);
    sql.BindBlob(3, data);
    sql.Run();
}

Vellix::Script* ScriptManager::GetLoaded(const std::string& host) {
    ReadLock hold(lock);
    auto it = scripts.find(host);
    return it == scripts.end() ? nullptr : it->second;
}

int ScriptManager::FindScript(const std::string& host, Vellix::Script*& script) {
    if (Vellix::Script* loaded = GetLoaded(host)) {
        script = loaded;
        return kScriptLoaded;
    }
    AppContextRef context;
    SiteInfo site;
    if (!context || !context->Catalog().FindSite(host, site))
        return kScriptNoSite;
    GetScriptCache cache(site.key);
    context->Database().RunSync(&cache);
    if (!cache.found || cache.version < site.version)
        return kScriptMustDownload;

    WriteLock hold(lock);
    auto it = scripts.find(host);
    if (it != scripts.end()) {  // another thread loaded it meanwhile
        script = it->second;
        return kScriptLoaded;
    }
    // Cached bytes that do not load would fail on every run: the first failure asks for a
    // download, which replaces them; a second one in the same run is reported.
    if (failedCache_.count(site.key))
        return kScriptLoadFailed;
    Vellix::Script* loaded = VxLoadScript(cache.data.data(), cache.data.size());
    if (!loaded) {
        failedCache_.insert(site.key);
        return kScriptMustDownload;
    }
    Insert(host, loaded);
    if (context->Database().IsProxyDomain(site.name.c_str()))
        context->Database().ApplyProxy(loaded);
    script = loaded;
    return kScriptLoaded;
}

int ScriptManager::LoadDownloaded(ScriptFetchResult& result, Vellix::Script*& script) {
    if (result.body.empty())
        return kScriptNoBody;
    ScriptInfo info = ReadScriptInfo(result.info, result.body.size());

    WriteLock hold(lock);
    auto it = scripts.find(result.host);
    if (it != scripts.end()) {  // replacing it would leak it and pull it from under its users
        result.adults = info.adults;
        script = it->second;
        return kScriptLoaded;
    }
    Vellix::Script* loaded = VxLoadScript(result.body.data(), info.size);
    if (!loaded)
        return kScriptLoadFailed;
    Insert(result.host, loaded);
    AppContextRef context;
    if (context) {
        ApplySiteProxy(*context.get(), result.host, loaded);
        if (info.version > 0) {
            context->Database().Post(new UpdateScriptCache(result.key, info.version, result.body.substr(0, info.size)));
            failedCache_.erase(result.key);
        }
    }
    result.adults = info.adults;
    script = loaded;
    return kScriptLoaded;
}

void ScriptManager::ReleaseAll() {
    WriteLock hold(lock);
    for (auto& entry : scripts)
        lifetimes_->Release(entry.second);
    scripts.clear();
}

void ScriptManager::Insert(const std::string& host, Vellix::Script* script) {
    scripts[host] = script;
    lifetimes_->Add(script);
}

ScriptLifetimes::~ScriptLifetimes() {
    // Only scripts released while busy are ours; the manager's own are freed by ReleaseAll.
    for (Vellix::Script* script : released_)
        VxReleaseScript(&script);
}

void ScriptLifetimes::Add(Vellix::Script* script) {
    std::lock_guard<std::mutex> guard(lock_);
    loaded_.insert(script);
}

bool ScriptLifetimes::BeginUse(Vellix::Script* script) {
    std::lock_guard<std::mutex> guard(lock_);
    if (!script || !loaded_.count(script))
        return false;
    ++busy_[script];
    return true;
}

void ScriptLifetimes::EndUse(Vellix::Script* script) {
    {
        std::lock_guard<std::mutex> guard(lock_);
        auto it = busy_.find(script);
        if (it == busy_.end() || --it->second > 0)
            return;
        busy_.erase(it);
        if (!released_.erase(script))
            return;
    }
    VxReleaseScript(&script);
}

void ScriptLifetimes::Release(Vellix::Script* script) {
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (!loaded_.erase(script))
            return;
        if (busy_.count(script)) {
            released_.insert(script);
            return;
        }
    }
    VxReleaseScript(&script);
}

ScriptUse::ScriptUse(const std::shared_ptr<ScriptLifetimes>& lifetimes, Vellix::Script* script)
    : lifetimes_(lifetimes), script_(script), ok_(lifetimes && lifetimes->BeginUse(script)) {}

ScriptUse::~ScriptUse() {
    if (ok_)
        lifetimes_->EndUse(script_);
}
