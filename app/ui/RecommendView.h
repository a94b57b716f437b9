// The recommendations tab: the service's page of recommended comics in the embedded browser, on a
// thread of its own. Links the page opens as new windows to a supported site open as comic tabs.
#pragma once

#include "VxView.h"
#include "WebBrowser.h"
#include "wtl/DispEvent.h"
#include "wtl/WindowImpl.h"

class CRecommendView : public VxView,
                       public WTL::CWindowImpl<CRecommendView, VxWebBrowser, WTL::CWinTraits<0x56000000, 0>>,
                       public WTL::IDispEventImpl<0, CRecommendView, &DIID_DWebBrowserEvents2> {
public:
    DECLARE_WND_SUPERCLASS(L"Vx.RecommendView", WTL::CAxWindow::GetWndClassName())

    CRecommendView(HWND parent, const RECT& rc, int controlId);
    ~CRecommendView() override;

    bool OpenUrl(const wchar_t*) override { return false; }
    const wchar_t* GetUrl() override { return L""; }
    // The tab view takes the page out of its strip and then closes the window itself.
    bool CanClose() override { return true; }

    BEGIN_MSG_MAP(CRecommendView)
    MESSAGE_HANDLER(WM_DESTROY, OnDestroy)
    END_MSG_MAP()

    BEGIN_SINK_MAP(CRecommendView)
    SINK_ENTRY(0, 273, OnNewWindow3)  // DISPID_NEWWINDOW3
    END_SINK_MAP()

    void OnNewWindow3(IDispatch**, VARIANT_BOOL* cancel, DWORD, BSTR, BSTR url);
    void OnFinalMessage(HWND) override { delete this; }

private:
    bool CreateView();
    LRESULT OnDestroy(UINT, WPARAM, LPARAM, BOOL&);

    HWND parent_;
    RECT rc_;
    int controlId_;

    friend DWORD WINAPI RecommendViewThread(void* view);
};

DWORD WINAPI RecommendViewThread(void* view);
// Starts the view's thread; the view adds its tab itself once its window exists.
bool StartRecommendView(HWND tabView, const RECT& rc, int controlId);
// Recommendation view threads that have not yet ended.
int RunningRecommendViews();
