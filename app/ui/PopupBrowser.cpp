// The pop-up browser's thread and window. Without an HTML engine (Wine without Gecko) the page
// never completes: the handler still hears of errors and of the window's end.
#include "PopupBrowser.h"

#include "AppContext.h"
#include "UiMetrics.h"
#include "wtl/ComPtr.h"
#include "wtl/MessageLoop.h"
#include "wtl/Module.h"

#include <common/Log.h>

#include <common/CodePage.h>

#include <urlmon.h>

#include <atomic>

namespace {

const char kUserAgent[] = "Mozilla/5.0 (compatible; MSIE 10.0; Windows NT 6.2; WOW64; Trident/6.0)";
const wchar_t kUserAgentHeader[] =
    L"User-Agent: Mozilla/5.0 (compatible; MSIE 10.0; Windows NT 6.2; WOW64; Trident/6.0)\r\n";

std::atomic<int> g_running{0};

}  // namespace

VxPopupBrowser::VxPopupBrowser(const std::wstring& address, std::shared_ptr<VxPopupHandler> popupHandler)
    : handler(std::move(popupHandler)) {
    VariantInit(&url);
    url.vt = VT_BSTR;
    url.bstrVal = SysAllocString(address.c_str());
}

VxPopupBrowser::~VxPopupBrowser() {
    VariantClear(&url);
}

void VxPopupBrowser::OnDocumentComplete(IDispatch*, VARIANT*) {
    Finish(PopupEnd::DocumentComplete);
}

void VxPopupBrowser::OnNavigateError(IDispatch*, VARIANT*, VARIANT*, VARIANT*, VARIANT_BOOL*) {
    Finish(PopupEnd::NavigateError);
}

void VxPopupBrowser::OnTitleChange(BSTR title) {
    SetWindowTextW(title ? title : L"");
}

// The handler is taken out before it is called: whatever it or a later event does, it hears once.
void VxPopupBrowser::Finish(PopupEnd how) {
    std::shared_ptr<VxPopupHandler> h = std::move(handler);
    handler.reset();
    if (h)
        h->OnFinished(this, how);
}

LRESULT VxPopupBrowser::OnCreate(UINT, WPARAM, LPARAM, BOOL&) {
    if (DefWindowProc() == -1)  // the host comes into being first
        return -1;
    if (FAILED(CAxWindow::CreateControl(CLSID_WebBrowser)))
        return -1;
    SetWindowIcons(m_hWnd, WTL::AppModule().GetResourceInstance());
    WTL::ComPtr<IWebBrowser2> browser;
    if (FAILED(QueryControl(browser.Put())) || FAILED(DispEventAdvise(browser.Get())))
        return -1;
    browser->put_Silent(VARIANT_TRUE);
    UrlMkSetSessionOption(URLMON_OPTION_USERAGENT, const_cast<char*>(kUserAgent), sizeof(kUserAgent) - 1, 0);
    VARIANT empty, headers;
    VariantInit(&empty);
    VariantInit(&headers);
    headers.vt = VT_BSTR;
    headers.bstrVal = SysAllocString(kUserAgentHeader);
    HRESULT hr = browser->Navigate2(&url, &empty, &empty, &empty, &headers);
    VariantClear(&headers);
    if (FAILED(hr))
        Brimholt::Log << "The pop-up browser's Navigate2 failed: " << hr << std::endl;
    if (std::shared_ptr<VxPopupHandler> h = handler)
        h->OnCreated(this);
    return 0;
}

LRESULT VxPopupBrowser::OnDestroy(UINT, WPARAM, LPARAM, BOOL& handled) {
    DispEventUnadvise();
    Finish(PopupEnd::Destroyed);
    PostQuitMessage(0);
    handled = FALSE;  // the host releases its control
    return 0;
}

DWORD WINAPI VxPopupBrowser::ThreadMain(void* raw) {
    std::unique_ptr<VxPopupBrowser> browser(static_cast<VxPopupBrowser*>(raw));
    HRESULT com = CoInitialize(nullptr);
    HRESULT ole = OleInitialize(nullptr);
    int result = 0;
    if (browser->Create(nullptr)) {
        WTL::CMessageLoop loop;
        WTL::AppModule().AddMessageLoop(&loop);
        result = loop.Run();
        WTL::AppModule().RemoveMessageLoop();
    } else {
        Brimholt::Log << "The pop-up browser's window could not be created: " << GetLastError() << std::endl;
        browser->Finish(PopupEnd::CreateFailed);
    }
    browser.reset();
    if (SUCCEEDED(ole))
        OleUninitialize();
    if (SUCCEEDED(com))
        CoUninitialize();
    --g_running;
    return static_cast<DWORD>(result);
}

bool OpenPopupBrowser(const std::wstring& address, std::shared_ptr<VxPopupHandler> handler) {
    auto* browser = new VxPopupBrowser(address, std::move(handler));
    ++g_running;  // before the thread, so that a count of 0 means every thread has ended
    HANDLE thread = CreateThread(nullptr, 0, VxPopupBrowser::ThreadMain, browser, 0, nullptr);
    if (!thread) {
        --g_running;
        Brimholt::Log << "The pop-up browser's thread could not start: " << GetLastError() << std::endl;
        delete browser;
        return false;
    }
    CloseHandle(thread);
    return true;
}

bool AppContext::OpenPopupBrowser(const std::string& address, std::shared_ptr<VxPopupHandler> handler) {
    return ::OpenPopupBrowser(ToWide(address, CP_UTF8), std::move(handler));
}

int RunningPopupBrowsers() {
    return g_running;
}

RECT AdvertPlacement(HWND window) {
    const int width = 640, height = 480;
    MONITORINFO info = {sizeof(info)};
    RECT area = {0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    if (GetMonitorInfoW(MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST), &info))
        area = info.rcWork;
    int x = area.left + (area.right - area.left - width) / 2;
    int y = area.top + (area.bottom - area.top - height) / 2;
    return {x, y, x + width, y + height};
}

// Only the first document shows the window: after a failed navigation the browser's own error
// page would follow, and the handler is gone by then.
void PopupAD::OnFinished(VxPopupBrowser* browser, PopupEnd how) {
    if (how != PopupEnd::DocumentComplete)
        return;
    RECT rc = AdvertPlacement(browser->m_hWnd);
    browser->SetWindowPos(HWND_TOPMOST, rc.left, rc.top, rc.right - rc.left, rc.bottom - rc.top, SWP_NOACTIVATE);
    browser->ShowWindow(SW_SHOWNORMAL);
}
