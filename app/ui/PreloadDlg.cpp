// The page-loading and search steps. Their request completions run on the HTTP library's worker
// threads; each ends the bar with EndDialog as its very last touch of the step, since the user-
// interface thread may destroy the step as soon as the bar has ended.
#include "PreloadDlg.h"

#include "AppContext.h"
#include "AppDatabase.h"
#include "DebugSettings.h"
#include "JsonUtil.h"
#include "LanguageTranslator.h"
#include "Messages.h"
#include "MsgCenter.h"
#include "ParseContext.h"
#include "ScriptCatalog.h"
#include "ScriptManager.h"
#include "ServiceApi.h"
#include "UiSeams.h"

#include <common/CodePage.h>
#include <common/Log.h>
#include <common/Url.h>
#include <wtl/Seams.h>

namespace {

HWND FrameWindow() {
    AppContext* ctx = GetAppContext();
    return ctx ? ctx->Messages().GetObserverWindow(0) : nullptr;
}

// A question to the main frame; the button pressed, or 0 when no one answered.
int AskFrame(const std::wstring& key, const TextVars& vars, int flags) {
    AppContext* ctx = GetAppContext();
    if (!ctx)
        return 0;
    msg_message_box box;
    box.SetText(L"Messages", key, vars);
    box.flags = flags;
    if (!ctx->Messages().SendTo(0, &box))
        return 0;
    return box.result;
}

// A notice to the main frame, not waited for.
void TellFrame(const std::wstring& text) {
    AppContext* ctx = GetAppContext();
    auto* box = new msg_message_box(text);
    box->flags = MB_ICONINFORMATION;
    if (!ctx || !ctx->Messages().PostTo(0, box))
        delete box;
}

std::wstring MessageText(const std::wstring& key) {
    AppContext* ctx = GetAppContext();
    return ctx ? ctx->Translator().Text(L"Messages", key) : key;
}

Orvane::OvRequest* NewRequest(const std::string& address, Orvane::OvRequest::Client& client) {
    try {
        return Orvane::OvRequest::CreateInstance(address.c_str(), client, nullptr);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

}  // namespace

CPreloadDlg::CPreloadDlg(const std::wstring& address) : work_(std::make_shared<CParseContext>()) {
    context = work_;
    PrepareScript(address);
}

CPreloadDlg::CPreloadDlg(const std::wstring& address, std::shared_ptr<CParseContext> existing)
    : context(std::move(existing)), work_(std::make_shared<CParseContext>()) {
    if (!context)
        context = work_;
    PrepareScript(address);
}

std::string CPreloadDlg::Host() const {
    UrlRecord parts;
    return SplitUrl(parts, url.c_str()) ? parts.host : std::string();
}

void CPreloadDlg::PrepareScript(const std::wstring& address) {
    result = kPreloadOk;
    adult = false;
    state = 1;
    url = ToNarrow(address, CP_UTF8);
    std::string host = Host();
    AppContext* ctx = GetAppContext();
    if (!ctx) {
        result = kPreloadNoScript;
        return;
    }
    bool proxy = false;
    std::wstring path = ctx->Debug().GetScriptOverride(host.c_str(), &proxy);
    if (!path.empty()) {
        if (work_->LoadScriptFile(path, proxy, text))
            Brimholt::Log << "Local script '" << ToNarrow(path, CP_ACP) << "' loaded." << std::endl;
        else
            result = kPreloadScriptError;
        return;
    }
    std::wstring package = ctx->Debug().GetPackagePath(host.c_str());
    if (!package.empty() && work_->LoadScriptMemory(package))
        return;
    SiteInfo site;
    if (!ctx->Catalog().FindSite(host, site)) {
        result = kPreloadNoScript;
        return;
    }
    Vellix::Script* script = nullptr;
    int found = ctx->Scripts().FindScript(host, script);
    if (script) {
        work_->SetSharedScript(script, ctx->Scripts().Lifetimes());
        CheckScriptVersion();
    } else if (found == kScriptMustDownload) {
        state = 0;
        key = site.key;
    } else {
        result = kPreloadNoScript;
    }
}

bool CPreloadDlg::CheckScriptVersion() {
    std::string version;
    if (!work_->CheckVersion(version))
        return false;
    result = kPreloadNeedUpdate;
    text = version;
    return true;
}

void CPreloadDlg::Start() {
    if (result != kPreloadOk)
        EndDialog(2);
    else
        PreloadFetch();
}

// On the user-interface thread from Start, or on a worker from OnScript. Start is the last touch
// of the step: from then on the completion may end the bar on another thread at any moment.
void CPreloadDlg::PreloadFetch() {
    bool systemProxy = false;
    {
        AppContextRef ctx;
        systemProxy = ctx && ctx->Debug().SysProxy;
    }
    std::string address;
    int failure;
    if (state == 0) {
        address = ScriptUrl(key);
        handler = [this](const Orvane::OvResponse& r) { OnScript(r); };
        failure = kPreloadScriptFailed;
        SetInfo(L"FetchingScript");
    } else {
        work_->BeforeNavigate(url);
        address = url;
        handler = [this](const Orvane::OvResponse& r) { OnPage(r); };
        failure = kPreloadPageFailed;
        SetInfo(L"FetchingHTML");
        if (!WTL::IsWebAddress(address.c_str())) {
            Brimholt::Log << "Not a web address, not fetched: " << address << std::endl;
            result = failure;
            EndDialog(2);
            return;
        }
    }
    Orvane::OvRequest* request = NewRequest(address, *this);
    if (!request) {
        result = failure;
        EndDialog(2);
        return;
    }
    if (state == 0) {
        PrepareScriptRequest(request, systemProxy);
    } else {
        std::string system = GetIEProxyForUrl(address.c_str());
        if (!system.empty())
            request->SetProxy(system.c_str());
        request->SetHeader("Accept-Encoding", "gzip, deflate");
        request->SetHeader("Accept-Language", "en-US,en;q=0.8,zh-Hans-CN;q=0.5,zh-Hans;q=0.3");
        work_->PrepareRequest(request);
    }
    request->SetTimeout(StepRequestTimeout());
    int started = StartStepRequest(request);
    if (started != Orvane::kStarted) {
        // The request is gone and its client will never be called: end the step here.
        Brimholt::Log << "The " << (failure == kPreloadPageFailed ? "page" : "script")
                      << " request did not start: " << started << std::endl;
        result = failure;
        EndDialog(2);
    }
}

void CPreloadDlg::OnComplete(const Orvane::OvResponse& response) {
    // The handler may bind the next one (OnScript fetches the page): run a copy, so the one
    // running is never replaced under itself.
    std::function<void(const Orvane::OvResponse&)> bound = handler;
    if (bound)
        bound(response);
    else
        Brimholt::Log << "A preload answer arrived without a handler" << std::endl;
}

void CPreloadDlg::OnScript(const Orvane::OvResponse& response) {
    if (response.GetState() != Orvane::kStateComplete || response.GetStatusCode() != 200) {
        Orvane::OvStringFetcher<char> sink(text);
        text.clear();
        if (response.GetState() == Orvane::kStateComplete)
            response.GetHeader(sink, "Error-Info");
        result = kPreloadScriptFailed;
        EndDialog(2);
        return;
    }
    ScriptFetchResult fetched(response);
    fetched.host = Host();
    fetched.key = key;
    Vellix::Script* script = nullptr;
    int loaded = kScriptLoadFailed;
    std::shared_ptr<ScriptLifetimes> lifetimes;
    {
        AppContextRef ctx;
        if (ctx) {
            loaded = ctx->Scripts().LoadDownloaded(fetched, script);
            lifetimes = ctx->Scripts().Lifetimes();
        }
    }
    if (loaded == kScriptNoBody) {
        result = kPreloadEmptyScript;
        text = fetched.error;
        EndDialog(2);
        return;
    }
    if (!script) {
        result = kPreloadNoScript;
        EndDialog(2);
        return;
    }
    adult = fetched.adults;
    work_->SetSharedScript(script, lifetimes);
    if (CheckScriptVersion()) {
        EndDialog(2);
        return;
    }
    state = 1;
    PreloadFetch();  // its Start is the last touch of the step on this thread
}

void CPreloadDlg::OnPage(const Orvane::OvResponse& response) {
    std::string page;
    if (!work_->ReadPage(response, page)) {
        result = kPreloadPageFailed;
        EndDialog(2);
        return;
    }
    if (!work_->ParseInfo(url, page)) {
        result = kPreloadParseFailed;
        EndDialog(2);
        return;
    }
    context = work_;  // the caller adopts the fresh context only now
    EndDialog(1);
}

bool CPreloadDlg::ConfirmAdult() {
    AppContext* ctx = GetAppContext();
    if (!adult || !ctx || ctx->Database().GetConfigInt("AdultEnsure", 0) == 1)
        return true;
    TextVars vars;
    vars[L"DOMAIN"] = ToWide(Host(), CP_UTF8);
    if (AskFrame(L"AdultEnsure", vars, MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) != IDYES)
        return false;
    ctx->Database().SetConfig("AdultEnsure", "1");
    return true;
}

bool CPreloadDlg::PreloadOnParsed() {
    if (!ConfirmAdult())
        return true;
    std::string type;
    if (!JsonGetStringMember(work_->info, "type", type) || type != "volume")
        return false;
    std::string name, volume;
    JsonGetStringMember(work_->info, "name", name);
    JsonGetStringMember(work_->info, "volname", volume);
    auto* grab = new msg_grab();
    size_t item = grab->AddItem(work_, ToWide(name, CP_UTF8));
    grab->AddVolume(item, VolumeItem{ToWide(volume, CP_UTF8), url});
    AppContext* ctx = GetAppContext();
    if (!ctx || !ctx->Messages().PostTo(0, grab))
        delete grab;
    return true;
}

std::string CPreloadDlg::PreloadGetScriptValue() {
    return work_->GetCookies();
}

void CPreloadDlg::PreloadFinish() {
    switch (result) {
        case kPreloadNeedUpdate: {
            TextVars vars;
            vars[L"VERSION"] = ToWide(text, CP_ACP);
            if (AskFrame(L"NeedUpdate", vars, MB_YESNO | MB_ICONQUESTION) == IDYES)
                OpenRedirectLink("download");
            break;
        }
        case kPreloadScriptError:
            TellFrame(MessageText(L"ScriptError") + L"\n\n" + ToWide(text, CP_ACP));
            break;
        case kPreloadScriptFailed:
            // Without the service's own words the user still learns why nothing opened.
            TellFrame(MessageText(text.empty() ? std::wstring(L"ScriptError") : ToWide(text, CP_ACP)));
            break;
        case kPreloadPageFailed:
            // An address that is no web page is neither fetched nor offered to the browser.
            if (!WTL::IsWebAddress(url.c_str())) {
                TellFrame(MessageText(L"ParseFailed"));
                break;
            }
            if (AskFrame(L"GetHTMLFailed", TextVars(), MB_YESNO | MB_ICONQUESTION) == IDYES)
                WTL::ShellOpen(FrameWindow(), ToWide(url, CP_UTF8).c_str());
            break;
        case kPreloadParseFailed: {
            std::string example = work_->GetExample();
            if (example.empty()) {
                TellFrame(MessageText(L"ParseFailed"));
                break;
            }
            std::wstring wide = ToWide(example, CP_UTF8);
            if (Dialogs().example && Dialogs().example(FrameWindow(), wide) == 1) {
                AppContext* ctx = GetAppContext();
                auto* execute = new msg_execute(wide);
                if (!ctx || !ctx->Messages().PostTo(0, execute))
                    delete execute;
            }
            break;
        }
        default:
            break;
    }
}

CPreSearchDlg::CPreSearchDlg(const std::wstring& searchKeyword, const std::wstring& searchKind)
    : keyword(searchKeyword), kind(searchKind.empty() ? L"na" : searchKind) {}

void CPreSearchDlg::Start() {
    Orvane::OvRequest* request = NewRequest(SearchUrl(), *this);
    if (!request) {
        code = -1;
        EndDialog(2);
        return;
    }
    request->SetFormField("q", ToNarrow(keyword, CP_UTF8).c_str());
    request->SetFormField("t", ToNarrow(kind, CP_UTF8).c_str());
    request->SetTimeout(StepRequestTimeout());
    // The text goes first: after Start the completion may end the bar at any moment.
    AppContext* ctx = GetAppContext();
    std::wstring info = ctx ? ctx->Translator().Text(L"Infos", L"Searching") : L"Searching";
    for (size_t at = info.find(L"%KEYWORD%"); at != std::wstring::npos;
         at = info.find(L"%KEYWORD%", at + keyword.size()))
        info.replace(at, 9, keyword);
    SetInfoText(info);
    int started = StartStepRequest(request);
    if (started != Orvane::kStarted) {
        code = started ? started : -1;
        EndDialog(2);
    }
}

void CPreSearchDlg::OnComplete(const Orvane::OvResponse& response) {
    if (response.GetState() != Orvane::kStateComplete) {
        code = response.GetState();
        EndDialog(2);
        return;
    }
    if (response.GetStatusCode() == 200) {
        Orvane::OvStringFetcher<char> sink(body);
        response.GetBody(sink);
        EndDialog(1);
        return;
    }
    code = response.GetStatusCode();
    EndDialog(2);
}

std::wstring CPreSearchDlg::PreSearchOnResult() {
    TextVars vars;
    vars[L"CODE"] = code == 0 ? L"-1" : std::to_wstring(code);
    AppContext* ctx = GetAppContext();
    return ctx ? ctx->Translator().Text(L"Messages", L"SearchError", vars) : L"SearchError";
}
