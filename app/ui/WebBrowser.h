// The embedded browser: a WebBrowser control in a host window that answers the control's host-UI
// questions itself. The advert panel of the main frame and the recommendations view use it.
#pragma once

#include "wtl/AxHost.h"

#include <exdisp.h>

#include <string>

class VxWebBrowser : public WTL::CAxWindow, public IDocHostUIHandlerDispatch {
public:
    virtual ~VxWebBrowser() = default;

    bool Create(HWND parent, const RECT& rc, int controlId);
    // For a window made by a derived class: the host-UI handler and the control.
    bool CreateBrowserControl();
    // sink: an event sink (IDispEventImpl) attached to the control first, or null.
    template <class Sink>
    bool Navigate(const std::wstring& address, Sink* sink, const std::wstring& headers) {
        return NavigateWith(address, sink ? &AdviseSink<Sink> : nullptr, sink, headers);
    }
    bool Navigate(const std::wstring& address, const std::wstring& headers) {
        return NavigateWith(address, nullptr, nullptr, headers);
    }

    DWORD hostFlags = 0x40000;  // DOCHOSTUIFLAG_THEME
    bool defaultContextMenu = false;
    IDispatch* external = nullptr;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE ShowContextMenu(DWORD, DWORD, DWORD, IUnknown*, IDispatch*, HRESULT* result) override;
    HRESULT STDMETHODCALLTYPE GetHostInfo(DWORD* flags, DWORD*) override;
    HRESULT STDMETHODCALLTYPE ShowUI(DWORD, IUnknown*, IUnknown*, IUnknown*, IUnknown*, HRESULT*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE HideUI() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE UpdateUI() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE EnableModeless(VARIANT_BOOL) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE OnDocWindowActivate(VARIANT_BOOL) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE OnFrameWindowActivate(VARIANT_BOOL) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE ResizeBorder(long, long, long, long, IUnknown*, VARIANT_BOOL) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE TranslateAccelerator(DWORD_PTR, DWORD, DWORD_PTR, DWORD_PTR, BSTR, DWORD,
                                                   HRESULT*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetOptionKeyPath(BSTR*, DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetDropTarget(IUnknown*, IUnknown**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetExternal(IDispatch** out) override;
    HRESULT STDMETHODCALLTYPE TranslateUrl(DWORD, BSTR, BSTR*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE FilterDataObject(IUnknown*, IUnknown**) override { return E_NOTIMPL; }

private:
    template <class Sink>
    static HRESULT AdviseSink(IUnknown* browser, void* sink) {
        return static_cast<Sink*>(sink)->DispEventAdvise(browser);
    }
    bool NavigateWith(const std::wstring& address, HRESULT (*advise)(IUnknown*, void*), void* sink,
                      const std::wstring& headers);
};

// The main frame's advert panel: a browser child that frees itself with its window; null when
// the control cannot be made.
HWND CreateAdvertPanel(HWND frame, const RECT& rc, int controlId, const std::wstring& url);
