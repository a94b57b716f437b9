// The info bar: a modal one-line window that shows a step's progress texts and ends with the
// step's result; the step reaches it only through bus messages. The input dialog asks for one line.
#include "InfoBar.h"

#include "AppContext.h"
#include "LanguageTranslator.h"
#include "Messages.h"
#include "MsgCenter.h"

#include <Dornet.h>
#include <common/Log.h>

#include <atomic>

namespace {

const int kDefaultTimeoutSeconds = 120;
std::atomic<int> g_timeoutSeconds{kDefaultTimeoutSeconds};
std::function<int(Orvane::OvRequest*)> g_startForTesting;

// Posts to a bar; a message that could not be posted (the bar is gone) is deleted here.
void PostToBar(int barId, VxMsg* msg) {
    bool posted = false;
    {
        AppContextRef ctx;
        posted = ctx && ctx->Messages().PostTo(barId, msg);
    }
    if (!posted)
        delete msg;
}

// What the work thread needs: the message, and the bar's id taken when the work was started, so
// the thread never reads the step after DoWork.
struct WorkStart {
    msg_async_work* msg;
    int barId;
};

DWORD WINAPI WorkThread(void* param) {
    WorkStart start = *static_cast<WorkStart*>(param);
    delete static_cast<WorkStart*>(param);
    start.msg->work->DoWork();
    PostToBar(start.barId, start.msg);
    return 0;
}

}  // namespace

int StepRequestTimeout() {
    return g_timeoutSeconds.load();
}

void SetStepRequestTimeoutForTesting(int seconds) {
    g_timeoutSeconds = seconds > 0 ? seconds : kDefaultTimeoutSeconds;
}

int StartStepRequest(Orvane::OvRequest* request) {
    return g_startForTesting ? g_startForTesting(request) : request->Start();
}

void SetStepStartForTesting(std::function<int(Orvane::OvRequest*)> start) {
    g_startForTesting = std::move(start);
}

void VxInfoObserver::SetInfo(const wchar_t* key) {
    PostToBar(barId, new msg_set_info(msg_set_info::InfosKey{key}));
}

void VxInfoObserver::SetInfoText(const std::wstring& text) {
    PostToBar(barId, new msg_set_info(text));
}

void VxInfoObserver::EndDialog(int result) {
    int bar = barId;
    PostToBar(bar, new msg_end_dialog(result));
}

int VxInfoBar::Run(VxInfoObserver* step, HWND owner) {
    // A dialog over the frame owns its bars: ending a bar re-enables its owner, and a frame
    // enabled under a modal dialog could start a second one.
    if (owner && (!::IsWindow(owner) || GetWindowThreadProcessId(owner, nullptr) != GetCurrentThreadId()))
        owner = nullptr;
    AppContext* ctx = GetAppContext();
    if (!owner && ctx) {
        // Observer 0 is the main frame in the program and whatever window a test registered
        // first; only a live window of this thread can own a modal dialog of this thread.
        HWND first = ctx->Messages().GetObserverWindow(0);
        if (first && ::IsWindow(first) && GetWindowThreadProcessId(first, nullptr) == GetCurrentThreadId())
            owner = first;
    }
    VxInfoBar bar;
    bar.step = step;
    INT_PTR result = bar.DoModal(owner);
    if (result == -1)
        SetLastError(ERROR_OUTOFMEMORY);
    return static_cast<int>(result);
}

bool VxInfoBar::StartWork(VxInfoObserver* step) {
    auto* msg = new msg_async_work(step, nullptr);
    auto* start = new WorkStart{msg, step->barId};
    HANDLE thread = CreateThread(nullptr, 0, WorkThread, start, 0, nullptr);
    if (!thread) {
        Brimholt::Log << "The info bar's work thread could not be created: " << GetLastError() << std::endl;
        delete start;
        delete msg;
        return false;
    }
    CloseHandle(thread);
    return true;
}

LRESULT VxInfoBar::OnInitDialog(UINT, WPARAM, LPARAM, BOOL&) {
    AppContext* ctx = GetAppContext();
    if (!ctx || !step) {
        WTL::CDialogImpl<VxInfoBar>::EndDialog(-1);
        return 0;
    }
    MsgCenter& bus = ctx->Messages();
    id = bus.RegisterObserver(m_hWnd, this);
    bus.Subscribe(id, "async_work", MsgThunk<&VxInfoBar::OnAsyncWork>);
    bus.Subscribe(id, "end_dialog", MsgThunk<&VxInfoBar::OnEndDialog>);
    bus.Subscribe(id, "set_info", MsgThunk<&VxInfoBar::OnSetInfo>);
    step->barId = id;
    step->Start();
    return 0;  // no default focus
}

LRESULT VxInfoBar::OnDestroyBar(UINT, WPARAM, LPARAM, BOOL& handled) {
    // The observer base has unregistered the bar already: later posts to its id are dropped.
    if (step)
        step->OnDestroy();
    handled = FALSE;
    return 0;
}

void VxInfoBar::OnSetInfo(msg_set_info* msg) {
    ::SetDlgItemTextW(m_hWnd, IDC_INFO_TEXT, msg->text.c_str());
}

void VxInfoBar::OnEndDialog(msg_end_dialog* msg) {
    WTL::CDialogImpl<VxInfoBar>::EndDialog(msg->result);
}

void VxInfoBar::OnAsyncWork(msg_async_work* msg) {
    if (msg->work)
        msg->work->OnWorkDone();
}

LRESULT VxInputDlg::OnInitDialog(UINT, WPARAM, LPARAM, BOOL&) {
    if (AppContext* ctx = GetAppContext())
        ctx->Translator().TranslateDialog(m_hWnd, L"InputDlg");
    ::SetWindowTextW(m_hWnd, title.c_str());
    edit = GetDlgItem(IDC_INPUT_EDIT);
    if (!text.empty()) {
        ::SetWindowTextW(edit, text.c_str());
        ::PostMessageW(edit, EM_SETSEL, 0, -1);
    }
    UpdateOk();
    ::SetFocus(edit);
    return FALSE;  // the focus is set
}

void VxInputDlg::UpdateOk() {
    ::EnableWindow(GetDlgItem(IDOK), edit && ::GetWindowTextLengthW(edit) > 0);
}

LRESULT VxInputDlg::OnEditChange(WORD, WORD, HWND, BOOL&) {
    UpdateOk();
    return 0;
}

LRESULT VxInputDlg::OnOk(WORD, WORD, HWND, BOOL&) {
    // Enter reaches here even while the button is disabled: an empty text is never accepted.
    int length = edit ? ::GetWindowTextLengthW(edit) : 0;
    if (length <= 0)
        return 0;
    std::wstring entered(static_cast<size_t>(length) + 1, L'\0');
    entered.resize(static_cast<size_t>(::GetWindowTextW(edit, &entered[0], length + 1)));
    text = entered;
    EndDialog(IDOK);
    return 0;
}

LRESULT VxInputDlg::OnCancel(WORD, WORD, HWND, BOOL&) {
    EndDialog(IDCANCEL);
    return 0;
}

LRESULT VxInputDlg::OnClose(UINT, WPARAM, LPARAM, BOOL&) {
    EndDialog(IDCANCEL);
    return 0;
}
