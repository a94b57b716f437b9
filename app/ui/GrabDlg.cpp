// The grab's worker and its two dialogs. The worker owns what it works on together with the
// dialog (CGrabWork): a cancel ends the dialog at once, and the worker, which may be inside a
// script call holding the script's mutex, finishes that call on its own, touches nothing of the
// dialog and exits. Everything it shows goes to the dialog by posting to its observer id: a send
// while the script's mutex is held would deadlock a user-interface call of the same script.
#include "GrabDlg.h"

#include "AppContext.h"
#include "DebugSettings.h"
#include "JsonUtil.h"
#include "LanguageTranslator.h"
#include "MsgCenter.h"
#include "ParseContext.h"
#include "VolumeRecordSet.h"
#include "wtl/Seams.h"

#include <Tessara.h>
#include <common/CodePage.h>
#include <common/Log.h>
#include <common/Path.h>

#include <commctrl.h>

#include <atomic>
#include <cwctype>

namespace {

std::atomic<int> g_runningWorkers{0};
std::atomic<DWORD> g_navigateBound{120000};

const size_t kMaxContextStem = 200;

}  // namespace

// The worker's state, shared with the dialog. Results, records and flags are written by the
// worker only and read by the dialog only after the worker finished.
class CGrabWork : public Vellix::NotifyCallback {
public:
    CGrabWork(const std::vector<GrabItem>& grabItems, int dialogObserver)
        : items(grabItems), observer(dialogObserver), cancel(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}

    void Run();
    void Cancel() {
        cancelled = true;
        SetEvent(cancel.get());
    }

    void OnCount(int count) override {
        Report([count](CGrabDlg& dialog) { dialog.ShowCount(count); });
    }
    void OnURL(const char* url) override;
    // How many page addresses a volume (counted from 1) reported, and the last one's file name
    // (empty once the worker went on to another volume).
    int PagesSeen(int volume, std::wstring& tail);
    void StartPages(int volume);
    void OnCookie(const char* text) override {
        if (!results.empty())
            results.back().cookie = text;
    }
    void OnHeaders(const char* text) override {
        if (!results.empty())
            results.back().headers = text;
    }
    void OnSave(const char* bytes, size_t length) override;
    void OnNavigate(const char* address) override;

    const std::vector<GrabItem> items;  // a copy: the grab message goes with the dialog
    int observer;  // the dialog's, set before the worker starts
    AutoHandle cancel;
    std::atomic<bool> cancelled{false};
    std::atomic<bool> finished{false};
    bool success = true;
    std::wstring currentName;
    std::vector<TaskItem> results;
    std::vector<int> itemOf;
    std::map<std::string, std::string> volumeRecords;
    // A script reports its pages faster than a window shows them: one report waits at a time and
    // the dialog shows where the worker is by then.
    std::atomic<bool> pagesReportPending{false};

private:
    std::mutex pagesLock_;
    std::vector<int> pages_;  // by volume; the worker may be volumes ahead of the dialog
    std::wstring lastTail_;

    // Runs fn on the dialog's thread while the dialog is there and running.
    template <class F>
    void Report(F fn) {
        if (cancelled)
            return;
        int id = observer;
        PostUiJob(id, [id, fn]() {
            AppContextRef ctx;
            auto* dialog = ctx ? static_cast<CGrabDlg*>(ctx->Messages().GetObserverObject(id)) : nullptr;
            if (dialog && !dialog->HasEnded())
                fn(*dialog);
        });
    }
    bool GrabVolume(size_t item, const VolumeItem& volume, VolumeRecordSet& records);
};

void CGrabWork::OnURL(const char* url) {
    std::string text = url ? url : "";
    size_t slash = text.rfind('/');
    std::wstring tail = ToWide(slash == std::string::npos ? text : text.substr(slash + 1), CP_UTF8);
    {
        std::lock_guard<std::mutex> guard(pagesLock_);
        if (!pages_.empty())
            ++pages_.back();
        lastTail_ = std::move(tail);
    }
    if (!pagesReportPending.exchange(true))
        Report([](CGrabDlg& dialog) { dialog.ShowPages(); });
}

int CGrabWork::PagesSeen(int volume, std::wstring& tail) {
    std::lock_guard<std::mutex> guard(pagesLock_);
    if (volume < 1 || static_cast<size_t>(volume) > pages_.size())
        return 0;
    tail = static_cast<size_t>(volume) == pages_.size() ? lastTail_ : std::wstring();
    return pages_[volume - 1];
}

void CGrabWork::StartPages(int volume) {
    std::lock_guard<std::mutex> guard(pagesLock_);
    pages_.resize(volume);
    lastTail_.clear();
}

void CGrabWork::OnSave(const char* bytes, size_t length) {
    AppContextRef ctx;
    if (!ctx || !bytes)
        return;
    const DebugSettings& debug = ctx->Debug();
    if (!debug.present || !debug.SaveContext)
        return;
    debug.Post(new AsyncWriteFile(ContextFileName(currentName), std::make_shared<std::string>(bytes, length)));
}

void CGrabWork::OnNavigate(const char* address) {
    std::wstring url = ToWide(address ? address : "", CP_UTF8);
    if (cancelled)
        return;
    if (!WTL::IsWebAddress(url.c_str())) {
        Brimholt::Log << "A script's navigation to a non-web address was refused" << std::endl;
        return;
    }
    auto sync = std::make_shared<SyncNavigate>();
    if (!sync->Event() || !OpenPopupBrowser(url, sync))
        return;
    if (!sync->Wait(cancel.get(), g_navigateBound))
        Brimholt::Log << "A script's navigation ended unfinished: " << address << std::endl;
}

// Appends the volume's result; false when its image list could not be had.
bool CGrabWork::GrabVolume(size_t item, const VolumeItem& volume, VolumeRecordSet& records) {
    const GrabItem& grab = items[item];
    currentName = grab.name + L" " + volume.name;
    TaskItem result;
    static_cast<VolumeItem&>(result) = volume;
    results.push_back(result);
    JsonValue* list = nullptr;
    if (!grab.context->ParseImages(list, volume.url, this)) {
        deleteValue(&list);
        Brimholt::Log << "GetImages failed, URL = " << volume.url << std::endl;
        return false;
    }
    TaskItem& done = results.back();
    done.proxy = grab.context->proxy;
    for (unsigned i = 0, n = getArraySize(list); i < n; ++i) {
        JsonValue* member = nullptr;
        getArrayMember(list, i, &member);
        ImageRecord image;
        JsonGetStringMember(member, "url", image.url);
        if (!JsonGetStringMember(member, "ref", image.ref))
            image.ref = volume.url;
        done.images.push_back(image);
    }
    deleteValue(&list);
    Report([](CGrabDlg& dialog) { dialog.FillBar(); });
    itemOf.push_back(static_cast<int>(item));
    auto record = records.records.find(volume.url);
    if (record != records.records.end())
        record->second = 2;
    return true;
}

void CGrabWork::Run() {
    HRESULT com = CoInitialize(nullptr);
    int count = 0;
    for (size_t i = 0; i < items.size() && !cancelled; ++i) {
        const GrabItem& item = items[i];
        // Nothing of an item without volumes is touched: there is no result of its own to judge.
        if (item.volumes.empty() || !item.context)
            continue;
        VolumeRecordSet records;
        if (!item.context->url.empty())
            records.Load(item.context->url);
        bool failed = false;
        for (const VolumeItem& volume : item.volumes) {
            if (cancelled)
                break;
            ++count;
            std::wstring comic = item.name, name = volume.name;
            StartPages(count);
            Report([count, comic, name](CGrabDlg& dialog) { dialog.ShowVolume(count, comic, name); });
            if (!GrabVolume(i, volume, records)) {
                failed = true;
                success = false;
                break;
            }
        }
        if (cancelled)
            break;
        if (!failed) {
            for (auto& record : records.records) {
                if (record.second == 1)
                    record.second = 0;
            }
        }
        if (!records.records.empty())
            volumeRecords[item.context->url] = records.ToJson();
        if (failed)
            break;
    }
    if (SUCCEEDED(com))
        CoUninitialize();
    finished = true;
    Report([](CGrabDlg& dialog) { dialog.OnWorkerFinished(); });
}

namespace {

DWORD WINAPI GrabWorkerThread(void* raw) {
    std::unique_ptr<std::shared_ptr<CGrabWork>> work(static_cast<std::shared_ptr<CGrabWork>*>(raw));
    (*work)->Run();
    work.reset();
    --g_runningWorkers;
    return 0;
}

int CountVolumes(const std::vector<GrabItem>& items) {
    size_t total = 0;
    for (const GrabItem& item : items)
        total += item.volumes.size();
    return static_cast<int>(total);
}

std::wstring Progress(int count, int total) {
    wchar_t text[32];
    swprintf(text, 32, L"%d/%d", count, total);
    return text;
}

}  // namespace

CGrabDlg::CGrabDlg(const std::vector<GrabItem>& items) : work_(std::make_shared<CGrabWork>(items, -1)) {}

CGrabDlg::~CGrabDlg() {
    if (work_ && !work_->finished)
        work_->Cancel();
}

void CGrabDlg::Run(HWND owner, const std::vector<GrabItem>& items, GrabOutcome& outcome) {
    CGrabDlg dialog(items);
    INT_PTR code = dialog.DoModal(owner);
    if (code == -1)
        Brimholt::Log << "The grab dialog could not be created: " << GetLastError() << std::endl;
    dialog.TakeOutcome(outcome);
}

void CGrabDlg::TakeOutcome(GrabOutcome& outcome) {
    outcome = GrabOutcome();
    if (cancelled_ || !work_ || !work_->finished)
        return;
    outcome.code = work_->success ? kDone : kFailed;
    outcome.results = std::move(work_->results);
    outcome.itemOf = std::move(work_->itemOf);
    outcome.volumeRecords = std::move(work_->volumeRecords);
    if (!work_->success)
        outcome.failedName = work_->currentName;
}

LRESULT CGrabDlg::OnInitDialog(UINT, WPARAM, LPARAM, BOOL&) {
    AppContextRef ctx;
    if (!ctx) {
        EndDialog(kDone);
        return TRUE;
    }
    id = ctx->Messages().RegisterObserver(m_hWnd, this);
    work_->observer = id;
    Brimholt::LanguageTranslator& texts = ctx->Translator();
    std::wstring caption = texts.Text(L"GrabDlg", L"Caption");
    if (!caption.empty())
        SetWindowTextW(caption.c_str());
    texts.TranslateDialog(m_hWnd, L"GrabDlg");
    bar_ = GetDlgItem(IDC_GRAB_PROGRESS);
    ::SendMessageW(bar_, PBM_SETSTEP, 1, 0);
    SetWindowTextW(
        texts.Text(L"GrabDlg", L"CaptionFormat", {{L"PROGRESS", Progress(1, CountVolumes(work_->items))}}).c_str());
    ::ShowWindow(bar_, SW_SHOW);
    ::ShowWindow(GetDlgItem(IDC_GRAB_ADDRESS), SW_HIDE);

    auto* shared = new std::shared_ptr<CGrabWork>(work_);
    ++g_runningWorkers;
    thread_.reset(CreateThread(nullptr, 0, GrabWorkerThread, shared, 0, nullptr));
    if (!thread_) {
        Brimholt::Log << "The grab worker could not start: " << GetLastError() << std::endl;
        --g_runningWorkers;
        delete shared;
        cancelled_ = true;  // nothing was grabbed
        EndDialog(kDone);
    }
    return TRUE;
}

void CGrabDlg::ShowVolume(int count, const std::wstring& comic, const std::wstring& volume) {
    AppContextRef ctx;
    if (!ctx)
        return;
    Brimholt::LanguageTranslator& texts = ctx->Translator();
    int total = CountVolumes(work_->items);
    SetWindowTextW(texts.Text(L"GrabDlg", L"CaptionFormat", {{L"PROGRESS", Progress(count, total)}}).c_str());
    SetDlgItemTextW(IDC_GRAB_WHAT,
                    texts.Text(L"GrabDlg", L"Extracting", {{L"MANGANAME", comic}, {L"VOLNAME", volume}}).c_str());
    ::SendMessageW(bar_, PBM_SETPOS, 0, 0);
    // Its pages are shown once its count has set the bar's range.
    shownVolume_ = count;
}

void CGrabDlg::ShowCount(int count) {
    ::ShowWindow(GetDlgItem(IDC_GRAB_ADDRESS), SW_HIDE);
    ::ShowWindow(bar_, SW_SHOW);
    ::SendMessageW(bar_, PBM_SETRANGE32, 0, count);
    RefreshPages();
}

void CGrabDlg::ShowPages() {
    // Cleared before reading, so a page reported meanwhile posts the next report.
    work_->pagesReportPending = false;
    RefreshPages();
}

// The volume the dialog shows, however far the worker is.
void CGrabDlg::RefreshPages() {
    std::wstring tail;
    int pages = work_->PagesSeen(shownVolume_, tail);
    if (pages == 0)
        return;
    if (::IsWindowVisible(bar_))
        ::SendMessageW(bar_, PBM_SETPOS, pages, 0);
    else if (!tail.empty())
        SetDlgItemTextW(IDC_GRAB_ADDRESS, tail.c_str());
}

void CGrabDlg::FillBar() {
    ::SendMessageW(bar_, PBM_SETPOS, ::SendMessageW(bar_, PBM_GETRANGE, FALSE, 0), 0);
}

void CGrabDlg::OnWorkerFinished() {
    thread_.reset();
    if (!(flags_ & kClosing))
        EndWithOutcome();
}

void CGrabDlg::EndWithOutcome() {
    flags_ = work_->success ? (flags_ | kSuccess) : (flags_ & ~kSuccess);
    EndDialog((flags_ & kSuccess) ? kDone : kFailed);
}

LRESULT CGrabDlg::OnCancelButton(WORD, WORD, HWND, BOOL&) {
    PostMessageW(WM_CLOSE);
    return 0;
}

LRESULT CGrabDlg::OnClose(UINT, WPARAM, LPARAM, BOOL&) {
    if ((flags_ & kClosing) || HasEnded())
        return 0;
    flags_ |= kClosing;
    AppContextRef ctx;
    int answer = ctx ? ctx->Translator().AskYesNo(m_hWnd, L"GrabDlg", L"CancelGrab") : IDYES;
    if (HasEnded())
        return 0;
    if (answer == IDYES) {
        cancelled_ = true;
        work_->Cancel();
        EndDialog(kDone);
        return 0;
    }
    flags_ &= ~kClosing;
    if (work_->finished)
        EndWithOutcome();
    return 0;
}

int CGrabFailedDlg::Run(HWND owner, const GrabOutcome& outcome) {
    std::wstring name = outcome.failedName;
    if (name.empty() && !outcome.results.empty())
        name = outcome.results.back().name;
    CGrabFailedDlg dialog(name, &outcome.results);
    return dialog.RunGrabFailedDlg(owner);
}

LRESULT CGrabFailedDlg::OnInitDialog(UINT, WPARAM, LPARAM, BOOL&) {
    AppContextRef ctx;
    if (ctx) {
        Brimholt::LanguageTranslator& texts = ctx->Translator();
        texts.TranslateDialog(m_hWnd, L"GrabFailedDlg");
        SetDlgItemTextW(IDC_GRABFAILED_INFO, texts.Text(L"GrabFailedDlg", L"Info", {{L"NAME", name}}).c_str());
    }
    if (!results || results->empty() || results->front().images.empty()) {
        ::ShowWindow(GetDlgItem(IDOK), SW_HIDE);
        ::EnableWindow(GetDlgItem(IDOK), FALSE);
        ::SendMessageW(m_hWnd, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(GetDlgItem(IDCANCEL)), TRUE);
        WTL::PlayMessageBeep(MB_ICONHAND);
        return FALSE;
    }
    WTL::PlayMessageBeep(MB_ICONHAND);
    return TRUE;
}

LRESULT CGrabFailedDlg::OnButton(WORD, WORD id, HWND, BOOL&) {
    if (id == IDOK && !::IsWindowEnabled(GetDlgItem(IDOK)))
        return 0;
    EndDialog(id == IDOK ? 1 : 2);
    return 0;
}

SyncNavigate::SyncNavigate() : done_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
    if (!done_)
        Brimholt::Log << "CreateEvent for a navigation failed: " << GetLastError() << std::endl;
}

bool SyncNavigate::Wait(HANDLE cancel, DWORD bound) {
    HANDLE events[2] = {done_.get(), cancel};
    DWORD woke = WaitForMultipleObjects(cancel ? 2 : 1, events, FALSE, bound);
    if (woke == WAIT_OBJECT_0)
        return true;
    Abandon();
    return false;
}

void SyncNavigate::OnCreated(VxPopupBrowser* browser) {
    std::lock_guard<std::mutex> guard(lock_);
    if (abandoned_)
        browser->PostMessageW(WM_CLOSE);
    else
        window_ = browser->m_hWnd;
}

// Closed before the waiter hears of it: once the event is set the waiter may go.
void SyncNavigate::OnFinished(VxPopupBrowser* browser, PopupEnd how) {
    {
        std::lock_guard<std::mutex> guard(lock_);
        window_ = nullptr;
    }
    if (how == PopupEnd::DocumentComplete || how == PopupEnd::NavigateError)
        browser->PostMessageW(WM_CLOSE);
    SetEvent(done_.get());
}

void SyncNavigate::Abandon() {
    std::lock_guard<std::mutex> guard(lock_);
    abandoned_ = true;
    if (window_)
        ::PostMessageW(window_, WM_CLOSE, 0, 0);
}

void InstallGrabDialogs() {
    SetGrabDialogs(CGrabDlg::Run, CGrabFailedDlg::Run);
}

int RunningGrabWorkers() {
    return g_runningWorkers;
}

void SetGrabNavigateBound(DWORD ms) {
    g_navigateBound = ms;
}

std::wstring ContextFileName(const std::wstring& currentName) {
    std::wstring stem = currentName;
    SanitizeFileName(stem);
    // Windows drops trailing dots and spaces, and a name of dots alone is no file.
    size_t first = stem.find_first_not_of(L". ");
    size_t last = stem.find_last_not_of(L". ");
    stem = first == std::wstring::npos ? std::wstring() : stem.substr(first, last - first + 1);
    if (stem.size() > kMaxContextStem)
        stem.resize(kMaxContextStem);
    std::wstring device = stem.substr(0, stem.find(L'.'));
    while (!device.empty() && device.back() == L' ')
        device.pop_back();
    for (wchar_t& c : device)
        c = static_cast<wchar_t>(std::towupper(c));
    static const wchar_t* const kDevices[] = {L"CON", L"PRN", L"AUX", L"NUL"};
    bool reserved = false;
    for (const wchar_t* name : kDevices)
        reserved = reserved || device == name;
    if (device.size() == 4 && (device.compare(0, 3, L"COM") == 0 || device.compare(0, 3, L"LPT") == 0) &&
        device[3] >= L'1' && device[3] <= L'9')
        reserved = true;
    if (stem.empty() || reserved)
        stem = L"_" + stem;
    return stem + L".ctx";
}
