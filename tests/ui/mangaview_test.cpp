// The comic details view over the reference service's demo site: what the page and the list show,
// the cover request and its cache, tabs closed while their cover loads, the grab message, the
// volume list's ticks and order, the volumes' addresses, hostile introductions, and the
// screenshots.
#include "ServiceTestSupport.h"
#include "UiTestSupport.h"
#include "WtlTestSupport.h"

#include <AppContext.h>
#include <AppDatabase.h>
#include <DbJobs.h>
#include <DbTestSupport.h>
#include <FavoritesStore.h>
#include <VolumeRecordSet.h>
#include <JsonUtil.h>
#include <LanguageTranslator.h>
#include <MangaView.h>
#include <Messages.h>
#include <MsgCenter.h>
#include <ParseContext.h>
#include <ScriptManager.h>
#include <Tessara.h>
#include <common/CodePage.h>
#include <common/Url.h>
#include <wtl/Module.h>
#include <wtl/WindowImpl.h>

#include <gtest/gtest.h>

#include <commctrl.h>
#include <winsock2.h>

#include <memory>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

namespace {

struct Environment : ::testing::Environment {
    void SetUp() override {
        INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_LISTVIEW_CLASSES};
        InitCommonControlsEx(&controls);
        WTL::AppModule().Init(nullptr);
        WSADATA data;
        WSAStartup(MAKEWORD(2, 2), &data);
    }
};
::testing::Environment* g_env = ::testing::AddGlobalTestEnvironment(new Environment);

// Observer 0 in place of the main window: what the view sends it.
class FrameSink : public WTL::CWindowImpl<FrameSink>, public VxMsgObserver {
public:
    DECLARE_WND_CLASS_EX(L"Vx.Test.MangaFrame", 0, COLOR_BTNFACE)
    std::vector<std::vector<VolumeItem>> grabs;
    std::vector<std::wstring> boxes;
    std::vector<std::string> favorites;
    void OnGrab(msg_grab* msg) { grabs.push_back(msg->items.empty() ? std::vector<VolumeItem>() : msg->items[0].volumes); }
    void OnBox(msg_message_box* msg) {
        boxes.push_back(msg->text);
        msg->result = IDNO;
    }
    void OnAdd(msg_add_favorite* msg) { favorites.push_back("add " + msg->url); }
    void OnEdit(msg_edit_favorite* msg) { favorites.push_back("edit " + msg->url); }

    BEGIN_MSG_MAP(FrameSink)
    if (VxMsgObserver::OnMessage(hWnd, uMsg, wParam, lParam, lResult))
        return TRUE;
    END_MSG_MAP()
};

std::wstring TextOf(HWND engine, const wchar_t* elementId) {
    htmlayout::dom::element e = htmlayout::dom::element::root_element(engine).find_by_id(elementId);
    return e ? ToWide(e.text(), CP_UTF8) : L"<none>";
}

std::wstring AttributeOf(HWND engine, const wchar_t* elementId, const char* name) {
    htmlayout::dom::element e = htmlayout::dom::element::root_element(engine).find_by_id(elementId);
    const wchar_t* value = e ? e.get_attribute(name) : nullptr;
    return value ? value : L"<none>";
}

// One text field of the service's log entry i for a path; "" when absent.
std::string LogMember(const std::string& path, int index, const char* dict, const char* name) {
    JsonTree log(ParseJsonText(ServiceLog(path)));
    JsonValue* entry = nullptr;
    JsonValue* members = nullptr;
    JsonValue* value = nullptr;
    if (!getArrayMember(log.get(), static_cast<unsigned>(index), &entry) ||
        !lookupDictionaryMember(entry, dict, &members) || !lookupDictionaryMember(members, name, &value) ||
        getValueType(value) != JSON_STRING)
        return std::string();
    return std::string(getCString(value), static_cast<size_t>(getStringLength(value)));
}

std::string PathOf(const std::string& url) {
    size_t scheme = url.find("://");
    size_t slash = url.find('/', scheme == std::string::npos ? 0 : scheme + 3);
    return slash == std::string::npos ? "/" : url.substr(slash);
}

class MangaViewTest : public ::testing::Test {
protected:
    void SetUp() override {
        Service().Control("reset");
        run.reset(new ServiceContext());
        ASSERT_TRUE(run->LoadCatalogue());
        ASSERT_TRUE(sink.Create(nullptr, nullptr, L"manga test", WS_POPUP | WS_VISIBLE));
        sink.MoveWindow(40, 30, 840, 540);
        MsgCenter& bus = (*run)->Messages();
        sink.id = bus.RegisterObserver(sink.m_hWnd, &sink);
        ASSERT_EQ(sink.id, 0);
        bus.Subscribe(0, "grab", MsgThunk<&FrameSink::OnGrab>);
        bus.Subscribe(0, "message_box", MsgThunk<&FrameSink::OnBox>);
        bus.Subscribe(0, "add_favorite", MsgThunk<&FrameSink::OnAdd>);
        bus.Subscribe(0, "edit_favorite", MsgThunk<&FrameSink::OnEdit>);
    }
    void TearDown() override {
        if (view)
            ::DestroyWindow(view->GetHwnd());
        wtltest::Pump();
        (*run)->Messages().UnregisterObserver(sink.id);
        sink.DestroyWindow();
        run.reset();
    }

    std::shared_ptr<CParseContext> Load(const std::string& id) {
        auto context = std::make_shared<CParseContext>();
        Vellix::Script* script = ScriptFor(**run, kDemoHost);
        EXPECT_NE(script, nullptr);
        if (!script)
            return context;
        context->SetSharedScript(script, (*run)->Scripts().Lifetimes());
        PageLoader loader(context);
        EXPECT_TRUE(loader.Load(Service().SiteUrl("/comic/" + id + ".html")));
        return context;
    }

    // A view over the comic, with its volumes listed and its cover answered.
    CMangaView* Open(const std::shared_ptr<CParseContext>& context, bool waitCover = true) {
        CMangaView* made = CMangaView::Make(sink.m_hWnd, ToWide(context->url, CP_UTF8), "", context);
        if (!made)
            return nullptr;
        ::MoveWindow(made->GetHwnd(), 0, 0, 840, 540, TRUE);
        ::ShowWindow(made->GetHwnd(), SW_SHOW);
        EXPECT_TRUE(wtltest::PumpUntil(
            [&] {
                return !made->Parsing() && ListView_GetItemCount(made->List()) > 0 &&
                       (!waitCover || AttributeOf(made->Engine(), L"cover", "src") != L"loading.gif");
            },
            20000));
        return made;
    }

    std::string Cover(const std::shared_ptr<CParseContext>& context) {
        return JsonStringMember(context->info, "cover");
    }

    std::unique_ptr<ServiceContext> run;
    FrameSink sink;
    CMangaView* view = nullptr;
    wtltest::SeamRecorder seams;
};

TEST_F(MangaViewTest, DemoComicShowsItsDetailsCoverAndVolumes) {
    std::shared_ptr<CParseContext> context = Load("harbor");
    view = Open(context);
    ASSERT_TRUE(view);
    HWND engine = view->Engine();
    EXPECT_EQ(TextOf(engine, L"name"), ToWide(JsonStringMember(context->info, "name"), CP_UTF8));
    EXPECT_EQ(TextOf(engine, L"author"), ToWide(JsonStringMember(context->info, "author"), CP_UTF8));
    std::wstring status = AttributeOf(engine, L"status", "class");
    EXPECT_TRUE(status == L"finish" || status == L"ongoing") << status;
    EXPECT_EQ(TextOf(engine, L"status"), (*run)->Translator().Text(L"MangaView", status));
    EXPECT_FALSE(TextOf(engine, L"intro").empty());
    EXPECT_EQ(AttributeOf(engine, L"commands", "type"), L"normal");
    std::wstring src = AttributeOf(engine, L"cover", "src");
    EXPECT_EQ(src.substr(0, 7), L"file://") << src;

    std::string coverPath = PathOf(Cover(context));
    EXPECT_EQ(ServiceLogCount(coverPath), 1);
    EXPECT_EQ(LogMember(coverPath, 0, "headers", "Referer"), context->url) << "the comic page is the referer";
    EXPECT_EQ(LogMember(coverPath, 0, "headers", "If-None-Match"), "");

    JsonValue* volumes = nullptr;
    ASSERT_TRUE(context->ParseVolumes(volumes));
    JsonTree owned(volumes);
    ASSERT_EQ(ListView_GetItemCount(view->List()), static_cast<int>(getArraySize(volumes)));

    // Nothing ticked: a notice and no grab.
    SendMessageW(view->GetHwnd(), WM_COMMAND, MAKEWPARAM(IDC_MANGA_DOWNLOAD, BN_CLICKED), 0);
    EXPECT_TRUE(wtltest::PumpUntil([&] { return !sink.boxes.empty(); }, 5000));
    EXPECT_TRUE(sink.grabs.empty());

    ListView_SetCheckState(view->List(), 0, TRUE);
    ListView_SetCheckState(view->List(), 1, TRUE);
    SendMessageW(view->GetHwnd(), WM_COMMAND, MAKEWPARAM(IDC_MANGA_DOWNLOAD, BN_CLICKED), 0);
    ASSERT_TRUE(wtltest::PumpUntil([&] { return !sink.grabs.empty(); }, 5000));
    ASSERT_EQ(sink.grabs[0].size(), 2u);
    for (unsigned i = 0; i < 2; ++i) {
        JsonValue* member = nullptr;
        getArrayMember(volumes, i, &member);
        EXPECT_EQ(sink.grabs[0][i].url, JsonStringMember(member, "url"));
    }
    // A double click opens the volume's page in the browser, through the shell seam.
    NMITEMACTIVATE activate = {};
    activate.hdr.hwndFrom = view->List();
    activate.hdr.idFrom = IDC_MANGA_VOLUMES;
    activate.hdr.code = NM_DBLCLK;
    activate.iItem = 1;
    SendMessageW(view->GetHwnd(), WM_NOTIFY, IDC_MANGA_VOLUMES, reinterpret_cast<LPARAM>(&activate));
    EXPECT_EQ(seams.opened, std::vector<std::wstring>{ToWide(sink.grabs[0][1].url, CP_UTF8)});
    EXPECT_TRUE(Screenshot(sink.m_hWnd, "mangaview_" + LanguageTag()));
}

TEST_F(MangaViewTest, StoredETagIsSentAndA304ShowsTheCachedFile) {
    std::shared_ptr<CParseContext> context = Load("harbor");
    std::string coverPath = PathOf(Cover(context));
    Service().Control("fail", {{"path", coverPath}, {"set_header", "ETag:\"v1\""}, {"count", "1"}});
    view = Open(context);
    ASSERT_TRUE(view);
    ::DestroyWindow(view->GetHwnd());
    view = nullptr;
    wtltest::Pump();
    std::string key = ToNarrow(CoverKey(Cover(context)), CP_UTF8);
    GetETag stored(key);
    (*run)->Database().RunSync(&stored);
    ASSERT_EQ(stored.etag, "\"v1\"") << "the 200 answer's ETag is stored";

    Service().Control("fail", {{"path", coverPath}, {"status", "304"}, {"body", ""}, {"count", "1"}});
    view = Open(context);
    ASSERT_TRUE(view);
    EXPECT_EQ(LogMember(coverPath, 1, "headers", "If-None-Match"), stored.etag);
    EXPECT_EQ(AttributeOf(view->Engine(), L"cover", "src").substr(0, 7), L"file://");

    // The cached file gone: fetched whole again, not asked about.
    ::DestroyWindow(view->GetHwnd());
    view = nullptr;
    wtltest::Pump();
    ASSERT_TRUE(DeleteFileW((run->Folder() + L"CoverCache\\" + CoverKey(Cover(context))).c_str()));
    view = Open(context);
    ASSERT_TRUE(view);
    EXPECT_EQ(LogMember(coverPath, 2, "headers", "If-None-Match"), "");
    EXPECT_EQ(AttributeOf(view->Engine(), L"cover", "src").substr(0, 7), L"file://");
}

TEST_F(MangaViewTest, ClosingTabsWhileTheirCoverLoadsLeavesTheProgramAlive) {
    std::shared_ptr<CParseContext> context = Load("kite");
    std::string coverPath = PathOf(Cover(context));
    Service().Control("fail", {{"path", coverPath}, {"delay_ms", "300"}});
    for (int round = 0; round < 50; ++round) {
        CMangaView* made = CMangaView::Make(sink.m_hWnd, ToWide(context->url, CP_UTF8), "", context);
        ASSERT_TRUE(made) << round;
        wtltest::Pump();
        ::DestroyWindow(made->GetHwnd());
    }
    // The last late answers come in and find no view.
    EXPECT_TRUE(wtltest::PumpUntil([&] { return ServiceLogCount(coverPath) >= 50; }, 30000));
    DWORD until = GetTickCount() + 1500;
    while (GetTickCount() < until) {
        wtltest::Pump();
        Sleep(20);
    }
    view = Open(context, false);
    ASSERT_TRUE(view);
}

// A favourite with two stored volumes (one downloaded) and a fresh list of three: the third is new
// and ticked; the stored states survive the page fill and the favourite's edit.
TEST_F(MangaViewTest, FavouriteKeepsStoredStatesAndMarksNewVolumes) {
    std::shared_ptr<CParseContext> context = Load("harbor");
    JsonValue* volumes = nullptr;
    ASSERT_TRUE(context->ParseVolumes(volumes));
    JsonTree owned(volumes);
    ASSERT_EQ(getArraySize(volumes), 3u);
    std::vector<std::string> urls;
    for (unsigned i = 0; i < 3; ++i) {
        JsonValue* member = nullptr;
        getArrayMember(volumes, i, &member);
        urls.push_back(JsonStringMember(member, "url"));
    }
    VolumeRecordSet stored;
    stored.url = context->url;
    stored.records[urls[0]] = 2;
    stored.records[urls[1]] = 0;
    CUpdateVols write(context->url, stored.ToJson());
    (*run)->Database().RunSync(&write);
    JsonTree node(newDictionaryValue());
    FavoritesStore& favorites = (*run)->Favorites();
    favorites.index[context->url] = node.get();

    view = Open(context);
    ASSERT_TRUE(view);
    EXPECT_EQ(AttributeOf(view->Engine(), L"commands", "type"), L"fav");
    const int images[] = {2, 0, 1};
    for (int i = 0; i < 3; ++i) {
        LVITEMW item = {};
        item.mask = LVIF_IMAGE;
        item.iItem = i;
        ASSERT_TRUE(ListView_GetItem(view->List(), &item));
        EXPECT_EQ(item.iImage, images[i]) << i;
        EXPECT_EQ(ListView_GetCheckState(view->List(), i) != 0, i == 2) << i;
    }
    // The favourite edited: every listed volume seen, the downloaded one still downloaded.
    ASSERT_TRUE((*run)->Messages().PostTo(view->id, new msg_update_favorite(context->url, view->id)));
    wtltest::Pump();
    GetFinishedTasks barrier;  // a sync job: the posted ones before it have run
    (*run)->Database().RunSync(&barrier);
    std::string rows =
        Query(run->DatabaseFile(), "SELECT CAST(vols AS TEXT) FROM FavVolumes2 WHERE url=?", {context->url});
    JsonTree table(ParseJsonText(rows));
    JsonValue* row = nullptr;
    JsonValue* cell = nullptr;
    ASSERT_TRUE(getArrayMember(table.get(), 0, &row) && getArrayMember(row, 0, &cell)) << rows;
    JsonTree vols(ParseJsonText(getCString(cell)));
    VolumeRecords got;
    for (unsigned i = 0; i < getArraySize(vols.get()); ++i) {
        JsonValue* record = nullptr;
        getArrayMember(vols.get(), i, &record);
        int state = -1;
        JsonGetNumberMember(record, "t", state);
        got[JsonStringMember(record, "u")] = state;
    }
    VolumeRecords expected = {{urls[0], 2}, {urls[1], 0}, {urls[2], 0}};
    EXPECT_EQ(got, expected) << rows;
    favorites.index.clear();
}

// Another address in the same tab that fails to load leaves the shown comic and its context.
TEST_F(MangaViewTest, FailingSecondAddressKeepsTheFirstComic) {
    std::shared_ptr<CParseContext> context = Load("harbor");
    view = Open(context);
    ASSERT_TRUE(view);
    std::wstring name = TextOf(view->Engine(), L"name");
    Service().Control("fail", {{"path", "/comic/kite.html"}, {"status", "500"}});
    EXPECT_TRUE(view->OpenUrl(ToWide(Service().SiteUrl("/comic/kite.html"), CP_UTF8).c_str()));
    wtltest::Pump();
    EXPECT_EQ(view->Context(), context);
    EXPECT_EQ(std::wstring(view->GetUrl()), ToWide(context->url, CP_UTF8));
    EXPECT_EQ(TextOf(view->Engine(), L"name"), name);
    EXPECT_EQ(ListView_GetItemCount(view->List()), 3);
    EXPECT_FALSE(sink.boxes.empty()) << "the failure was told";
}

// A hostile introduction shows as text, and of all the page's links only the two exact favourite
// ids send favourite messages; nothing reaches the shell.
TEST_F(MangaViewTest, HostilePageLinksNeverReachTheShellOrTheFavourites) {
    std::shared_ptr<CParseContext> context = Load("harbor");
    const char hostile[] =
        "<a href=\"file:///C:/windows/notepad.exe\">file</a> <a href=\"\\\\server\\share\\x.exe\">share</a> "
        "<a href=\"javascript:alert(1)\">js</a> <a id=\"add-fav-x\" href=\"#\">x</a> <b>kept</b>";
    removeDictionaryMember(context->info, "intro");
    ASSERT_TRUE(JsonSetMember(context->info, "intro", JsonTree(newStringValue(hostile, static_cast<int>(sizeof(hostile) - 1)))));
    view = Open(context);
    ASSERT_TRUE(view);
    htmlayout::dom::element root = htmlayout::dom::element::root_element(view->Engine());
    EXPECT_EQ(TextOf(view->Engine(), L"intro"), L"file share js x kept");
    EXPECT_TRUE(root.find_by_id(L"intro").find_all("a").empty());
    // Links that did get into the page some other way are held to the same rules.
    ASSERT_TRUE(root.find_by_id(L"intro").set_html(
        "<a id=add-fav-x href=\"#\">x</a><a id=edit-fav-x href=\"file:///C:/x.exe\">y</a>"
        "<a href=\"javascript:alert(1)\">z</a>", HL_APPEND_AFTER_LAST));
    for (htmlayout::dom::element link : root.find_all("a")) {
        HL_BEHAVIOR_EVENT click = {HL_HYPERLINK_CLICK, link.get(), link.get(), 0};
        view->handle_event(link.get(), click);
    }
    wtltest::Pump();
    EXPECT_TRUE(wtltest::PumpUntil([&] { return sink.favorites.size() >= 2; }, 5000));
    std::vector<std::string> expected = {"add " + context->url, "edit " + context->url};
    EXPECT_EQ(sink.favorites, expected);
    EXPECT_TRUE(seams.opened.empty());
}

struct QuietNotes : Vellix::NotifyCallback {
    void OnCount(int) override {}
    void OnURL(const char*) override {}
};

// While a grab holds the site's script, the view lists "Analyzing" and its window keeps answering;
// the volumes come once the script is free.
TEST_F(MangaViewTest, VolumeParsingWaitsForTheScriptWithoutFreezingTheWindow) {
    std::shared_ptr<CParseContext> context = Load("harbor");
    const std::string volume = Service().SiteUrl("/comic/harbor/vol-2.html");
    Service().Control("fail", {{"path", "/comic/harbor/vol-2.html"}, {"delay_ms", "2500"}, {"count", "1"}});
    QuietNotes notes;
    JsonValue* images = nullptr;
    std::thread grab([&] { context->ParseImages(images, volume, &notes); });
    Sleep(400);
    DWORD started = GetTickCount();
    CMangaView* made = CMangaView::Make(sink.m_hWnd, ToWide(context->url, CP_UTF8), "", context);
    ASSERT_TRUE(made);
    view = made;
    DWORD until = GetTickCount() + 800;
    while (GetTickCount() < until) {
        wtltest::Pump();
        Sleep(20);
    }
    DWORD_PTR answer = 0;
    EXPECT_TRUE(SendMessageTimeoutW(made->GetHwnd(), WM_NULL, 0, 0, SMTO_NORMAL, 500, &answer));
    EXPECT_LT(GetTickCount() - started, 2000u) << "the window did not wait for the script";
    EXPECT_TRUE(made->Parsing());
    wchar_t text[128] = L"";
    ListView_GetItemText(made->List(), 0, 0, text, 128);
    EXPECT_EQ(std::wstring(text), (*run)->Translator().Text(L"MangaView", L"Analyzing"));
    EXPECT_TRUE(wtltest::PumpUntil([&] { return !made->Parsing() && ListView_GetItemCount(made->List()) == 3; }, 20000));
    grab.join();
    if (images)
        deleteValue(&images);
}

void DoubleClick(CMangaView* view, int item) {
    NMITEMACTIVATE activate = {};
    activate.hdr.hwndFrom = view->List();
    activate.hdr.idFrom = IDC_MANGA_VOLUMES;
    activate.hdr.code = NM_DBLCLK;
    activate.iItem = item;
    SendMessageW(view->GetHwnd(), WM_NOTIFY, IDC_MANGA_VOLUMES, reinterpret_cast<LPARAM>(&activate));
}

// Volume addresses are the site script's word: only http and https reach the shell, and a web
// address with non-ASCII text reaches it whole (the comic's page is GBK, the script gives UTF-8).
TEST_F(MangaViewTest, DoubleClickOpensOnlyWebAddressesOfVolumes) {
    struct Case {
        std::string href;
        std::wstring opened;  // empty: refused
    };
    const std::string site = Service().SiteUrl("");
    const Case cases[] = {
        {"file:///C:/windows/notepad.exe", L""},
        {"javascript:alert(1)", L""},
        {"\\\\server\\share\\x.exe", L""},
        {"//server/share/x.exe", L""},
        {"http://", L""},
        {site + "/comic/harbor/\xe5\x8d\xb7\xe4\xba\x8c.html", ToWide(site, CP_UTF8) + L"/comic/harbor/\u5377\u4e8c.html"},
        {"HTTPS://example.test/\xe5\x8d\xb7", L"HTTPS://example.test/\u5377"},
    };
    for (const Case& c : cases) {
        std::string added = Service().Control("add_volume", {{"comic", "harbor"}, {"title", "extra"}, {"href", c.href}});
        ASSERT_NE(added.find("\"id\""), std::string::npos) << c.href << ": " << added;
    }
    view = Open(Load("harbor"));
    ASSERT_TRUE(view);
    const int first = 3;  // after the comic's own volumes
    ASSERT_EQ(ListView_GetItemCount(view->List()), first + static_cast<int>(std::size(cases)));
    for (size_t i = 0; i < std::size(cases); ++i) {
        seams.opened.clear();
        seams.beeps.clear();
        DoubleClick(view, first + static_cast<int>(i));
        std::vector<std::wstring> expected;
        if (!cases[i].opened.empty())
            expected.push_back(cases[i].opened);
        EXPECT_EQ(seams.opened, expected) << i << ": " << cases[i].href;
        EXPECT_EQ(seams.beeps.size(), expected.empty() ? 1u : 0u) << i << ": a refusal is heard";
    }
}

// More than ten volumes offer the FastCheck tip; ten do not.
TEST_F(MangaViewTest, ElevenVolumesOfferTheFastCheckTip) {
    struct Case {
        int volumes;
        bool tip;
    };
    const Case cases[] = {{10, false}, {11, true}};
    for (const Case& c : cases) {
        Service().Control("reset");
        for (int added = 3; added < c.volumes; ++added)
            Service().Control("add_volume", {{"comic", "harbor"}, {"title", "more " + std::to_string(added)}});
        std::wstring text;
        ModalDrive drive;
        drive.inspect = [&](HWND tip) {
            wchar_t buffer[512] = L"";
            GetDlgItemTextW(tip, IDC_TIP_TEXT, buffer, 512);
            text = buffer;
        };
        drive.wParam = IDCANCEL;
        {
            ModalDriver driver(drive);
            view = Open(Load("harbor"));
            ASSERT_TRUE(view);
            if (c.tip) {
                EXPECT_TRUE(wtltest::PumpUntil([&] { return drive.dialog && !IsWindow(drive.dialog); }, 15000));
            } else {
                wtltest::PumpUntil([] { return false; }, 600);  // time for a tip that should not come
            }
        }
        EXPECT_EQ(ListView_GetItemCount(view->List()), c.volumes);
        EXPECT_EQ(drive.dialog != nullptr, c.tip) << c.volumes;
        if (c.tip) {
            EXPECT_EQ(text, (*run)->Translator().Text(L"TipDlg", L"FastCheck"));
        }
        ::DestroyWindow(view->GetHwnd());
        view = nullptr;
        wtltest::Pump();
    }
}

int CheckAllState(CMangaView* view) {
    return static_cast<int>(SendDlgItemMessageW(view->GetHwnd(), IDC_CHECK_ALL, BM_GETCHECK, 0, 0));
}

std::vector<std::wstring> Titles(HWND list) {
    std::vector<std::wstring> titles;
    for (int i = 0; i < ListView_GetItemCount(list); ++i) {
        wchar_t text[256] = L"";
        ListView_GetItemText(list, i, 0, text, 256);
        titles.push_back(text);
    }
    return titles;
}

void Select(HWND list, int item, bool alt) {
    BYTE keys[256];
    GetKeyboardState(keys);
    BYTE before = keys[VK_MENU];
    keys[VK_MENU] = alt ? 0x80 : 0;
    SetKeyboardState(keys);
    ListView_SetItemState(list, -1, 0, LVIS_SELECTED);
    ListView_SetItemState(list, item, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
    keys[VK_MENU] = before;
    SetKeyboardState(keys);
}

// Ticking by selection (Alt unticks), Check All's three states, and Reverse, which keeps every
// item's tick and volume: the grab after it names the volumes the user ticked.
TEST_F(MangaViewTest, VolumeListTicksReversesAndChecksAll) {
    std::shared_ptr<CParseContext> context = Load("harbor");
    view = Open(context);
    ASSERT_TRUE(view);
    HWND list = view->List();
    ASSERT_EQ(ListView_GetItemCount(list), 3);
    EXPECT_EQ(CheckAllState(view), BST_UNCHECKED);

    struct Step {
        int item;
        bool alt;
        bool ticked[3];
        int checkAll;
    };
    const Step steps[] = {
        {0, false, {true, false, false}, BST_INDETERMINATE},
        {2, false, {true, false, true}, BST_INDETERMINATE},
        {1, false, {true, true, true}, BST_CHECKED},
        {0, true, {false, true, true}, BST_INDETERMINATE},
        {0, true, {false, true, true}, BST_INDETERMINATE},  // unselect and again: stays unticked
    };
    for (size_t s = 0; s < std::size(steps); ++s) {
        Select(list, steps[s].item, steps[s].alt);
        wtltest::Pump();
        for (int i = 0; i < 3; ++i)
            EXPECT_EQ(ListView_GetCheckState(list, i) != 0, steps[s].ticked[i]) << "step " << s << " item " << i;
        EXPECT_EQ(CheckAllState(view), steps[s].checkAll) << "step " << s;
    }
    // The selected volume's own box unticked without Alt: it stays ticked.
    Select(list, 1, false);
    ListView_SetCheckState(list, 1, FALSE);
    wtltest::Pump();
    EXPECT_TRUE(ListView_GetCheckState(list, 1));

    std::vector<std::wstring> titles = Titles(list);
    SendMessageW(view->GetHwnd(), WM_COMMAND, MAKEWPARAM(IDC_MANGA_REVERSE, BN_CLICKED), 0);
    std::vector<std::wstring> reversed(titles.rbegin(), titles.rend());
    EXPECT_EQ(Titles(list), reversed);
    const bool tickedAfter[] = {true, true, false};
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(ListView_GetCheckState(list, i) != 0, tickedAfter[i]) << i;
    EXPECT_EQ(CheckAllState(view), BST_INDETERMINATE);

    JsonValue* volumes = nullptr;
    ASSERT_TRUE(context->ParseVolumes(volumes));
    JsonTree owned(volumes);
    SendMessageW(view->GetHwnd(), WM_COMMAND, MAKEWPARAM(IDC_MANGA_DOWNLOAD, BN_CLICKED), 0);
    ASSERT_TRUE(wtltest::PumpUntil([&] { return !sink.grabs.empty(); }, 5000));
    ASSERT_EQ(sink.grabs[0].size(), 2u);
    const unsigned order[] = {2, 1};  // list order, the last volume first
    for (unsigned i = 0; i < 2; ++i) {
        JsonValue* member = nullptr;
        getArrayMember(volumes, order[i], &member);
        EXPECT_EQ(sink.grabs[0][i].url, JsonStringMember(member, "url")) << i;
    }
    // A double click after the reversal opens the volume shown, not the one that was there.
    seams.opened.clear();
    DoubleClick(view, 0);
    JsonValue* last = nullptr;
    getArrayMember(volumes, 2, &last);
    EXPECT_EQ(seams.opened, std::vector<std::wstring>{ToWide(JsonStringMember(last, "url"), CP_UTF8)});

    // Check All: some ticked -> all, all -> none.
    const int toggles[] = {BST_CHECKED, BST_UNCHECKED};
    for (int want : toggles) {
        SendMessageW(view->GetHwnd(), WM_COMMAND, MAKEWPARAM(IDC_CHECK_ALL, BN_CLICKED), 0);
        wtltest::Pump();
        EXPECT_EQ(CheckAllState(view), want);
        for (int i = 0; i < 3; ++i)
            EXPECT_EQ(ListView_GetCheckState(list, i) != 0, want == BST_CHECKED) << want << " " << i;
    }
}

TEST_F(MangaViewTest, HostileIntroductionsKeepTheirTextOnly) {
    struct Case {
        const char* intro;
        const char* kept;       // must come out
        const char* forbidden;  // must not
    };
    const Case cases[] = {
        {"<b>Bold</b> and <i>it</i>", "<b>Bold</b> and <i>it</i>", "&lt;b"},
        {"<a href=\"file:///C:/x.exe\">open</a>", "open", "<a"},
        {"<a id=\"add-fav-x\" href=\"#\">fav</a>", "fav", "add-fav"},
        {"<a href=\"javascript:alert(1)\">x</a>", "x", "javascript"},
        {"<img src=\"\\\\server\\share\\x.gif\">pic", "pic", "<img"},
        {"<p onclick=\"evil()\">para</p>", "<p>para</p>", "onclick"},
        {"<script>alert(1)</script>after", "after", "alert"},
        {"a < b & c", "a &lt; b &amp; c", "< b"},
        {"&#x6708;&amp;", "&#x6708;&amp;", "&amp;amp;"},
    };
    for (const Case& c : cases) {
        std::string out = SanitizeIntro(c.intro);
        EXPECT_NE(out.find(c.kept), std::string::npos) << c.intro << " -> " << out;
        EXPECT_EQ(out.find(c.forbidden), std::string::npos) << c.intro << " -> " << out;
    }
}

TEST_F(MangaViewTest, Screenshot) {
    std::shared_ptr<CParseContext> context = Load("yuexia");
    view = Open(context);
    ASSERT_TRUE(view);
    RedrawWindow(sink.m_hWnd, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    wtltest::Pump();
    EXPECT_TRUE(Screenshot(sink.m_hWnd, "mangaview_yuexia_" + LanguageTag()));
}

}  // namespace
