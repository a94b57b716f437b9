// The tab of a keyword search: the service's results as a list, and the two check buttons that
// choose whether titles, authors or both are searched. Refined searches come back to this tab.
#pragma once

#include "VxHTMLView.h"
#include "VxMsg.h"
#include "VxView.h"

#include <map>
#include <string>

class msg_search_finish;

// The result list of a search answer, with the fixed texts taken from the section map.
std::string BuildSearchResults(const std::string& json, const std::map<std::string, std::string>& texts);

class CSearchView : public VxHTMLView<CSearchView>, public VxView, public VxMsgObserver {
public:
    CSearchView(const std::wstring& keyword, const std::string& json);

    // The view as a child of parent (its window exists on return), or null.
    static VxView* Make(HWND parent, const std::wstring& keyword, const std::string& json, int controlId);

    bool OpenUrl(const wchar_t* text) override;
    const wchar_t* GetUrl() override { return keyword_.c_str(); }

    bool handle_event(HELEMENT, HL_BEHAVIOR_EVENT& params) override;
    void OnSearchFinish(msg_search_finish* msg);
    void OnFinalMessage(HWND) override { delete this; }

    BEGIN_MSG_MAP(CSearchView)
    if (VxMsgObserver::OnMessage(hWnd, uMsg, wParam, lParam, lResult))
        return TRUE;
    CHAIN_MSG_MAP(VxHTMLView<CSearchView>)
    MESSAGE_HANDLER(WM_CREATE, OnCreate)
    END_MSG_MAP()

private:
    LRESULT OnCreate(UINT, WPARAM, LPARAM, BOOL&);
    bool IsChecked(const wchar_t* id);
    void PostSearch();

    std::map<std::string, std::string> texts_;  // section "SearchView"
    std::wstring keyword_;
    std::string result_;
};
