// Construction and destruction order of the application context, its publication to other
// threads, and the two small services it holds itself.
#include "AppContext.h"

#include "AppDatabase.h"
#include "DebugSettings.h"
#include "FavoritesStore.h"
#include "LanguageTranslator.h"
#include "MsgCenter.h"
#include "ScriptCatalog.h"
#include "ScriptManager.h"
#include "UiMetrics.h"
#include "VxDownloadMgr.h"

#include <windows.h>

#include <mutex>

namespace {

std::mutex g_contextLock;
AppContext* g_context = nullptr;
int g_contextRefs = 0;
// Set once no thread holds a context that is going away.
HANDLE g_contextIdle = CreateEventW(nullptr, TRUE, TRUE, nullptr);

// Stands for the window library's module lock: process-wide, taken only for one-time creation.
std::mutex g_moduleLock;

std::atomic<AppContextTrace> g_trace{nullptr};

void Trace(const char* member, bool built) {
    if (AppContextTrace trace = g_trace.load())
        trace(member, built);
}

template <class T>
void Build(std::unique_ptr<T>& member, const char* name) {
    member.reset(new T());
    Trace(name, true);
}

template <class T>
void Destroy(std::unique_ptr<T>& member, const char* name) {
    if (!member)
        return;
    Trace(name, false);
    member.reset();
}

}  // namespace

AppContext::AppContext() {
    try {
        Build(catalog_, "ScriptCatalog");
        Build(debug_, "DebugSettings");
        Build(favorites_, "FavoritesStore");
        Build(translator_, "LanguageTranslator");
        Build(messages_, "MsgCenter");
        Build(scripts_, "ScriptManager");
        Build(database_, "AppDatabase");
        Build(metrics_, "UiMetrics");
        Build(reportedNames_, "ReportedNames");
    } catch (...) {
        Teardown();
        throw;
    }
    std::lock_guard<std::mutex> guard(g_contextLock);
    g_context = this;
}

// Threads still holding a reference finish with the context before any member goes. While
// waiting, messages sent to this thread's windows are still answered: a holder may be blocked in
// SendMessage to one of them.
AppContext::~AppContext() {
    {
        std::lock_guard<std::mutex> guard(g_contextLock);
        if (g_context == this)
            g_context = nullptr;
        ResetEvent(g_contextIdle);
    }
    for (;;) {
        {
            std::lock_guard<std::mutex> guard(g_contextLock);
            if (g_contextRefs == 0)
                break;
        }
        MsgWaitForMultipleObjects(1, &g_contextIdle, FALSE, INFINITE, QS_SENDMESSAGE);
        MSG msg;
        PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
    Teardown();
}

void AppContext::Teardown() {
    Destroy(reportedNames_, "ReportedNames");
    Destroy(metrics_, "UiMetrics");
    Destroy(database_, "AppDatabase");
    Destroy(scripts_, "ScriptManager");
    Destroy(messages_, "MsgCenter");
    Destroy(translator_, "LanguageTranslator");
    Destroy(favorites_, "FavoritesStore");
    std::unique_ptr<VxDownloadMgr> downloadMgr(downloadMgr_.exchange(nullptr));
    Destroy(downloadMgr, "VxDownloadMgr");
    Destroy(debug_, "DebugSettings");
    Destroy(catalog_, "ScriptCatalog");
}

VxDownloadMgr* AppContext::GetDownloadMgr() {
    if (VxDownloadMgr* mgr = downloadMgr_.load(std::memory_order_acquire))
        return mgr;
    std::lock_guard<std::mutex> guard(g_moduleLock);
    VxDownloadMgr* mgr = downloadMgr_.load(std::memory_order_relaxed);
    if (!mgr) {
        mgr = new VxDownloadMgr();
        Trace("VxDownloadMgr", true);
        downloadMgr_.store(mgr, std::memory_order_release);
    }
    return mgr;
}

bool AppContext::MarkReported(const std::string& name) {
    return reportedNames_->insert(name).second;
}

AppContext* GetAppContext() {
    std::lock_guard<std::mutex> guard(g_contextLock);
    return g_context;
}

AppContextRef::AppContextRef() {
    std::lock_guard<std::mutex> guard(g_contextLock);
    if (g_context) {
        ctx_ = g_context;
        ++g_contextRefs;
    }
}

AppContextRef::~AppContextRef() {
    if (!ctx_)
        return;
    // Only a context that is going away waits for the count: every message handler takes a
    // reference, and an event set and reset each time is two round trips to the Wine server.
    std::lock_guard<std::mutex> guard(g_contextLock);
    if (--g_contextRefs == 0 && g_context != ctx_)
        SetEvent(g_contextIdle);
}

void SetAppContextTrace(AppContextTrace trace) {
    g_trace.store(trace);
}
