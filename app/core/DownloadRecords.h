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

// The status values "Image2" and "Task2" store; an image is in a slot in memory only.
enum ImageStatus { kImageWaiting = 0, kImageInSlot = 1, kImageDone = 2, kImageFailed = 3 };
enum TaskStatus { kTaskQueued = 0, kTaskDownloading = 1, kTaskFinished = 2, kTaskPaused = 3 };

// One page image of a task; target is the file stem relative to the task's folder. The same
// address may stand in a task twice: the image is its row.
struct ImageRecord {
    int rowid = -1;  // of its "Image2" row; -1 until stored
    std::string url;
    std::string ref;
    std::wstring target;
    std::wstring ext;  // empty until saved
    int status = kImageWaiting;
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
    int status = kTaskQueued;
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
