// The main frame: children and their layout, the bus requests that need the whole program, the
// start-up job, timers, tray icon and the exit question.
#include "MainFrame.h"

#include "AppContext.h"
#include "AppDatabase.h"
#include "AppPath.h"
#include "DebugSettings.h"
#include "DownloaderImpl.h"
#include "FavoritesStore.h"
#include "InfoBar.h"
#include "InitDlg.h"
#include "LanguageTranslator.h"
#include "Messages.h"
#include "MsgCenter.h"
#include "PreloadDlg.h"
#include "ScriptCatalog.h"
#include "ScriptManager.h"
#include "ServiceApi.h"
#include "UiMetrics.h"
#include "UiSeams.h"
#include "VxDownloadMgr.h"
#include "VxView.h"
#include "ZipWorker.h"
#include "wtl/Module.h"
#include "wtl/Seams.h"

#include <common/CodePage.h>
#include <common/FileText.h>
#include <common/Log.h>
#include <common/Url.h>
#include <json/JsonTree.h>

#include <Tessara.h>
#include <shellapi.h>

#include <algorithm>

namespace {

const UINT kTrayIconId = 419;
const int kAdvertWidth = 234;
enum { kTickerTimer = 0, kFlushTimer = 1 };
const UINT kTickerPeriod = 1000;

// Waits until every job queued on the database worker before it has run.
class DbBarrier : public VxDBTask {
public:
    DbBarrier() : VxDBTask(false) {}
    void Execute(sqlite3**) override {}
};

Brimholt::LanguageTranslator& Texts() {
    return GetAppContext()->Translator();
}

std::wstring Text(const wchar_t* section, const wchar_t* key, const TextVars& vars = TextVars()) {
    return Texts().Text(section, key, vars);
}

int Box(HWND owner, const std::wstring& text, const wchar_t* captionKey, UINT flags) {
    return WTL::ShowMessageBox(owner, text.c_str(), Text(L"Global", captionKey).c_str(), flags);
}

RECT ClientRect(HWND window) {
    RECT rc = {};
    ::GetClientRect(window, &rc);
    return rc;
}

}  // namespace

WTL::CWndClassInfo& CMainFrame::GetWndClassInfo() {
    static WTL::CWndClassInfo info = WTL::CWndClassInfo::Own(L"Vellix2Window", 0, COLOR_BTNFACE);
    return info;
}

CMainFrame::CMainFrame()
    : trayMessage(::RegisterWindowMessageW(L"WM_VX_TRAY")),
      taskbarCreated_(::RegisterWindowMessageW(L"TaskbarCreated")) {
    icon_ = ::LoadIconW(WTL::AppModule().GetResourceInstance(), MAKEINTRESOURCEW(IDR_MAINFRAME));
    GetWndClassInfo().wc.hIcon = icon_;
}

CMainFrame::~CMainFrame() = default;

const std::wstring& CMainFrame::Title() {
    static const std::wstring title = Text(L"Global", L"Name") + L" v" + ToWide(kProgramVersion, CP_UTF8);
    return title;
}

HWND CMainFrame::CreateFrame() {
    RECT rc = {0, 0, 800, 600};
    return Create(nullptr, &rc, Title().c_str());
}

LRESULT CMainFrame::OnCreate(UINT, WPARAM, LPARAM, BOOL&) {
    MsgCenter& center = GetAppContext()->Messages();
    id = center.RegisterObserver(m_hWnd, this);
    center.Subscribe(id, "add_favorite", MsgThunk<&CMainFrame::OnAddFavorite>);
    center.Subscribe(id, "command_change", MsgThunk<&CMainFrame::OnCommandChange>);
    center.Subscribe(id, "edit_favorite", MsgThunk<&CMainFrame::OnEditFavorite>);
    center.Subscribe(id, "execute", MsgThunk<&CMainFrame::OnExecute>);
    center.Subscribe(id, "favorites_loaded", MsgThunk<&CMainFrame::OnFavoritesLoaded>);
    center.Subscribe(id, "flush_favorites", MsgThunk<&CMainFrame::OnFlushFavorites>);
    center.Subscribe(id, "grab", MsgThunk<&CMainFrame::OnGrab>);
    center.Subscribe(id, "init_finished", MsgThunk<&CMainFrame::OnInitFinished>);
    center.Subscribe(id, "message_box", MsgThunk<&CMainFrame::OnMessageBox>);
    center.Subscribe(id, "repair_task", MsgThunk<&CMainFrame::OnRepairTask>);
    center.Subscribe(id, "search", MsgThunk<&CMainFrame::OnSearch>);
    center.Subscribe(id, "simple_url", MsgThunk<&CMainFrame::OnSimpleUrl>);
    center.Subscribe(id, "task_pack", MsgThunk<&CMainFrame::OnTaskPack>);

    if (WTL::CMessageLoop* loop = WTL::AppModule().GetMessageLoop())
        filterAdded_ = loop->AddMessageFilter(this);
    CreateChildren();
    CenterWindow();
    broadcastLink.ShowWindow(SW_HIDE);
    PostJob([this] { StartupJob(); });
    return 0;
}

void CMainFrame::CreateChildren() {
    UiMetrics& metrics = GetAppContext()->Metrics();
    const int cx = metrics.frameCx, cy = metrics.frameCy;
    RECT client = ClientRect(m_hWnd);
    HINSTANCE module = WTL::AppModule().GetModuleInstance();

    HWND avatar = ::CreateWindowExW(0, L"STATIC", nullptr, WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN | SS_BITMAP, cx, cy,
                                    60, 60, m_hWnd, reinterpret_cast<HMENU>(IDC_AVATAR), module, nullptr);
    if (avatar)
        LoadAvatar(avatar);

    RECT panelRect = {2 * cx + 60, 0, client.right, cy + 60};
    panel.Create(m_hWnd, &panelRect, nullptr, WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN, 0, IDC_PANEL);

    statusBar = ::CreateWindowExW(0, STATUSCLASSNAMEW, nullptr, 0x52000013, 0, 0, 0, 0, m_hWnd,
                                  reinterpret_cast<HMENU>(IDC_STATUS_BAR), module, nullptr);
    if (statusBar) {
        HWND link = ::CreateWindowExW(0, L"STATIC", L"Broadcast", WS_CHILD | WS_VISIBLE | SS_NOTIFY, 5, 0, 100, 16,
                                      statusBar, reinterpret_cast<HMENU>(IDC_BROADCAST), module, nullptr);
        if (link && broadcastLink.SubclassWindow(link)) {
            broadcastLink.SetHyperLinkExtendedStyle(WTL::HLINK_UNDERLINEHOVER);
            CenterBroadcastLink();
        }
    }

    RECT status = {};
    if (statusBar)
        ::GetWindowRect(statusBar, &status);
    RECT tabRect = {0, 2 * cy + 60, client.right, client.bottom - (status.bottom - status.top)};
    if (tabView.Create(m_hWnd, &tabRect, nullptr, WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN, 0, IDC_TAB_VIEW))
        tabView.SendMessageW(WM_SETFONT, reinterpret_cast<WPARAM>(metrics.messageFont), FALSE);
}

// The picture is a file the user may replace; the built-in one is written only when it is missing.
void CMainFrame::LoadAvatar(HWND avatar) {
    std::wstring path = GetAppPath() + L"avatar.bmp";
    if (::GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) {
        HINSTANCE module = WTL::AppModule().GetResourceInstance();
        HRSRC found = ::FindResourceW(module, MAKEINTRESOURCEW(IDB_AVATAR), RT_BITMAP);
        HGLOBAL loaded = found ? ::LoadResource(module, found) : nullptr;
        const void* bytes = loaded ? ::LockResource(loaded) : nullptr;
        DWORD size = found ? ::SizeofResource(module, found) : 0;
        if (bytes && size) {
            BITMAPFILEHEADER header = {};
            header.bfType = 0x4D42;
            header.bfSize = size + sizeof(header);
            header.bfOffBits = 54;
            std::string file(reinterpret_cast<const char*>(&header), sizeof(header));
            file.append(static_cast<const char*>(bytes), size);
            if (!WriteFileReplacing(path, file))
                Brimholt::Log << "Cannot write the avatar picture: " << GetLastError() << std::endl;
        }
    }
    HANDLE picture = ::LoadImageW(nullptr, path.c_str(), IMAGE_BITMAP, 60, 60, LR_LOADFROMFILE);
    if (picture) {
        HGDIOBJ old = reinterpret_cast<HGDIOBJ>(
            ::SendMessageW(avatar, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(picture)));
        if (old && old != picture)
            ::DeleteObject(old);
    }
}

void CMainFrame::CenterBroadcastLink() {
    if (!statusBar || !broadcastLink.m_hWnd)
        return;
    RECT bar = ClientRect(statusBar);
    int top = (bar.bottom - broadcastLink.GetIdealHeight()) / 2 + 1;
    broadcastLink.SetWindowPos(nullptr, 5, top, bar.right - 5, bar.bottom - top, SWP_NOZORDER | SWP_NOACTIVATE);
}

void CMainFrame::StartupJob() {
    CInitDlg init;
    starting_ = true;
    int result = VxInfoBar::Run(&init);
    starting_ = false;
    if (closeDeferred_) {
        // A close asked for while the bar ran: the start-up is not finished in a closing window.
        PostMessageW(WM_CLOSE);
        return;
    }
    if (result != 1) {
        Box(m_hWnd, Text(L"Messages", L"InitFailed"), L"Error", MB_ICONINFORMATION);
        PostMessageW(WM_CLOSE);
        return;
    }
    auto* finished = new msg_init_finished(init.error);
    if (!Post(finished))
        delete finished;
    tabView.OpenUrl(L"about:downloader", false);
    std::string advert, popup;
    GetAppContext()->Catalog().GetAdUrls(advert, popup);
    std::wstring popupUrl = ToWide(popup, CP_UTF8);
    if (WTL::IsWebAddress(popupUrl.c_str()))
        Views().popupAdvert(popupUrl);
    StartFavoritesLoader();
    std::wstring command = GetAppContext()->Debug().GetStartCommand();
    if (!command.empty()) {
        auto* msg = new msg_set_input_text(command, false);
        if (!GetAppContext()->Messages().PostTo(panel.id, msg))
            delete msg;
    }
}

void CMainFrame::OnInitFinished(msg_init_finished*) {
    broadcastLink.ShowWindow(SW_SHOWNORMAL);
    NextBroadcast();
    SetTimer(kTickerTimer, kTickerPeriod);
    AppContext* ctx = GetAppContext();
    if (ctx->Database().GetConfigInt("ShowRecommended", 1) != 0)
        tabView.OpenUrl(L"about:recommended", false);
    if (!ctx->Debug().present)
        CreateAdBrowser();
}

void CMainFrame::CreateAdBrowser() {
    if (advert_)
        return;
    AppContext* ctx = GetAppContext();
    std::string fromCatalogue, popup;
    ctx->Catalog().GetAdUrls(fromCatalogue, popup);
    std::wstring url = ToWide(AdvertUrl(fromCatalogue, ctx->Translator().BuiltInCode()), CP_UTF8);
    if (!WTL::IsWebAddress(url.c_str()))
        return;
    UiMetrics& metrics = ctx->Metrics();
    RECT client = ClientRect(m_hWnd);
    RECT area = {client.right - metrics.frameCx - kAdvertWidth, metrics.frameCy, client.right - metrics.frameCx,
                 metrics.frameCy + 60};
    advert_ = Views().advert(m_hWnd, area, IDC_ADVERT, url);
    if (!advert_ || !panel.m_hWnd)
        return;
    RECT panelRect;
    if (GetWindowRectInParent(panel.m_hWnd, panelRect)) {
        panel.SetWindowPos(nullptr, 0, 0, panelRect.right - panelRect.left - metrics.frameCx - kAdvertWidth,
                           panelRect.bottom - panelRect.top, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
}

void CMainFrame::NextBroadcast() {
    ScriptCatalog& catalog = GetAppContext()->Catalog();
    int index = ScriptCatalog::EntryPosition() + 1;
    if (index >= catalog.BroadcastCount())
        index = 0;
    ScriptCatalog::SetEntryPosition(index);
    std::wstring text, link;
    if (!catalog.GetEntry(text, link))
        return;
    broadcastLink.SetLabel(text.c_str());
    // The link control refuses anything but web addresses when clicked. Without a target it would
    // take its label for the address: an entry without one opens nothing.
    broadcastLink.SetHyperLink(link.empty() ? L"about:blank" : link.c_str());
    broadcastLink.Invalidate();
    CenterBroadcastLink();
}

LRESULT CMainFrame::OnTimer(UINT, WPARAM wParam, LPARAM, BOOL& bHandled) {
    if (wParam == kTickerTimer) {
        if (++tickCount_ > 29) {
            NextBroadcast();
            tickCount_ = 0;
        }
    } else if (wParam == kFlushTimer) {
        if (pendingFlushes == 1) {
            KillTimer(kFlushTimer);
            pendingFlushes = 0;
            StartFavoritesWriter();
        } else {
            pendingFlushes = 1;
        }
    } else {
        bHandled = FALSE;
    }
    return 0;
}

void CMainFrame::StartFavoritesWriter() {
    FavoritesSnapshot* snapshot = GetAppContext()->Favorites().Serialize();
    if (!snapshot)
        return;
    ++favoritesSaves;
    AutoHandle thread(::CreateThread(nullptr, 0, FavoritesStore::WriterThread, snapshot, 0, nullptr));
    if (!thread) {
        Brimholt::Log << "Cannot start the favorites writer: " << GetLastError() << std::endl;
        FavoritesStore::WriterThread(snapshot);
    }
}

// Waits for a save already running on its own thread: the writers share one lock, and the older
// snapshot is skipped once a newer one is written.
void CMainFrame::SaveFavoritesNow() {
    if (FavoritesSnapshot* snapshot = GetAppContext()->Favorites().Serialize()) {
        ++favoritesSaves;
        FavoritesStore::WriterThread(snapshot);
    }
}

void CMainFrame::StartFavoritesLoader() {
    AutoHandle thread(::CreateThread(nullptr, 0, FavoritesStore::LoaderThread, nullptr, 0, nullptr));
    if (!thread)
        Brimholt::Log << "Cannot start the favorites loader: " << GetLastError() << std::endl;
}

LRESULT CMainFrame::OnSize(UINT, WPARAM wParam, LPARAM lParam, BOOL&) {
    if (wParam == SIZE_MINIMIZED) {
        if (GetAppContext()->Database().GetConfigInt("MinToTray", 0) == 1)
            MinimizeToTray();
        return 0;
    }
    const int width = LOWORD(lParam), height = HIWORD(lParam);
    UiMetrics& metrics = GetAppContext()->Metrics();
    RECT rc;
    if (panel.m_hWnd && GetWindowRectInParent(panel.m_hWnd, rc)) {
        int right = advert_ ? width - metrics.frameCx - kAdvertWidth : width;
        panel.SetWindowPos(nullptr, 0, 0, right - rc.left, rc.bottom - rc.top,
                           SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
    if (advert_ && GetWindowRectInParent(advert_, rc)) {
        ::SetWindowPos(advert_, nullptr, width - metrics.frameCx - kAdvertWidth, rc.top, kAdvertWidth,
                       rc.bottom - rc.top, SWP_NOZORDER | SWP_NOACTIVATE);
    }
    int statusHeight = 0;
    if (statusBar && GetWindowRectInParent(statusBar, rc)) {
        statusHeight = rc.bottom - rc.top;
        ::SetWindowPos(statusBar, nullptr, 0, height - statusHeight, width, statusHeight,
                       SWP_NOZORDER | SWP_NOACTIVATE);
    }
    if (tabView.m_hWnd && GetWindowRectInParent(tabView.m_hWnd, rc)) {
        tabView.SetWindowPos(nullptr, 0, 0, width - rc.left, (height - statusHeight) - rc.top,
                             SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
    CenterBroadcastLink();
    return 0;
}

LRESULT CMainFrame::OnPaint(UINT, WPARAM, LPARAM, BOOL&) {
    PAINTSTRUCT ps;
    HDC dc = ::BeginPaint(m_hWnd, &ps);
    RECT rc = ClientRect(m_hWnd);
    ::DrawEdge(dc, &rc, EDGE_ETCHED, BF_TOP);
    ::EndPaint(m_hWnd, &ps);
    return 0;
}

LRESULT CMainFrame::OnGetMinMaxInfo(UINT, WPARAM, LPARAM lParam, BOOL&) {
    auto* info = reinterpret_cast<MINMAXINFO*>(lParam);
    info->ptMinTrackSize.x = 800;
    info->ptMinTrackSize.y = 600;
    return 0;
}

// The icon goes in first: a window hidden without one could never be brought back.
void CMainFrame::MinimizeToTray() {
    if (!inTray_ && !AddTrayIcon())
        return;
    ShowWindow(SW_HIDE);
}

bool CMainFrame::AddTrayIcon() {
    NOTIFYICONDATAW data = {};
    data.cbSize = sizeof(data);
    data.hWnd = m_hWnd;
    data.uID = kTrayIconId;
    data.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    data.uCallbackMessage = trayMessage;
    data.hIcon = icon_;
    lstrcpynW(data.szTip, Text(L"Global", L"Name").c_str(), 128);
    inTray_ = WTL::NotifyIcon(NIM_ADD, &data) != FALSE;
    if (!inTray_)
        Brimholt::Log << "Cannot add the tray icon: " << GetLastError() << std::endl;
    return inTray_;
}

void CMainFrame::RemoveTrayIcon() {
    if (!inTray_)
        return;
    NOTIFYICONDATAW data = {};
    data.cbSize = sizeof(data);
    data.hWnd = m_hWnd;
    data.uID = kTrayIconId;
    WTL::NotifyIcon(NIM_DELETE, &data);
    inTray_ = false;
}

// A restarted shell forgets every icon.
void CMainFrame::OnTaskbarCreated() {
    if (inTray_) {
        inTray_ = false;
        AddTrayIcon();
    }
}

LRESULT CMainFrame::OnTrayNotify(LPARAM mouseMessage) {
    if (mouseMessage == WM_LBUTTONDBLCLK) {
        RemoveTrayIcon();
        ShowWindow(SW_RESTORE);
        ::SetForegroundWindow(m_hWnd);
    } else if (mouseMessage == WM_RBUTTONDOWN) {
        HMENU menu = ::CreatePopupMenu();
        if (!menu || !::AppendMenuW(menu, MF_STRING, ID_TRAY_RESTORE, Text(L"NotifyMenu", L"41200").c_str())) {
            if (menu)
                ::DestroyMenu(menu);
            PostMessageW(WM_CLOSE);
            return 0;
        }
        POINT pt = {};
        ::GetCursorPos(&pt);
        if (!::MonitorFromPoint(pt, MONITOR_DEFAULTTONULL)) {
            MONITORINFO info = {};
            info.cbSize = sizeof(info);
            if (::GetMonitorInfoW(::MonitorFromPoint(pt, MONITOR_DEFAULTTONEAREST), &info))
                pt.x = std::max(info.rcWork.left, std::min(pt.x, info.rcWork.right - 1));
        }
        ::SetForegroundWindow(m_hWnd);
        UINT chosen =
            WTL::TrackPopup(menu, PopupMenuAlign(pt.x, pt.y) | TPM_RETURNCMD | TPM_VERTICAL, pt.x, pt.y, m_hWnd);
        ::DestroyMenu(menu);
        if (chosen == ID_TRAY_RESTORE)
            PostMessageW(trayMessage, 0, WM_LBUTTONDBLCLK);
    }
    return 0;
}

BOOL CMainFrame::PreTranslateMessage(MSG* msg) {
    if (msg->message == WM_CHAR && msg->wParam == VK_ESCAPE) {
        PostMessageW(WM_CLOSE);
        return TRUE;
    }
    return FALSE;
}

LRESULT CMainFrame::OnClose(UINT, WPARAM, LPARAM, BOOL& bHandled) {
    // The start-up job runs the info bar over this window and goes on with it afterwards: the
    // window must outlive the bar, so the close waits for it.
    if (starting_) {
        closeDeferred_ = true;
        return 0;
    }
    // Left unhandled, the default processing destroys the window.
    bHandled = EnsureExit() ? FALSE : TRUE;
    return 0;
}

// Unfinished downloads and archives still being written both ask first.
bool CMainFrame::EnsureExit() {
    VxDownloadMgr* manager = GetAppContext()->GetDownloadMgr();
    CDownloaderImpl* builtIn = nullptr;
    bool unfinished = false;
    if (manager && manager->GetActive() == &manager->GetBuiltIn()) {
        builtIn = &manager->GetBuiltIn();
        for (const TaskRecord& task : builtIn->Tasks())
            unfinished = unfinished || task.status != kTaskFinished;
    }
    if (!unfinished && RunningZipJobs() == 0)
        return true;
    if (Box(m_hWnd, Text(L"Messages", L"EnsureExit"), L"Name", MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) != IDYES)
        return false;
    if (builtIn)
        builtIn->FreeSlots();
    return true;
}

LRESULT CMainFrame::OnDestroy(UINT, WPARAM, LPARAM, BOOL& bHandled) {
    AppContext* ctx = GetAppContext();
    ctx->Scripts().ReleaseAll();
    KillTimer(kTickerTimer);
    KillTimer(kFlushTimer);
    pendingFlushes = 0;
    SaveFavoritesNow();
    if (filterAdded_) {
        if (WTL::CMessageLoop* loop = WTL::AppModule().GetMessageLoop())
            loop->RemoveMessageFilter(this);
        filterAdded_ = false;
    }
    RemoveTrayIcon();
    ::PostQuitMessage(0);
    bHandled = FALSE;
    return 0;
}

LRESULT CMainFrame::OnCommand(UINT, WPARAM wParam, LPARAM, BOOL& bHandled) {
    DialogSeams& dialogs = Dialogs();
    switch (LOWORD(wParam)) {
        case IDC_GO: {
            std::wstring text = panel.inputBox.GetText();
            if (text.empty())
                WTL::PlayMessageBeep(0);
            else
                tabView.OpenUrl(text, false);
            break;
        }
        case ID_ABOUT:
            dialogs.about(m_hWnd);
            break;
        case ID_SETTINGS:
            dialogs.settings(m_hWnd);
            break;
        case ID_HOT_MANGAS:
            tabView.OpenUrl(L"about:recommended", true);
            break;
        case ID_FAV_CHECK_UPDATE:
            dialogs.checkUpdate(m_hWnd);
            break;
        case ID_FAV_MANAGE:
            if (dialogs.manageFavorites(m_hWnd, panel.smallImages)) {
                auto* msg = new msg_update_favorite(std::string(), 0);
                if (!GetAppContext()->Messages().Broadcast(msg))
                    delete msg;
            }
            break;
        case ID_FAV_SORT: {
            FavoritesStore& store = GetAppContext()->Favorites();
            if (store.root) {
                store.SortByName(store.root);
                FavoritesStore::PostFlush();
            }
            break;
        }
        case ID_FAV_FOLDER:
            OnFavoritesFolder();
            break;
        default:
            bHandled = FALSE;
    }
    return 0;
}

LRESULT CMainFrame::OnNotify(UINT, WPARAM, LPARAM lParam, BOOL& bHandled) {
    auto* header = reinterpret_cast<NMHDR*>(lParam);
    if (header->code != TBVN_PAGEACTIVATED || header->hwndFrom != tabView.m_hWnd) {
        bHandled = FALSE;
        return 0;
    }
    int active = tabView.GetActivePage();
    auto* view = active >= 0 ? static_cast<VxView*>(tabView.GetPageData(active)) : nullptr;
    if (view) {
        auto* msg = new msg_set_input_text(view->GetUrl(), false);
        if (!GetAppContext()->Messages().PostTo(panel.id, msg))
            delete msg;
    }
    return 0;
}

// The new file is written before anything is forgotten: until it is there, the setting and the
// old file stay as they were.
void CMainFrame::OnFavoritesFolder() {
    AppContext* ctx = GetAppContext();
    AppDatabase& db = ctx->Database();
    std::string previous = db.GetConfig("FavoriteFolder");
    std::wstring current = ToWide(previous, CP_UTF8);
    std::wstring chosen;
    if (!WTL::BrowseForFolder(m_hWnd, current, chosen))
        return;
    if (chosen.back() != L'\\')
        chosen += L'\\';
    if (_wcsicmp(chosen.c_str(), current.c_str()) == 0)
        return;
    std::wstring file = FavoritesStore::FilePath(chosen);
    int answer = IDNO;
    if (::GetFileAttributesW(file.c_str()) != INVALID_FILE_ATTRIBUTES) {
        msg_message_box box;
        box.SetText(L"Messages", L"FavFileExists", {{L"FILE", file}});
        box.flags = MB_YESNOCANCEL | MB_ICONQUESTION | MB_DEFBUTTON3;
        answer = box.Show(m_hWnd);
        if (answer == IDCANCEL)
            return;
    }
    std::wstring oldFile = FavoritesStore::FilePath(current);
    bool keepOld = false;
    db.SetConfigW("FavoriteFolder", chosen.c_str());
    DbBarrier stored;
    db.RunSync(&stored);
    if (answer == IDYES) {
        keepOld = !FavoritesStore::IsUsableFile(file);
        StartFavoritesLoader();
    } else {
        FavoritesSnapshot* snapshot = ctx->Favorites().Serialize();
        if (snapshot && FavoritesStore::WriterThread(snapshot) != 0) {
            db.SetConfig("FavoriteFolder", previous.c_str());
            Box(m_hWnd, Text(L"Messages", L"SwitchLocationFailed", {{L"FILE", file}}), L"Error", MB_ICONERROR);
            return;
        }
    }
    auto* done = new msg_message_box();
    done->keep = 0;
    done->SetText(L"Messages", L"SwitchLocationFinish", {{L"FILE", file}});
    done->flags = MB_ICONINFORMATION;
    if (!Post(done))
        delete done;
    if (current.empty())
        return;
    if (keepOld) {
        if (!::MoveFileExW(oldFile.c_str(), (oldFile + L".bak").c_str(), MOVEFILE_REPLACE_EXISTING))
            Brimholt::Log << "Cannot keep the old favorites file: " << GetLastError() << std::endl;
    } else {
        ::DeleteFileW(oldFile.c_str());
    }
}

void CMainFrame::OnAddFavorite(msg_add_favorite* msg) {
    int answer = Dialogs().favoriteItem(m_hWnd, panel.smallImages, msg->title, msg->category, msg->url, false);
    if (answer != IDOK)
        return;
    auto* update = new msg_update_favorite(msg->url, msg->requester);
    if (!GetAppContext()->Messages().Broadcast(update))
        delete update;
}

void CMainFrame::OnEditFavorite(msg_edit_favorite* msg) {
    std::string url = msg->url;
    if (!GetAppContext()->Favorites().FindItem(url.c_str()))
        return;
    if (Dialogs().favoriteItem(m_hWnd, panel.smallImages, std::wstring(), std::wstring(), url, true) != IDOK)
        return;
    auto* update = new msg_update_favorite(url, msg->requester);
    if (!GetAppContext()->Messages().Broadcast(update))
        delete update;
}

void CMainFrame::OnCommandChange(msg_command_change* msg) {
    int active = tabView.GetActivePage();
    auto* view = active >= 0 ? static_cast<VxView*>(tabView.GetPageData(active)) : nullptr;
    if (!view || view->GetHwnd() != msg->view)
        return;
    auto* text = new msg_set_input_text(msg->command, false);
    if (!GetAppContext()->Messages().PostTo(panel.id, text))
        delete text;
}

void CMainFrame::OnExecute(msg_execute* msg) {
    tabView.OpenUrl(msg->url, false);
}

void CMainFrame::OnFavoritesLoaded(msg_favorites_loaded* msg) {
    FavoritesStore& store = GetAppContext()->Favorites();
    // A load deferred by an open favourites dialog asks for its save once it is applied.
    if (store.SetLoaded(*msg) && msg->saveNeeded && store.root)
        StartFavoritesWriter();
}

void CMainFrame::OnFlushFavorites(msg_flush_favorites*) {
    if (pendingFlushes == 0)
        SetTimer(kFlushTimer, flushPeriod);
    ++pendingFlushes;
}

void CMainFrame::OnGrab(msg_grab* msg) {
    msg->Run(m_hWnd);
}

void CMainFrame::OnMessageBox(msg_message_box* msg) {
    msg->Show(m_hWnd);
}

void CMainFrame::OnRepairTask(msg_repair_task* msg) {
    if (Dialogs().repair(m_hWnd, msg->taskId) != IDOK)
        return;
    VxDownloadMgr* manager = GetAppContext()->GetDownloadMgr();
    if (!manager)
        return;
    CDownloaderImpl& builtIn = manager->GetBuiltIn();
    builtIn.ResumeTask(msg->taskId);
    builtIn.StartAll();
    auto* notify = new msg_download_notify(0);
    if (!GetAppContext()->Messages().PostTo(4, notify))
        delete notify;
}

void CMainFrame::OnSearch(msg_search* msg) {
    CPreSearchDlg search(msg->keyword, msg->kinds);
    int result = VxInfoBar::Run(&search);
    // A search tab has taken the new keyword already: it hears of every outcome, so that it never
    // shows the last keyword's results under this one (a failure reaches it as no answer).
    if (result != 1 || search.body == "[]") {
        if (msg->requester != 0) {
            auto* finish = new msg_search_finish(result == 1 ? search.body : std::string());
            if (!GetAppContext()->Messages().PostTo(msg->requester, finish))
                delete finish;
        }
        if (result != 1)
            Box(m_hWnd, search.PreSearchOnResult(), L"Error", MB_ICONINFORMATION);
        else
            Box(m_hWnd, Text(L"Messages", L"NoResults", {{L"KEYWORD", msg->keyword}}), L"Name", MB_ICONINFORMATION);
        return;
    }
    if (msg->requester != 0) {
        auto* finish = new msg_search_finish(search.body);
        if (!GetAppContext()->Messages().PostTo(msg->requester, finish))
            delete finish;
        return;
    }
    tabView.AddSearchView(msg->keyword, search.body);
}

void CMainFrame::OnSimpleUrl(msg_simple_url* msg) {
    UrlRecord url;
    std::wstring host;
    if (SplitUrl(url, ToUtf8CStr(msg->url.c_str()).c_str()))
        host = ToWide(url.host, CP_UTF8);
    int answer =
        Box(m_hWnd, Text(L"Messages", L"UnsupportedSite", {{L"DOMAIN", host}}), L"Error", MB_YESNO | MB_ICONQUESTION);
    if (answer == IDYES)
        WTL::OpenWebAddress(m_hWnd, ToWide(SiteListUrl(), CP_UTF8).c_str());
}

void CMainFrame::OnTaskPack(msg_task_pack* msg) {
    Dialogs().zipProgress(m_hWnd, msg->taskId);
}
