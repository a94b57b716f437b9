// The comic details view. The cover request and the volume parser run off the user-interface
// thread and report back by observer id and a generation, never by pointer: a tab closed or
// reused meanwhile drops their late answers.
#include "MangaView.h"

#include "AppContext.h"
#include "AppDatabase.h"
#include "AppPath.h"
#include "DbJobs.h"
#include "FavoritesStore.h"
#include "InfoBar.h"
#include "JsonUtil.h"
#include "LanguageTranslator.h"
#include "ListCheck.h"
#include "Messages.h"
#include "MsgCenter.h"
#include "ParseContext.h"
#include "PreloadDlg.h"
#include "ScriptCatalog.h"
#include "TipDlg.h"
#include "UiMetrics.h"
#include "ViewText.h"
#include "VolumeRecordSet.h"
#include "wtl/Seams.h"

#include <Tessara.h>
#include <common/CodePage.h>
#include <common/Hex.h>
#include <common/Log.h>
#include <common/Path.h>
#include <common/StringUtil.h>
#include <common/Url.h>

#include <cstring>
#include <map>
#include <thread>

namespace {

std::string Trim(std::string text) {
    TrimString(text);
    return text;
}

std::string Escape(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '&': out += "&amp;"; break;
            case '"': out += "&quot;"; break;
            default: out += c;
        }
    }
    return out;
}

bool IsEntity(const std::string& s, size_t at, size_t& end) {
    size_t i = at + 1;
    if (i < s.size() && s[i] == '#') {
        ++i;
        bool hex = i < s.size() && (s[i] == 'x' || s[i] == 'X');
        if (hex)
            ++i;
        size_t digits = i;
        while (i < s.size() && (hex ? isxdigit(static_cast<unsigned char>(s[i])) : isdigit(static_cast<unsigned char>(s[i]))))
            ++i;
        if (i == digits)
            return false;
    } else {
        size_t letters = i;
        while (i < s.size() && isalnum(static_cast<unsigned char>(s[i])))
            ++i;
        if (i == letters)
            return false;
    }
    if (i >= s.size() || s[i] != ';' || i - at > 12)
        return false;
    end = i + 1;
    return true;
}

MsgCenter* Bus() {
    AppContext* ctx = GetAppContext();
    return ctx ? &ctx->Messages() : nullptr;
}

bool PostTo(int id, VxMsg* msg) {
    MsgCenter* bus = Bus();
    if (bus && bus->PostTo(id, msg))
        return true;
    delete msg;
    return false;
}

// The view behind an observer id, on the user-interface thread; null once its window is gone.
CMangaView* ViewOf(int id) {
    MsgCenter* bus = Bus();
    return bus ? static_cast<CMangaView*>(bus->GetObserverObject(id)) : nullptr;
}

std::wstring FileExists(const std::wstring& path) {
    DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY) ? path : std::wstring();
}

// The cover request's client: a heap object of its own, so a tab closed while the cover loads
// owes it nothing. It deletes itself after the one answer.
class CoverClient final : public Orvane::OvRequest::Client {
public:
    CoverClient(int observerId, unsigned coverGeneration, std::wstring coverPath, std::string coverKey)
        : observer(observerId), generation(coverGeneration), path(std::move(coverPath)), key(std::move(coverKey)) {}

    void OnResponse(const Orvane::OvResponse& response) override {
        std::wstring picture;
        if (response.GetState() == Orvane::kStateComplete && response.GetStatusCode() == 200) {
            // A partial file never takes the cached one's place, and its ETag is stored only
            // once the picture it names is in place.
            std::wstring part = path + L".part";
            if (response.SaveToFile(part.c_str()) &&
                MoveFileExW(part.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING)) {
                picture = path;
                std::string etag;
                Orvane::OvStringFetcher<char> sink(etag);
                if (response.GetHeader(sink, "ETag") && !etag.empty()) {
                    AppContextRef ctx;
                    if (ctx)
                        ctx->Database().Post(new UpdateETag(key, etag));
                }
            } else {
                DeleteFileW(part.c_str());
            }
        } else if (response.GetState() == Orvane::kStateComplete && response.GetStatusCode() == 304) {
            picture = FileExists(path);
        }
        int id = observer;
        unsigned gen = generation;
        std::wstring cover = picture.empty() ? L"noimg.gif" : L"file://" + picture;
        delete this;
        PostUiJob(id, [id, gen, cover]() {
            if (CMangaView* view = ViewOf(id))
                view->ShowCover(gen, cover);
        });
    }

    int observer;
    unsigned generation;
    std::wstring path;
    std::string key;
};

}  // namespace

std::string SanitizeIntro(const std::string& html) {
    static const char* const kKept[] = {"b", "i", "u", "em", "strong", "br", "p"};
    std::string out;
    size_t i = 0;
    while (i < html.size()) {
        char c = html[i];
        if (c == '&') {
            size_t end;
            if (IsEntity(html, i, end)) {
                out.append(html, i, end - i);
                i = end;
            } else {
                out += "&amp;";
                ++i;
            }
            continue;
        }
        if (c != '<') {
            if (c == '>')
                out += "&gt;";
            else if (c == '"')
                out += "&quot;";
            else
                out += c;
            ++i;
            continue;
        }
        size_t lt = i;
        size_t close = html.find('>', i);
        if (close == std::string::npos) {
            out += Escape(html.substr(i));
            break;
        }
        std::string tag = html.substr(i + 1, close - i - 1);
        bool ending = !tag.empty() && tag[0] == '/';
        size_t nameStart = ending ? 1 : 0;
        size_t nameEnd = nameStart;
        while (nameEnd < tag.size() && isalnum(static_cast<unsigned char>(tag[nameEnd])))
            ++nameEnd;
        std::string name = tag.substr(nameStart, nameEnd - nameStart);
        for (char& ch : name)
            ch = static_cast<char>(tolower(static_cast<unsigned char>(ch)));
        i = close + 1;
        if (name.empty()) {
            // Not a tag at all ("a < b"): the text as it reads.
            if (tag.empty() || !(ending || tag[0] == '!' || tag[0] == '?')) {
                out += "&lt;";
                i = lt + 1;
            }
            continue;
        }
        if (!ending && (name == "script" || name == "style")) {
            std::string end = "</" + name;
            size_t at = i;
            for (;;) {
                at = html.find("</", at);
                if (at == std::string::npos)
                    break;
                std::string candidate = html.substr(at, end.size());
                for (char& ch : candidate)
                    ch = static_cast<char>(tolower(static_cast<unsigned char>(ch)));
                if (candidate == end)
                    break;
                at += 2;
            }
            if (at == std::string::npos) {
                i = html.size();
            } else {
                size_t gt = html.find('>', at);
                i = gt == std::string::npos ? html.size() : gt + 1;
            }
            continue;
        }
        for (const char* kept : kKept) {
            if (name == kept) {
                if (name == "br")
                    out += "<br>";
                else
                    out += (ending ? "</" : "<") + name + ">";
                break;
            }
        }
    }
    return out;
}

std::wstring CoverKey(const std::string& coverUrl) {
    return Md5OfText(coverUrl);
}

CMangaView::CMangaView(const std::wstring& address, const std::string& cookies,
                       std::shared_ptr<CParseContext> context)
    : context_(std::move(context)), address_(address), cookies_(cookies) {}

CMangaView::~CMangaView() = default;

CMangaView* CMangaView::Make(HWND tabView, const std::wstring& address, const std::string& cookies,
                             std::shared_ptr<CParseContext> context) {
    auto* view = new CMangaView(address, cookies, std::move(context));
    if (!view->Create(tabView)) {
        Brimholt::Log << "Cannot create the comic view: " << GetLastError() << std::endl;
        delete view;
        return nullptr;
    }
    return view;
}

std::wstring CMangaView::Text(const wchar_t* key) const {
    AppContext* ctx = GetAppContext();
    return ctx ? ctx->Translator().Text(L"MangaView", key) : key;
}

LRESULT CMangaView::OnInitDialog(UINT, WPARAM, LPARAM, BOOL&) {
    hwnd_ = m_hWnd;
    AppContext* ctx = GetAppContext();
    if (ctx) {
        MsgCenter& bus = ctx->Messages();
        id = bus.RegisterObserver(m_hWnd, this);
        bus.Subscribe(id, "update_favorite", MsgThunk<&CMangaView::OnUpdateFavorite>);
        ctx->Translator().TranslateDialog(m_hWnd, L"MangaView");
    }
    engine_ = GetDlgItem(IDC_MANGA_PAGE);
    list_ = GetDlgItem(IDC_MANGA_VOLUMES);
    checkAll_ = GetDlgItem(IDC_CHECK_ALL);
    SetupHost(engine_);
    if (ctx)
        ListView_SetImageList(list_, ctx->Metrics().images, LVSIL_SMALL);
    DlgResize_Init(false);
    ListView_SetExtendedListViewStyle(list_, LVS_EX_CHECKBOXES);
    LoadHtmlTemplate(engine_, L"MangaInfo.html", L"MangaView");
    PostFill();
    return TRUE;
}

LRESULT CMangaView::OnDestroy(UINT, WPARAM, LPARAM, BOOL& handled) {
    AppContext* ctx = GetAppContext();
    if (ctx && id >= 0)
        ctx->Messages().UnregisterObserver(id);
    // With shared image lists the list leaves its own check-box images to its owner.
    if (list_) {
        HIMAGELIST states = ListView_SetImageList(list_, nullptr, LVSIL_STATE);
        if (states)
            ImageList_Destroy(states);
    }
    if (engine_)
        ::DestroyWindow(engine_);
    engine_ = nullptr;
    context_.reset();
    handled = FALSE;
    return 0;
}

void CMangaView::PostFill() {
    unsigned generation = ++fillGeneration_;
    int self = id;
    PostUiJob(self, [self, generation]() {
        CMangaView* view = ViewOf(self);
        if (view && view->fillGeneration_ == generation)
            view->FillPage();
    });
}

bool CMangaView::OpenUrl(const wchar_t* url) {
    UrlRecord parts;
    if (!url || !SplitUrl(parts, ToNarrow(url, CP_UTF8).c_str()) || parts.host.empty() ||
        !HasScriptForSite(parts.host))
        return false;
    // The step fills a fresh context; the shown comic keeps its own unless the load succeeds.
    CPreloadDlg step(url, context_);
    if (VxInfoBar::Run(&step) != 1) {
        step.PreloadFinish();
        return true;
    }
    if (!step.PreloadOnParsed()) {
        context_ = step.context;
        cookies_ = step.context ? step.context->GetCookies() : std::string();
        address_ = ToWide(step.url, CP_UTF8);
        PostFill();
        PostTo(id, new msg_update_favorite(std::string(), id));
    }
    return true;
}

void CMangaView::SetText(const wchar_t* elementId, const std::wstring& text) {
    htmlayout::dom::element root = htmlayout::dom::element::root_element(engine_);
    htmlayout::dom::element e = root.find_by_id(elementId);
    if (e) {
        e.set_text(text);
        e.update(true);
    }
}

void CMangaView::FillPage() {
    if (!context_)
        return;
    std::wstring parsed = ToWide(context_->url, CP_UTF8);
    if (!parsed.empty() && parsed != address_) {
        address_ = parsed;
        PostTo(0, new msg_command_change(m_hWnd, address_));
    }
    JsonValue* info = context_->info;
    title_ = ToWide(JsonStringMember(info, "name"), CP_UTF8);
    PostTo(2, new msg_title_change(m_hWnd, title_));
    SetText(L"name", title_);
    SetText(L"author", ToWide(JsonStringMember(info, "author"), CP_UTF8));

    htmlayout::dom::element root = htmlayout::dom::element::root_element(engine_);
    htmlayout::dom::element intro = root.find_by_id(L"intro");
    std::string text;
    if (intro) {
        if (JsonGetStringMember(info, "intro", text))
            intro.set_html(SanitizeIntro(text));
        else
            intro.set_text(L"");
        intro.update(true);
    }
    bool finished = false;
    const wchar_t* state = JsonGetBooleanMember(info, "finished", finished) ? (finished ? L"finish" : L"ongoing")
                                                                             : L"unknown";
    htmlayout::dom::element status = root.find_by_id(L"status");
    if (status) {
        status.set_text(Text(state));
        status.set_attribute("class", state);
        status.update(true);
    }
    std::string cover;
    if (JsonGetStringMember(info, "cover", cover) && !cover.empty())
        RequestCover(cover);
    else
        ShowCover(coverGeneration_, L"noimg.gif");
    StartVolumes();
}

void CMangaView::RequestCover(const std::string& coverUrl) {
    unsigned generation = ++coverGeneration_;
    std::wstring key = CoverKey(coverUrl);
    std::wstring folder = GetAppPath(L"CoverCache");
    CreateDirectoryW(folder.c_str(), nullptr);
    std::wstring path = folder + L"\\" + key;
    std::string narrowKey = ToNarrow(key, CP_UTF8);
    auto* client = new CoverClient(id, generation, path, narrowKey);
    Orvane::OvRequest* request = nullptr;
    if (WTL::IsWebAddress(coverUrl.c_str())) {
        try {
            request = Orvane::OvRequest::CreateInstance(coverUrl.c_str(), *client, nullptr);
        } catch (const std::bad_alloc&) {
            request = nullptr;
        }
    }
    if (!request) {
        delete client;
        ShowCover(generation, L"noimg.gif");
        return;
    }
    AppContext* ctx = GetAppContext();
    // A cached file that went missing is fetched whole, whatever ETag was stored for it.
    if (ctx && !FileExists(path).empty()) {
        GetETag etag(narrowKey);
        ctx->Database().RunSync(&etag);
        if (!etag.etag.empty())
            request->SetHeader("If-None-Match", etag.etag.c_str());
    }
    std::string referer = ToNarrow(address_, CP_UTF8);
    request->SetHeader("Referer", referer.c_str());
    UrlRecord page, picture;
    if (!cookies_.empty() && SplitUrl(page, referer.c_str()) && SplitUrl(picture, coverUrl.c_str()) &&
        page.host == picture.host)
        request->SetHeader("Cookie", cookies_.c_str());
    cookies_.clear();
    if (ctx && context_ && context_->proxy) {
        std::string proxy = ctx->Database().GetConfig("Proxy");
        if (!proxy.empty())
            request->SetProxy(proxy.c_str());
    }
    if (request->Start() != Orvane::kStarted) {
        delete client;
        ShowCover(generation, L"noimg.gif");
    }
}

void CMangaView::ShowCover(unsigned generation, const std::wstring& picture) {
    if (generation != coverGeneration_ || !engine_)
        return;
    htmlayout::dom::element root = htmlayout::dom::element::root_element(engine_);
    htmlayout::dom::element img = root.find_by_id(L"cover");
    if (img) {
        img.set_attribute("src", picture.c_str());
        img.update(true);
    }
}

void CMangaView::StartVolumes() {
    // The script may be held by a grab of the same site for a long while: the parser runs on a
    // thread of its own and the list says what it is doing meanwhile. The buttons go first, so
    // that the placeholder row is never shown beside a live Download button.
    parsing_ = true;
    ::EnableWindow(GetDlgItem(IDC_MANGA_DOWNLOAD), FALSE);
    ::EnableWindow(checkAll_, FALSE);
    filling_ = true;
    ListView_DeleteAllItems(list_);
    LVITEMW item = {};
    item.mask = LVIF_TEXT | LVIF_IMAGE;
    std::wstring analyzing = Text(L"Analyzing");
    item.pszText = const_cast<wchar_t*>(analyzing.c_str());
    item.iImage = -1;
    ListView_InsertItem(list_, &item);
    filling_ = false;
    int self = id;
    unsigned generation = fillGeneration_;
    std::shared_ptr<CParseContext> context = context_;
    try {
        std::thread([self, generation, context]() {
            JsonValue* result = nullptr;
            bool parsed = context->ParseVolumes(result);
            auto tree = std::make_shared<JsonTree>(result);
            if (!parsed)
                tree->reset(nullptr);
            PostUiJob(self, [self, generation, tree]() {
                if (CMangaView* view = ViewOf(self))
                    view->OnVolumesParsed(generation, tree);
            });
        }).detach();
    } catch (const std::system_error&) {
        JsonValue* result = nullptr;
        bool parsed = context->ParseVolumes(result);
        auto tree = std::make_shared<JsonTree>(result);
        if (!parsed)
            tree->reset(nullptr);
        OnVolumesParsed(generation, tree);
    }
}

int CMangaView::CallHook(const char* name) {
    if (!context_ || !context_->script)
        return 0;
    return context_->script->CallFunction(name, context_->url.c_str(), context_->page.data(), context_->page.size());
}

bool CMangaView::IsFavorite() const {
    AppContext* ctx = GetAppContext();
    std::string url = ToNarrow(address_, CP_UTF8);
    return ctx && ctx->Favorites().FindItem(url.c_str()) != nullptr;
}

void CMangaView::ShowCommands() {
    htmlayout::dom::element root = htmlayout::dom::element::root_element(engine_);
    htmlayout::dom::element commands = root.find_by_id(L"commands");
    if (commands) {
        commands.set_attribute("type", IsFavorite() ? L"fav" : L"normal");
        commands.update(true);
    }
}

void CMangaView::OnVolumesParsed(unsigned generation, std::shared_ptr<JsonTree> volumes) {
    if (generation != fillGeneration_ || !engine_)
        return;
    parsing_ = false;
    JsonValue* array = volumes ? volumes->get() : nullptr;
    if (!array || getValueType(array) != JSON_ARRAY || getArraySize(array) == 0) {
        filling_ = true;
        ListView_DeleteAllItems(list_);
        filling_ = false;
        if (CallHook("Vellix_AfterParseVolumes") == 7)
            return;
        MsgCenter* bus = Bus();
        msg_message_box box;
        box.SetText(L"Messages", L"NoVolumesParsed");
        box.flags = MB_YESNO | MB_ICONQUESTION;
        if (bus && bus->SendTo(0, &box) && box.result == IDYES)
            WTL::OpenWebAddress(m_hWnd, address_.c_str());
        return;
    }
    volumes_.reset(volumes->release());
    ShowVolumes(volumes_.get());
}

void CMangaView::ShowVolumes(JsonValue* array) {
    bool favorite = IsFavorite();
    std::string url = ToNarrow(address_, CP_UTF8);
    VolumeRecordSet records;
    if (favorite) {
        records.Load(url);
        records.MergeVolumes(array);
    }
    ShowCommands();
    filling_ = true;
    ::SendMessageW(checkAll_, BM_SETCHECK, BST_UNCHECKED, 0);
    ListView_DeleteAllItems(list_);
    CheckDlgButton(IDC_MANGA_REVERSE, BST_UNCHECKED);
    ::SendMessageW(list_, WM_SETREDRAW, FALSE, 0);
    unsigned count = getArraySize(array);
    for (unsigned i = 0; i < count; ++i) {
        JsonValue* member = nullptr;
        getArrayMember(array, i, &member);
        if (member && getValueType(member) != JSON_DICTIONARY)
            member = nullptr;
        std::wstring title = ToWide(Trim(JsonStringMember(member, "title")), CP_UTF8);
        int state = 0;
        if (favorite) {
            auto found = records.records.find(JsonStringMember(member, "url"));
            state = found == records.records.end() ? 0 : found->second;
        }
        LVITEMW item = {};
        item.mask = LVIF_TEXT | LVIF_IMAGE | LVIF_PARAM;
        item.iItem = static_cast<int>(i);
        item.pszText = const_cast<wchar_t*>(title.c_str());
        item.iImage = state;
        item.lParam = static_cast<LPARAM>(i);
        int at = ListView_InsertItem(list_, &item);
        if (favorite && state == 1)
            ListView_SetCheckState(list_, at, TRUE);
    }
    RECT client;
    ::GetClientRect(list_, &client);
    ListView_SetColumnWidth(list_, 0, client.right > 40 ? client.right - 4 : 200);
    ::SendMessageW(list_, WM_SETREDRAW, TRUE, 0);
    filling_ = false;
    ::EnableWindow(GetDlgItem(IDC_MANGA_DOWNLOAD), TRUE);
    ::EnableWindow(checkAll_, TRUE);
    ListCheckAllState(list_, checkAll_);
    if (favorite) {
        AppContext* ctx = GetAppContext();
        if (ctx)
            ctx->Database().Post(new CUpdateVols(url, records.ToJson()));
    }
    CallHook("Vellix_AfterParseVolumes");
    if (count > 10)
        VxTipDlg::ShowTip(m_hWnd, L"FastCheck");
}

void CMangaView::OnUpdateFavorite(msg_update_favorite* msg) {
    std::string url = ToNarrow(address_, CP_UTF8);
    if (!msg->url.empty() && msg->url != url)
        return;
    if (!engine_ || parsing_)
        return;
    ShowCommands();
    if (!IsFavorite() || msg->requester != id || !volumes_)
        return;
    // Seen against the stored records: downloaded volumes stay downloaded.
    std::vector<std::string> seen;
    unsigned count = getArraySize(volumes_.get());
    for (unsigned i = 0; i < count; ++i) {
        JsonValue* member = nullptr;
        getArrayMember(volumes_.get(), i, &member);
        std::string volume = JsonStringMember(member, "url");
        if (!volume.empty())
            seen.push_back(volume);
    }
    AppContext* ctx = GetAppContext();
    if (ctx)
        ctx->Database().Post(new CMarkVolsSeen(url, std::move(seen)));
}

bool CMangaView::handle_event(HELEMENT, HL_BEHAVIOR_EVENT& params) {
    if (params.cmd != HL_HYPERLINK_CLICK)
        return false;
    htmlayout::dom::element target(params.target);
    const wchar_t* elementId = target.get_attribute("id");
    std::string url = ToNarrow(address_, CP_UTF8);
    if (elementId && wcscmp(elementId, L"add-fav") == 0) {
        std::wstring category;
        if (context_) {
            Vellix::StrObject sink;
            if (context_->GetField(6, &sink))
                category = ToWide(sink.text, CP_UTF8);
        }
        PostTo(0, new msg_add_favorite(title_, category, url, id));
        return true;
    }
    if (elementId && wcscmp(elementId, L"edit-fav") == 0) {
        PostTo(0, new msg_edit_favorite(url, id));
        return true;
    }
    return OnHyperlinkClick(params);
}

LRESULT CMangaView::OnCheckAll(WORD, WORD, HWND, BOOL&) {
    ListToggleCheckAll(list_, checkAll_);
    return 0;
}

LRESULT CMangaView::OnReverse(WORD, WORD, HWND, BOOL&) {
    int count = ListView_GetItemCount(list_);
    if (count < 2 || parsing_)
        return 0;
    struct Row {
        std::wstring text;
        int image;
        LPARAM data;
        BOOL checked;
    };
    std::vector<Row> rows;
    for (int i = 0; i < count; ++i) {
        wchar_t buffer[1024] = L"";
        LVITEMW item = {};
        item.mask = LVIF_TEXT | LVIF_IMAGE | LVIF_PARAM;
        item.iItem = i;
        item.pszText = buffer;
        item.cchTextMax = 1024;
        ListView_GetItem(list_, &item);
        rows.push_back({buffer, item.iImage, item.lParam, ListView_GetCheckState(list_, i)});
    }
    filling_ = true;
    ::SendMessageW(list_, WM_SETREDRAW, FALSE, 0);
    ListView_DeleteAllItems(list_);
    for (int i = 0; i < count; ++i) {
        const Row& row = rows[count - 1 - i];
        LVITEMW item = {};
        item.mask = LVIF_TEXT | LVIF_IMAGE | LVIF_PARAM;
        item.iItem = i;
        item.pszText = const_cast<wchar_t*>(row.text.c_str());
        item.iImage = row.image;
        item.lParam = row.data;
        int at = ListView_InsertItem(list_, &item);
        ListView_SetCheckState(list_, at, row.checked);
    }
    ::SendMessageW(list_, WM_SETREDRAW, TRUE, 0);
    filling_ = false;
    ListCheckAllState(list_, checkAll_);
    return 0;
}

LRESULT CMangaView::OnDownload(WORD, WORD, HWND, BOOL&) {
    std::vector<int> ticked;
    int count = parsing_ ? 0 : ListView_GetItemCount(list_);
    for (int i = 0; i < count; ++i)
        if (ListView_GetCheckState(list_, i))
            ticked.push_back(i);
    if (ticked.empty() || !volumes_) {
        auto* box = new msg_message_box(std::wstring());
        box->SetText(L"Messages", L"NoCheckedVolumes");
        box->flags = MB_ICONINFORMATION;
        PostTo(0, box);
        return 0;
    }
    if (CallHook("Vellix_BeforeDownload") == 7)
        return 0;
    auto* grab = new msg_grab();
    size_t item = grab->AddItem(context_, title_);
    for (int i : ticked) {
        LVITEMW lv = {};
        lv.mask = LVIF_PARAM;
        lv.iItem = i;
        ListView_GetItem(list_, &lv);
        JsonValue* member = nullptr;
        if (!getArrayMember(volumes_.get(), static_cast<unsigned>(lv.lParam), &member))
            continue;
        grab->AddVolume(item, VolumeItem{ToWide(Trim(JsonStringMember(member, "title")), CP_UTF8),
                                         JsonStringMember(member, "url")});
    }
    PostTo(0, grab);
    return 0;
}

LRESULT CMangaView::OnItemChanged(int, NMHDR* hdr, BOOL&) {
    auto* change = reinterpret_cast<NMLISTVIEW*>(hdr);
    if (filling_ || parsing_ || !(change->uChanged & LVIF_STATE))
        return 0;
    bool selected = (change->uNewState & LVIS_SELECTED) != 0;
    bool tickChanged = ((change->uNewState ^ change->uOldState) & LVIS_STATEIMAGEMASK) != 0;
    bool becameSelected = selected && !(change->uOldState & LVIS_SELECTED);
    if (selected && (becameSelected || tickChanged)) {
        BOOL want = (GetKeyState(VK_MENU) & 0x8000) ? FALSE : TRUE;
        if (ListView_GetCheckState(list_, change->iItem) != want) {
            ListView_SetCheckState(list_, change->iItem, want);
            return 0;  // the change this makes comes back here and sets the box
        }
    }
    if (tickChanged || becameSelected)
        ListCheckAllState(list_, checkAll_);
    return 0;
}

LRESULT CMangaView::OnDoubleClick(int, NMHDR* hdr, BOOL&) {
    auto* activate = reinterpret_cast<NMITEMACTIVATE*>(hdr);
    if (parsing_ || activate->iItem < 0 || !volumes_)
        return 0;
    LVITEMW lv = {};
    lv.mask = LVIF_PARAM;
    lv.iItem = activate->iItem;
    if (!ListView_GetItem(list_, &lv))
        return 0;
    JsonValue* member = nullptr;
    if (!getArrayMember(volumes_.get(), static_cast<unsigned>(lv.lParam), &member))
        return 0;
    // Script text is UTF-8; only web addresses reach the shell.
    std::wstring url = ToWide(JsonStringMember(member, "url"), CP_UTF8);
    WTL::OpenWebAddress(m_hWnd, url.c_str());
    return 0;
}
