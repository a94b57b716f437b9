// The download manager: the built-in downloader, the optional plug-in "Kestrade.dll", and which of
// their downloaders receives new tasks. Used on the user-interface thread only.
#pragma once

#include "DownloaderApi.h"
#include "DownloaderImpl.h"

class VxDownloadMgr : public Vellix::DownloaderManager {
public:
    VxDownloadMgr();
    virtual ~VxDownloadMgr() = default;
    VxDownloadMgr(const VxDownloadMgr&) = delete;
    VxDownloadMgr& operator=(const VxDownloadMgr&) = delete;

    void EnumDownloaders(Vellix::DownloaderEnumProc callback, void* user) override;
    Vellix::Downloader* GetDownloader(const char* identifier) override;

    bool Select(const char* identifier);
    Vellix::Downloader* GetActive() { return active_; }
    CDownloaderImpl& GetBuiltIn() { return builtIn_; }

private:
    void LoadPlugin();

    Vellix::Downloader* active_;
    CDownloaderImpl builtIn_;
    Vellix::DownloaderManager* plugin_ = nullptr;  // never released; its module stays loaded
};
