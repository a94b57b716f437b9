// The zip progress dialog: the worker reports each written entry by a blocking send to the
// dialog's observer id, so the handler runs here while the worker waits.
#include "ZipProgressDlg.h"

#include "AppContext.h"
#include "LanguageTranslator.h"
#include "Messages.h"
#include "MsgCenter.h"
#include "ZipWorker.h"

#include <common/Log.h>

#include <commctrl.h>

namespace {
std::function<bool(CZipWorker*)> g_startForTesting;
}

bool StartZipWorker(CZipWorker* worker) {
    return g_startForTesting ? g_startForTesting(worker) : worker->Start();
}

void SetZipStartForTesting(std::function<bool(CZipWorker*)> start) {
    g_startForTesting = std::move(start);
}

int CZipProgressDlg::Run(HWND owner, int taskId) {
    CZipProgressDlg dialog;
    return static_cast<int>(dialog.DoModal(owner, taskId));
}

LRESULT CZipProgressDlg::OnInitDialog(UINT, WPARAM, LPARAM lParam, BOOL&) {
    AppContext* ctx = GetAppContext();
    if (!ctx) {
        EndDialog(kFailed);
        return TRUE;
    }
    MsgCenter& bus = ctx->Messages();
    id = bus.RegisterObserver(m_hWnd, this);
    bus.Subscribe(id, "zip_progress", MsgThunk<&CZipProgressDlg::OnZipProgress>);
    ctx->Translator().TranslateDialog(m_hWnd, L"ZipProgressDlg");
    bar = GetDlgItem(IDC_ZIP_PROGRESS);

    // Without a worker no progress ever comes, and the dialog has no control to close it.
    auto* worker = new CZipWorker(static_cast<int>(lParam), id);
    if (!StartZipWorker(worker)) {
        Brimholt::Log << "The zip progress dialog could not start packing task " << lParam << std::endl;
        delete worker;
        EndDialog(kFailed);
    }
    return TRUE;
}

void CZipProgressDlg::OnZipProgress(msg_zip_progress* msg) {
    if (HasEnded())
        return;
    if (msg->written == 0)
        ::SendMessageW(bar, PBM_SETRANGE32, 0, msg->count);
    ::SendMessageW(bar, PBM_SETPOS, static_cast<WPARAM>(msg->written), 0);
    // The worker sends a last progress after a failure too, so that the waiting ends.
    if (msg->failed)
        EndDialog(kFailed);
    else if (msg->written == msg->count)
        EndDialog(kComplete);
}
