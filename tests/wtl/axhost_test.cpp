// The ActiveX host under Wine: the host window classes, OLE on the host's thread, the host-UI
// handler forwarding to an external IDocHostUIHandlerDispatch, the DWebBrowserEvents2 sink invoked
// with built arguments, and the WebBrowser control created in a child window, sized with it and
// navigating to the local test server. Without Wine's Gecko engine the control renders nothing and
// fires only BeforeNavigate2, DownloadBegin, DownloadComplete and NavigateError.
#include "TestServer.h"
#include "WtlTestSupport.h"

#include "wtl/AxHost.h"
#include "wtl/ComPtr.h"
#include "wtl/DispEvent.h"
#include "wtl/WindowImpl.h"

#include <gtest/gtest.h>

#include <exdisp.h>
#include <exdispid.h>
#include <mshtmhst.h>
#include <olectl.h>

#include <string>
#include <thread>
#include <vector>

using namespace WTL;
using wtltest::HostWindow;
using wtltest::PumpUntil;

namespace {

class AxHostTest : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_TRUE(AxWinInit());
    OleInitialize(nullptr);
  }
  void TearDown() override { OleUninitialize(); }
};

TEST_F(AxHostTest, ClassesRegisterAndUnregister) {
  HINSTANCE inst = AppModule().GetModuleInstance();
  WNDCLASSEXW wc = {};
  wc.cbSize = sizeof(wc);
  EXPECT_TRUE(GetClassInfoExW(inst, L"AtlAxWin140", &wc));
  EXPECT_TRUE(GetClassInfoExW(inst, L"AtlAxWinLic140", &wc));
  EXPECT_TRUE(AxWinInit()) << "registering twice is harmless";
  AxWinTerm();
  EXPECT_FALSE(GetClassInfoExW(inst, L"AtlAxWin140", &wc));
  EXPECT_FALSE(GetClassInfoExW(inst, L"AtlAxWinLic140", &wc));
  EXPECT_TRUE(AxWinInit());
  EXPECT_TRUE(GetClassInfoExW(inst, L"AtlAxWin140", &wc));
}

TEST_F(AxHostTest, HostWindowInitialisesOleOnItsThread) {
  HRESULT before = E_FAIL, after = E_FAIL;
  bool created = false;
  std::thread t([&] {
    // A fresh thread has no apartment: this first call creates one, so undo it.
    before = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    if (SUCCEEDED(before))
      CoUninitialize();
    CAxWindow w;
    created = w.Create(HWND_MESSAGE, nullptr, nullptr, WS_CHILD) != nullptr;
    after = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    if (SUCCEEDED(after))
      CoUninitialize();
    w.DestroyWindow();
  });
  t.join();
  EXPECT_EQ(before, S_OK);
  EXPECT_TRUE(created);
  EXPECT_EQ(after, S_FALSE) << "the host window left its thread with OLE initialised";
}

// An external handler as the browser host of the program implements it: not reference-counted.
class UiHandler : public IDocHostUIHandlerDispatch {
public:
  DWORD flags = DOCHOSTUIFLAG_THEME;
  HRESULT contextAnswer = E_NOTIMPL;
  HRESULT contextResult = S_OK;
  IDispatch* external = nullptr;
  std::vector<std::string> calls;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (iid == IID_IUnknown || iid == IID_IDispatch || iid == IID_IDocHostUIHandlerDispatch) {
      *out = this;
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE ShowContextMenu(DWORD id, DWORD x, DWORD y, IUnknown*, IDispatch*, HRESULT* ret) override {
    calls.push_back("menu " + std::to_string(id) + " at " + std::to_string(x) + "," + std::to_string(y));
    *ret = contextResult;
    return contextAnswer;
  }
  HRESULT STDMETHODCALLTYPE GetHostInfo(DWORD* pdwFlags, DWORD*) override {
    *pdwFlags |= flags;
    return S_OK;
  }
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
  HRESULT STDMETHODCALLTYPE TranslateAccelerator(DWORD_PTR, DWORD msg, DWORD_PTR, DWORD_PTR, BSTR group, DWORD cmd,
                                                 HRESULT* ret) override {
    calls.push_back("accelerator " + std::to_string(msg) + " " + std::to_string(cmd) + (group ? " with group" : ""));
    *ret = S_OK;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetOptionKeyPath(BSTR*, DWORD) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetDropTarget(IUnknown*, IUnknown**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetExternal(IDispatch** out) override {
    if (!external)
      return E_NOTIMPL;
    *out = external;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE TranslateUrl(DWORD, BSTR in, BSTR* out) override {
    std::wstring url(in);
    if (url.find(L"old.invalid") == std::wstring::npos)
      return E_NOTIMPL;
    *out = SysAllocString(L"http://new.invalid/");
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE FilterDataObject(IUnknown*, IUnknown**) override { return E_NOTIMPL; }
};

// Stands for any dispatch object handed to the page as window.external.
class External : public IDispatch {
public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    *out = (iid == IID_IUnknown || iid == IID_IDispatch) ? this : nullptr;
    return *out ? S_OK : E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
    return E_NOTIMPL;
  }
};

TEST_F(AxHostTest, HostUiQuestionsGoToTheExternalHandler) {
  HostWindow parent;
  CAxWindow ax;
  RECT rc = {0, 0, 300, 200};
  ASSERT_TRUE(ax.Create(parent.hwnd(), &rc, nullptr, WS_CHILD | WS_VISIBLE, 0, 1004));
  ComPtr<IAxHostWindow> host;
  ASSERT_EQ(ax.QueryHost(host.Put()), S_OK);
  ComPtr<IDocHostUIHandler> ui;
  ASSERT_EQ(host->QueryInterface(IID_IDocHostUIHandler, ui.PutVoid()), S_OK);
  for (const IID* iid : {&IID_IOleClientSite, &IID_IOleInPlaceSite, &IID_IOleInPlaceFrame, &IID_IOleWindow, &IID_IDispatch}) {
    ComPtr<IUnknown> face;
    EXPECT_EQ(host->QueryInterface(*iid, face.PutVoid()), S_OK);
  }
  ComPtr<IUnknown> none;
  EXPECT_EQ(host->QueryInterface(IID_IWebBrowser2, none.PutVoid()), E_NOINTERFACE);
  ComPtr<IWebBrowser2> noControl;
  EXPECT_TRUE(FAILED(ax.QueryControl(noControl.Put())));
  EXPECT_FALSE(noControl);

  // Without an external handler: the host's own flags, the browser's defaults.
  host->SetDocHostFlags(DOCHOSTUIFLAG_NO3DBORDER);
  DOCHOSTUIINFO info = {};
  info.cbSize = sizeof(info);
  ASSERT_EQ(ui->GetHostInfo(&info), S_OK);
  EXPECT_EQ(info.dwFlags, static_cast<DWORD>(DOCHOSTUIFLAG_NO3DBORDER));
  EXPECT_EQ(info.dwDoubleClick, static_cast<DWORD>(DOCHOSTUIDBLCLK_DEFAULT));
  POINT pt = {12, 34};
  EXPECT_EQ(ui->ShowContextMenu(CONTEXT_MENU_DEFAULT, &pt, nullptr, nullptr), S_FALSE);
  IDispatch* got = reinterpret_cast<IDispatch*>(1);
  EXPECT_EQ(ui->GetExternal(&got), S_FALSE);
  EXPECT_EQ(got, nullptr);

  UiHandler handler;
  External fromHost, fromHandler;
  host->SetExternalDispatch(&fromHost);
  ASSERT_EQ(ax.SetExternalUIHandler(&handler), S_OK);
  ASSERT_EQ(ui->GetHostInfo(&info), S_OK);
  EXPECT_EQ(info.dwFlags, static_cast<DWORD>(DOCHOSTUIFLAG_NO3DBORDER | DOCHOSTUIFLAG_THEME)) << "the handler adds its bits";

  const struct {
    const char* name;
    HRESULT answer, result, expected;
  } menus[] = {
      {"the browser shows its own menu", S_OK, E_NOTIMPL, E_NOTIMPL},
      {"the handler suppressed the menu", S_OK, S_OK, S_OK},
      {"the handler failed: browser default", E_NOTIMPL, S_OK, S_FALSE},
  };
  for (const auto& m : menus) {
    handler.contextAnswer = m.answer;
    handler.contextResult = m.result;
    EXPECT_EQ(ui->ShowContextMenu(CONTEXT_MENU_DEFAULT, &pt, nullptr, nullptr), m.expected) << m.name;
  }
  EXPECT_EQ(handler.calls.back(), "menu 0 at 12,34");

  EXPECT_EQ(ui->GetExternal(&got), S_OK);
  EXPECT_EQ(got, &fromHost) << "the handler gives none, so the host's own";
  if (got)
    got->Release();
  handler.external = &fromHandler;
  EXPECT_EQ(ui->GetExternal(&got), S_OK);
  EXPECT_EQ(got, &fromHandler);

  LPWSTR translated = nullptr;
  wchar_t oldUrl[] = L"http://old.invalid/x", keepUrl[] = L"http://keep.invalid/";
  EXPECT_EQ(ui->TranslateUrl(0, oldUrl, &translated), S_OK);
  ASSERT_TRUE(translated);
  EXPECT_STREQ(translated, L"http://new.invalid/");
  CoTaskMemFree(translated);
  EXPECT_EQ(ui->TranslateUrl(0, keepUrl, &translated), S_FALSE);
  EXPECT_EQ(translated, nullptr);

  MSG msg = {ax.m_hWnd, WM_KEYDOWN, VK_F5, 0, 0, {0, 0}};
  EXPECT_EQ(ui->TranslateAccelerator(&msg, &IID_IDispatch, 7), S_OK);
  EXPECT_EQ(handler.calls.back(), "accelerator 256 7 with group");
  EXPECT_EQ(ui->ShowUI(0, nullptr, nullptr, nullptr, nullptr), S_FALSE) << "handler declines: the browser's UI";

  // The ambient property a control asks its site for.
  ComPtr<IDispatch> ambient;
  ASSERT_EQ(host->QueryInterface(IID_IDispatch, ambient.PutVoid()), S_OK);
  VARIANT v;
  VariantInit(&v);
  DISPPARAMS none0 = {};
  EXPECT_EQ(ambient->Invoke(DISPID_AMBIENT_USERMODE, IID_NULL, 0, DISPATCH_PROPERTYGET, &none0, &v, nullptr, nullptr), S_OK);
  EXPECT_EQ(v.vt, VT_BOOL);
  EXPECT_EQ(v.boolVal, VARIANT_TRUE);
  ax.SetExternalUIHandler(nullptr);
  ax.DestroyWindow();
}

// The events the program handles, recorded.
class BrowserEvents : public IDispEventImpl<0, BrowserEvents, &DIID_DWebBrowserEvents2> {
public:
  std::vector<std::wstring> log;
  bool cancelNewWindows = true;

  BEGIN_SINK_MAP(BrowserEvents)
    SINK_ENTRY(0, DISPID_BEFORENAVIGATE2, OnBeforeNavigate2)
    SINK_ENTRY(0, DISPID_DOWNLOADBEGIN, OnDownloadBegin)
    SINK_ENTRY(0, DISPID_DOWNLOADCOMPLETE, OnDownloadComplete)
    SINK_ENTRY(0, DISPID_NAVIGATEERROR, OnNavigateError)
    SINK_ENTRY(0, DISPID_DOCUMENTCOMPLETE, OnDocumentComplete)
    SINK_ENTRY(0, DISPID_NEWWINDOW2, OnNewWindow2)
    SINK_ENTRY(0, DISPID_NEWWINDOW3, OnNewWindow3)
    SINK_ENTRY(0, DISPID_TITLECHANGE, OnTitleChange)
  END_SINK_MAP()

  void OnBeforeNavigate2(IDispatch*, VARIANT* url, VARIANT*, VARIANT*, VARIANT*, VARIANT* headers, VARIANT_BOOL*) {
    log.push_back(L"before " + Text(url) + L" " + Text(headers));
  }
  void OnDownloadBegin() { log.push_back(L"download begin"); }
  void OnDownloadComplete() { log.push_back(L"download complete"); }
  void OnNavigateError(IDispatch*, VARIANT* url, VARIANT*, VARIANT* status, VARIANT_BOOL*) {
    log.push_back(L"error " + Text(url) + L" " + Text(status));
  }
  void OnDocumentComplete(IDispatch*, VARIANT* url) { log.push_back(L"document " + Text(url)); }
  void OnNewWindow2(IDispatch**, VARIANT_BOOL* cancel) {
    log.push_back(L"new window");
    *cancel = cancelNewWindows ? VARIANT_TRUE : VARIANT_FALSE;
  }
  HRESULT OnNewWindow3(IDispatch**, VARIANT_BOOL* cancel, DWORD flags, BSTR context, BSTR url) {
    log.push_back(L"new window " + std::wstring(url) + L" from " + std::wstring(context) + L" flags " +
                  std::to_wstring(flags));
    *cancel = VARIANT_TRUE;
    return S_OK;
  }
  void OnTitleChange(BSTR title) { log.push_back(L"title " + std::wstring(title ? title : L"")); }

  static std::wstring Text(VARIANT* v) {
    if (!v)
      return L"(none)";
    VARIANT s;
    VariantInit(&s);
    std::wstring out = SUCCEEDED(VariantChangeType(&s, v, 0, VT_BSTR)) && s.bstrVal ? s.bstrVal : L"?";
    VariantClear(&s);
    return out;
  }
};

// Arguments are built as the browser passes them: last first, URLs as references to variants.
struct Args {
  std::vector<VARIANT> v;
  ~Args() {
    for (auto& x : v) {
      if (!(x.vt & VT_BYREF))
        VariantClear(&x);
    }
  }
  Args& Bstr(const wchar_t* s) {
    VARIANT x;
    VariantInit(&x);
    x.vt = VT_BSTR;
    x.bstrVal = SysAllocString(s);
    v.insert(v.begin(), x);
    return *this;
  }
  Args& Ref(VARIANT* target) {
    VARIANT x;
    VariantInit(&x);
    x.vt = VT_BYREF | VT_VARIANT;
    x.pvarVal = target;
    v.insert(v.begin(), x);
    return *this;
  }
  Args& Bool(VARIANT_BOOL* target) {
    VARIANT x;
    VariantInit(&x);
    x.vt = VT_BYREF | VT_BOOL;
    x.pboolVal = target;
    v.insert(v.begin(), x);
    return *this;
  }
  Args& DispatchRef(IDispatch** target) {
    VARIANT x;
    VariantInit(&x);
    x.vt = VT_BYREF | VT_DISPATCH;
    x.ppdispVal = target;
    v.insert(v.begin(), x);
    return *this;
  }
  Args& Dispatch(IDispatch* d) {
    VARIANT x;
    VariantInit(&x);
    x.vt = VT_DISPATCH;
    x.pdispVal = d;
    if (d)
      d->AddRef();
    v.insert(v.begin(), x);
    return *this;
  }
  Args& Long(VARTYPE vt, long n) {
    VARIANT x;
    VariantInit(&x);
    x.vt = vt;
    x.lVal = n;
    v.insert(v.begin(), x);
    return *this;
  }
  DISPPARAMS Params() { return DISPPARAMS{v.empty() ? nullptr : v.data(), nullptr, static_cast<UINT>(v.size()), 0}; }
};

HRESULT Fire(BrowserEvents& sink, DISPID id, Args& args) {
  DISPPARAMS p = args.Params();
  return static_cast<IDispatch&>(sink).Invoke(id, IID_NULL, 0, DISPATCH_METHOD, &p, nullptr, nullptr, nullptr);
}

TEST(DispEvent, HandlersReceiveTheEventArguments) {
  BrowserEvents sink;
  VARIANT_BOOL cancel = VARIANT_FALSE;
  IDispatch* newWindow = nullptr;

  Args nw3;
  nw3.DispatchRef(&newWindow).Bool(&cancel).Long(VT_I4, 6).Bstr(L"http://ctx.invalid/").Bstr(L"http://comic.invalid/1");
  EXPECT_EQ(Fire(sink, DISPID_NEWWINDOW3, nw3), S_OK);
  EXPECT_EQ(cancel, VARIANT_TRUE);

  cancel = VARIANT_FALSE;
  Args nw2;
  nw2.DispatchRef(&newWindow).Bool(&cancel);
  EXPECT_EQ(Fire(sink, DISPID_NEWWINDOW2, nw2), S_OK);
  EXPECT_EQ(cancel, VARIANT_TRUE);

  VARIANT url;
  VariantInit(&url);
  url.vt = VT_BSTR;
  url.bstrVal = SysAllocString(L"http://127.0.0.1/done");
  Args doc;
  doc.Dispatch(nullptr).Ref(&url);
  EXPECT_EQ(Fire(sink, DISPID_DOCUMENTCOMPLETE, doc), S_OK);

  Args title;
  title.Bstr(L"Hot Mangas");
  EXPECT_EQ(Fire(sink, DISPID_TITLECHANGE, title), S_OK);
  Args titleNumber;
  titleNumber.Long(VT_I4, 42);
  EXPECT_EQ(Fire(sink, DISPID_TITLECHANGE, titleNumber), S_OK) << "a value converts to the parameter type";

  EXPECT_EQ(sink.log, (std::vector<std::wstring>{L"new window http://comic.invalid/1 from http://ctx.invalid/ flags 6",
                                                 L"new window", L"document http://127.0.0.1/done", L"title Hot Mangas",
                                                 L"title 42"}));
  VariantClear(&url);

  // Faults in the arguments reach no handler.
  sink.log.clear();
  Args empty;
  EXPECT_EQ(Fire(sink, DISPID_TITLECHANGE, empty), DISP_E_BADPARAMCOUNT);
  VARIANT_BOOL dummy = VARIANT_FALSE;
  Args wrong;
  wrong.Bool(&dummy).Bool(&dummy);  // NewWindow2 wants a dispatch reference first
  EXPECT_EQ(Fire(sink, DISPID_NEWWINDOW2, wrong), DISP_E_TYPEMISMATCH);
  Args unhandled;
  unhandled.Bstr(L"status");
  EXPECT_EQ(Fire(sink, DISPID_STATUSTEXTCHANGE, unhandled), S_OK) << "events without an entry are acknowledged";
  EXPECT_TRUE(sink.log.empty());
}

bool Has(const std::vector<std::wstring>& log, const std::wstring& prefix) {
  for (const auto& s : log) {
    if (s.compare(0, prefix.size(), prefix) == 0)
      return true;
  }
  return false;
}

TEST_F(AxHostTest, WebBrowserNavigatesToTheLocalServer) {
  vxtest::TestServer server;
  std::string why;
  ASSERT_TRUE(server.Start(&why, true)) << why;

  HostWindow parent(700, 500);
  CAxWindow ax;
  RECT rc = {10, 10, 410, 310};
  ASSERT_TRUE(ax.Create(parent.hwnd(), &rc, nullptr, WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN, 0, 1004));
  UiHandler handler;
  ASSERT_EQ(ax.SetExternalUIHandler(&handler), S_OK);
  ComPtr<IUnknown> control;
  ASSERT_EQ(ax.CreateControl(CLSID_WebBrowser, control.Put()), S_OK);
  ASSERT_TRUE(control);
  ComPtr<IWebBrowser2> browser;
  ASSERT_EQ(ax.QueryControl(browser.Put()), S_OK);

  // The control's window fills the host and follows it.
  auto controlFillsHost = [&] {
    HWND child = GetWindow(ax.m_hWnd, GW_CHILD);
    RECT host, inner;
    GetClientRect(ax.m_hWnd, &host);
    return child && GetWindowRect(child, &inner) && inner.right - inner.left == host.right &&
           inner.bottom - inner.top == host.bottom;
  };
  EXPECT_TRUE(PumpUntil(controlFillsHost));
  ax.MoveWindow(10, 10, 520, 380);
  EXPECT_TRUE(PumpUntil(controlFillsHost));

  BrowserEvents events;
  ASSERT_EQ(events.DispEventAdvise(browser.Get()), S_OK);
  EXPECT_EQ(events.DispEventAdvise(browser.Get()), E_FAIL) << "a second advise is refused";
  browser->put_Silent(VARIANT_TRUE);

  std::string address = server.Url("/echo/wtl?probe=1");
  std::wstring target(address.begin(), address.end());
  VARIANT url, headers, empty;
  VariantInit(&url);
  VariantInit(&headers);
  VariantInit(&empty);
  url.vt = VT_BSTR;
  url.bstrVal = SysAllocString(target.c_str());
  headers.vt = VT_BSTR;
  headers.bstrVal = SysAllocString(L"X-Vx-Test: wtl\r\n");
  ASSERT_EQ(browser->Navigate2(&url, &empty, &empty, &empty, &headers), S_OK);
  VariantClear(&url);
  VariantClear(&headers);

  EXPECT_TRUE(PumpUntil([&] { return server.Log().find("\"GET /echo/wtl?probe=1 ") != std::string::npos; }, 20000))
      << server.Log();
  std::string seen = server.Log();
  EXPECT_NE(seen.find("\n  X-Vx-Test: wtl\n"), std::string::npos) << "the extra headers went with the request";
  EXPECT_TRUE(PumpUntil([&] { return Has(events.log, L"before " + target); })) << "BeforeNavigate2 came";
  // What follows depends on the engine: give the download events a moment, then stop.
  PumpUntil([&] { return Has(events.log, L"download complete") || Has(events.log, L"error "); }, 3000);
  EXPECT_FALSE(Has(events.log, L"new window"));

  EXPECT_EQ(events.DispEventUnadvise(), S_OK);
  EXPECT_EQ(events.DispEventUnadvise(), S_FALSE);
  browser.Release();
  control.Release();
  ax.DestroyWindow();
}

// A window of a class based on the host class, creating its control at WM_CREATE.
class PopupLike : public CWindowImpl<PopupLike, CAxWindow, CWinTraits<WS_OVERLAPPEDWINDOW, 0>> {
public:
  DECLARE_WND_SUPERCLASS(nullptr, CAxWindow::GetWndClassName())
  HRESULT created = E_FAIL;
  int sizes = 0;
  BEGIN_MSG_MAP(PopupLike)
    MESSAGE_HANDLER(WM_CREATE, OnCreate)
    MESSAGE_HANDLER(WM_SIZE, OnSize)
  END_MSG_MAP()
  LRESULT OnCreate(UINT, WPARAM, LPARAM, BOOL&) {
    LRESULT r = DefWindowProc();  // the host comes into being first
    if (r == -1)
      return r;
    created = CAxWindow::CreateControl(CLSID_WebBrowser);
    return SUCCEEDED(created) ? 0 : -1;
  }
  LRESULT OnSize(UINT, WPARAM, LPARAM, BOOL& bHandled) {
    ++sizes;
    bHandled = FALSE;  // the host sizes its control
    return 0;
  }
};

TEST_F(AxHostTest, SuperclassedHostCreatesItsControl) {
  PopupLike popup;
  ASSERT_TRUE(popup.Create(nullptr, RECT{0, 0, 300, 200}));
  EXPECT_EQ(popup.created, S_OK);
  ComPtr<IWebBrowser2> browser;
  EXPECT_EQ(popup.QueryControl(browser.Put()), S_OK);
  int before = popup.sizes;
  popup.SetWindowPos(nullptr, 0, 0, 400, 260, SWP_NOMOVE | SWP_NOZORDER);
  EXPECT_GT(popup.sizes, before);
  HWND child = GetWindow(popup.m_hWnd, GW_CHILD);
  RECT host, inner;
  popup.GetClientRect(&host);
  ASSERT_TRUE(child && GetWindowRect(child, &inner));
  EXPECT_EQ(inner.right - inner.left, host.right);
  browser.Release();
  popup.DestroyWindow();
}

TEST_F(AxHostTest, ControlNamedByTheWindowText) {
  HostWindow parent;
  RECT rc = {0, 0, 200, 100};
  CAxWindow byClsid;
  ASSERT_TRUE(byClsid.Create(parent.hwnd(), &rc, L"{8856F961-340A-11D0-A96B-00C04FD705A2}"));
  ComPtr<IWebBrowser2> browser;
  EXPECT_EQ(byClsid.QueryControl(browser.Put()), S_OK);
  browser.Release();
  CAxWindow unknown;
  EXPECT_EQ(unknown.Create(parent.hwnd(), &rc, L"No.Such.Control"), nullptr) << "a name that creates nothing fails";
  byClsid.DestroyWindow();
}

}  // namespace
