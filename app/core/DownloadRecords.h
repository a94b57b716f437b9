// Records shared by the grab, the bus and the downloader: offered volumes, comics to grab, stored tasks.
#pragma once

#include <memory>
#include <string>
#include <vector>

class CParseContext;

struct VolumeItem {
    std::wstring name;
    std::string url;
};

struct GrabItem {
    std::shared_ptr<CParseContext> context;
    std::wstring name;
    std::vector<VolumeItem> volumes;
};

// One page image of a task; target is the file stem relative to the task's folder.
struct ImageRecord {
    std::string url;
    std::string ref;
    std::wstring target;
    std::wstring ext;  // empty until saved
    int status = 0;    // 0 waiting, 1 in a slot (in memory only), 2 done, 3 failed
};

// A volume with what its images need: the grab's result and the base of a downloader's task.
struct TaskItem : VolumeItem {
    std::string cookie;
    std::string headers;  // one header a line: name, colon, value
    bool proxy = false;
    std::vector<ImageRecord> images;
};

struct TaskRecord {
    std::wstring name;
    std::string url;
    int rowid = -1;
    std::string cookie;
    std::string headers;
    std::wstring path;
    bool proxy = false;
    int status = 0;
    int done = 0;
    int failed = 0;
    int total = 0;
};

// An image waiting for, held by or done in a download slot; task points into the task list.
struct QueuedImage {
    ImageRecord image;
    TaskRecord* task = nullptr;
};

// serial identifies the request started for entry, so that a late completion of an earlier
// request of the same slot is never applied to a later entry.
struct DownloadSlot {
    QueuedImage* entry = nullptr;
    unsigned serial = 0;
};
