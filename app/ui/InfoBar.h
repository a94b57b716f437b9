// The one-line progress bar in which every network step runs, the step interface it drives, and
// the one-line input dialog.
#pragma once

#include "Resource.h"
#include "VxMsg.h"
#include "wtl/DataExchange.h"
#include "wtl/Dialog.h"

#include <functional>
#include <string>

namespace Orvane {
class OvRequest;
}

class msg_async_work;
class msg_end_dialog;
class msg_set_info;

// A step run inside the bar. Every operation but DoWork runs on the user-interface thread; the
// three posts may be made from any thread and are dropped once the bar is gone.
class VxInfoObserver {
public:
    virtual ~VxInfoObserver() = default;
    virtual void DoWork() {}
    virtual void OnWorkDone() {}
    virtual void Start() = 0;
    virtual void OnDestroy() {}

    void SetInfo(const wchar_t* key);
    void SetInfoText(const std::wstring& text);
    // Reads barId before it posts: once the post is made the bar may end and the step go, so a
    // worker thread touches nothing of the step after this call.
    void EndDialog(int result);

    int barId = -1;
};

// The time-out of every request a step sends (configuration, script, page, search), in seconds:
// 120 unless a test shortens it. Set only while no step runs.
int StepRequestTimeout();
void SetStepRequestTimeoutForTesting(int seconds);  // 0 or less: back to 120
// Starts a step's request: Orvane::OvRequest::Start, unless a test put its own in place (which
// must then keep Start's contract: on a non-zero result the request is gone and no completion
// comes). An empty function restores Start.
int StartStepRequest(Orvane::OvRequest* request);
void SetStepStartForTesting(std::function<int(Orvane::OvRequest*)> start);

class VxInfoBar : public WTL::CDialogImpl<VxInfoBar>, public VxMsgObserver {
public:
    enum { IDD = IDD_INFOBAR };

    // Runs the step in a modal bar owned by the main frame (or by owner, a window of this thread);
    // the step's result, or -1 when the bar cannot be created.
    static int Run(VxInfoObserver* step, HWND owner = nullptr);
    // Runs the step's DoWork on a thread of its own, then OnWorkDone back on this thread.
    static bool StartWork(VxInfoObserver* step);

    VxInfoObserver* step = nullptr;

    BEGIN_MSG_MAP(VxInfoBar)
    if (VxMsgObserver::OnMessage(hWnd, uMsg, wParam, lParam, lResult))
        return TRUE;
    MESSAGE_HANDLER(WM_INITDIALOG, OnInitDialog)
    MESSAGE_HANDLER(WM_DESTROY, OnDestroyBar)
    END_MSG_MAP()

    void OnSetInfo(msg_set_info* msg);
    void OnEndDialog(msg_end_dialog* msg);
    void OnAsyncWork(msg_async_work* msg);

private:
    LRESULT OnInitDialog(UINT, WPARAM, LPARAM, BOOL&);
    LRESULT OnDestroyBar(UINT, WPARAM, LPARAM, BOOL& handled);
};

class VxInputDlg : public WTL::CDialogImpl<VxInputDlg>, public WTL::CWinDataExchange<VxInputDlg> {
public:
    enum { IDD = IDD_INPUT };
    std::wstring title;
    std::wstring text;
    HWND edit = nullptr;

    BEGIN_MSG_MAP(VxInputDlg)
    MESSAGE_HANDLER(WM_INITDIALOG, OnInitDialog)
    MESSAGE_HANDLER(WM_CLOSE, OnClose)
    COMMAND_HANDLER(IDC_INPUT_EDIT, EN_CHANGE, OnEditChange)
    COMMAND_ID_HANDLER(IDOK, OnOk)
    COMMAND_ID_HANDLER(IDCANCEL, OnCancel)
    END_MSG_MAP()

private:
    LRESULT OnInitDialog(UINT, WPARAM, LPARAM, BOOL&);
    LRESULT OnClose(UINT, WPARAM, LPARAM, BOOL&);
    LRESULT OnEditChange(WORD, WORD, HWND, BOOL&);
    LRESULT OnOk(WORD, WORD, HWND, BOOL&);
    LRESULT OnCancel(WORD, WORD, HWND, BOOL&);
    void UpdateOk();
};
