// The download list: rows are built from the downloader's records and changed only by its reports,
// so the page always shows what the downloader last said.
#include "DownloadView.h"

#include "AppContext.h"
#include "DbJobs.h"
#include "LanguageTranslator.h"
#include "MsgCenter.h"
#include "UiSeams.h"
#include "ViewText.h"
#include "VxDownloadMgr.h"
#include "ZipWorker.h"

#include <common/CodePage.h>
#include <common/Log.h>
#include <common/StringUtil.h>

#include <cwchar>
#include <set>

namespace {

const char* StatusName(int status) {
    switch (status) {
    case kTaskQueued:
        return "waiting";
    case kTaskFinished:
        return "finish";
    case kTaskPaused:
        return "paused";
    default:
        return "";
    }
}

int ParseRowid(const wchar_t* text) {
    return text ? static_cast<int>(wcstol(text, nullptr, 10)) : 0;
}

}  // namespace

CDownloadView::CDownloadView() : VxView(false) {
    if (AppContext* ctx = GetAppContext())
        ctx->Translator().GetSectionStrings(L"DownloadView", texts_);
}

VxView* CDownloadView::Make(HWND tabView) {
    auto* view = new CDownloadView();
    if (!view->Create(tabView)) {
        Brimholt::Log << "The download view could not be created: " << GetLastError() << std::endl;
        delete view;
        return nullptr;
    }
    return view;
}

bool CDownloadView::OpenUrl(const wchar_t* url) {
    return url && _wcsicmp(url, L"about:downloader") == 0;
}

CDownloaderImpl* CDownloadView::Downloader() const {
    AppContext* ctx = GetAppContext();
    VxDownloadMgr* manager = ctx ? ctx->GetDownloadMgr() : nullptr;
    return manager ? &manager->GetBuiltIn() : nullptr;
}

std::wstring CDownloadView::Text(const wchar_t* key, int errors) const {
    AppContext* ctx = GetAppContext();
    TextVars vars;
    if (errors >= 0)
        vars[L"ERRORS"] = std::to_wstring(errors);
    return ctx ? ctx->Translator().Text(L"DownloadView", key, vars) : key;
}

LRESULT CDownloadView::OnInitDialog(UINT, WPARAM, LPARAM, BOOL&) {
    hwnd_ = m_hWnd;
    AppContext* ctx = GetAppContext();
    if (ctx) {
        MsgCenter& bus = ctx->Messages();
        id = bus.RegisterObserver(m_hWnd, this);
        bus.Subscribe(id, "add_ui_tasks", MsgThunk<&CDownloadView::OnAddUiTasks>);
        bus.Subscribe(id, "downloader_notify", MsgThunk<&CDownloadView::OnDownloaderNotify>);
        bus.Subscribe(id, "slot_status", MsgThunk<&CDownloadView::OnSlotStatus>);
        bus.Subscribe(id, "task_progress", MsgThunk<&CDownloadView::OnTaskProgress>);
        bus.Subscribe(id, "task_status", MsgThunk<&CDownloadView::OnTaskStatus>);
        bus.Subscribe(id, "zip_progress", MsgThunk<&CDownloadView::OnZipProgress>);
        ctx->Translator().TranslateDialog(m_hWnd, L"DownloadView");
    }
    engine = GetDlgItem(IDC_DV_HTML);
    SetupHost(engine);
    DlgResize_Init(false);
    LoadHtmlResource(engine, L"DownloadView.html");
    if (CDownloaderImpl* downloader = Downloader()) {
        // Reports go to whatever id the centre gave this view.
        downloader->viewObserver = id;
        AddRows(std::vector<TaskRecord>(downloader->Tasks().begin(), downloader->Tasks().end()));
    }
    UpdateButtons();
    return TRUE;
}

LRESULT CDownloadView::OnDestroy(UINT, WPARAM, LPARAM, BOOL& bHandled) {
    rows_.clear();
    if (AppContext* ctx = GetAppContext())
        ctx->Messages().UnregisterObserver(id);
    bHandled = FALSE;
    return 0;
}

// The name is data: escaped for the markup and kept away from the placeholder filling.
std::string CDownloadView::RowHtml(const TaskRecord& task) const {
    const std::string n = std::to_string(task.rowid);
    const std::string del = "<a href=\"#\" command=\"delete\" task-id=\"" + n + "\">%Delete%</a>";
    std::string row = "<div class=\"taskItem\" status=\"" + std::string(StatusName(task.status)) + "\" task-id=\"" + n +
                      "\">"
                      "<div class=\"right\" finish>"
                      "<a href=\"#\" command=\"redownload\" task-id=\"" + n + "\">%Re-download%</a> | "
                      "<a href=\"#\" command=\"pack\" task-id=\"" + n + "\">%Pack%</a> | " + del +
                      "</div>"
                      "<div class=\"right\" waiting>%Waiting%...</div>"
                      "<div class=\"right\" downloading>%Downloading% [<span></span><span class=\"error\">, "
                      "<span></span></span>]...</div>"
                      "<div class=\"right\" packing>%Packing%...</div>"
                      "<div class=\"right\" paused>%Paused%<span class=\"error\">[<span></span>]</span> | " + del +
                      "</div>"
                      "<a class=\"taskName\" title=\"%ExploreTip%\" href=\"#\" task-id=\"" + n + "\">" +
                      TemplateLiteral(HtmlEscape(ToNarrow(task.name, CP_UTF8))) + "</a></div>";
    FillTemplate(row, texts_);
    return row;
}

// One append and one walk over the rows for the whole batch: a search for each new row goes over
// every row already there, which made 2,000 stored tasks cost seconds at start-up.
void CDownloadView::AddRows(const std::vector<TaskRecord>& tasks) {
    htmlayout::dom::element body = htmlayout::dom::element::root_element(engine).find_first("body");
    if (!body || tasks.empty())
        return;
    std::string html;
    std::set<int> added;
    for (const TaskRecord& task : tasks) {
        html += RowHtml(task);
        added.insert(task.rowid);
    }
    body.set_html(html, HL_APPEND_AFTER_LAST);
    for (const htmlayout::dom::element& row : body.find_all("div.taskItem")) {
        int rowid = ParseRowid(row.get_attribute("task-id"));
        if (added.count(rowid))
            rows_[rowid] = row;
    }
}

htmlayout::dom::element CDownloadView::Row(int rowid) const {
    auto it = rows_.find(rowid);
    return it == rows_.end() ? htmlayout::dom::element() : it->second;
}

void CDownloadView::UpdateButtons() {
    CDownloaderImpl* downloader = Downloader();
    bool any = false, unfinished = false;
    if (downloader) {
        for (const TaskRecord& task : downloader->Tasks()) {
            any = true;
            unfinished = unfinished || task.status != kTaskFinished;
        }
    }
    HWND start = GetDlgItem(IDC_DV_START);
    ::ShowWindow(start, unfinished ? SW_SHOW : SW_HIDE);
    if (unfinished)
        ::SetWindowTextW(start, Text(busy ? L"Pause" : L"Start").c_str());
    ::EnableWindow(GetDlgItem(IDC_DV_MANAGE), any && !busy);
}

void CDownloadView::DeleteTasks(const std::vector<int>& rowids) {
    if (rowids.empty())
        return;
    if (AppContext* ctx = GetAppContext())
        ctx->Database().Post(new CDeleteTasks(rowids));
    if (CDownloaderImpl* downloader = Downloader())
        downloader->RemoveTasks(rowids);
    for (int rowid : rowids) {
        htmlayout::dom::element row = Row(rowid);
        if (row)
            row.destroy();
        rows_.erase(rowid);
    }
    UpdateButtons();
}

LRESULT CDownloadView::OnClearCompleted(WORD, WORD, HWND, BOOL&) {
    AppContext* ctx = GetAppContext();
    if (!ctx)
        return 0;
    GetFinishedTasks finished;
    ctx->Database().RunSync(&finished);
    DeleteTasks(finished.tasks);
    return 0;
}

LRESULT CDownloadView::OnStartPause(WORD, WORD, HWND, BOOL&) {
    if (CDownloaderImpl* downloader = Downloader()) {
        if (busy)
            downloader->PauseAll();
        else
            downloader->StartAll();
    }
    busy = !busy;
    UpdateButtons();
    return 0;
}

LRESULT CDownloadView::OnManage(WORD, WORD, HWND, BOOL&) {
    std::vector<int> checked;
    if (Dialogs().manage(GetParent(), checked) == IDOK)
        DeleteTasks(checked);
    return 0;
}

bool CDownloadView::handle_event(HELEMENT, HL_BEHAVIOR_EVENT& params) {
    if (params.cmd != HL_HYPERLINK_CLICK)
        return OnHyperlinkClick(params);
    htmlayout::dom::element target(params.target);
    if (const wchar_t* command = target.get_attribute("command"))
        return RunCommand(command, ParseRowid(target.get_attribute("task-id")));
    const wchar_t* task = target.get_attribute("task-id");
    if (task && ParseRowid(task) != -1) {
        if (AppContext* ctx = GetAppContext())
            ctx->Database().Post(new CExploreTask(ParseRowid(task), id));
        return true;
    }
    return OnHyperlinkClick(params);
}

bool CDownloadView::RunCommand(const wchar_t* command, int rowid) {
    AppContext* ctx = GetAppContext();
    if (!ctx)
        return true;
    if (wcscmp(command, L"redownload") == 0) {
        auto* msg = new msg_repair_task(rowid);
        if (!ctx->Messages().PostTo(0, msg))
            delete msg;
    } else if (wcscmp(command, L"pack") == 0) {
        auto* msg = new msg_task_pack(rowid);
        if (!ctx->Messages().PostTo(0, msg))
            delete msg;
    } else if (wcscmp(command, L"delete") == 0) {
        CDownloaderImpl* downloader = Downloader();
        const TaskRecord* task = downloader ? downloader->FindTask(rowid) : nullptr;
        if (task && task->status != kTaskFinished) {
            msg_message_box box;
            box.SetText(L"DownloadView", L"DeleteTask");
            box.caption = ctx->Translator().Text(L"Global", L"Warning");
            box.flags = MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2;
            if (!ctx->Messages().SendTo(0, &box) || box.result != IDYES)
                return true;
        }
        DeleteTasks({rowid});
    } else {
        MessageBeep(0);
    }
    return true;
}

void CDownloadView::OnAddUiTasks(msg_add_ui_tasks* msg) {
    AddRows(msg->tasks);
    UpdateButtons();
}

void CDownloadView::OnDownloaderNotify(msg_download_notify* msg) {
    if (msg->code == msg_download_notify::kQueued)
        busy = true;
    else if (msg->code == msg_download_notify::kIdle)
        busy = false;
    UpdateButtons();
}

void CDownloadView::OnSlotStatus(msg_slot_status* msg) {
    if (CDownloaderImpl* downloader = Downloader())
        downloader->OnSlotStatus(*msg);
}

void CDownloadView::OnTaskProgress(msg_task_progress* msg) {
    htmlayout::dom::element row = Row(msg->taskId);
    htmlayout::dom::element block = row ? row.find_first("div[downloading]") : row;
    if (!block)
        return;
    // A report comes with every image: each change restyles the page, and the layout waits for
    // the next paint, so that the reports between two paints cost one layout.
    block.find_first("span").set_text(std::to_wstring(msg->done) + L"/" + std::to_wstring(msg->total));
    if (msg->failed > 0) {
        block.find_first("span.error > span").set_text(Text(L"Errors", msg->failed));
        if (!block.has_attribute("error"))
            block.set_attribute("error", L"");
    } else if (block.has_attribute("error")) {
        block.set_attribute("error", nullptr);
    }
    const wchar_t* status = row.get_attribute("status");
    if (!status || std::wcscmp(status, L"downloading") != 0)
        row.set_attribute("status", L"downloading");
}

void CDownloadView::OnTaskStatus(msg_task_status* msg) {
    htmlayout::dom::element row = Row(msg->taskId);
    if (!row)
        return;
    switch (msg->status) {
    case kTaskQueued:
        row.set_attribute("status", L"waiting");
        break;
    case kTaskFinished: {
        htmlayout::dom::element link = row.find_first("a[command=redownload]");
        AppContext* ctx = GetAppContext();
        if (msg->failed > 0) {
            link.set_text(Text(L"Repair", msg->failed));
            row.set_attribute("status", L"finish");
        } else if (ctx && ctx->Database().GetConfigInt("AutoPacking", 0) == 1) {
            StartPacking(row, msg->taskId);
        } else {
            link.set_text(Text(L"Re-download"));
            row.set_attribute("status", L"finish");
        }
        break;
    }
    case kTaskPaused: {
        htmlayout::dom::element block = row.find_first("div[paused]");
        if (msg->failed > 0) {
            block.find_first("span.error > span").set_text(Text(L"Errors", msg->failed));
            block.set_attribute("error", L"");
        } else {
            block.set_attribute("error", nullptr);
        }
        row.set_attribute("status", L"paused");
        break;
    }
    default:
        break;
    }
    row.update(true);
    UpdateButtons();
}

// A worker that never runs would leave the row "packing" for good: the row goes back to finished
// and the user learns that no archive was made.
void CDownloadView::StartPacking(htmlayout::dom::element& row, int rowid) {
    row.find_first("a[command=redownload]").set_text(Text(L"Re-download"));
    auto* worker = new CZipWorker(rowid, id);
    if (worker->Start()) {
        row.set_attribute("status", L"packing");
        return;
    }
    delete worker;
    row.set_attribute("status", L"finish");
    CDownloaderImpl* downloader = Downloader();
    const TaskRecord* task = downloader ? downloader->FindTask(rowid) : nullptr;
    AppContext* ctx = GetAppContext();
    if (!ctx)
        return;
    auto* box = new msg_message_box(ctx->Translator().Text(
        L"Messages", L"ZipFailed", {{L"FILE", task ? task->name + L".zip" : std::to_wstring(rowid) + L".zip"}}));
    box->flags = MB_ICONERROR;
    if (!ctx->Messages().PostTo(0, box))
        delete box;
}

void CDownloadView::OnZipProgress(msg_zip_progress* msg) {
    if (msg->written != msg->count)
        return;
    htmlayout::dom::element row = Row(msg->taskId);
    if (!row)
        return;
    row.set_attribute("status", L"finish");
    row.update(true);
}
