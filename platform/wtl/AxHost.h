// The ActiveX host: the window classes "AtlAxWin140" and "AtlAxWinLic140", whose windows are OLE
// containers for one control each (client site, in-place site and frame). The host sizes the control
// with its window and answers the browser's host-UI questions, forwarding them to an external
// IDocHostUIHandlerDispatch when one is set. A host window initialises OLE on its thread.
#pragma once

#include "wtl/Window.h"

#include <ole2.h>
#include <oaidl.h>

// The dispatch form of the browser's host-UI handler, which the system headers here do not declare.
struct IDocHostUIHandlerDispatch : public IDispatch {
  virtual HRESULT STDMETHODCALLTYPE ShowContextMenu(DWORD dwID, DWORD x, DWORD y, IUnknown* pcmdtReserved,
                                                    IDispatch* pdispReserved, HRESULT* dwRetVal) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetHostInfo(DWORD* pdwFlags, DWORD* pdwDoubleClick) = 0;
  virtual HRESULT STDMETHODCALLTYPE ShowUI(DWORD dwID, IUnknown* pActiveObject, IUnknown* pCommandTarget,
                                           IUnknown* pFrame, IUnknown* pDoc, HRESULT* dwRetVal) = 0;
  virtual HRESULT STDMETHODCALLTYPE HideUI() = 0;
  virtual HRESULT STDMETHODCALLTYPE UpdateUI() = 0;
  virtual HRESULT STDMETHODCALLTYPE EnableModeless(VARIANT_BOOL fEnable) = 0;
  virtual HRESULT STDMETHODCALLTYPE OnDocWindowActivate(VARIANT_BOOL fActivate) = 0;
  virtual HRESULT STDMETHODCALLTYPE OnFrameWindowActivate(VARIANT_BOOL fActivate) = 0;
  virtual HRESULT STDMETHODCALLTYPE ResizeBorder(long left, long top, long right, long bottom, IUnknown* pUIWindow,
                                                 VARIANT_BOOL fFrameWindow) = 0;
  virtual HRESULT STDMETHODCALLTYPE TranslateAccelerator(DWORD_PTR hWnd, DWORD nMessage, DWORD_PTR wParam,
                                                         DWORD_PTR lParam, BSTR bstrGuidCmdGroup, DWORD nCmdID,
                                                         HRESULT* dwRetVal) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetOptionKeyPath(BSTR* pbstrKey, DWORD dw) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetDropTarget(IUnknown* pDropTarget, IUnknown** ppDropTarget) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetExternal(IDispatch** ppDispatch) = 0;
  virtual HRESULT STDMETHODCALLTYPE TranslateUrl(DWORD dwTranslate, BSTR bstrURLIn, BSTR* pbstrURLOut) = 0;
  virtual HRESULT STDMETHODCALLTYPE FilterDataObject(IUnknown* pDO, IUnknown** ppDORet) = 0;
};

extern const IID IID_IDocHostUIHandlerDispatch;
__CRT_UUID_DECL(IDocHostUIHandlerDispatch, 0x425b5af0, 0x65f1, 0x11d1, 0x96, 0x11, 0x00, 0x00, 0xf8, 0x1e, 0x0d, 0x0d)

namespace WTL {

// The host window's own interface, had with AxGetHost or CAxWindow::QueryHost.
struct IAxHostWindow : public IUnknown {
  // name: "{clsid}" or a ProgID.
  virtual HRESULT STDMETHODCALLTYPE CreateControl(LPCOLESTR name) = 0;
  // licenseKey may be null; control (optional) receives the control's IUnknown.
  virtual HRESULT STDMETHODCALLTYPE CreateControlByClsid(REFCLSID clsid, BSTR licenseKey, IUnknown** control) = 0;
  // Hosts an existing control object in place of the current one.
  virtual HRESULT STDMETHODCALLTYPE AttachControl(IUnknown* control) = 0;
  virtual HRESULT STDMETHODCALLTYPE QueryControl(REFIID iid, void** out) = 0;
  // The page's window.external when the external handler gives none.
  virtual HRESULT STDMETHODCALLTYPE SetExternalDispatch(IDispatch* external) = 0;
  // Held (with a reference) until replaced or the host window closes; null removes it.
  virtual HRESULT STDMETHODCALLTYPE SetExternalUIHandler(IDocHostUIHandlerDispatch* handler) = 0;
  // DOCHOSTUIFLAG bits answered before the external handler adds its own.
  virtual HRESULT STDMETHODCALLTYPE SetDocHostFlags(DWORD flags) = 0;
};

extern const IID IID_IAxHostWindow;

extern const wchar_t kAxWinClassName[];     // "AtlAxWin140"
extern const wchar_t kAxWinLicClassName[];  // "AtlAxWinLic140"; the license key goes through CreateControlByClsid

// Registers both host classes (idempotent); false when a class could not be registered.
bool AxWinInit();
void AxWinTerm();

HRESULT AxGetHost(HWND hostWindow, IAxHostWindow** host);

// A window of the host class.
class CAxWindow : public CWindow {
public:
  CAxWindow(HWND hwnd = nullptr) : CWindow(hwnd) {}
  static LPCWSTR GetWndClassName() { return kAxWinClassName; }

  // A window text given here names a control to create at once ("{clsid}" or a ProgID).
  HWND Create(HWND parent, const RECT* rc, LPCWSTR name = nullptr, DWORD style = WS_CHILD | WS_VISIBLE,
              DWORD exStyle = 0, MenuOrId menu = MenuOrId());

  HRESULT QueryHost(IAxHostWindow** host) const { return AxGetHost(m_hWnd, host); }
  HRESULT CreateControl(LPCOLESTR name);
  HRESULT CreateControl(REFCLSID clsid, IUnknown** control = nullptr);
  HRESULT QueryControl(REFIID iid, void** out) const;
  template <class Q>
  HRESULT QueryControl(Q** out) const {
    return QueryControl(__uuidof(Q), reinterpret_cast<void**>(out));
  }
  HRESULT SetExternalUIHandler(IDocHostUIHandlerDispatch* handler);
  HRESULT SetExternalDispatch(IDispatch* external);
};

}  // namespace WTL
