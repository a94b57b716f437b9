// The dialog that packs one download task into its zip archive on the user's command and shows how
// far the packing has come.
#pragma once

#include "Resource.h"
#include "VxMsg.h"
#include "wtl/Dialog.h"

#include <functional>

class CZipWorker;
class msg_zip_progress;

// Starts a worker: CZipWorker::Start unless a test put its own in place, which must keep Start's
// contract (on false the caller still owns the worker). An empty function restores Start.
bool StartZipWorker(CZipWorker* worker);
void SetZipStartForTesting(std::function<bool(CZipWorker*)> start);

class CZipProgressDlg : public WTL::CDialogImpl<CZipProgressDlg>, public VxMsgObserver {
public:
    enum { IDD = IDD_ZIPPROGRESS };
    enum { kComplete = 1, kFailed = 2 };

    // Packs the task (its Task2 rowid) in a modal dialog: kComplete once the archive is written,
    // kFailed when it could not be, -1 when the dialog could not be created.
    static int Run(HWND owner, int taskId);

    BEGIN_MSG_MAP(CZipProgressDlg)
    if (VxMsgObserver::OnMessage(hWnd, uMsg, wParam, lParam, lResult))
        return TRUE;
    MESSAGE_HANDLER(WM_INITDIALOG, OnInitDialog)
    END_MSG_MAP()

    void OnZipProgress(msg_zip_progress* msg);

private:
    LRESULT OnInitDialog(UINT, WPARAM, LPARAM lParam, BOOL&);

    HWND bar = nullptr;
};
