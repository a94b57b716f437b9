// The ActiveX host window and its OLE container object.
#include "wtl/AxHost.h"

#include "wtl/ComPtr.h"
#include "wtl/Module.h"

#include <docobj.h>
#include <mshtmhst.h>
#include <olectl.h>

#include <string>

const IID IID_IDocHostUIHandlerDispatch = {0x425b5af0, 0x65f1, 0x11d1, {0x96, 0x11, 0x00, 0x00, 0xf8, 0x1e, 0x0d, 0x0d}};

namespace WTL {

const IID IID_IAxHostWindow = {0x5f621a27, 0xf4af, 0x4302, {0x98, 0x1f, 0x7f, 0xf2, 0xeb, 0x55, 0xef, 0xc1}};
const wchar_t kAxWinClassName[] = L"AtlAxWin140";
const wchar_t kAxWinLicClassName[] = L"AtlAxWinLic140";

namespace {

UINT HostMessage() {
  static UINT msg = ::RegisterWindowMessageW(L"Vx.AxHost.GetHost");
  return msg;
}

BSTR CopyBstr(const wchar_t* s) { return s ? ::SysAllocString(s) : nullptr; }

wchar_t* CoTaskCopy(BSTR s) {
  if (!s)
    return nullptr;
  size_t bytes = (::SysStringLen(s) + 1) * sizeof(wchar_t);
  auto* out = static_cast<wchar_t*>(::CoTaskMemAlloc(bytes));
  if (out)
    memcpy(out, s, bytes);
  return out;
}

class AxHost final : public IAxHostWindow,
               public IOleClientSite,
               public IOleInPlaceSite,
               public IOleInPlaceFrame,
               public IDocHostUIHandler,
               public IDispatch {
public:
  explicit AxHost(HWND hwnd) : hwnd_(hwnd) {}

  void Close() {
    ReleaseControl();
    external_.Release();
    uiHandler_.Release();
  }

  void Resize() {
    if (!inPlace_)
      return;
    RECT rc;
    ::GetClientRect(hwnd_, &rc);
    inPlace_->SetObjectRects(&rc, &rc);
  }

  bool FocusControl() {
    if (!inPlace_)
      return false;
    HWND child = nullptr;
    if (FAILED(inPlace_->GetWindow(&child)) || !child)
      return false;
    ::SetFocus(child);
    return true;
  }

  bool HasControl() const { return static_cast<bool>(control_); }

  // IUnknown
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (!out)
      return E_POINTER;
    *out = nullptr;
    if (iid == IID_IUnknown || iid == IID_IAxHostWindow)
      *out = static_cast<IAxHostWindow*>(this);
    else if (iid == IID_IOleClientSite)
      *out = static_cast<IOleClientSite*>(this);
    else if (iid == IID_IOleWindow || iid == IID_IOleInPlaceSite)
      *out = static_cast<IOleInPlaceSite*>(this);
    else if (iid == IID_IOleInPlaceUIWindow || iid == IID_IOleInPlaceFrame)
      *out = static_cast<IOleInPlaceFrame*>(this);
    else if (iid == IID_IDocHostUIHandler)
      *out = static_cast<IDocHostUIHandler*>(this);
    else if (iid == IID_IDispatch)
      *out = static_cast<IDispatch*>(this);
    else
      return E_NOINTERFACE;
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(::InterlockedIncrement(&refs_)); }
  ULONG STDMETHODCALLTYPE Release() override {
    LONG n = ::InterlockedDecrement(&refs_);
    if (n == 0)
      delete this;
    return static_cast<ULONG>(n);
  }

  // IAxHostWindow
  HRESULT STDMETHODCALLTYPE CreateControl(LPCOLESTR name) override {
    if (!name || !*name)
      return E_INVALIDARG;
    CLSID clsid;
    HRESULT hr = name[0] == L'{' ? ::CLSIDFromString(const_cast<LPOLESTR>(name), &clsid)
                                 : ::CLSIDFromProgID(name, &clsid);
    if (FAILED(hr))
      return hr;
    return CreateControlByClsid(clsid, nullptr, nullptr);
  }

  HRESULT STDMETHODCALLTYPE CreateControlByClsid(REFCLSID clsid, BSTR licenseKey, IUnknown** control) override {
    if (control)
      *control = nullptr;
    ComPtr<IUnknown> unk;
    HRESULT hr;
    if (licenseKey && ::SysStringLen(licenseKey)) {
      ComPtr<IClassFactory2> factory;
      hr = ::CoGetClassObject(clsid, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER, nullptr, IID_IClassFactory2,
                              factory.PutVoid());
      if (SUCCEEDED(hr))
        hr = factory->CreateInstanceLic(nullptr, nullptr, IID_IUnknown, licenseKey, unk.PutVoid());
    } else {
      hr = ::CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER, IID_IUnknown,
                              unk.PutVoid());
    }
    if (FAILED(hr))
      return hr;
    hr = AttachControl(unk.Get());
    if (SUCCEEDED(hr) && control)
      *control = unk.Detach();
    return hr;
  }

  HRESULT STDMETHODCALLTYPE AttachControl(IUnknown* control) override {
    if (!control)
      return E_POINTER;
    ReleaseControl();
    ComPtr<IOleObject> ole;
    HRESULT hr = control->QueryInterface(IID_IOleObject, ole.PutVoid());
    if (FAILED(hr))
      return hr;
    control_ = control;
    oleObject_ = ole;
    DWORD misc = 0;
    ole->GetMiscStatus(DVASPECT_CONTENT, &misc);
    IOleClientSite* site = static_cast<IOleClientSite*>(this);
    if (misc & OLEMISC_SETCLIENTSITEFIRST)
      ole->SetClientSite(site);
    ComPtr<IPersistStreamInit> persist;
    if (SUCCEEDED(control->QueryInterface(IID_IPersistStreamInit, persist.PutVoid())))
      persist->InitNew();
    if (!(misc & OLEMISC_SETCLIENTSITEFIRST))
      ole->SetClientSite(site);
    RECT rc;
    ::GetClientRect(hwnd_, &rc);
    hr = ole->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, site, 0, hwnd_, &rc);
    if (FAILED(hr)) {
      ReleaseControl();
      return hr;
    }
    Resize();
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE QueryControl(REFIID iid, void** out) override {
    if (!out)
      return E_POINTER;
    *out = nullptr;
    return control_ ? control_->QueryInterface(iid, out) : E_NOINTERFACE;
  }

  HRESULT STDMETHODCALLTYPE SetExternalDispatch(IDispatch* external) override {
    external_ = external;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetExternalUIHandler(IDocHostUIHandlerDispatch* handler) override {
    uiHandler_ = handler;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetDocHostFlags(DWORD flags) override {
    docHostFlags_ = flags;
    return S_OK;
  }

  // IOleClientSite
  HRESULT STDMETHODCALLTYPE SaveObject() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE GetMoniker(DWORD, DWORD, IMoniker** mk) override {
    if (mk)
      *mk = nullptr;
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE GetContainer(IOleContainer** container) override {
    if (container)
      *container = nullptr;
    return E_NOINTERFACE;
  }
  HRESULT STDMETHODCALLTYPE ShowObject() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE OnShowWindow(BOOL) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE RequestNewObjectLayout() override { return E_NOTIMPL; }

  // IOleWindow, for the in-place site and the frame
  HRESULT STDMETHODCALLTYPE GetWindow(HWND* hwnd) override {
    if (!hwnd)
      return E_POINTER;
    *hwnd = hwnd_;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }

  // IOleInPlaceSite
  HRESULT STDMETHODCALLTYPE CanInPlaceActivate() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE OnInPlaceActivate() override {
    inPlace_.Release();
    if (control_)
      control_->QueryInterface(IID_IOleInPlaceObject, inPlace_.PutVoid());
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE OnUIActivate() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE GetWindowContext(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** doc, LPRECT pos,
                                             LPRECT clip, LPOLEINPLACEFRAMEINFO info) override {
    if (frame) {
      *frame = static_cast<IOleInPlaceFrame*>(this);
      AddRef();
    }
    if (doc)
      *doc = nullptr;
    RECT rc;
    ::GetClientRect(hwnd_, &rc);
    if (pos)
      *pos = rc;
    if (clip)
      *clip = rc;
    if (info) {
      info->fMDIApp = FALSE;
      info->hwndFrame = hwnd_;
      info->haccel = nullptr;
      info->cAccelEntries = 0;
    }
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Scroll(SIZE) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE OnUIDeactivate(BOOL) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE OnInPlaceDeactivate() override {
    inPlace_.Release();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE DiscardUndoState() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE DeactivateAndUndo() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE OnPosRectChange(LPCRECT rc) override {
    if (inPlace_ && rc)
      inPlace_->SetObjectRects(rc, rc);
    return S_OK;
  }

  // IOleInPlaceUIWindow and IOleInPlaceFrame: no tool space, no menus
  HRESULT STDMETHODCALLTYPE GetBorder(LPRECT) override { return INPLACE_E_NOTOOLSPACE; }
  HRESULT STDMETHODCALLTYPE RequestBorderSpace(LPCBORDERWIDTHS) override { return INPLACE_E_NOTOOLSPACE; }
  HRESULT STDMETHODCALLTYPE SetBorderSpace(LPCBORDERWIDTHS) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE SetActiveObject(IOleInPlaceActiveObject* active, LPCOLESTR) override {
    active_ = active;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE InsertMenus(HMENU, LPOLEMENUGROUPWIDTHS) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE SetMenu(HMENU, HOLEMENU, HWND) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE RemoveMenus(HMENU) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE SetStatusText(LPCOLESTR) override { return S_OK; }
  // Shared by the frame and the host-UI handler, which take the same arguments.
  HRESULT STDMETHODCALLTYPE EnableModeless(BOOL enable) override {
    if (uiHandler_)
      uiHandler_->EnableModeless(enable ? VARIANT_TRUE : VARIANT_FALSE);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE TranslateAccelerator(LPMSG, WORD) override { return S_FALSE; }

  // IDocHostUIHandler: the external handler decides; without it the browser's defaults apply.
  HRESULT STDMETHODCALLTYPE ShowContextMenu(DWORD id, POINT* pt, IUnknown* cmdTarget, IDispatch* obj) override {
    HRESULT answer = S_FALSE;
    if (uiHandler_ && pt &&
        SUCCEEDED(uiHandler_->ShowContextMenu(id, static_cast<DWORD>(pt->x), static_cast<DWORD>(pt->y), cmdTarget,
                                              obj, &answer))) {
      return answer;
    }
    return S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE GetHostInfo(DOCHOSTUIINFO* info) override {
    if (!info)
      return E_POINTER;
    DWORD flags = docHostFlags_, dblClick = DOCHOSTUIDBLCLK_DEFAULT;
    if (uiHandler_)
      uiHandler_->GetHostInfo(&flags, &dblClick);
    info->dwFlags = flags;
    info->dwDoubleClick = dblClick;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE ShowUI(DWORD id, IOleInPlaceActiveObject* active, IOleCommandTarget* cmdTarget,
                                   IOleInPlaceFrame* frame, IOleInPlaceUIWindow* doc) override {
    HRESULT answer = S_FALSE;
    if (uiHandler_ && SUCCEEDED(uiHandler_->ShowUI(id, active, cmdTarget, frame, doc, &answer)))
      return answer;
    return S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE HideUI() override {
    if (uiHandler_)
      uiHandler_->HideUI();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE UpdateUI() override {
    if (uiHandler_)
      uiHandler_->UpdateUI();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE OnDocWindowActivate(BOOL activate) override {
    if (uiHandler_)
      uiHandler_->OnDocWindowActivate(activate ? VARIANT_TRUE : VARIANT_FALSE);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE OnFrameWindowActivate(BOOL activate) override {
    if (uiHandler_)
      uiHandler_->OnFrameWindowActivate(activate ? VARIANT_TRUE : VARIANT_FALSE);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE ResizeBorder(LPCRECT border, IOleInPlaceUIWindow* window, BOOL frameWindow) override {
    if (uiHandler_ && border)
      uiHandler_->ResizeBorder(border->left, border->top, border->right, border->bottom, window,
                               frameWindow ? VARIANT_TRUE : VARIANT_FALSE);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE TranslateAccelerator(LPMSG msg, const GUID* group, DWORD cmd) override {
    if (!uiHandler_ || !msg)
      return S_FALSE;
    BSTR groupText = nullptr;
    if (group) {
      wchar_t text[40] = {};
      if (::StringFromGUID2(*group, text, 40))
        groupText = ::SysAllocString(text);
    }
    HRESULT answer = S_FALSE;
    HRESULT hr = uiHandler_->TranslateAccelerator(reinterpret_cast<DWORD_PTR>(msg->hwnd), msg->message,
                                                  msg->wParam, msg->lParam, groupText, cmd, &answer);
    ::SysFreeString(groupText);
    return SUCCEEDED(hr) ? answer : S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE GetOptionKeyPath(LPOLESTR* key, DWORD reserved) override {
    if (!key)
      return E_POINTER;
    *key = nullptr;
    BSTR path = nullptr;
    if (uiHandler_ && SUCCEEDED(uiHandler_->GetOptionKeyPath(&path, reserved)) && path) {
      *key = CoTaskCopy(path);
      ::SysFreeString(path);
      return *key ? S_OK : E_OUTOFMEMORY;
    }
    ::SysFreeString(path);
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE GetDropTarget(IDropTarget* target, IDropTarget** out) override {
    if (!out)
      return E_POINTER;
    *out = nullptr;
    ComPtr<IUnknown> given;
    if (uiHandler_ && SUCCEEDED(uiHandler_->GetDropTarget(target, given.Put())) && given)
      return given->QueryInterface(IID_IDropTarget, reinterpret_cast<void**>(out));
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE GetExternal(IDispatch** out) override {
    if (!out)
      return E_POINTER;
    *out = nullptr;
    if (uiHandler_ && SUCCEEDED(uiHandler_->GetExternal(out)) && *out)
      return S_OK;
    *out = nullptr;
    if (external_) {
      *out = external_.Get();
      (*out)->AddRef();
      return S_OK;
    }
    return S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE TranslateUrl(DWORD translate, LPWSTR in, LPWSTR* out) override {
    if (!out)
      return E_POINTER;
    *out = nullptr;
    if (!uiHandler_)
      return S_FALSE;
    BSTR inText = CopyBstr(in), outText = nullptr;
    HRESULT hr = uiHandler_->TranslateUrl(translate, inText, &outText);
    ::SysFreeString(inText);
    if (hr == S_OK && outText)
      *out = CoTaskCopy(outText);
    ::SysFreeString(outText);
    return *out ? S_OK : S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE FilterDataObject(IDataObject* in, IDataObject** out) override {
    if (!out)
      return E_POINTER;
    *out = nullptr;
    ComPtr<IUnknown> given;
    if (uiHandler_ && SUCCEEDED(uiHandler_->FilterDataObject(in, given.Put())) && given &&
        SUCCEEDED(given->QueryInterface(IID_IDataObject, reinterpret_cast<void**>(out)))) {
      return S_OK;
    }
    return S_FALSE;
  }

  // IDispatch: the ambient properties a control asks its site for.
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
    if (count)
      *count = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo** info) override {
    if (info)
      *info = nullptr;
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS*, VARIANT* result, EXCEPINFO*,
                                   UINT*) override {
    if (!(flags & DISPATCH_PROPERTYGET) || !result)
      return DISP_E_MEMBERNOTFOUND;
    switch (id) {
    case DISPID_AMBIENT_USERMODE:
      ::VariantInit(result);
      result->vt = VT_BOOL;
      result->boolVal = VARIANT_TRUE;
      return S_OK;
    default:
      return DISP_E_MEMBERNOTFOUND;
    }
  }

private:
  ~AxHost() { Close(); }

  void ReleaseControl() {
    if (inPlace_) {
      inPlace_->InPlaceDeactivate();
      inPlace_.Release();
    }
    active_.Release();
    if (oleObject_) {
      oleObject_->Close(OLECLOSE_NOSAVE);
      oleObject_->SetClientSite(nullptr);
      oleObject_.Release();
    }
    control_.Release();
  }

  LONG refs_ = 1;
  HWND hwnd_;
  DWORD docHostFlags_ = 0;
  ComPtr<IUnknown> control_;
  ComPtr<IOleObject> oleObject_;
  ComPtr<IOleInPlaceObject> inPlace_;
  ComPtr<IOleInPlaceActiveObject> active_;
  ComPtr<IDispatch> external_;
  ComPtr<IDocHostUIHandlerDispatch> uiHandler_;
};

AxHost* HostOf(HWND hwnd) { return reinterpret_cast<AxHost*>(::GetWindowLongPtrW(hwnd, 0)); }

// OLE stays initialised on a thread once a host window made it so: objects of the control may be
// released after the host window is gone, and they need the apartment until the thread ends.
void EnsureOle() {
  static thread_local bool done = false;
  if (!done) {
    HRESULT hr = ::OleInitialize(nullptr);
    done = SUCCEEDED(hr) || hr == RPC_E_CHANGED_MODE;
  }
}

LRESULT CALLBACK AxHostWndProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  AxHost* host = HostOf(hwnd);
  switch (msg) {
  case WM_CREATE: {
    EnsureOle();
    host = new AxHost(hwnd);
    ::SetWindowLongPtrW(hwnd, 0, reinterpret_cast<LONG_PTR>(host));
    int n = ::GetWindowTextLengthW(hwnd);
    if (n > 0) {
      std::wstring name(static_cast<size_t>(n) + 1, L'\0');
      name.resize(static_cast<size_t>(::GetWindowTextW(hwnd, &name[0], n + 1)));
      if (FAILED(host->CreateControl(name.c_str())))
        return -1;
    }
    return 0;
  }
  case WM_SIZE:
    if (host)
      host->Resize();
    break;
  case WM_SETFOCUS:
    if (host && host->FocusControl())
      return 0;
    break;
  case WM_ERASEBKGND:
    if (host && host->HasControl())
      return 1;
    break;
  case WM_DESTROY:
    if (host)
      host->Close();
    break;
  case WM_NCDESTROY:
    if (host) {
      ::SetWindowLongPtrW(hwnd, 0, 0);
      host->Release();
    }
    break;
  default:
    if (msg == HostMessage() && msg != 0) {
      if (!host)
        return 0;
      host->AddRef();
      return reinterpret_cast<LRESULT>(static_cast<IAxHostWindow*>(host));
    }
    break;
  }
  return ::DefWindowProcW(hwnd, msg, wp, lp);
}

bool RegisterHostClass(const wchar_t* name) {
  HINSTANCE instance = AppModule().GetModuleInstance();
  WNDCLASSEXW existing = {};
  existing.cbSize = sizeof(existing);
  if (::GetClassInfoExW(instance, name, &existing))
    return existing.lpfnWndProc == &AxHostWndProc;
  WNDCLASSEXW wc = {};
  wc.cbSize = sizeof(wc);
  wc.style = CS_GLOBALCLASS | CS_DBLCLKS;
  wc.lpfnWndProc = &AxHostWndProc;
  wc.cbWndExtra = sizeof(AxHost*);
  wc.hInstance = instance;
  wc.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  wc.lpszClassName = name;
  return ::RegisterClassExW(&wc) != 0;
}

}  // namespace

bool AxWinInit() {
  CModuleLock guard;
  HostMessage();
  bool plain = RegisterHostClass(kAxWinClassName);
  bool licensed = RegisterHostClass(kAxWinLicClassName);
  return plain && licensed;
}

void AxWinTerm() {
  CModuleLock guard;
  HINSTANCE instance = AppModule().GetModuleInstance();
  ::UnregisterClassW(kAxWinClassName, instance);
  ::UnregisterClassW(kAxWinLicClassName, instance);
}

HRESULT AxGetHost(HWND hostWindow, IAxHostWindow** host) {
  if (!host)
    return E_POINTER;
  *host = nullptr;
  if (!::IsWindow(hostWindow))
    return E_INVALIDARG;
  *host = reinterpret_cast<IAxHostWindow*>(::SendMessageW(hostWindow, HostMessage(), 0, 0));
  return *host ? S_OK : E_FAIL;
}

HWND CAxWindow::Create(HWND parent, const RECT* rc, LPCWSTR name, DWORD style, DWORD exStyle, MenuOrId menu) {
  return CWindow::Create(kAxWinClassName, parent, rc, name, style, exStyle, menu);
}

HRESULT CAxWindow::CreateControl(LPCOLESTR name) {
  ComPtr<IAxHostWindow> host;
  HRESULT hr = QueryHost(host.Put());
  return SUCCEEDED(hr) ? host->CreateControl(name) : hr;
}

HRESULT CAxWindow::CreateControl(REFCLSID clsid, IUnknown** control) {
  ComPtr<IAxHostWindow> host;
  HRESULT hr = QueryHost(host.Put());
  return SUCCEEDED(hr) ? host->CreateControlByClsid(clsid, nullptr, control) : hr;
}

HRESULT CAxWindow::QueryControl(REFIID iid, void** out) const {
  if (!out)
    return E_POINTER;
  *out = nullptr;
  ComPtr<IAxHostWindow> host;
  HRESULT hr = QueryHost(host.Put());
  return SUCCEEDED(hr) ? host->QueryControl(iid, out) : hr;
}

HRESULT CAxWindow::SetExternalUIHandler(IDocHostUIHandlerDispatch* handler) {
  ComPtr<IAxHostWindow> host;
  HRESULT hr = QueryHost(host.Put());
  return SUCCEEDED(hr) ? host->SetExternalUIHandler(handler) : hr;
}

HRESULT CAxWindow::SetExternalDispatch(IDispatch* external) {
  ComPtr<IAxHostWindow> host;
  HRESULT hr = QueryHost(host.Put());
  return SUCCEEDED(hr) ? host->SetExternalDispatch(external) : hr;
}

}  // namespace WTL
