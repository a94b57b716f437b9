// The grab dialog turns the chosen volumes into image lists: one worker asks each comic's script,
// volume by volume, and the dialog shows how far it came. The grab-failed dialog asks whether to
// keep the volumes that succeeded when one failed.
#pragma once

#include "PopupBrowser.h"
#include "Resource.h"
#include "VxMsg.h"
#include "wtl/Dialog.h"

#include <GrabSteps.h>
#include <common/Scoped.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

class CGrabWork;

class CGrabDlg : public WTL::CDialogImpl<CGrabDlg>, public VxMsgObserver {
public:
    enum { IDD = IDD_GRAB };
    enum { kDone = 1, kFailed = 2 };

    explicit CGrabDlg(const std::vector<GrabItem>& items);
    ~CGrabDlg() override;

    // The grab as msg_grab::Run calls it: the dialog runs modally over the items.
    static void Run(HWND owner, const std::vector<GrabItem>& items, GrabOutcome& outcome);
    // Once the dialog ended: what the worker collected; nothing after a cancel.
    void TakeOutcome(GrabOutcome& outcome);

    BEGIN_MSG_MAP(CGrabDlg)
    if (VxMsgObserver::OnMessage(hWnd, uMsg, wParam, lParam, lResult))
        return TRUE;
    MESSAGE_HANDLER(WM_INITDIALOG, OnInitDialog)
    MESSAGE_HANDLER(WM_CLOSE, OnClose)
    COMMAND_ID_HANDLER(IDCANCEL, OnCancelButton)
    END_MSG_MAP()

    // The worker's reports, posted to this dialog's observer id and run here.
    void ShowVolume(int count, const std::wstring& comic, const std::wstring& volume);
    void ShowCount(int count);
    void ShowPages();  // the bar at the pages reported so far, or the last page's name
    void FillBar();
    void OnWorkerFinished();

private:
    enum { kSuccess = 1, kClosing = 2 };

    LRESULT OnInitDialog(UINT, WPARAM, LPARAM, BOOL&);
    LRESULT OnClose(UINT, WPARAM, LPARAM, BOOL&);
    LRESULT OnCancelButton(WORD, WORD, HWND, BOOL&);
    void EndWithOutcome();
    void RefreshPages();

    AutoHandle thread_;
    std::shared_ptr<CGrabWork> work_;
    HWND bar_ = nullptr;
    unsigned flags_ = kSuccess;
    bool cancelled_ = false;
    int shownVolume_ = 0;  // the volume the bar is for
};

class CGrabFailedDlg : public WTL::CDialogImpl<CGrabFailedDlg> {
public:
    enum { IDD = IDD_GRABFAILED };

    CGrabFailedDlg(const std::wstring& failedName, const std::vector<TaskItem>* grabResults)
        : name(failedName), results(grabResults) {}

    // 1: keep the volumes that succeeded; 2: drop them all.
    static int Run(HWND owner, const GrabOutcome& outcome);
    int RunGrabFailedDlg(HWND owner) { return static_cast<int>(DoModal(owner)); }

    BEGIN_MSG_MAP(CGrabFailedDlg)
    MESSAGE_HANDLER(WM_INITDIALOG, OnInitDialog)
    COMMAND_ID_HANDLER(IDOK, OnButton)
    COMMAND_ID_HANDLER(IDCANCEL, OnButton)
    END_MSG_MAP()

    std::wstring name;
    const std::vector<TaskItem>* results;

private:
    LRESULT OnInitDialog(UINT, WPARAM, LPARAM, BOOL&);
    LRESULT OnButton(WORD, WORD id, HWND, BOOL&);
};

// One synchronous navigation of a script: the pop-up browser's handler that tells the waiting
// grab worker when the browser is done with the page. Shared by the worker and the browser's
// thread, either of which may go first.
class SyncNavigate : public VxPopupHandler {
public:
    SyncNavigate();
    HANDLE Event() const { return done_.get(); }
    // Waits until the browser is done, cancel is set or the bound passed; the browser is closed
    // in the last two cases. True when the browser finished.
    bool Wait(HANDLE cancel, DWORD bound);

    void OnCreated(VxPopupBrowser* browser) override;
    void OnFinished(VxPopupBrowser* browser, PopupEnd how) override;

private:
    void Abandon();

    AutoHandle done_;
    std::mutex lock_;
    HWND window_ = nullptr;
    bool abandoned_ = false;
};

// Makes these the dialogs of every grab.
void InstallGrabDialogs();
// Workers whose thread has not yet ended, cancelled ones included.
int RunningGrabWorkers();
// How long a script's navigation may take (120 s unless a test shortens it).
void SetGrabNavigateBound(DWORD ms);
// The developer file name for a grab's current name: a plain file name ending in ".ctx".
std::wstring ContextFileName(const std::wstring& currentName);
