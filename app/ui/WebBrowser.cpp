// The embedded browser host and the advert panel made of it.
#include "WebBrowser.h"

#include "wtl/ComPtr.h"
#include "wtl/WindowImpl.h"

#include <common/Log.h>

bool VxWebBrowser::Create(HWND parent, const RECT& rc, int controlId) {
    HWND window = CreateWindowExW(0, WTL::kAxWinClassName, nullptr, WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN, rc.left,
                                  rc.top, rc.right - rc.left, rc.bottom - rc.top, parent,
                                  reinterpret_cast<HMENU>(static_cast<INT_PTR>(controlId)),
                                  WTL::AppModule().GetModuleInstance(), nullptr);
    if (!window) {
        Brimholt::Log << "The browser's host window could not be created: " << GetLastError() << std::endl;
        return false;
    }
    m_hWnd = window;
    if (CreateBrowserControl())
        return true;
    ::DestroyWindow(window);
    m_hWnd = nullptr;
    return false;
}

bool VxWebBrowser::CreateBrowserControl() {
    SetExternalUIHandler(this);
    HRESULT hr = CreateControl(CLSID_WebBrowser);
    if (FAILED(hr)) {
        Brimholt::Log << "The WebBrowser control could not be created: " << hr << std::endl;
        return false;
    }
    return true;
}

bool VxWebBrowser::NavigateWith(const std::wstring& address, HRESULT (*advise)(IUnknown*, void*), void* sink,
                                const std::wstring& headers) {
    WTL::ComPtr<IWebBrowser2> browser;
    if (!m_hWnd || FAILED(QueryControl(browser.Put())) || !browser)
        return false;
    if (advise) {
        HRESULT hr = advise(browser.Get(), sink);
        if (FAILED(hr))
            Brimholt::Log << "The browser's events could not be advised: " << hr << std::endl;
    }
    VARIANT url, empty, extra;
    VariantInit(&url);
    VariantInit(&empty);
    VariantInit(&extra);
    url.vt = VT_BSTR;
    url.bstrVal = SysAllocString(address.c_str());
    if (!headers.empty()) {
        extra.vt = VT_BSTR;
        extra.bstrVal = SysAllocString(headers.c_str());
    }
    HRESULT hr = browser->Navigate2(&url, &empty, &empty, &empty, &extra);
    VariantClear(&url);
    VariantClear(&extra);
    if (FAILED(hr))
        Brimholt::Log << "Navigate2 failed: " << hr << std::endl;
    return SUCCEEDED(hr);
}

HRESULT VxWebBrowser::QueryInterface(REFIID iid, void** out) {
    if (!out)
        return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_IDispatch || iid == IID_IDocHostUIHandlerDispatch) {
        *out = static_cast<IDocHostUIHandlerDispatch*>(this);
        return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
}

HRESULT VxWebBrowser::ShowContextMenu(DWORD, DWORD, DWORD, IUnknown*, IDispatch*, HRESULT* result) {
    if (result)
        *result = defaultContextMenu ? E_NOTIMPL : S_OK;
    return S_OK;
}

HRESULT VxWebBrowser::GetHostInfo(DWORD* flags, DWORD*) {
    if (flags)
        *flags |= hostFlags;
    return S_OK;
}

// The caller releases what it is given: the page's reference is its own.
HRESULT VxWebBrowser::GetExternal(IDispatch** out) {
    if (!out)
        return E_POINTER;
    *out = external;
    if (!external)
        return E_NOTIMPL;
    external->AddRef();
    return S_OK;
}

namespace {

class CAdvertPanel : public WTL::CWindowImpl<CAdvertPanel, VxWebBrowser> {
public:
    DECLARE_WND_SUPERCLASS(L"Vx.AdvertPanel", WTL::CAxWindow::GetWndClassName())

    BEGIN_MSG_MAP(CAdvertPanel)
    END_MSG_MAP()

    void OnFinalMessage(HWND) override { delete this; }
};

}  // namespace

HWND CreateAdvertPanel(HWND frame, const RECT& rc, int controlId, const std::wstring& url) {
    auto* panel = new CAdvertPanel();
    panel->hostFlags |= 0xC;  // DOCHOSTUIFLAG_NO3DBORDER | DOCHOSTUIFLAG_SCROLL_NO
    panel->defaultContextMenu = true;
    HWND window = panel->Create(frame, rc, nullptr, WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN, 0,
                                static_cast<UINT>(controlId));
    if (!window) {
        delete panel;
        return nullptr;
    }
    if (!panel->CreateBrowserControl()) {
        ::DestroyWindow(window);  // frees the panel
        return nullptr;
    }
    panel->Navigate(url, std::wstring());
    return window;
}
