// The catalogue of bus messages: one msg_ class per message name, payload fields only.
#pragma once

#include "DownloadRecords.h"
#include "LanguageTranslator.h"
#include "VxMsg.h"

#include <map>
#include <string>
#include <vector>

struct JsonValue;
class VxView;
class VxInfoObserver;

// Comic address to its favorites item, borrowed from the tree that carries it.
typedef std::map<std::string, JsonValue*> FavoriteIndex;

class msg_add_ui_tasks : public VxMsg {
public:
    msg_add_ui_tasks() : VxMsg("add_ui_tasks") {}
    explicit msg_add_ui_tasks(const std::vector<TaskRecord>& list) : VxMsg("add_ui_tasks"), tasks(list) {}
    std::vector<TaskRecord> tasks;
};

class msg_task_status : public VxMsg {
public:
    msg_task_status(int task, int taskStatus, int failedCount)
        : VxMsg("task_status"), taskId(task), status(taskStatus), failed(failedCount) {}
    int taskId;
    int status;
    int failed;
};

class msg_task_progress : public VxMsg {
public:
    msg_task_progress(int task, int doneCount, int failedCount, int totalCount)
        : VxMsg("task_progress"), taskId(task), done(doneCount), failed(failedCount), total(totalCount) {}
    int taskId;
    int done;
    int failed;
    int total;
};

// The one message whose class is not named after it.
class msg_download_notify : public VxMsg {
public:
    enum { kQueued = 0, kIdle = 1 };
    explicit msg_download_notify(int notifyCode) : VxMsg("downloader_notify"), code(notifyCode) {}
    int code;
};

class msg_slot_status : public VxMsg {
public:
    enum : unsigned { kSaved = 2, kFailed = 3 };
    msg_slot_status(int slotIndex, std::wstring extension, unsigned slotResult, unsigned requestSerial)
        : VxMsg("slot_status"), slot(slotIndex), ext(std::move(extension)), result(slotResult),
          serial(requestSerial) {}
    int slot;
    std::wstring ext;
    unsigned result;
    unsigned serial;  // of the request, as the slot recorded it when starting it
};

class msg_set_active : public VxMsg {
public:
    explicit msg_set_active(HWND viewWindow) : VxMsg("set_active"), view(viewWindow) {}
    HWND view;
};

class msg_add_tab : public VxMsg {
public:
    msg_add_tab(VxView* tabView, int imageIndex, std::wstring tabTitle)
        : VxMsg("add_tab"), view(tabView), image(imageIndex), title(std::move(tabTitle)) {}
    VxView* view;
    int image;
    std::wstring title;
};

class msg_close_tab : public VxMsg {
public:
    explicit msg_close_tab(HWND viewWindow) : VxMsg("close_tab"), view(viewWindow) {}
    HWND view;
};

class msg_title_change : public VxMsg {
public:
    msg_title_change(HWND viewWindow, std::wstring newTitle)
        : VxMsg("title_change"), view(viewWindow), title(std::move(newTitle)) {}
    HWND view;
    std::wstring title;
};

class msg_execute : public VxMsg {
public:
    explicit msg_execute(std::wstring address) : VxMsg("execute"), url(std::move(address)) {}
    std::wstring url;
};

class msg_simple_url : public VxMsg {
public:
    explicit msg_simple_url(std::wstring address) : VxMsg("simple_url"), url(std::move(address)) {}
    std::wstring url;
};

class msg_search : public VxMsg {
public:
    explicit msg_search(std::wstring word, int requesterId = 0)
        : VxMsg("search"), keyword(std::move(word)), requester(requesterId) {}
    std::wstring keyword;
    std::wstring kinds;  // "n" by name and/or "a" by author
    int requester;       // 0 = none
};

class msg_search_finish : public VxMsg {
public:
    explicit msg_search_finish(std::string json) : VxMsg("search_finish"), result(std::move(json)) {}
    std::string result;
};

class msg_grab : public VxMsg {
public:
    msg_grab() : VxMsg("grab") {}
    // On the user-interface thread: grabs the image lists of the chosen volumes and hands them to
    // the active downloader.
    void Run(HWND owner);
    size_t AddItem(std::shared_ptr<CParseContext> context, std::wstring comicName);
    bool AddVolume(size_t item, const VolumeItem& volume);
    std::vector<GrabItem> items;
};

class msg_task_pack : public VxMsg {
public:
    explicit msg_task_pack(int task) : VxMsg("task_pack"), taskId(task) {}
    int taskId;
};

class msg_repair_task : public VxMsg {
public:
    explicit msg_repair_task(int task) : VxMsg("repair_task"), taskId(task) {}
    int taskId;
};

// One object per zip job, sent again for every step; the receiver never deletes it.
class msg_zip_progress : public VxMsg {
public:
    explicit msg_zip_progress(int task = 0) : VxMsg("zip_progress", true), taskId(task) {}
    int taskId;
    int written = 0;
    int count = 0;
    // Set on the last progress when no archive was made, so that reaching the count is no success.
    bool failed = false;
};

class msg_init_finished : public VxMsg {
public:
    explicit msg_init_finished(std::string info) : VxMsg("init_finished"), errorInfo(std::move(info)) {}
    std::string errorInfo;
};

// Sent (kept, the sender reads result) or posted (not kept, no answer) to the main frame.
class msg_message_box : public VxMsg {
public:
    msg_message_box() : VxMsg("message_box", true) {}
    explicit msg_message_box(std::wstring boxText) : VxMsg("message_box"), text(std::move(boxText)) {}

    int Show(HWND owner);
    void SetText(const std::wstring& section, const std::wstring& key, const TextVars& vars = TextVars());

    std::wstring text;
    std::wstring caption;  // empty: [Global] Name
    int flags = MB_ICONINFORMATION;
    int result = -1;
};

// The tree belongs to the message until the favorites store takes it (and clears the pointer).
class msg_favorites_loaded : public VxMsg {
public:
    msg_favorites_loaded() : VxMsg("favorites_loaded") {}
    ~msg_favorites_loaded() override;
    JsonValue* tree = nullptr;
    FavoriteIndex index;
    int saveNeeded = 0;
};

class msg_flush_favorites : public VxMsg {
public:
    msg_flush_favorites() : VxMsg("flush_favorites") {}
};

class msg_command_change : public VxMsg {
public:
    msg_command_change(HWND viewWindow, std::wstring commandText)
        : VxMsg("command_change"), view(viewWindow), command(std::move(commandText)) {}
    HWND view;
    std::wstring command;
};

class msg_add_favorite : public VxMsg {
public:
    msg_add_favorite(std::wstring comicTitle, std::wstring comicCategory, std::string address, int requesterId)
        : VxMsg("add_favorite"), title(std::move(comicTitle)), category(std::move(comicCategory)),
          url(std::move(address)), requester(requesterId) {}
    std::wstring title;
    std::wstring category;
    std::string url;
    int requester;
};

class msg_edit_favorite : public VxMsg {
public:
    // The address, not the node: a reload may free the tree before the message is handled.
    msg_edit_favorite(std::string address, int requesterId)
        : VxMsg("edit_favorite"), url(std::move(address)), requester(requesterId) {}
    std::string url;
    int requester;
};

class msg_update_favorite : public VxMsg {
public:
    msg_update_favorite(std::string address, int requesterId)
        : VxMsg("update_favorite"), url(std::move(address)), requester(requesterId) {}
    std::string url;
    int requester;
};

class msg_update_cover : public VxMsg {
public:
    explicit msg_update_cover(const std::wstring& cachedPath);
    std::wstring cover;
};

class msg_set_info : public VxMsg {
public:
    struct InfosKey {
        const wchar_t* key;
    };
    explicit msg_set_info(std::wstring infoText) : VxMsg("set_info"), text(std::move(infoText)) {}
    explicit msg_set_info(InfosKey key);
    std::wstring text;
};

class msg_end_dialog : public VxMsg {
public:
    explicit msg_end_dialog(int dialogResult) : VxMsg("end_dialog"), result(dialogResult) {}
    int result;
};

class msg_async_work : public VxMsg {
public:
    msg_async_work(VxInfoObserver* workObject, void* argument)
        : VxMsg("async_work"), work(workObject), arg(argument) {}
    VxInfoObserver* work;
    void* arg;
};

class msg_set_input_text : public VxMsg {
public:
    explicit msg_set_input_text(std::wstring inputText, bool selectText = false)
        : VxMsg("set_input_text"), text(std::move(inputText)), select(selectText) {}
    std::wstring text;
    bool select;
};
