// The tab view: what an address opens, the pages' bus messages, closing tabs by mouse and menu.
#include "VxTabView.h"

#include "AppContext.h"
#include "FavoritesMenu.h"
#include "LanguageTranslator.h"
#include "Messages.h"
#include "MsgCenter.h"
#include "Resource.h"
#include "ScriptCatalog.h"
#include "UiMetrics.h"
#include "UiSeams.h"
#include "VxView.h"
#include "wtl/Module.h"
#include "wtl/Seams.h"

#include <common/CodePage.h>
#include <common/Log.h>
#include <common/Url.h>
#include <htmlayout.h>

#include <windowsx.h>

namespace {

const int kEdge = GetSystemMetrics(SM_CXEDGE);
const int kCloseMarkWidth = 16;

std::wstring Text(const wchar_t* section, const wchar_t* key) {
    AppContext* ctx = GetAppContext();
    return ctx ? ctx->Translator().Text(section, key) : std::wstring(key);
}

bool PostToFrame(VxMsg* msg) {
    AppContext* ctx = GetAppContext();
    if (ctx && ctx->Messages().PostTo(0, msg))
        return true;
    Brimholt::Log << "Message " << msg->name << " not delivered to the main window" << std::endl;
    delete msg;
    return false;
}

POINT PointOf(LPARAM lParam) {
    return {GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
}

void SetItemText(HMENU menu, UINT command) {
    std::wstring text = Text(L"TabView", std::to_wstring(command).c_str());
    ModifyMenuW(menu, command, MF_BYCOMMAND | MF_STRING, command, text.c_str());
}

// A window of another thread cannot be destroyed from here: its thread closes it.
void CloseWindowOfAnyThread(HWND window) {
    if (!IsWindow(window))
        return;
    if (GetWindowThreadProcessId(window, nullptr) == GetCurrentThreadId())
        DestroyWindow(window);
    else
        PostMessageW(window, WM_CLOSE, 0, 0);
}

}  // namespace

VxTabView::VxTabView() {
    HINSTANCE module = WTL::AppModule().GetResourceInstance();
    tabImages = UiMetrics::ImageListFromBitmap(module, IDB_TABS, 16);
    tabMenu = LoadMenuW(module, MAKEINTRESOURCEW(IDR_TABMENU));
    if (!tabMenu) {
        Brimholt::Log << "Cannot load the tab menu: " << GetLastError() << std::endl;
        return;
    }
    SetItemText(tabMenu, ID_TAB_CLOSE_ALL);
    SetItemText(tabMenu, ID_TAB_CLOSE);
    SetItemText(tabMenu, ID_TAB_CLOSE_OTHERS);
}

VxTabView::~VxTabView() {
    if (m_hWnd)
        DestroyWindow();
    if (tabMenu)
        DestroyMenu(tabMenu);
    if (tabImages)
        ImageList_Destroy(tabImages);
}

LRESULT VxTabView::OnCreate(UINT, WPARAM, LPARAM, BOOL&) {
    AppContext* ctx = GetAppContext();
    if (!CreateTabControl() || !ctx)
        return -1;
    MsgCenter& bus = ctx->Messages();
    id = bus.RegisterObserver(m_hWnd, this);
    if (id != 2)
        Brimholt::Log << "The tab view is observer " << id << ", not 2" << std::endl;
    bus.Subscribe(id, "add_tab", MsgThunk<&VxTabView::OnAddTab>);
    bus.Subscribe(id, "close_tab", MsgThunk<&VxTabView::OnCloseTab>);
    bus.Subscribe(id, "set_active", MsgThunk<&VxTabView::OnSetActive>);
    bus.Subscribe(id, "title_change", MsgThunk<&VxTabView::OnTitleChange>);
    SetImageList(tabImages);
    HTMLayoutClassNameW();
    return 0;
}

int VxTabView::FindPage(HWND page) const {
    return page ? PageIndexFromHwnd(page) : -1;
}

VxView* VxTabView::PageView(int page) const {
    return static_cast<VxView*>(GetPageData(page));
}

bool VxTabView::OpenUrl(const std::wstring& address, bool noForward) {
    // Before the active page sees it: a page that takes keywords would search for these.
    if (_wcsicmp(address.c_str(), L"about:downloader") == 0) {
        if (GetPageCount() == 0)
            return AddDownloadView();
        SetActivePage(0);
        return true;
    }
    if (_wcsicmp(address.c_str(), L"about:recommended") == 0)
        return AddRecommendView();
    VxView* active = noForward ? nullptr : PageView(GetActivePage());
    if (active && active->OpenUrl(address.c_str()))
        return true;
    UrlRecord url;
    if (!SplitUrl(url, ToNarrow(address, CP_UTF8).c_str())) {
        Search(address);
        return true;
    }
    // A text such as "Re:Zero" parses with an empty host: no site can have a script for it.
    if (!url.host.empty() && HasScriptForSite(url.host))
        return OpenScripted(address);
    PostToFrame(new msg_simple_url(address));
    return true;
}

bool VxTabView::AppendView(VxView* view, const std::wstring& title, int image) {
    if (!view)
        return false;
    HWND window = view->GetHwnd();
    if (AddPage(window, title.c_str(), image, view))
        return true;
    Brimholt::Log << "Cannot add a tab for a view" << std::endl;
    CloseWindowOfAnyThread(window);
    return false;
}

bool VxTabView::AddDownloadView() {
    return AppendView(Views().download(m_hWnd), Text(L"DownloadView", L"Title"), 1);
}

bool VxTabView::AddMangaView(const std::wstring& address, const std::string& cookies,
                             std::shared_ptr<CParseContext> context) {
    return AppendView(Views().manga(m_hWnd, address, cookies, std::move(context)), std::wstring(), 2);
}

bool VxTabView::AddRecommendView() {
    RECT rc;
    GetClientRect(&rc);
    return Views().recommend(m_hWnd, rc, nextViewId++);
}

bool VxTabView::AddSearchView(const std::wstring& keyword, const std::string& json) {
    return AppendView(Views().search(m_hWnd, keyword, json, nextViewId++), Text(L"SearchView", L"Title"), 4);
}

void VxTabView::Search(const std::wstring& text) {
    AppContext* ctx = GetAppContext();
    if (ctx && ctx->Catalog().IsSearchDisabled()) {
        // Posted, not kept: the main frame shows it and the bus frees it.
        auto* box = new msg_message_box(std::wstring());
        box->SetText(L"Messages", L"SearchDisabled");
        box->flags = MB_ICONINFORMATION;
        PostToFrame(box);
        return;
    }
    PostToFrame(new msg_search(text, 0));
}

bool VxTabView::PostOwn(VxMsg* msg) {
    if (Post(msg))
        return true;
    delete msg;
    return false;
}

void VxTabView::PostClose(VxView* view) {
    PostOwn(new msg_close_tab(view->GetHwnd()));
}

void VxTabView::CloseTabs(const std::vector<int>& pages) {
    for (int page : pages) {
        VxView* view = PageView(page);
        if (view && view->CanClose())
            PostClose(view);
    }
}

void VxTabView::OnAddTab(msg_add_tab* msg) {
    VxView* view = msg->view;
    // A view whose window could not be made ends its own thread; there is nothing to show.
    if (!view || !::IsWindow(view->GetHwnd()))
        return;
    AppendView(view, msg->title, msg->image);
}

// The page leaves the tab control before its window is closed: a view on its own thread frees
// itself once its window is gone, and nothing here may reach it after that.
void VxTabView::OnCloseTab(msg_close_tab* msg) {
    int page = FindPage(msg->view);
    if (page < 0)
        return;
    if (msg->view == hoverPage_) {
        hoverPage_ = nullptr;
        hoverImage = -1;
    }
    RemovePage(page);
}

void VxTabView::OnSetActive(msg_set_active* msg) {
    int page = FindPage(msg->view);
    if (page >= 0)
        SetActivePage(page);
}

void VxTabView::OnTitleChange(msg_title_change* msg) {
    int page = FindPage(msg->view);
    if (page >= 0)
        SetPageTitle(page, msg->title.c_str());
}

bool VxTabView::ActiveClosable() const {
    VxView* view = PageView(GetActivePage());
    return view && view->closable;
}

bool VxTabView::InActiveItem(POINT pt) const {
    RECT rc;
    int active = GetActivePage();
    return active >= 0 && TabCtrl_GetItemRect(GetTabCtrl(), active, &rc) && PtInRect(&rc, pt);
}

bool VxTabView::InCloseMark(POINT pt) const {
    RECT rc;
    int active = GetActivePage();
    if (active < 0 || !TabCtrl_GetItemRect(GetTabCtrl(), active, &rc))
        return false;
    rc.left += 4 * kEdge;
    rc.right = rc.left + kCloseMarkWidth;
    return PtInRect(&rc, pt) != FALSE;
}

// The image goes back to the tab it was taken from, even when another tab became active since.
void VxTabView::RestoreHoverImage() {
    if (hoverImage >= 0) {
        int page = FindPage(hoverPage_);
        if (page >= 0)
            SetPageImage(page, hoverImage);
    }
    hoverImage = -1;
    hoverPage_ = nullptr;
}

LRESULT VxTabView::OnTabLButtonDown(UINT, WPARAM, LPARAM lParam, BOOL& handled) {
    POINT pt = PointOf(lParam);
    if (ActiveClosable() && InCloseMark(pt))
        pressPoint = pt;
    handled = FALSE;
    return 0;
}

LRESULT VxTabView::OnTabLButtonUp(UINT, WPARAM, LPARAM lParam, BOOL& handled) {
    handled = FALSE;
    if (pressPoint.x == -1 || !ActiveClosable())
        return 0;
    POINT pt = PointOf(lParam);
    VxView* view = PageView(GetActivePage());
    if (InCloseMark(pt) && InCloseMark(pressPoint) && view->CanClose())
        PostClose(view);
    RestoreHoverImage();
    pressPoint = {-1, -1};
    return 0;
}

LRESULT VxTabView::OnTabDoubleClick(UINT, WPARAM, LPARAM lParam, BOOL& handled) {
    handled = FALSE;
    VxView* view = PageView(GetActivePage());
    if (InActiveItem(PointOf(lParam)) && view && view->closable && view->CanClose())
        PostClose(view);
    return 0;
}

LRESULT VxTabView::OnTabMouseMove(UINT, WPARAM, LPARAM lParam, BOOL& handled) {
    handled = FALSE;
    if (!ActiveClosable())
        return 0;
    int active = GetActivePage();
    if (!InActiveItem(PointOf(lParam))) {
        RestoreHoverImage();
        return 0;
    }
    int image = GetPageImage(active);
    if (image == 0)
        return 0;
    SetPageImage(active, 0);
    if (hoverImage < 0) {
        hoverImage = image;
        hoverPage_ = GetPageHWND(active);
        TRACKMOUSEEVENT track = {sizeof track, TME_LEAVE, GetTabCtrl(), 0};
        TrackMouseEvent(&track);
    }
    return 0;
}

LRESULT VxTabView::OnTabMouseLeave(UINT, WPARAM, LPARAM, BOOL& handled) {
    handled = FALSE;
    if (hoverImage >= 0 && ActiveClosable())
        RestoreHoverImage();
    return 0;
}

UINT VxTabView::TrackMenu(HMENU menu, POINT screen) {
    POINT pt = MenuPointOnMonitor(screen.x, screen.y);
    return WTL::TrackPopup(menu, TPM_RETURNCMD, pt.x, pt.y, m_hWnd);
}

LRESULT VxTabView::OnRButtonUp(UINT, WPARAM, LPARAM lParam, BOOL&) {
    POINT pt = PointOf(lParam);
    ClientToScreen(&pt);
    if (TrackMenu(GetSubMenu(tabMenu, 0), pt) != ID_TAB_CLOSE_ALL)
        return 0;
    std::vector<int> pages;
    for (int i = 0, n = GetPageCount(); i < n; ++i) {
        VxView* view = PageView(i);
        if (view && view->closable)
            pages.push_back(i);
    }
    CloseTabs(pages);
    if (!pages.empty())
        UpdateWindow();
    return 0;
}

void VxTabView::OnTabContextMenu(int page, POINT screen) {
    HMENU menu = GetSubMenu(tabMenu, 1);
    VxView* view = PageView(page);
    bool closable = view && view->closable;
    EnableMenuItem(menu, ID_TAB_CLOSE, MF_BYCOMMAND | (closable ? MF_ENABLED : MF_GRAYED | MF_DISABLED));
    UINT command = TrackMenu(menu, screen);
    std::vector<int> pages;
    if (command == ID_TAB_CLOSE) {
        pages.push_back(page);
    } else if (command == ID_TAB_CLOSE_OTHERS) {
        for (int i = 0, n = GetPageCount(); i < n; ++i) {
            VxView* other = PageView(i);
            if (i != page && other && other->closable)
                pages.push_back(i);
        }
    }
    CloseTabs(pages);
}
