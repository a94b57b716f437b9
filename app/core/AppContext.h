// The one application context: every part of the program reaches the shared services through it.
#pragma once

#include <atomic>
#include <memory>
#include <set>
#include <string>

class AppDatabase;
class DebugSettings;
class FavoritesStore;
class MsgCenter;
class ScriptCatalog;
class ScriptManager;
class UiMetrics;
class VxDownloadMgr;
class VxPopupHandler;
namespace Brimholt {
class LanguageTranslator;
}

class AppContext {
public:
    AppContext();
    ~AppContext();
    AppContext(const AppContext&) = delete;
    AppContext& operator=(const AppContext&) = delete;

    ScriptCatalog& Catalog() { return *catalog_; }
    DebugSettings& Debug() { return *debug_; }
    FavoritesStore& Favorites() { return *favorites_; }
    Brimholt::LanguageTranslator& Translator() { return *translator_; }
    MsgCenter& Messages() { return *messages_; }
    ScriptManager& Scripts() { return *scripts_; }
    AppDatabase& Database() { return *database_; }
    UiMetrics& Metrics() { return *metrics_; }

    VxDownloadMgr* GetDownloadMgr();
    bool MarkReported(const std::string& name);
    // A pop-up browser window on a thread of its own; false when the thread could not start. It
    // lives with the pop-up browser in the user interface.
    bool OpenPopupBrowser(const std::string& address, std::shared_ptr<VxPopupHandler> handler);

private:
    void Teardown();

    std::unique_ptr<ScriptCatalog> catalog_;
    std::unique_ptr<DebugSettings> debug_;
    std::atomic<VxDownloadMgr*> downloadMgr_{nullptr};
    std::unique_ptr<FavoritesStore> favorites_;
    std::unique_ptr<Brimholt::LanguageTranslator> translator_;
    std::unique_ptr<MsgCenter> messages_;
    std::unique_ptr<ScriptManager> scripts_;
    std::unique_ptr<AppDatabase> database_;
    std::unique_ptr<UiMetrics> metrics_;
    std::unique_ptr<std::set<std::string>> reportedNames_;
};

// The context for code that runs on the user-interface thread while the context exists.
AppContext* GetAppContext();

// A thread that may outlive the message loop (HTTP completions, worker and browser threads) holds
// one of these while it uses the context: it sees a live context or none, and the context's
// destruction waits until every holder has let go. Hold it briefly, and never while waiting for
// the user-interface thread.
class AppContextRef {
public:
    AppContextRef();
    ~AppContextRef();
    AppContextRef(const AppContextRef&) = delete;
    AppContextRef& operator=(const AppContextRef&) = delete;

    explicit operator bool() const { return ctx_ != nullptr; }
    AppContext* operator->() const { return ctx_; }
    AppContext* get() const { return ctx_; }

private:
    AppContext* ctx_ = nullptr;
};

// Test seam: called after each member is built and before each is destroyed, with its name.
typedef void (*AppContextTrace)(const char* member, bool built);
void SetAppContextTrace(AppContextTrace trace);
