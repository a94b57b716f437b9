// The first tab: the built-in downloader's tasks, one HTML row each, with the buttons under them.
#pragma once

#include "DownloaderImpl.h"
#include "Messages.h"
#include "Resource.h"
#include "VxHTMLBase.h"
#include "VxView.h"
#include "wtl/Dialog.h"
#include "wtl/DialogResize.h"

#include <map>
#include <string>
#include <vector>

class CDownloadView : public VxView,
                      public WTL::CDialogImpl<CDownloadView>,
                      public VxHTMLBase<CDownloadView>,
                      public VxMsgObserver,
                      public WTL::CDialogResize<CDownloadView> {
public:
    enum { IDD = IDD_DOWNLOADVIEW };

    CDownloadView();
    // The view as a child of the tab view, or null; it deletes itself with its window.
    static VxView* Make(HWND tabView);

    bool OpenUrl(const wchar_t* url) override;
    const wchar_t* GetUrl() override { return L""; }
    bool CanClose() override { return false; }

    bool handle_event(HELEMENT, HL_BEHAVIOR_EVENT& params) override;
    void OnFinalMessage(HWND) override { delete this; }

    BEGIN_MSG_MAP(CDownloadView)
    if (VxMsgObserver::OnMessage(hWnd, uMsg, wParam, lParam, lResult))
        return TRUE;
    MESSAGE_HANDLER(WM_INITDIALOG, OnInitDialog)
    MESSAGE_HANDLER(WM_DESTROY, OnDestroy)
    COMMAND_ID_HANDLER(IDC_DV_CLEAR, OnClearCompleted)
    COMMAND_ID_HANDLER(IDC_DV_START, OnStartPause)
    COMMAND_ID_HANDLER(IDC_DV_MANAGE, OnManage)
    CHAIN_MSG_MAP(WTL::CDialogResize<CDownloadView>)
    END_MSG_MAP()

    BEGIN_DLGRESIZE_MAP(CDownloadView)
    DLGRESIZE_CONTROL(IDC_DV_HTML, WTL::DLSZ_SIZE_X | WTL::DLSZ_SIZE_Y)
    DLGRESIZE_CONTROL(IDC_DV_CLEAR, WTL::DLSZ_MOVE_X | WTL::DLSZ_MOVE_Y)
    DLGRESIZE_CONTROL(IDC_DV_START, WTL::DLSZ_MOVE_X | WTL::DLSZ_MOVE_Y)
    DLGRESIZE_CONTROL(IDC_DV_MANAGE, WTL::DLSZ_MOVE_X | WTL::DLSZ_MOVE_Y)
    END_DLGRESIZE_MAP()

    std::string RowHtml(const TaskRecord& task) const;
    void AddRows(const std::vector<TaskRecord>& tasks);
    void DeleteTasks(const std::vector<int>& rowids);
    void UpdateButtons();

    void OnAddUiTasks(msg_add_ui_tasks* msg);
    void OnDownloaderNotify(msg_download_notify* msg);
    void OnSlotStatus(msg_slot_status* msg);
    void OnTaskProgress(msg_task_progress* msg);
    void OnTaskStatus(msg_task_status* msg);
    void OnZipProgress(msg_zip_progress* msg);

    bool busy = false;
    HWND engine = nullptr;

private:
    LRESULT OnInitDialog(UINT, WPARAM, LPARAM, BOOL&);
    LRESULT OnDestroy(UINT, WPARAM, LPARAM, BOOL&);
    LRESULT OnClearCompleted(WORD, WORD, HWND, BOOL&);
    LRESULT OnStartPause(WORD, WORD, HWND, BOOL&);
    LRESULT OnManage(WORD, WORD, HWND, BOOL&);

    bool RunCommand(const wchar_t* command, int rowid);
    void StartPacking(htmlayout::dom::element& row, int rowid);
    htmlayout::dom::element Row(int rowid) const;
    std::wstring Text(const wchar_t* key, int errors = -1) const;
    CDownloaderImpl* Downloader() const;

    std::map<std::string, std::string> texts_;
    // Rows by task: lookups per progress report stay cheap with thousands of rows.
    std::map<int, htmlayout::dom::element> rows_;
};
