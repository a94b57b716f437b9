// The pop-up browser's thread and window. Without an HTML engine (Wine without Gecko) the page
// never completes: the handler still hears of errors and of the window's end.
#include "PopupBrowser.h"

#include "UiMetrics.h"
#include "wtl/ComPtr.h"
#include "wtl/MessageLoop.h"
#include "wtl/Module.h"

#include <common/Log.h>

#include <urlmon.h>

namespace {

const char kUserAgent[] = "Mozilla/5.0 (compatible; MSIE 10.0; Windows NT 6.2; WOW64; Trident/6.0)";
const wchar_t kUserAgentHeader[] =
    L"User-Agent: Mozilla/5.0 (compatible; MSIE 10.0; Windows NT 6.2; WOW64; Trident/6.0)\r\n";

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

// A handler may drop the browser's reference to itself while it runs: hold one for the call.
void VxPopupBrowser::OnDocumentComplete(IDispatch*, VARIANT*) {
    if (std::shared_ptr<VxPopupHandler> h = handler)
        h->OnDocumentComplete(this);
}

void VxPopupBrowser::OnNavigateError(IDispatch*, VARIANT*, VARIANT*, VARIANT*, VARIANT_BOOL*) {
    if (std::shared_ptr<VxPopupHandler> h = handler)
        h->OnNavigateError(this);
}

void VxPopupBrowser::OnTitleChange(BSTR title) {
    SetWindowTextW(title ? title : L"");
}

void VxPopupBrowser::TellClosed() {
    std::shared_ptr<VxPopupHandler> h = std::move(handler);
    if (h)
        h->OnClosed(this);
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
    TellClosed();
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
        browser->TellClosed();
    }
    browser.reset();
    if (SUCCEEDED(ole))
        OleUninitialize();
    if (SUCCEEDED(com))
        CoUninitialize();
    return static_cast<DWORD>(result);
}

bool OpenPopupBrowser(const std::wstring& address, std::shared_ptr<VxPopupHandler> handler) {
    auto* browser = new VxPopupBrowser(address, std::move(handler));
    HANDLE thread = CreateThread(nullptr, 0, VxPopupBrowser::ThreadMain, browser, 0, nullptr);
    if (!thread) {
        Brimholt::Log << "The pop-up browser's thread could not start: " << GetLastError() << std::endl;
        delete browser;
        return false;
    }
    CloseHandle(thread);
    return true;
}
