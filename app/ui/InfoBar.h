// The one-line progress bar in which every network step runs, the step interface it drives, and
// the one-line input dialog.
#pragma once

#include "Resource.h"
#include "VxMsg.h"
#include "wtl/DataExchange.h"
#include "wtl/Dialog.h"

#include <string>

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
    void EndDialog(int result);

    int barId = -1;
};

class VxInfoBar : public WTL::CDialogImpl<VxInfoBar>, public VxMsgObserver {
public:
    enum { IDD = IDD_INFOBAR };

    // Runs the step in a modal bar owned by the main frame; the step's result, or -1 when the bar
    // cannot be created.
    static int Run(VxInfoObserver* step);
    // Runs the step's DoWork on a thread of its own, then OnWorkDone back on this thread.
    static bool StartWork(VxInfoObserver* step);

    VxInfoObserver* step = nullptr;
    // (message map and handlers: the info-bar module)
};

class VxInputDlg : public WTL::CDialogImpl<VxInputDlg> {
public:
    enum { IDD = IDD_INPUT };
    std::wstring title;
    std::wstring text;
    // (message map and handlers: the info-bar module)
};
