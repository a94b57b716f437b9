// The favourites' update check. Completions run on the HTTP library's workers: they touch only
// their item's parse context and their own copies, and hand the next step back by posting a job to
// the dialog's observer id, which is dropped once the dialog has ended or the check was cancelled.
#include "CheckUpdateDlg.h"

#include "AppContext.h"
#include "AppDatabase.h"
#include "DbJobs.h"
#include "FavoritesStore.h"
#include "InfoBar.h"
#include "JsonUtil.h"
#include "LanguageTranslator.h"
#include "Messages.h"
#include "MsgCenter.h"
#include "ParseContext.h"
#include "ScriptCatalog.h"
#include "ScriptManager.h"
#include "ServiceApi.h"
#include "TipDlg.h"
#include "VolumeRecordSet.h"
#include "wtl/Seams.h"

#include <Tessara.h>
#include <common/CodePage.h>
#include <common/Log.h>
#include <common/StringUtil.h>
#include <common/Url.h>

namespace {

const wchar_t kSection[] = L"CheckUpdateDlg";

std::wstring Text(const wchar_t* section, const wchar_t* key, const TextVars& vars = TextVars()) {
    AppContextRef ctx;
    return ctx ? ctx->Translator().Text(section, key, vars) : key;
}

std::string HostOf(const std::string& url) {
    UrlRecord parts;
    return SplitUrl(parts, url.c_str()) ? parts.host : std::string();
}

std::wstring CodeError(int code) {
    return Text(kSection, L"ErrorWithCode", {{L"CODE", std::to_wstring(code)}});
}

void Inform(HWND owner, const wchar_t* key) {
    std::wstring text = Text(L"Messages", key), caption = Text(L"Global", L"Name");
    WTL::ShowMessageBox(owner, text.c_str(), caption.c_str(), MB_ICONINFORMATION);
}

}  // namespace

void CCheckUpdateDlg::RequestClient::OnResponse(const Orvane::OvResponse& response) {
    bool detached;
    {
        std::lock_guard<std::mutex> guard(shared_->lock);
        detached = shared_->detached;
    }
    if (!detached && handler_)
        handler_(response);
    delete this;
}

CCheckUpdateDlg::CCheckUpdateDlg() : grab(new msg_grab()), shared_(std::make_shared<Shared>()) {
    AppContextRef ctx;
    if (!ctx)
        return;
    JsonValue* root = ctx->Favorites().root;
    unsigned nf = root ? getArraySize(root) : 0;
    for (unsigned f = 0; f < nf; ++f) {
        JsonValue* folder = nullptr;
        getArrayMember(root, f, &folder);
        if (!folder || getValueType(folder) != 5)
            continue;
        JsonValue* members = nullptr;
        if (!JsonGetArrayValue(folder, "c", members) || !members)
            continue;
        for (unsigned m = 0, nm = getArraySize(members); m < nm; ++m) {
            JsonValue* item = nullptr;
            getArrayMember(members, m, &item);
            if (!item || getValueType(item) != 5)
                continue;
            std::string name, url;
            JsonGetStringMember(item, "n", name);
            JsonGetStringMember(item, "u", url);
            grab->AddItem(std::make_shared<CParseContext>(), ToWide(name, CP_UTF8));
            urls.push_back(url);
        }
    }
}

CCheckUpdateDlg::~CCheckUpdateDlg() {
    {
        std::lock_guard<std::mutex> guard(shared_->lock);
        shared_->detached = true;
    }
    delete step_;
    delete grab;
}

int CCheckUpdateDlg::Run(HWND owner) {
    CCheckUpdateDlg dialog;
    return static_cast<int>(dialog.DoModal(owner));
}

LRESULT CCheckUpdateDlg::OnInitDialog(UINT, WPARAM, LPARAM, BOOL&) {
    AppContextRef ctx;
    if (!ctx) {
        EndDialog(2);
        return TRUE;
    }
    id = ctx->Messages().RegisterObserver(m_hWnd, this);
    shared_->observer = id;
    Brimholt::LanguageTranslator& texts = ctx->Translator();
    SetWindowTextW(texts.Text(kSection, L"Caption").c_str());
    texts.TranslateDialog(m_hWnd, kSection);
    // The template holds a placeholder: the engine window takes its place and id.
    HWND place = GetDlgItem(IDC_CU_HTML);
    RECT rc = {7, 7, 300, 200};
    if (place) {
        ::GetWindowRect(place, &rc);
        ::MapWindowPoints(nullptr, m_hWnd, reinterpret_cast<POINT*>(&rc), 2);
        ::DestroyWindow(place);
    }
    WTL::CHTMLayoutCtrl engine;
    html = engine.Create(m_hWnd, &rc, IDC_CU_HTML, WS_CHILD | WS_VISIBLE | WS_TABSTOP, WS_EX_CLIENTEDGE);
    if (html) {
        SetupHost(html);
        LoadHtmlTemplate(html, L"CheckUpdate.html", kSection);
    } else {
        Brimholt::Log << "The update page could not be created: " << GetLastError() << std::endl;
    }
    DlgResize_Init(false);
    CheckDlgButton(IDC_CU_AUTOSCROLL, ctx->Database().GetConfigInt("AutoScroll", 1) ? BST_CHECKED : BST_UNCHECKED);
    for (int control : {IDC_CU_SHOWALL, IDC_CU_CHECKALL, IDC_CU_UNCHECKALL, IDOK})
        ::EnableWindow(GetDlgItem(control), FALSE);
    checking_ = true;
    step_ = new Step{[this]() { return CheckItem(0); }};
    if (!PostJob([this]() { RunSteps(); })) {
        Brimholt::Log << "The update check could not start" << std::endl;
        EndDialog(2);
    }
    return TRUE;
}

void CCheckUpdateDlg::RunSteps() {
    while (step_ && !HasEnded()) {
        Step* current = step_;
        step_ = nullptr;
        Step* next = current->run ? current->run() : nullptr;
        delete current;
        if (next) {
            delete step_;
            step_ = next;
        }
    }
}

void CCheckUpdateDlg::Resume(Step* next) {
    delete step_;
    step_ = next;
    RunSteps();
}

CCheckUpdateDlg::Step* CCheckUpdateDlg::CheckItem(size_t i) {
    // Nothing to read: with no favourites (or none loaded yet) the check ends at once.
    if (i >= urls.size())
        return NextItem(i);
    if (html) {
        htmlayout::dom::element checking = htmlayout::dom::element::root_element(html).find_by_id(L"checking");
        if (checking)
            checking.set_text(Text(kSection, L"Progress",
                                   {{L"CUR", std::to_wstring(i + 1)}, {L"TOTAL", std::to_wstring(urls.size())}}));
    }
    std::string host = HostOf(urls[i]);
    SiteInfo site;
    AppContextRef ctx;
    if (!ctx || host.empty() || !ctx->Catalog().FindSite(host, site))
        return ShowError(i, Text(kSection, L"NotSupported", {{L"DOMAIN", ToWide(host, CP_UTF8)}}));
    std::string key = site.key;
    return new Step{[this, i, host, key]() { return FindItemScript(i, host, key); }};
}

CCheckUpdateDlg::Step* CCheckUpdateDlg::FindItemScript(size_t i, const std::string& host, const std::string& key) {
    AppContextRef ctx;
    Vellix::Script* script = nullptr;
    int found = ctx ? ctx->Scripts().FindScript(host, script) : kScriptNoSite;
    if (script) {
        grab->items[i].context->SetSharedScript(script, ctx->Scripts().Lifetimes());
        return new Step{[this, i]() { return FetchPage(i); }};
    }
    if (found != kScriptMustDownload)
        return ShowError(i, Text(kSection, L"ScriptError"));
    std::wstring failure;
    if (!StartRequest(ScriptUrl(key), i, false, failure))
        return ShowError(i, failure);
    return nullptr;
}

CCheckUpdateDlg::Step* CCheckUpdateDlg::FetchPage(size_t i) {
    std::wstring failure;
    if (!StartRequest(urls[i], i, true, failure))
        return ShowError(i, failure);
    return nullptr;
}

bool CCheckUpdateDlg::StartRequest(const std::string& address, size_t i, bool page, std::wstring& failure) {
    std::shared_ptr<CParseContext> context = grab->items[i].context;
    std::shared_ptr<Shared> shared = shared_;
    std::string url = urls[i];
    std::string key;
    if (!page) {
        AppContextRef ctx;
        SiteInfo site;
        if (ctx && ctx->Catalog().FindSite(HostOf(url), site))
            key = site.key;
    }
    // Runs on the worker; the outcome goes back as a job that only a running dialog takes.
    auto handler = [shared, context, url, key, page, i](const Orvane::OvResponse& response) {
        bool ok = false;
        std::wstring error;
        if (page) {
            int state = response.GetState();
            std::string body;
            if (state != Orvane::kStateComplete) {
                error = CodeError(state);
            } else if (response.GetStatusCode() == 200) {
                std::string address;
                Orvane::OvStringFetcher<char> sink(address);
                response.GetRequestURL(sink);
                if (context->ReadPage(response, body) && context->ParseInfo(address.empty() ? url : address, body))
                    ok = true;
                else
                    error = Text(L"Messages", L"ParseFailed");
            } else if (response.GetStatusCode() == 404) {
                error = Text(kSection, L"PageNotFound");
            } else {
                error = CodeError(response.GetStatusCode());
            }
        } else {
            ScriptFetchResult fetched(response);
            fetched.host = HostOf(url);
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
            std::string version;
            if (loaded == kScriptNoBody) {
                error = fetched.error.empty() ? Text(kSection, L"ServerError") : ToWide(fetched.error, CP_UTF8);
            } else if (!script) {
                error = Text(kSection, L"ScriptError");
            } else {
                context->SetSharedScript(script, lifetimes);
                if (context->CheckVersion(version))
                    error = Text(kSection, L"NeedUpdate");
                else
                    ok = true;
            }
        }
        int observer = shared->observer;
        PostUiJob(observer, [shared, observer, ok, error, page, i]() {
            {
                std::lock_guard<std::mutex> guard(shared->lock);
                if (shared->detached)
                    return;
            }
            AppContextRef ctx;
            auto* dialog = ctx ? static_cast<CCheckUpdateDlg*>(ctx->Messages().GetObserverObject(observer)) : nullptr;
            if (!dialog || dialog->HasEnded())
                return;
            if (!ok)
                dialog->Resume(new Step{[dialog, i, error]() { return dialog->ShowError(i, error); }});
            else if (page)
                dialog->Resume(new Step{[dialog, i]() { return dialog->ShowVolumes(i); }});
            else
                dialog->Resume(new Step{[dialog, i]() { return dialog->FetchPage(i); }});
        });
    };
    if (!WTL::IsWebAddress(address.c_str())) {
        failure = Text(kSection, L"NotSupported", {{L"DOMAIN", ToWide(HostOf(address), CP_UTF8)}});
        return false;
    }
    auto* client = new RequestClient(shared, handler);
    Orvane::OvRequest* request = nullptr;
    try {
        request = Orvane::OvRequest::CreateInstance(address.c_str(), *client, nullptr);
    } catch (const std::bad_alloc&) {
        request = nullptr;
    }
    if (!request) {
        delete client;
        failure = CodeError(-1);
        return false;
    }
    if (page) {
        request->SetHeader("Accept-Encoding", "gzip, deflate");
        request->SetHeader("Accept-Language", "en-US,en;q=0.8,zh-Hans-CN;q=0.5,zh-Hans;q=0.3");
        context->PrepareRequest(request);
    }
    request->SetTimeout(StepRequestTimeout());
    int started = StartStepRequest(request);
    if (started != Orvane::kStarted) {
        // No completion will come: the client is ours to free and the item ends here.
        delete client;
        Brimholt::Log << "An update request did not start: " << started << " " << address << std::endl;
        failure = CodeError(started);
        return false;
    }
    return true;
}

CCheckUpdateDlg::Step* CCheckUpdateDlg::ShowVolumes(size_t i) {
    std::shared_ptr<CParseContext> context = grab->items[i].context;
    JsonValue* volumes = nullptr;
    if (!context->ParseVolumes(volumes) || !volumes || getArraySize(volumes) == 0) {
        if (volumes)
            deleteValue(&volumes);
        return ShowError(i, Text(L"Messages", L"ParseFailed"));
    }
    VolumeRecordSet records;
    records.url = urls[i];
    if (!urls[i].empty())
        records.Load(urls[i]);
    records.MergeVolumes(volumes);
    std::string name;
    JsonGetStringMember(context->info, "name", name);
    if (!name.empty())
        grab->items[i].name = ToWide(name, CP_UTF8);
    else
        name = ToNarrow(grab->items[i].name, CP_UTF8);
    // A row has new volumes when any of its volumes is new, also one left new by an earlier check.
    bool anyNew = false;
    std::string buttons;
    for (unsigned v = 0, n = getArraySize(volumes); v < n; ++v) {
        JsonValue* volume = nullptr;
        getArrayMember(volumes, v, &volume);
        std::string url, title;
        JsonGetStringMember(volume, "url", url);
        JsonGetStringMember(volume, "title", title);
        auto found = records.records.find(url);
        int state = found == records.records.end() ? 0 : found->second;
        if (state == 2)
            continue;
        anyNew = anyNew || state == 1;
        buttons += "<button type=\"checkbox\" class=\"";
        buttons += state == 1 ? "new\" checked" : "ud\"";
        buttons += "><a href=\"" + HtmlEscape(url) + "\" target=\"_blank\">" + HtmlEscape(title) + "</a></button>";
    }
    deleteValue(&volumes);
    std::string row = "<div class=\"manga";
    row += anyNew ? " hasnew\" hasnew" : " newest\"";
    row += " item=\"" + std::to_string(i) + "\"><p class=\"title\">" + HtmlEscape(name) + "</p>" + buttons + "</div>";
    AppContextRef ctx;
    if (ctx)
        ctx->Database().Post(new CUpdateVols(urls[i], records.ToJson()));
    Append(row);
    return NextItem(i);
}

CCheckUpdateDlg::Step* CCheckUpdateDlg::ShowError(size_t i, const std::wstring& text) {
    std::string line = ToNarrow(Text(kSection, L"ErrorInfo", {{L"INFO", text}}), CP_UTF8);
    std::string name = i < grab->items.size() ? ToNarrow(grab->items[i].name, CP_UTF8) : std::string();
    Append("<div class=\"manga\" hasnew item=\"" + std::to_string(i) + "\"><p class=\"title\">" + HtmlEscape(name) +
           "</p><p class=\"error\">" + HtmlEscape(line) + "</p></div>");
    return NextItem(i);
}

void CCheckUpdateDlg::Append(const std::string& row) {
    if (!html)
        return;
    htmlayout::dom::element root = htmlayout::dom::element::root_element(html);
    htmlayout::dom::element updates = root.find_by_id(L"updates");
    if (updates)
        updates.set_html(row, HL_APPEND_AFTER_LAST);
    if (IsDlgButtonChecked(IDC_CU_AUTOSCROLL) == BST_CHECKED) {
        htmlayout::dom::element loading = root.find_by_id(L"loading");
        if (loading)
            loading.scroll_to_view(HL_SCROLL_SMOOTH);
    }
}

CCheckUpdateDlg::Step* CCheckUpdateDlg::NextItem(size_t i) {
    if (i + 1 < urls.size())
        return new Step{[this, i]() { return CheckItem(i + 1); }};
    checking_ = false;
    {
        std::lock_guard<std::mutex> guard(shared_->lock);
        shared_->detached = true;
    }
    htmlayout::dom::element root = html ? htmlayout::dom::element::root_element(html) : htmlayout::dom::element();
    if (root && root.find_first("div[hasnew]")) {
        htmlayout::dom::element loading = root.find_by_id(L"loading");
        if (loading)
            loading.set_style_attribute("display", L"none");
        ::EnableWindow(GetDlgItem(IDC_CU_AUTOSCROLL), FALSE);
        for (int control : {IDC_CU_SHOWALL, IDC_CU_CHECKALL, IDC_CU_UNCHECKALL, IDOK})
            ::EnableWindow(GetDlgItem(control), TRUE);
        return nullptr;
    }
    Inform(m_hWnd, L"NoUpdateVolumes");
    EndDialog(2);
    return nullptr;
}

void CCheckUpdateDlg::SetAllChecks(int control) {
    if (!html)
        return;
    HCURSOR old = SetCursor(LoadCursor(nullptr, IDC_WAIT));
    for (htmlayout::dom::element& button : htmlayout::dom::element::root_element(html).find_all("button"))
        button.set_checked(control == IDC_CU_CHECKALL);
    SetCursor(old);
}

void CCheckUpdateDlg::ShowAllChanged() {
    if (!html)
        return;
    HCURSOR old = SetCursor(LoadCursor(nullptr, IDC_WAIT));
    htmlayout::dom::element root = htmlayout::dom::element::root_element(html);
    htmlayout::dom::element updates = root.find_by_id(L"updates");
    if (updates)
        updates.set_attribute("showall", IsDlgButtonChecked(IDC_CU_SHOWALL) == BST_CHECKED ? L"" : nullptr);
    root.update(true);
    SetCursor(old);
}

void CCheckUpdateDlg::Download() {
    if (!html || !grab)
        return;
    bool added = false;
    for (htmlayout::dom::element& row : htmlayout::dom::element::root_element(html).find_all("div.manga")) {
        const wchar_t* item = row.get_attribute("item");
        size_t k = item ? static_cast<size_t>(_wtoi(item)) : grab->items.size();
        if (k >= grab->items.size())
            continue;
        for (htmlayout::dom::element& button : row.find_all("button")) {
            if (!button.visible() || !button.is_checked())
                continue;
            htmlayout::dom::element link = button.find_first("a");
            const wchar_t* href = link ? link.get_attribute("href") : nullptr;
            if (!href)
                continue;
            VolumeItem volume{ToWide(link.text(), CP_UTF8), ToNarrow(href, CP_UTF8)};
            if (grab->AddVolume(k, volume))
                added = true;
        }
    }
    if (!added) {
        Inform(m_hWnd, L"NoCheckedVolumes");
        return;
    }
    std::vector<GrabItem> kept;
    for (GrabItem& item : grab->items) {
        if (!item.volumes.empty())
            kept.push_back(item);
    }
    grab->items.swap(kept);
    msg_grab* message = grab;
    grab = nullptr;
    AppContextRef ctx;
    if (!ctx || !ctx->Messages().PostTo(0, message))
        delete message;
    EndDialog(1);
}

LRESULT CCheckUpdateDlg::OnButton(WORD, WORD control, HWND, BOOL&) {
    if (control == IDOK && !::IsWindowEnabled(GetDlgItem(IDOK)))
        return 0;
    AppContextRef ctx;
    if (ctx)
        ctx->Database().SetConfig("AutoScroll", IsDlgButtonChecked(IDC_CU_AUTOSCROLL) == BST_CHECKED ? "1" : "0");
    if (control == IDOK) {
        Download();
        return 0;
    }
    VxTipDlg::ShowTip(m_hWnd, L"KeepNew");
    PostMessageW(WM_CLOSE);
    return 0;
}

LRESULT CCheckUpdateDlg::OnCloseMessage(UINT, WPARAM, LPARAM, BOOL&) {
    if (HasEnded())
        return 0;
    if (checking_) {
        std::wstring text = Text(L"Messages", L"CancelUpdate"), caption = Text(L"Global", L"Name");
        int answer = WTL::ShowMessageBox(m_hWnd, text.c_str(), caption.c_str(), 0x124);
        // The chain ran on while the question was open: it may have ended the dialog itself.
        if (HasEnded())
            return 0;
        if (answer != IDYES && checking_)
            return 0;
        std::lock_guard<std::mutex> guard(shared_->lock);
        shared_->detached = true;
        checking_ = false;
    }
    EndDialog(2);
    return 0;
}
