// A downloader plug-in for the tests: one downloader "TestDL" that takes no tasks and writes every
// call it gets to a log, which the test reads through the export TestPluginLog. With the
// environment variable VX_TEST_PLUGIN_NULL set, the plug-in offers no manager at all.
#include <DownloaderApi.h>

#include <cstdlib>
#include <cstring>
#include <string>

namespace {

std::string g_log;

class TestDownloader : public Vellix::Downloader {
public:
    void DiscardPending() override { g_log += "discard;"; }
    Vellix::DownloadTask* CreateTask(Vellix::Manga*, const wchar_t*, const char*) override {
        g_log += "create;";
        return nullptr;
    }
    void Commit() override { g_log += "commit;"; }
    void SetActive(bool active) override { g_log += active ? "active;" : "inactive;"; }
};

class TestManager : public Vellix::DownloaderManager {
public:
    void EnumDownloaders(Vellix::DownloaderEnumProc callback, void* user) override {
        callback("TestDL", L"Test downloader", user);
    }
    Vellix::Downloader* GetDownloader(const char* identifier) override {
        return std::strcmp(identifier, "TestDL") == 0 ? &downloader_ : nullptr;
    }

private:
    TestDownloader downloader_;
};

TestManager g_manager;

}  // namespace

extern "C" __declspec(dllexport) Vellix::DownloaderManager* VxGetDownloaderManager() {
    return std::getenv("VX_TEST_PLUGIN_NULL") ? nullptr : &g_manager;
}

extern "C" __declspec(dllexport) const char* TestPluginLog() {
    return g_log.c_str();
}
