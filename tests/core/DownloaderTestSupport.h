// Shared pieces of the downloader tests: stand-ins for the windows the downloader reports to (the
// download view runs the slot completions the way the real one will), a comic for CreateTask, the
// demo site's session and images, and files in a download folder.
#pragma once

#include "ServiceTestSupport.h"

#include <DownloaderImpl.h>
#include <Messages.h>

#include <string>
#include <vector>

// Observer 0 (message boxes), 2 (set_active) and the download view; observers 1 and 3 only take
// their ids. In a process's first context they are observers 0 to 4; in a later one the view's id
// is whatever it got, and the downloader is pointed at it.
class DownloadWindows {
public:
    explicit DownloadWindows(MsgCenter& bus);

    void OnMessageBox(msg_message_box* msg) { boxes.push_back(msg->text); }
    void OnSetActive(msg_set_active* msg) { active.push_back(msg->view); }
    void OnAddTasks(msg_add_ui_tasks* msg);
    void OnTaskStatus(msg_task_status* msg);
    void OnTaskProgress(msg_task_progress* msg);
    void OnNotify(msg_download_notify* msg);
    // Records every completion, then hands it to the downloader as the download view does.
    void OnSlotStatus(msg_slot_status* msg);
    void OnZipProgress(msg_zip_progress* msg);

    // Attaches the downloader (and points it at this view).
    void Attach(CDownloaderImpl* downloader);
    // Pumps until every listed task is finished (and no slot is busy).
    bool WaitFinished(CDownloaderImpl& downloader, DWORD timeoutMs = 30000);
    void Clear();

    TestObserver frame, input, tabs, other, view;
    CDownloaderImpl* downloader = nullptr;
    std::vector<std::wstring> boxes;
    std::vector<HWND> active;
    std::vector<std::string> events;     // "add 3,4", "status 3 2 0", "progress 3 1 0 2", "notify 1", "zip 3 1/2"
    std::vector<std::string> completions;  // "slot ext result" of every slot_status, applied or not
    std::vector<TaskRecord> added;
};

// A comic named as given, for CreateTask.
class NamedComic : public Vellix::Manga {
public:
    explicit NamedComic(std::string utf8Name) : name(std::move(utf8Name)) {}
    bool GetField(int index, Vellix::MemObject* sink) override;
    bool IsFinished(bool*) override { return false; }
    std::string name;
};

// "vx_session=..." of a fresh visit to the demo site.
std::string DemoSession();
// A demo image as the site sends it to a visitor with the session and a referer.
std::string DemoImage(const std::string& url, const std::string& session);
std::string ComicPage();  // a referer the images accept

// Every file under a folder, relative paths with '\', sorted.
std::vector<std::wstring> FilesUnder(const std::wstring& folder);
std::string Join(const std::vector<std::string>& parts, const char* separator = ",");
