// The tab view of the main window: one page per view (download list, comic pages, search results,
// recommendations). It decides what an address opens, and views reach it through the bus
// (add_tab, close_tab, set_active, title_change) as observer 2.
#pragma once

#include "VxMsg.h"
#include "wtl/TabView.h"

#include <memory>
#include <string>
#include <vector>

class CParseContext;
class VxView;
class msg_add_tab;
class msg_close_tab;
class msg_set_active;
class msg_title_change;

class VxTabView : public WTL::CTabViewImpl<VxTabView>, public VxMsgObserver {
public:
    DECLARE_WND_CLASS_EX(L"Vx.TabView", 0, COLOR_APPWORKSPACE)

    VxTabView();
    ~VxTabView() override;

    bool OpenUrl(const std::wstring& address, bool noForward);
    bool AddDownloadView();
    bool AddMangaView(const std::wstring& address, const std::string& cookies, std::shared_ptr<CParseContext> context);
    bool AddRecommendView();
    bool AddSearchView(const std::wstring& keyword, const std::string& json);
    void Search(const std::wstring& text);
    void CloseTabs(const std::vector<int>& pages);
    int FindPage(HWND page) const;
    VxView* PageView(int page) const;

    void OnTabContextMenu(int page, POINT screen);
    void OnAddTab(msg_add_tab* msg);
    void OnCloseTab(msg_close_tab* msg);
    void OnSetActive(msg_set_active* msg);
    void OnTitleChange(msg_title_change* msg);

    int nextViewId = 5000;
    HIMAGELIST tabImages = nullptr;
    HMENU tabMenu = nullptr;
    int hoverImage = -1;
    POINT pressPoint = {-1, -1};

    BEGIN_MSG_MAP(VxTabView)
    if (VxMsgObserver::OnMessage(hWnd, uMsg, wParam, lParam, lResult))
        return TRUE;
    MESSAGE_HANDLER(WM_CREATE, OnCreate)
    MESSAGE_HANDLER(WM_RBUTTONUP, OnRButtonUp)
    CHAIN_MSG_MAP(WTL::CTabViewImpl<VxTabView>)
    ALT_MSG_MAP(1)
    MESSAGE_HANDLER(WM_LBUTTONDOWN, OnTabLButtonDown)
    MESSAGE_HANDLER(WM_LBUTTONUP, OnTabLButtonUp)
    MESSAGE_HANDLER(WM_LBUTTONDBLCLK, OnTabDoubleClick)
    MESSAGE_HANDLER(WM_MOUSEMOVE, OnTabMouseMove)
    MESSAGE_HANDLER(WM_MOUSELEAVE, OnTabMouseLeave)
    CHAIN_MSG_MAP_ALT(WTL::CTabViewImpl<VxTabView>, 1)
    END_MSG_MAP()

private:
    bool AppendView(VxView* view, const std::wstring& title, int image);
    bool OpenScripted(const std::wstring& address);
    bool PostOwn(VxMsg* msg);
    void PostClose(VxView* view);
    bool ActiveClosable() const;
    bool InCloseMark(POINT pt) const;
    bool InActiveItem(POINT pt) const;
    void RestoreHoverImage();
    UINT TrackMenu(HMENU menu, POINT screen);

    LRESULT OnCreate(UINT, WPARAM, LPARAM, BOOL&);
    LRESULT OnRButtonUp(UINT, WPARAM, LPARAM lParam, BOOL&);
    LRESULT OnTabLButtonDown(UINT, WPARAM, LPARAM lParam, BOOL& handled);
    LRESULT OnTabLButtonUp(UINT, WPARAM, LPARAM lParam, BOOL& handled);
    LRESULT OnTabDoubleClick(UINT, WPARAM, LPARAM lParam, BOOL& handled);
    LRESULT OnTabMouseMove(UINT, WPARAM, LPARAM lParam, BOOL& handled);
    LRESULT OnTabMouseLeave(UINT, WPARAM, LPARAM, BOOL& handled);

    HWND hoverPage_ = nullptr;  // the page whose image hoverImage is
};
