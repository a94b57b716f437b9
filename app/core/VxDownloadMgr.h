// The download manager. The built-in downloader and the plug-in come with the downloader layer;
// the context already creates it once on first use.
#pragma once

class VxDownloadMgr {
public:
    VxDownloadMgr() = default;
    VxDownloadMgr(const VxDownloadMgr&) = delete;
    VxDownloadMgr& operator=(const VxDownloadMgr&) = delete;
};
