// The task management and repair dialogs. Rows are read before the window exists (the task list
// of the built-in downloader, or the task's records from the database worker); the repair's
// writes are queued on the worker and not waited for.
#include "ManageDlg.h"

#include "AppContext.h"
#include "AppDatabase.h"
#include "DbJobs.h"
#include "LanguageTranslator.h"
#include "ListCheck.h"
#include "VxDownloadMgr.h"

namespace {

std::wstring Text(const wchar_t* section, const wchar_t* key, const TextVars& vars = TextVars()) {
    AppContext* ctx = GetAppContext();
    return ctx ? ctx->Translator().Text(section, key, vars) : key;
}

void Translate(HWND dialog, const wchar_t* section) {
    if (AppContext* ctx = GetAppContext())
        ctx->Translator().TranslateDialog(dialog, section);
}

void AddColumn(HWND list, int index, const std::wstring& title, int width) {
    LVCOLUMNW column = {};
    column.mask = LVCF_TEXT | LVCF_WIDTH;
    column.pszText = const_cast<wchar_t*>(title.c_str());
    column.cx = width;
    ListView_InsertColumn(list, index, &column);
}

// The first column takes what the status column and a vertical scroll bar leave.
void SetUpList(HWND list, const wchar_t* section, const wchar_t* firstKey) {
    ListView_SetExtendedListViewStyle(list, LVS_EX_GRIDLINES | LVS_EX_CHECKBOXES | LVS_EX_FULLROWSELECT);
    RECT client = {};
    ::GetClientRect(list, &client);
    AddColumn(list, 0, Text(section, firstKey), client.right - (::GetSystemMetrics(SM_CXVSCROLL) + 85));
    AddColumn(list, 1, Text(section, L"Status"), 80);
}

void AddRow(HWND list, int index, const std::wstring& text, const std::wstring& status) {
    LVITEMW item = {};
    item.mask = LVIF_TEXT;
    item.iItem = index;
    item.pszText = const_cast<wchar_t*>(text.c_str());
    int at = ListView_InsertItem(list, &item);
    if (at >= 0 && !status.empty())
        ListView_SetItemText(list, at, 1, const_cast<wchar_t*>(status.c_str()));
}

// BM_GETCHECK rather than BM_GETSTATE: the state also holds the focus and pushed bits, which would
// enable the action with nothing ticked while the box has the focus.
void FollowTicks(const NMHDR* header, HWND list, HWND checkAll, HWND action) {
    const auto* change = reinterpret_cast<const NMLISTVIEW*>(header);
    LRESULT state;
    if (((change->uOldState ^ change->uNewState) & INDEXTOSTATEIMAGEMASK(2)) != 0)
        state = ListCheckAllState(list, checkAll);
    else
        state = ::SendMessageW(checkAll, BM_GETCHECK, 0, 0);
    ::EnableWindow(action, state != 0);
}

bool FileExists(const std::wstring& file) {
    DWORD attributes = ::GetFileAttributesW(file.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

}  // namespace

// ---- task management --------------------------------------------------------------------------

CManageDlg::CManageDlg(const std::list<TaskRecord>& tasks) {
    for (const TaskRecord& task : tasks)
        rows.push_back(ManageRow{task.rowid, task.name, task.status});
}

int CManageDlg::Run(HWND owner, std::vector<int>& checked) {
    AppContext* ctx = GetAppContext();
    VxDownloadMgr* manager = ctx ? ctx->GetDownloadMgr() : nullptr;
    CManageDlg dialog(manager ? manager->GetBuiltIn().Tasks() : std::list<TaskRecord>());
    int result = static_cast<int>(dialog.DoModal(owner));
    if (result == 1)
        ManageDlgCollectChecked(dialog, checked);
    return result;
}

LRESULT CManageDlg::OnInitDialog(UINT, WPARAM, LPARAM, BOOL&) {
    Translate(m_hWnd, L"ManageDlg");
    list = GetDlgItem(IDC_MANAGE_LIST);
    checkAll = GetDlgItem(IDC_CHECK_ALL);
    SetUpList(list, L"ManageDlg", L"Task");
    const std::wstring completed = Text(L"ManageDlg", L"Completed");
    for (size_t i = 0; i < rows.size(); ++i)
        AddRow(list, static_cast<int>(i), rows[i].name, rows[i].status == kTaskFinished ? completed : L"");
    ::EnableWindow(GetDlgItem(IDC_MANAGE_DELETE), FALSE);
    return TRUE;
}

LRESULT CManageDlg::OnClose(UINT, WPARAM, LPARAM, BOOL&) {
    EndDialog(2);
    return 0;
}

LRESULT CManageDlg::OnItemChanged(int, LPNMHDR header, BOOL&) {
    FollowTicks(header, list, checkAll, GetDlgItem(IDC_MANAGE_DELETE));
    return 0;
}

LRESULT CManageDlg::OnCheckAll(WORD, WORD, HWND, BOOL&) {
    ListToggleCheckAll(list, checkAll);
    return 0;
}

// The marks follow the ticks at each press, so a deletion refused at the question and pressed
// again takes only what is ticked then.
LRESULT CManageDlg::OnDeleteChecked(WORD, WORD, HWND, BOOL&) {
    bool unfinished = false;
    for (size_t i = 0; i < rows.size(); ++i) {
        rows[i].marked = ListView_GetCheckState(list, static_cast<int>(i)) != 0;
        if (rows[i].marked && rows[i].status != kTaskFinished)
            unfinished = true;
    }
    if (unfinished) {
        AppContext* ctx = GetAppContext();
        if (!ctx || ctx->Translator().AskYesNo(m_hWnd, L"ManageDlg", L"EnsureDelete") != IDYES)
            return 0;
    }
    EndDialog(1);
    return 0;
}

LRESULT CManageDlg::OnEnd(WORD, WORD, HWND, BOOL&) {
    EndDialog(2);
    return 0;
}

void ManageDlgCollectChecked(const CManageDlg& dialog, std::vector<int>& out) {
    for (const ManageRow& row : dialog.rows) {
        if (row.marked)
            out.push_back(row.rowid);
    }
}

// ---- repair -----------------------------------------------------------------------------------

CRepairDlg::CRepairDlg(int taskRowid) : rowid(taskRowid) {
    AppContext* ctx = GetAppContext();
    if (!ctx)
        return;
    GetTaskInfo info(rowid);
    ctx->Database().RunSync(&info);
    name = info.Name;
    path = info.Path;
    LoadTaskImages load(rowid);
    ctx->Database().RunSync(&load);
    images = std::move(load.images);
}

int CRepairDlg::Run(HWND owner, int taskRowid) {
    CRepairDlg dialog(taskRowid);
    return static_cast<int>(dialog.DoModal(owner));
}

LRESULT CRepairDlg::OnInitDialog(UINT, WPARAM, LPARAM, BOOL&) {
    Translate(m_hWnd, L"RepairDlg");
    SetWindowTextW(Text(L"RepairDlg", L"CaptionText", {{L"NAME", name}}).c_str());
    list = GetDlgItem(IDC_REPAIR_LIST);
    checkAll = GetDlgItem(IDC_CHECK_ALL);
    SetUpList(list, L"RepairDlg", L"File");
    ::EnableWindow(GetDlgItem(IDOK), FALSE);
    const std::wstring ok = Text(L"RepairDlg", L"OK");
    const std::wstring deleted = Text(L"RepairDlg", L"Deleted");
    const std::wstring error = Text(L"RepairDlg", L"Error");
    for (size_t i = 0; i < images.size(); ++i) {
        const ImageRecord& image = images[i];
        std::wstring file = image.target + image.ext;
        bool present = image.status == kImageDone && FileExists(path + file);
        AddRow(list, static_cast<int>(i), file, present ? ok : (image.status == kImageDone ? deleted : error));
        // The tick's notification enables the repair button.
        if (!present)
            ListView_SetCheckState(list, static_cast<int>(i), TRUE);
    }
    return TRUE;
}

LRESULT CRepairDlg::OnClose(UINT, WPARAM, LPARAM, BOOL&) {
    EndDialog(2);
    return 0;
}

LRESULT CRepairDlg::OnItemChanged(int, LPNMHDR header, BOOL&) {
    FollowTicks(header, list, checkAll, GetDlgItem(IDOK));
    return 0;
}

LRESULT CRepairDlg::OnCheckAll(WORD, WORD, HWND, BOOL&) {
    ListToggleCheckAll(list, checkAll);
    return 0;
}

LRESULT CRepairDlg::OnButton(WORD, WORD id, HWND, BOOL&) {
    Finish(id == IDOK ? 1 : 2);
    return 0;
}

// Images are named by their rows and the task: one address may stand in several tasks, or twice
// in this one, and only the ticked rows of this task go back to waiting.
void CRepairDlg::Finish(int result) {
    AppContext* ctx = GetAppContext();
    if (result == 1 && ctx) {
        auto* reset = new SetImageStatus(rowid);
        for (size_t i = 0; i < images.size(); ++i) {
            if (ListView_GetCheckState(list, static_cast<int>(i)))
                reset->Add(images[i].rowid, std::wstring(), kImageWaiting);
        }
        ctx->Database().Post(reset);
        ctx->Database().Post(new SetTaskStatus(rowid, kTaskQueued));
    }
    EndDialog(result);
}
