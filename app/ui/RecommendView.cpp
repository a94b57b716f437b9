// The recommendations view's thread, window and new-window links.
#include "RecommendView.h"

#include "AppContext.h"
#include "LanguageTranslator.h"
#include "Messages.h"
#include "MsgCenter.h"
#include "ScriptCatalog.h"
#include "ServiceApi.h"
#include "wtl/MessageLoop.h"
#include "wtl/Module.h"

#include <common/CodePage.h>
#include <common/Log.h>
#include <common/Url.h>

#include <atomic>

namespace {

std::atomic<int> g_running{0};

bool PostTo(int observer, VxMsg* msg) {
    AppContextRef ctx;
    if (ctx && ctx->Messages().PostTo(observer, msg))
        return true;
    Brimholt::Log << "Message " << msg->name << " of the recommendations view not delivered" << std::endl;
    delete msg;
    return false;
}

}  // namespace

CRecommendView::CRecommendView(HWND parent, const RECT& rc, int controlId)
    : parent_(parent), rc_(rc), controlId_(controlId) {}

CRecommendView::~CRecommendView() {
    DispEventUnadvise();
}

// False when the view could not be made; it is freed then, and no tab is asked for.
bool CRecommendView::CreateView() {
    if (!Create(parent_, rc_, nullptr, 0, 0, static_cast<UINT>(controlId_))) {
        delete this;
        return false;
    }
    hwnd_ = m_hWnd;
    if (!CreateBrowserControl()) {
        ::DestroyWindow(hwnd_);  // its last message frees the view
        return false;
    }
    std::wstring title, url;
    {
        AppContextRef ctx;
        if (ctx) {
            title = ctx->Translator().Text(L"HotMangas", L"Title");
            url = ToWide(RecommendedUrl(ctx->Translator().CurrentCode()), CP_UTF8);
        }
    }
    PostTo(2, new msg_add_tab(this, 6, title));
    if (!url.empty())
        Navigate(url, this, std::wstring());
    return true;
}

LRESULT CRecommendView::OnDestroy(UINT, WPARAM, LPARAM, BOOL& handled) {
    DispEventUnadvise();
    PostQuitMessage(0);
    handled = FALSE;  // the host releases its control
    return 0;
}

void CRecommendView::OnNewWindow3(IDispatch**, VARIANT_BOOL* cancel, DWORD, BSTR, BSTR url) {
    if (!url || !cancel)
        return;
    std::wstring address(url, SysStringLen(url));
    UrlRecord parts;
    if (!SplitUrl(parts, ToNarrow(address, CP_UTF8).c_str()) || parts.host.empty() || !HasScriptForSite(parts.host))
        return;
    *cancel = VARIANT_TRUE;
    PostTo(0, new msg_execute(address));
}

DWORD WINAPI RecommendViewThread(void* raw) {
    auto* view = static_cast<CRecommendView*>(raw);
    HRESULT com = CoInitialize(nullptr);
    HRESULT ole = OleInitialize(nullptr);
    int result = 1;
    WTL::CMessageLoop loop;
    WTL::AppModule().AddMessageLoop(&loop);
    if (view->CreateView())
        result = loop.Run();
    else
        Brimholt::Log << "The recommendations view could not be created: " << GetLastError() << std::endl;
    WTL::AppModule().RemoveMessageLoop();
    if (SUCCEEDED(ole))
        OleUninitialize();
    if (SUCCEEDED(com))
        CoUninitialize();
    --g_running;
    return static_cast<DWORD>(result);
}

bool StartRecommendView(HWND tabView, const RECT& rc, int controlId) {
    auto* view = new CRecommendView(tabView, rc, controlId);
    ++g_running;
    HANDLE thread = CreateThread(nullptr, 0, RecommendViewThread, view, 0, nullptr);
    if (!thread) {
        Brimholt::Log << "The recommendations view's thread could not start: " << GetLastError() << std::endl;
        --g_running;
        delete view;
        return false;
    }
    CloseHandle(thread);
    return true;
}

int RunningRecommendViews() {
    return g_running;
}
