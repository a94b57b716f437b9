// The windows, comic and demo-site helpers of the downloader tests.
#include "DownloaderTestSupport.h"

#include <common/CodePage.h>

#include <gtest/gtest.h>

#include <algorithm>

DownloadWindows::DownloadWindows(MsgCenter& bus) {
    frame.id = bus.RegisterObserver(frame.window, this);
    bus.Subscribe(frame.id, "message_box", MsgThunk<&DownloadWindows::OnMessageBox>);
    input.id = bus.RegisterObserver(input.window, this);
    tabs.id = bus.RegisterObserver(tabs.window, this);
    bus.Subscribe(tabs.id, "set_active", MsgThunk<&DownloadWindows::OnSetActive>);
    other.id = bus.RegisterObserver(other.window, this);
    view.id = bus.RegisterObserver(view.window, this);
    bus.Subscribe(view.id, "add_ui_tasks", MsgThunk<&DownloadWindows::OnAddTasks>);
    bus.Subscribe(view.id, "task_status", MsgThunk<&DownloadWindows::OnTaskStatus>);
    bus.Subscribe(view.id, "task_progress", MsgThunk<&DownloadWindows::OnTaskProgress>);
    bus.Subscribe(view.id, "downloader_notify", MsgThunk<&DownloadWindows::OnNotify>);
    bus.Subscribe(view.id, "slot_status", MsgThunk<&DownloadWindows::OnSlotStatus>);
    bus.Subscribe(view.id, "zip_progress", MsgThunk<&DownloadWindows::OnZipProgress>);
}

void DownloadWindows::OnAddTasks(msg_add_ui_tasks* msg) {
    std::vector<std::string> ids;
    for (const TaskRecord& task : msg->tasks) {
        ids.push_back(std::to_string(task.rowid));
        added.push_back(task);
    }
    events.push_back("add " + Join(ids));
}

void DownloadWindows::OnTaskStatus(msg_task_status* msg) {
    events.push_back("status " + std::to_string(msg->taskId) + " " + std::to_string(msg->status) + " " +
                     std::to_string(msg->failed));
}

void DownloadWindows::OnTaskProgress(msg_task_progress* msg) {
    events.push_back("progress " + std::to_string(msg->taskId) + " " + std::to_string(msg->done) + " " +
                     std::to_string(msg->failed) + " " + std::to_string(msg->total));
}

void DownloadWindows::OnNotify(msg_download_notify* msg) {
    events.push_back("notify " + std::to_string(msg->code));
}

void DownloadWindows::OnSlotStatus(msg_slot_status* msg) {
    completions.push_back(std::to_string(msg->slot) + " " + ToNarrow(msg->ext, CP_UTF8) + " " +
                          std::to_string(msg->result));
    if (downloader)
        downloader->OnSlotStatus(*msg);
}

void DownloadWindows::OnZipProgress(msg_zip_progress* msg) {
    events.push_back("zip " + std::to_string(msg->taskId) + " " + std::to_string(msg->written) + "/" +
                     std::to_string(msg->count));
}

void DownloadWindows::Attach(CDownloaderImpl* d) {
    downloader = d;
    if (d)
        d->viewObserver = view.id;
}

bool DownloadWindows::WaitFinished(CDownloaderImpl& d, DWORD timeoutMs) {
    return PumpUntil(
        [&] {
            if (d.AnyBusy())
                return false;
            for (const TaskRecord& task : d.Tasks())
                if (task.status != kTaskFinished)
                    return false;
            return true;
        },
        timeoutMs);
}

void DownloadWindows::Clear() {
    boxes.clear();
    active.clear();
    events.clear();
    completions.clear();
    added.clear();
}

bool NamedComic::GetField(int index, Vellix::MemObject* sink) {
    if (index != 2 || name.empty())
        return false;
    char* buffer = sink->Allocate(name.size());
    std::copy(name.begin(), name.end(), buffer);
    return true;
}

std::string ComicPage() {
    return Service().SiteUrl("/comic/harbor.html");
}

std::string DemoSession() {
    std::unique_ptr<Answer> page = Fetch(ComicPage());
    if (!page->response)
        return std::string();
    for (unsigned i = 0; i < page->response->GetCookieCount(); ++i) {
        std::string cookie;
        Orvane::OvStringFetcher<char> sink(cookie);
        page->response->GetCookie(i, sink);
        if (cookie.compare(0, 11, "vx_session=") == 0)
            return cookie.substr(0, cookie.find(';'));
    }
    ADD_FAILURE() << "no session cookie";
    return std::string();
}

std::string DemoImage(const std::string& url, const std::string& session) {
    std::unique_ptr<Answer> image = Fetch(url, [&](Orvane::OvRequest* r) {
        r->SetHeader("Referer", ComicPage().c_str());
        r->SetHeader("Cookie", session.c_str());
    });
    EXPECT_EQ(image->Status(), 200) << url;
    return image->Body();
}

namespace {

void Collect(const std::wstring& root, const std::wstring& relative, std::vector<std::wstring>& out) {
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((root + relative + L"*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE)
        return;
    do {
        std::wstring name = data.cFileName;
        if (name == L"." || name == L"..")
            continue;
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            Collect(root, relative + name + L"\\", out);
        else
            out.push_back(relative + name);
    } while (FindNextFileW(find, &data));
    FindClose(find);
}

}  // namespace

std::vector<std::wstring> FilesUnder(const std::wstring& folder) {
    std::vector<std::wstring> files;
    Collect(folder, L"", files);
    std::sort(files.begin(), files.end());
    return files;
}

std::string Join(const std::vector<std::string>& parts, const char* separator) {
    std::string out;
    for (const std::string& part : parts) {
        if (!out.empty())
            out += separator;
        out += part;
    }
    return out;
}
