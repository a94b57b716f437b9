// The downloader interfaces shared with the optional plug-in "Kestrade.dll": the order of the
// operations is the binary contract, so append, never reorder. Nothing allocated on one side is
// freed on the other.
#pragma once

#include "Manga.h"

namespace Vellix {

class DownloadTask {
public:
    virtual void AddImage(const char* url, const char* referer) = 0;
    virtual void SetCookie(const char* cookie) = 0;
    // One header a line: name, colon, value.
    virtual void SetHeaders(const char* headers) = 0;
    virtual void Finish() = 0;
    virtual void SetOption(const char* name, const char* value) = 0;

protected:
    ~DownloadTask() = default;
};

class Downloader {
public:
    virtual void DiscardPending() = 0;
    // Null when the downloader takes no more tasks. The task stays usable until Commit returns.
    virtual DownloadTask* CreateTask(Manga* comic, const wchar_t* volumeName, const char* volumeUrl) = 0;
    virtual void Commit() = 0;
    virtual void SetActive(bool active) = 0;

protected:
    ~Downloader() = default;
};

typedef void (*DownloaderEnumProc)(const char* identifier, const wchar_t* displayName, void* user);

class DownloaderManager {
public:
    // Calls back once per downloader, during the call.
    virtual void EnumDownloaders(DownloaderEnumProc callback, void* user) = 0;
    virtual Downloader* GetDownloader(const char* identifier) = 0;

protected:
    ~DownloaderManager() = default;
};

}  // namespace Vellix

// The plug-in's one export.
typedef Vellix::DownloaderManager* (*VxGetDownloaderManagerProc)();
