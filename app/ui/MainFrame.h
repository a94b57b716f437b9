// The program's one top-level window: layout of its children, observer 0 of the bus, the start-up
// job, the status-bar ticker, the deferred favourites save, the tray icon and the exit question.
#pragma once

#include "Resource.h"
#include "VxMsg.h"
#include "VxPanel.h"
#include "VxTabView.h"
#include "wtl/AxHost.h"
#include "wtl/HyperLink.h"
#include "wtl/MessageLoop.h"
#include "wtl/WindowImpl.h"

#include <string>

class msg_add_favorite;
class msg_command_change;
class msg_edit_favorite;
class msg_execute;
class msg_favorites_loaded;
class msg_flush_favorites;
class msg_grab;
class msg_init_finished;
class msg_message_box;
class msg_repair_task;
class msg_search;
class msg_simple_url;
class msg_task_pack;

typedef WTL::CWinTraits<WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN | WS_CLIPSIBLINGS, 0> CMainFrameTraits;

class CMainFrame : public WTL::CWindowImpl<CMainFrame, WTL::CWindow, CMainFrameTraits>,
                   public WTL::CMessageFilter,
                   public VxMsgObserver {
public:
    static WTL::CWndClassInfo& GetWndClassInfo();

    CMainFrame();
    ~CMainFrame() override;

    // [Global] Name + " v" + the version.
    static const std::wstring& Title();
    // Creates the 800 x 600 frame at (0, 0) with its title.
    HWND CreateFrame();

    BOOL PreTranslateMessage(MSG* msg) override;

    BEGIN_MSG_MAP(CMainFrame)
    if (VxMsgObserver::OnMessage(hWnd, uMsg, wParam, lParam, lResult))
        return TRUE;
    MESSAGE_HANDLER(WM_CREATE, OnCreate)
    MESSAGE_HANDLER(WM_DESTROY, OnDestroy)
    MESSAGE_HANDLER(WM_SIZE, OnSize)
    MESSAGE_HANDLER(WM_PAINT, OnPaint)
    MESSAGE_HANDLER(WM_CLOSE, OnClose)
    MESSAGE_HANDLER(WM_GETMINMAXINFO, OnGetMinMaxInfo)
    MESSAGE_HANDLER(WM_TIMER, OnTimer)
    MESSAGE_HANDLER(WM_COMMAND, OnCommand)
    MESSAGE_HANDLER(WM_NOTIFY, OnNotify)
    if (uMsg == trayMessage) {
        lResult = OnTrayNotify(lParam);
        return TRUE;
    }
    if (uMsg == taskbarCreated_) {
        OnTaskbarCreated();
        return FALSE;
    }
    END_MSG_MAP()

    LRESULT OnCreate(UINT, WPARAM, LPARAM, BOOL&);
    LRESULT OnDestroy(UINT, WPARAM, LPARAM, BOOL&);
    LRESULT OnSize(UINT, WPARAM, LPARAM, BOOL&);
    LRESULT OnPaint(UINT, WPARAM, LPARAM, BOOL&);
    LRESULT OnClose(UINT, WPARAM, LPARAM, BOOL&);
    LRESULT OnGetMinMaxInfo(UINT, WPARAM, LPARAM, BOOL&);
    LRESULT OnTimer(UINT, WPARAM, LPARAM, BOOL&);
    LRESULT OnCommand(UINT, WPARAM, LPARAM, BOOL&);
    LRESULT OnNotify(UINT, WPARAM, LPARAM, BOOL&);
    LRESULT OnTrayNotify(LPARAM mouseMessage);

    // False when the close is to be called off.
    bool EnsureExit();
    void OnInitFinished(msg_init_finished* msg);
    void NextBroadcast();
    void OnFavoritesFolder();
    void CreateAdBrowser();

    UINT trayMessage;
    VxPanel panel;
    WTL::CAxWindow adBrowser;
    VxTabView tabView;
    HWND statusBar = nullptr;
    WTL::CHyperLink broadcastLink;
    int pendingFlushes = 0;
    // The deferred save's period; tests shorten it.
    UINT flushPeriod = 60000;
    // Saves of the favourites started by this frame.
    int favoritesSaves = 0;

    // For tests: whether the tray icon is shown.
    bool InTray() const { return inTray_; }

private:
    void StartupJob();
    void CreateChildren();
    void CenterBroadcastLink();
    void LoadAvatar(HWND avatar);
    bool AddTrayIcon();
    void RemoveTrayIcon();
    void MinimizeToTray();
    void SaveFavoritesNow();
    void StartFavoritesWriter();
    void StartFavoritesLoader();

    void OnAddFavorite(msg_add_favorite* msg);
    void OnCommandChange(msg_command_change* msg);
    void OnEditFavorite(msg_edit_favorite* msg);
    void OnExecute(msg_execute* msg);
    void OnFavoritesLoaded(msg_favorites_loaded* msg);
    void OnFlushFavorites(msg_flush_favorites* msg);
    void OnGrab(msg_grab* msg);
    void OnMessageBox(msg_message_box* msg);
    void OnRepairTask(msg_repair_task* msg);
    void OnSearch(msg_search* msg);
    void OnSimpleUrl(msg_simple_url* msg);
    void OnTaskPack(msg_task_pack* msg);
    void OnTaskbarCreated();

    UINT taskbarCreated_;
    HWND advert_ = nullptr;
    HICON icon_ = nullptr;
    bool inTray_ = false;
    int tickCount_ = 0;
    bool filterAdded_ = false;
    bool starting_ = false;       // the start-up job's info bar is up
    bool closeDeferred_ = false;  // a close came meanwhile
};
