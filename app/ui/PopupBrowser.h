// The pop-up browser: a top-level WebBrowser window on a thread of its own that shows one address
// and tells a handler what became of the page.
#pragma once

#include "wtl/AxHost.h"
#include "wtl/DispEvent.h"
#include "wtl/WindowImpl.h"

#include <exdisp.h>

#include <memory>
#include <string>

class VxPopupBrowser;

enum class PopupEnd { DocumentComplete, NavigateError, CreateFailed, Destroyed };

// Called on the browser's thread only. OnFinished comes exactly once, for the first of the four
// ends; the browser has let go of the handler by then, so nothing comes after it.
class VxPopupHandler {
public:
    virtual ~VxPopupHandler() = default;
    virtual void OnCreated(VxPopupBrowser*) {}
    virtual void OnFinished(VxPopupBrowser* browser, PopupEnd how) = 0;
};

// The start-up advert: shown once its first document is there; hidden for good when it failed.
class PopupAD : public VxPopupHandler {
public:
    void OnFinished(VxPopupBrowser* browser, PopupEnd how) override;
};

class VxPopupBrowser : public WTL::CWindowImpl<VxPopupBrowser, WTL::CAxWindow, WTL::CWinTraits<WS_OVERLAPPEDWINDOW, 0>>,
                       public WTL::IDispEventImpl<0, VxPopupBrowser, &DIID_DWebBrowserEvents2> {
public:
    DECLARE_WND_SUPERCLASS(L"Vx.PopupBrowser", WTL::CAxWindow::GetWndClassName())

    VxPopupBrowser(const std::wstring& address, std::shared_ptr<VxPopupHandler> popupHandler);
    ~VxPopupBrowser() override;

    static DWORD WINAPI ThreadMain(void* browser);

    BEGIN_MSG_MAP(VxPopupBrowser)
    MESSAGE_HANDLER(WM_CREATE, OnCreate)
    MESSAGE_HANDLER(WM_DESTROY, OnDestroy)
    END_MSG_MAP()

    BEGIN_SINK_MAP(VxPopupBrowser)
    SINK_ENTRY(0, 259, OnDocumentComplete)  // DISPID_DOCUMENTCOMPLETE
    SINK_ENTRY(0, 251, OnNewWindow2)        // DISPID_NEWWINDOW2
    SINK_ENTRY(0, 273, OnNewWindow3)        // DISPID_NEWWINDOW3
    SINK_ENTRY(0, 113, OnTitleChange)       // DISPID_TITLECHANGE
    SINK_ENTRY(0, 271, OnNavigateError)     // DISPID_NAVIGATEERROR
    END_SINK_MAP()

    void OnDocumentComplete(IDispatch*, VARIANT*);
    void OnNewWindow2(IDispatch**, VARIANT_BOOL* cancel) { *cancel = VARIANT_TRUE; }
    void OnNewWindow3(IDispatch**, VARIANT_BOOL* cancel, DWORD, BSTR, BSTR) { *cancel = VARIANT_TRUE; }
    void OnTitleChange(BSTR title);
    void OnNavigateError(IDispatch*, VARIANT*, VARIANT*, VARIANT*, VARIANT_BOOL*);

    // Detaches the handler without telling it (on the browser's thread).
    void ClearHandler() { handler.reset(); }

    VARIANT url;
    std::shared_ptr<VxPopupHandler> handler;

private:
    LRESULT OnCreate(UINT, WPARAM, LPARAM, BOOL&);
    LRESULT OnDestroy(UINT, WPARAM, LPARAM, BOOL&);
    void Finish(PopupEnd how);
};

// Starts a pop-up browser on the address; false when its thread could not start (the handler then
// hears nothing).
bool OpenPopupBrowser(const std::wstring& address, std::shared_ptr<VxPopupHandler> handler);
// Pop-up browser threads that have not yet ended.
int RunningPopupBrowsers();
// The advert window's place: 640 by 480, centred over the work area of the monitor it is on.
RECT AdvertPlacement(HWND window);
