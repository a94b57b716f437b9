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
    int status = 0;    // 0 pending, 2 done, 3 failed
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
