// The search results tab. Every field of the service's answer is escaped and no list text is read
// as a placeholder: the fixed texts are looked up directly, so a '%' in a name stays a '%'.
#include "SearchView.h"

#include "AppContext.h"
#include "JsonUtil.h"
#include "LanguageTranslator.h"
#include "Messages.h"
#include "MsgCenter.h"
#include "ViewText.h"

#include <common/CodePage.h>
#include <common/Log.h>
#include <common/StringUtil.h>
#include <common/Url.h>

#include <Tessara.h>

namespace {

std::string TextOf(const std::map<std::string, std::string>& texts, const char* key) {
    auto it = texts.find(key);
    return it != texts.end() ? it->second : std::string(key);
}

std::string Replaced(std::string text, const std::string& variable, const std::string& value) {
    size_t at = text.find(variable);
    if (at != std::string::npos)
        text.replace(at, variable.size(), value);
    return text;
}

// "Author:" needs a space before the value; a full-width colon carries its own.
std::string Label(const std::map<std::string, std::string>& texts, const char* key) {
    std::string label = TextOf(texts, key);
    if (!label.empty() && label.back() == ':')
        label += ' ';
    return HtmlEscape(label);
}

bool IsWebAddress(const std::string& url) {
    return IsHttpAddress(ToWide(url, CP_UTF8).c_str());
}

std::string HostOf(const std::string& url) {
    UrlRecord parts;
    return SplitUrl(parts, url.c_str()) ? parts.host : std::string();
}

std::string ResultItem(JsonValue* item, const std::map<std::string, std::string>& texts) {
    std::string url = JsonStringMember(item, "u");
    std::string name;
    if (!JsonGetStringMember(item, "n", name))
        name = url;
    std::string author;
    if (!JsonGetStringMember(item, "a", author))
        author = "N/A";
    int count = 0;
    JsonGetNumberMember(item, "c", count);

    std::string html = "<div class=\"item\"><p class=\"title\">";
    // Only a web address becomes a link: anything else would reach the main window as "execute".
    if (IsWebAddress(url))
        html += "<a href=\"" + HtmlEscape(url) + "\" execute>" + HtmlEscape(name) + "</a>";
    else
        html += "<span class=\"nolink\">" + HtmlEscape(name) + "</span>";
    html += "</p><p class=\"info\">" + Label(texts, "Author") + HtmlEscape(author);
    int finished = 0;
    if (JsonGetNumberMember(item, "f", finished))
        html += " | " + Label(texts, "Status") +
                HtmlEscape(TextOf(texts, finished == 1 ? "Finished" : "OnGoing"));
    html += " | " + HtmlEscape(Replaced(TextOf(texts, "Downloads"), "%COUNT%", std::to_string(count))) + "</p>";
    std::string intro;
    if (JsonGetStringMember(item, "i", intro) && !intro.empty())
        html += "<p class=\"intro\">" + HtmlEscape(intro) + "</p>";
    std::string host = HostOf(url);
    if (!host.empty())
        html += "<p class=\"from\">" + HtmlEscape(host) + "</p>";
    return html + "</div>";
}

}  // namespace

std::string BuildSearchResults(const std::string& json, const std::map<std::string, std::string>& texts) {
    JsonTree list(ParseJsonText(json));
    // A failed or garbled answer must not leave the last keyword's results standing.
    if (getValueType(list.get()) != 4)
        return "<p class=\"empty\">" + HtmlEscape(TextOf(texts, "NoAnswer")) + "</p>";
    std::string html;
    unsigned size = getArraySize(list.get());
    for (unsigned i = 0; i < size; ++i) {
        JsonValue* item = nullptr;
        if (getArrayMember(list.get(), i, &item) && getValueType(item) == 5)
            html += ResultItem(item, texts);
    }
    if (html.empty())
        html = "<p class=\"empty\">" + HtmlEscape(TextOf(texts, "NoResults")) + "</p>";
    return html;
}

CSearchView::CSearchView(const std::wstring& keyword, const std::string& json) : keyword_(keyword), result_(json) {
    closable = true;
    if (AppContext* ctx = GetAppContext())
        ctx->Translator().GetSectionStrings(L"SearchView", texts_);
}

VxView* CSearchView::Make(HWND parent, const std::wstring& keyword, const std::string& json, int controlId) {
    auto* view = new CSearchView(keyword, json);
    RECT rc = {0, 0, 0, 0};
    if (!view->Create(parent, rc, controlId)) {
        Brimholt::Log << "Cannot create the search view: " << GetLastError() << std::endl;
        delete view;
        return nullptr;
    }
    return view;
}

LRESULT CSearchView::OnCreate(UINT, WPARAM, LPARAM, BOOL&) {
    hwnd_ = m_hWnd;
    if (AppContext* ctx = GetAppContext()) {
        MsgCenter& bus = ctx->Messages();
        id = bus.RegisterObserver(m_hWnd, this);
        bus.Subscribe(id, "search_finish", MsgThunk<&CSearchView::OnSearchFinish>);
    }
    std::map<std::string, std::string> page = texts_;
    page["RESULTS"] = BuildSearchResults(result_, texts_);
    std::string html;
    if (!vxhtml::ReadHtmlResource(L"SearchView.html", html)) {
        Brimholt::Log << "The page resource is missing: SearchView.html" << std::endl;
        return 0;
    }
    FillTemplate(html, page);
    if (!LoadHtmlText(m_hWnd, html))
        Brimholt::Log << "The search page did not load" << std::endl;
    return 0;
}

bool CSearchView::OpenUrl(const wchar_t* text) {
    if (!text || _wcsnicmp(text, L"http://", 7) == 0 || _wcsnicmp(text, L"https://", 8) == 0)
        return false;
    keyword_ = text;
    PostSearch();
    return true;
}

bool CSearchView::IsChecked(const wchar_t* elementId) {
    htmlayout::dom::element root = htmlayout::dom::element::root_element(m_hWnd);
    return root && root.find_by_id(elementId).is_checked();
}

void CSearchView::PostSearch() {
    auto* msg = new msg_search(keyword_, id);
    if (IsChecked(L"byname"))
        msg->kinds += L"n";
    if (IsChecked(L"byauthor"))
        msg->kinds += L"a";
    AppContext* ctx = GetAppContext();
    if (!ctx || !ctx->Messages().PostTo(0, msg))
        delete msg;
}

bool CSearchView::handle_event(HELEMENT, HL_BEHAVIOR_EVENT& params) {
    if (params.cmd == HL_BUTTON_STATE_CHANGED) {
        htmlayout::dom::element button(params.target);
        const wchar_t* which = button.get_attribute("id");
        bool ours = which && (wcscmp(which, L"byname") == 0 || wcscmp(which, L"byauthor") == 0);
        if (ours && (IsChecked(L"byname") || IsChecked(L"byauthor"))) {
            PostSearch();
            return true;
        }
    }
    return OnHyperlinkClick(params);
}

void CSearchView::OnSearchFinish(msg_search_finish* msg) {
    result_ = msg->result;
    htmlayout::dom::element root = htmlayout::dom::element::root_element(m_hWnd);
    htmlayout::dom::element results = root ? root.find_by_id(L"results") : htmlayout::dom::element();
    if (results)
        results.set_html(BuildSearchResults(result_, texts_), HL_REPLACE_CONTENT);
}
