// The task management dialog (tick download tasks for deletion) and the repair dialog (tick the
// images of one task to download again), both a check-box list over a "Check All" box.
#pragma once

#include "DownloadRecords.h"
#include "Resource.h"
#include "wtl/Dialog.h"

#include <commctrl.h>

#include <list>
#include <string>
#include <vector>

struct ManageRow {
    int rowid;
    std::wstring name;
    int status;
    bool marked = false;
};

class CManageDlg : public WTL::CDialogImpl<CManageDlg> {
public:
    enum { IDD = IDD_MANAGE };

    // A copy of the tasks, in their order.
    explicit CManageDlg(const std::list<TaskRecord>& tasks);

    // Over the built-in downloader's tasks: 1 with the ticked rowids in checked, else 2 (-1 when the
    // dialog could not be made).
    static int Run(HWND owner, std::vector<int>& checked);

    BEGIN_MSG_MAP(CManageDlg)
    MESSAGE_HANDLER(WM_INITDIALOG, OnInitDialog)
    MESSAGE_HANDLER(WM_CLOSE, OnClose)
    NOTIFY_HANDLER(IDC_MANAGE_LIST, LVN_ITEMCHANGED, OnItemChanged)
    COMMAND_HANDLER(IDC_CHECK_ALL, BN_CLICKED, OnCheckAll)
    COMMAND_ID_HANDLER(IDC_MANAGE_DELETE, OnDeleteChecked)
    COMMAND_ID_HANDLER(IDOK, OnEnd)
    COMMAND_ID_HANDLER(IDCANCEL, OnEnd)
    COMMAND_ID_HANDLER(IDCLOSE, OnEnd)
    END_MSG_MAP()

    std::vector<ManageRow> rows;
    HWND list = nullptr;
    HWND checkAll = nullptr;

private:
    LRESULT OnInitDialog(UINT, WPARAM, LPARAM, BOOL&);
    LRESULT OnClose(UINT, WPARAM, LPARAM, BOOL&);
    LRESULT OnItemChanged(int, LPNMHDR header, BOOL&);
    LRESULT OnCheckAll(WORD, WORD, HWND, BOOL&);
    LRESULT OnDeleteChecked(WORD, WORD, HWND, BOOL&);
    LRESULT OnEnd(WORD, WORD, HWND, BOOL&);
};

// The rowids of the rows marked by the last deletion, in row order, appended to out.
void ManageDlgCollectChecked(const CManageDlg& dialog, std::vector<int>& out);

class CRepairDlg : public WTL::CDialogImpl<CRepairDlg> {
public:
    enum { IDD = IDD_REPAIR };

    // Reads the task and its images on the database worker, waiting for them.
    explicit CRepairDlg(int taskRowid);

    // 1 once the ticked images and the task are queued for downloading again, else 2 (-1 when the
    // dialog could not be made).
    static int Run(HWND owner, int taskRowid);

    void Finish(int result);

    BEGIN_MSG_MAP(CRepairDlg)
    MESSAGE_HANDLER(WM_INITDIALOG, OnInitDialog)
    MESSAGE_HANDLER(WM_CLOSE, OnClose)
    NOTIFY_HANDLER(IDC_REPAIR_LIST, LVN_ITEMCHANGED, OnItemChanged)
    COMMAND_HANDLER(IDC_CHECK_ALL, BN_CLICKED, OnCheckAll)
    COMMAND_ID_HANDLER(IDOK, OnButton)
    COMMAND_ID_HANDLER(IDCANCEL, OnButton)
    END_MSG_MAP()

    int rowid;
    std::wstring name;
    std::wstring path;
    std::vector<ImageRecord> images;
    HWND list = nullptr;
    HWND checkAll = nullptr;

private:
    LRESULT OnInitDialog(UINT, WPARAM, LPARAM, BOOL&);
    LRESULT OnClose(UINT, WPARAM, LPARAM, BOOL&);
    LRESULT OnItemChanged(int, LPNMHDR header, BOOL&);
    LRESULT OnCheckAll(WORD, WORD, HWND, BOOL&);
    LRESULT OnButton(WORD, WORD id, HWND, BOOL&);
};
