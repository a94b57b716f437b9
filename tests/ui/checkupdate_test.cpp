// The update check: no favourites ends at once with its notice; a favourite of an unknown site
// gets an error row that keeps the dialog open, under the favourite's own name; a volume gained on
// the site is offered ticked, stored as new and grabbed alone; every kind of failure gets its row
// while the chain goes on; a cancel with an answer in flight ends at once and leaves nothing behind;
// site text with markup reads back exactly; and the screenshots.
#include "ServiceTestSupport.h"
#include "WtlTestSupport.h"
#include "UiTestSupport.h"

#include <AppContext.h>
#include <AppDatabase.h>
#include <CheckUpdateDlg.h>
#include <DbJobs.h>
#include <DbTestSupport.h>
#include <FavoritesStore.h>
#include <JsonUtil.h>
#include <LanguageTranslator.h>
#include <Messages.h>
#include <MsgCenter.h>
#include <Tessara.h>
#include <common/CodePage.h>
#include <wtl/AxHost.h>
#include <wtl/Module.h>
#include <wtl/WindowImpl.h>

#include <gtest/gtest.h>

#include <commctrl.h>

#include <iterator>
#include <map>
#include <string>
#include <vector>

namespace {

struct Environment : ::testing::Environment {
    void SetUp() override {
        InitCommonControls();
        WTL::AppModule().Init(nullptr);
    }
};
::testing::Environment* g_env = ::testing::AddGlobalTestEnvironment(new Environment);

void LoadTree(AppContext& ctx, const char* text) {
    msg_favorites_loaded msg;
    msg.tree = ParseJsonText(text);
    ASSERT_NE(msg.tree, nullptr);
    FavoritesStore::RebuildIndex(msg.tree, msg.index);
    ctx.Favorites().SetLoaded(msg);
}

CCheckUpdateDlg* g_dialog = nullptr;
std::function<void(CCheckUpdateDlg&)> g_onDone;
std::function<bool(CCheckUpdateDlg&)> g_when;
DWORD g_deadline = 0;

void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD) {
    if (!g_dialog || !g_dialog->m_hWnd || g_dialog->HasEnded())
        return;
    if (GetTickCount() > g_deadline) {
        g_dialog->EndDialog(-2);
        return;
    }
    if (g_onDone && (g_when ? g_when(*g_dialog) : !g_dialog->Checking())) {
        auto done = g_onDone;
        g_onDone = nullptr;
        done(*g_dialog);
    }
}

// onDone runs once when the check is over, or when given, once when is true.
INT_PTR RunDialog(CCheckUpdateDlg& dialog, std::function<void(CCheckUpdateDlg&)> onDone,
                  std::function<bool(CCheckUpdateDlg&)> when = nullptr) {
    g_dialog = &dialog;
    g_onDone = std::move(onDone);
    g_when = std::move(when);
    g_deadline = GetTickCount() + 30000;
    UINT_PTR timer = SetTimer(nullptr, 0, 50, Tick);
    INT_PTR result = dialog.DoModal(nullptr);
    KillTimer(nullptr, timer);
    g_dialog = nullptr;
    g_when = nullptr;
    return result;
}

// Observer 0 in place of the main window: the grabs the dialog sends.
class FrameSink : public WTL::CWindowImpl<FrameSink>, public VxMsgObserver {
public:
    DECLARE_WND_CLASS_EX(L"Vx.Test.UpdateFrame", 0, COLOR_BTNFACE)
    struct Item {
        std::wstring name;
        std::vector<VolumeItem> volumes;
    };
    std::vector<std::vector<Item>> grabs;
    void OnGrab(msg_grab* msg) {
        std::vector<Item> items;
        for (const GrabItem& item : msg->items)
            items.push_back({item.name, item.volumes});
        grabs.push_back(items);
    }
    bool Open(AppContext& ctx) {
        if (!Create(nullptr, nullptr, L"update test", WS_POPUP))
            return false;
        id = ctx.Messages().RegisterObserver(m_hWnd, this);
        ctx.Messages().Subscribe(0, "grab", MsgThunk<&FrameSink::OnGrab>);
        return id == 0;
    }

    ~FrameSink() override {
        AppContextRef ctx;
        if (ctx && m_hWnd)
            ctx->Messages().UnregisterObserver(id);
        if (m_hWnd)
            DestroyWindow();
    }

    BEGIN_MSG_MAP(FrameSink)
    if (VxMsgObserver::OnMessage(hWnd, uMsg, wParam, lParam, lResult))
        return TRUE;
    END_MSG_MAP()
};

std::string Quoted(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\')
            out += '\\';
        out += c;
    }
    return out + "\"";
}

// One folder holding the (name, address) favourites in order.
std::string Favourites(const std::vector<std::pair<std::string, std::string>>& items) {
    std::string tree = "[{\"c\":[";
    for (size_t i = 0; i < items.size(); ++i)
        tree += std::string(i ? "," : "") + "{\"n\":" + Quoted(items[i].first) + ",\"u\":" + Quoted(items[i].second) + "}";
    return tree + "],\"n\":\"A\"}]";
}

// A first check records the comics' volumes as known, so that the next check has something to
// compare with; with nothing new it ends by itself.
void FirstVisit(ServiceContext& run, const std::vector<std::pair<std::string, std::string>>& items) {
    LoadTree(*run, Favourites(items).c_str());
    CCheckUpdateDlg dialog;
    EXPECT_EQ(RunDialog(dialog, nullptr), 2);
}

// Everything posted to the database worker before this has been carried out.
void DrainDatabase(ServiceContext& run) {
    GetETag probe("none");
    run->Database().RunSync(&probe);
}

// The stored volume records of a comic as {url: state}, or "" when none are stored.
std::map<std::string, int> StoredVolumes(ServiceContext& run, const std::string& comic) {
    DrainDatabase(run);
    std::map<std::string, int> out;
    JsonTree rows(ParseJsonText(Query(run.DatabaseFile(), "SELECT CAST(vols AS TEXT) FROM FavVolumes2 WHERE url=?",
                                      {comic})));
    JsonValue* row = nullptr;
    JsonValue* text = nullptr;
    if (!getArrayMember(rows.get(), 0, &row) || !getArrayMember(row, 0, &text))
        return out;
    JsonTree vols(ParseJsonText(getCString(text)));
    for (unsigned v = 0, n = getArraySize(vols.get()); v < n; ++v) {
        JsonValue* record = nullptr;
        JsonValue* state = nullptr;
        getArrayMember(vols.get(), v, &record);
        lookupDictionaryMember(record, "t", &state);
        out[JsonStringMember(record, "u")] = toInteger(state);
    }
    return out;
}

struct Row {
    std::string item, classes, title, error;
    struct Button {
        std::string classes, href, text;
        bool checked, visible;
    };
    std::vector<Button> buttons;
};

std::string Attr(htmlayout::dom::element& e, const char* name) {
    const wchar_t* value = e.get_attribute(name);
    return value ? ToNarrow(value, CP_UTF8) : "<none>";
}

std::vector<Row> Rows(CCheckUpdateDlg& d) {
    std::vector<Row> rows;
    for (auto& div : htmlayout::dom::element::root_element(d.html).find_all("div.manga")) {
        Row row;
        row.item = Attr(div, "item");
        row.classes = Attr(div, "class");
        if (htmlayout::dom::element title = div.find_first("p.title"))
            row.title = title.text();
        if (htmlayout::dom::element error = div.find_first("p.error"))
            row.error = error.text();
        for (auto& button : div.find_all("button")) {
            htmlayout::dom::element link = button.find_first("a");
            row.buttons.push_back({Attr(button, "class"), link ? Attr(link, "href") : "<none>",
                                   link ? link.text() : "<none>", button.is_checked(), button.visible()});
        }
        rows.push_back(row);
    }
    return rows;
}

std::string Text(ServiceContext& run, const wchar_t* section, const wchar_t* key, const TextVars& vars = TextVars()) {
    return ToNarrow(run->Translator().Text(section, key, vars), CP_UTF8);
}

TEST(CheckUpdateDlgTest, NoFavouritesEndsWithItsNotice) {
    wtltest::SeamRecorder seams;
    ServiceContext run;
    for (const char* tree : {static_cast<const char*>(nullptr), "[{\"c\":[],\"n\":\"Empty\"}]"}) {
        if (tree)
            LoadTree(*run, tree);
        seams.boxes.clear();
        CCheckUpdateDlg dialog;
        EXPECT_EQ(RunDialog(dialog, nullptr), 2) << (tree ? tree : "not loaded");
        ASSERT_EQ(seams.boxes.size(), 1u);
        EXPECT_NE(seams.boxes[0].text.find(L"No new volumes"), std::wstring::npos);
    }
}

TEST(CheckUpdateDlgTest, UnknownSiteGetsAnErrorRowUnderItsName) {
    wtltest::SeamRecorder seams;
    seams.boxAnswer = IDYES;
    ServiceContext run;
    LoadTree(*run, R"([{"c":[{"n":"Lost <b>Comic</b>","u":"http://nowhere.example/x"}],"n":"A"}])");
    CCheckUpdateDlg dialog;
    std::string rows;
    bool enabled = false;
    INT_PTR result = RunDialog(dialog, [&](CCheckUpdateDlg& d) {
        enabled = ::IsWindowEnabled(d.GetDlgItem(IDOK)) != FALSE;
        auto all = htmlayout::dom::element::root_element(d.html).find_all("div.manga");
        for (auto& row : all)
            rows += row.text() + "|";
        d.PostMessageW(WM_CLOSE);
    });
    EXPECT_EQ(result, 2);
    EXPECT_TRUE(enabled);
    EXPECT_NE(rows.find("Lost <b>Comic</b>"), std::string::npos) << rows;
    EXPECT_NE(rows.find("nowhere.example is not supported"), std::string::npos) << rows;
    EXPECT_EQ(seams.boxes.size(), 0u);
}

TEST(CheckUpdateDlgTest, RowsOfEveryKindAndARefusedStart) {
    wtltest::SeamRecorder seams;
    Service().Control("reset");
    ServiceContext run;
    ASSERT_TRUE(run.LoadCatalogue());
    std::string harbor = Service().SiteUrl("/comic/harbor.html");
    std::string missing = Service().SiteUrl("/comic/none.html");
    std::string tree = "[{\"c\":[{\"n\":\"Harbor\",\"u\":\"" + harbor + "\"},"
                       "{\"n\":\"Refused\",\"u\":\"http://127.0.0.1:99999/comic/kite.html\"},"
                       "{\"n\":\"Gone\",\"u\":\"" + missing + "\"},"
                       "{\"n\":\"Elsewhere\",\"u\":\"http://nowhere.example/x\"}],\"n\":\"A\"}]";
    LoadTree(*run, tree.c_str());
    CCheckUpdateDlg dialog;
    std::vector<std::string> rows;
    INT_PTR result = RunDialog(dialog, [&](CCheckUpdateDlg& d) {
        for (auto& row : htmlayout::dom::element::root_element(d.html).find_all("div.manga"))
            rows.push_back(row.text());
        Screenshot(d.m_hWnd, "checkupdate_" + LanguageTag(), 4);
        d.PostMessageW(WM_CLOSE);
    });
    EXPECT_EQ(result, 2);
    ASSERT_EQ(rows.size(), 4u);
    EXPECT_NE(rows[0].find("Harbor Lights"), std::string::npos) << rows[0];
    EXPECT_NE(rows[1].find("error code"), std::string::npos) << "a refused start is the item's error: " << rows[1];
    EXPECT_NE(rows[2].find("not found"), std::string::npos) << rows[2];
    EXPECT_NE(rows[3].find("not supported"), std::string::npos) << rows[3];
}

TEST(CheckUpdateDlgTest, AGainedVolumeIsTickedStoredAndGrabbedAlone) {
    wtltest::SeamRecorder seams;
    Service().Control("reset");
    ServiceContext run;
    ASSERT_TRUE(run.LoadCatalogue());
    FrameSink sink;
    ASSERT_TRUE(sink.Open(*run));
    std::string harbor = Service().SiteUrl("/comic/harbor.html");
    FirstVisit(run, {{"Harbor", harbor}});
    std::map<std::string, int> before = StoredVolumes(run, harbor);
    ASSERT_EQ(before.size(), 3u);
    for (auto& v : before)
        EXPECT_EQ(v.second, 0) << "a first visit knows every volume: " << v.first;
    std::string added = Service().Control("add_volume", {{"comic", "harbor"}, {"title", "Harbor Extra"}});
    ASSERT_EQ(added.find("error"), std::string::npos) << added;

    seams.boxes.clear();
    CCheckUpdateDlg dialog;
    std::vector<Row> rows;
    INT_PTR result = RunDialog(dialog, [&](CCheckUpdateDlg& d) {
        rows = Rows(d);
        // Ticking everything ticks the hidden known volumes too; Download still leaves them.
        d.SendMessageW(WM_COMMAND, MAKEWPARAM(IDC_CU_CHECKALL, BN_CLICKED), 0);
        d.SendMessageW(WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    });
    EXPECT_EQ(result, 1);
    EXPECT_TRUE(seams.boxes.empty());
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].classes, "manga hasnew");
    ASSERT_EQ(rows[0].buttons.size(), 4u);
    std::string fresh;
    for (const Row::Button& b : rows[0].buttons) {
        bool isNew = b.text == "Harbor Extra";
        EXPECT_EQ(b.classes, isNew ? "new" : "ud") << b.text;
        EXPECT_EQ(b.checked, isNew) << b.text;
        EXPECT_EQ(b.visible, isNew) << b.text;
        if (isNew)
            fresh = b.href;
    }
    ASSERT_FALSE(fresh.empty());
    EXPECT_EQ(before.count(fresh), 0u) << fresh;

    ASSERT_TRUE(wtltest::PumpUntil([&] { return !sink.grabs.empty(); }, 5000));
    ASSERT_EQ(sink.grabs.size(), 1u);
    ASSERT_EQ(sink.grabs[0].size(), 1u) << "only the comic with a ticked volume goes";
    EXPECT_EQ(sink.grabs[0][0].name, L"Harbor Lights");
    ASSERT_EQ(sink.grabs[0][0].volumes.size(), 1u);
    EXPECT_EQ(sink.grabs[0][0].volumes[0].url, fresh);
    EXPECT_EQ(sink.grabs[0][0].volumes[0].name, L"Harbor Extra");

    std::map<std::string, int> after = StoredVolumes(run, harbor);
    EXPECT_EQ(after.size(), 4u);
    EXPECT_EQ(after[fresh], 1) << "the gained volume is stored as new";
    for (auto& v : before)
        EXPECT_EQ(after[v.first], 0) << v.first;
}

TEST(CheckUpdateDlgTest, EveryFailureGetsItsRowAndTheCheckGoesOn) {
    wtltest::SeamRecorder seams;
    Service().Control("reset");
    ServiceContext run;
    ASSERT_TRUE(run.LoadCatalogue());
    FrameSink sink;
    ASSERT_TRUE(sink.Open(*run));
    const std::string harbor = Service().SiteUrl("/comic/harbor.html");
    auto code = [&](const std::wstring& value) {
        return Text(run, L"CheckUpdateDlg", L"ErrorWithCode", {{L"CODE", value}});
    };
    // \x01 stands for a code that is only known to be a number.
    struct Case {
        const char* name;
        std::string url;
        std::vector<std::pair<std::string, std::string>> failure;
        std::string info;
    } cases[] = {
        {"Script answer 500", harbor, {{"path", "/v2/get_script.php"}, {"status", "500"}, {"count", "1"}},
         Text(run, L"CheckUpdateDlg", L"ServerError")},
        {"Page answer 500", Service().SiteUrl("/comic/kite.html"), {{"path", "/comic/kite.html"}, {"status", "500"}},
         code(L"500")},
        {"Dropped page", Service().SiteUrl("/comic/yuexia.html"), {{"path", "/comic/yuexia.html"}, {"drop", "1"}},
         code(L"\x01")},
        {"No script", "http://missing.vellix-demo.test/comic/1.html", {}, "No script is available for this site."},
        {"Newer program", "http://future.vellix-demo.test/comic/1.html", {},
         Text(run, L"CheckUpdateDlg", L"NeedUpdate")},
        {"Broken script", "http://broken.vellix-demo.test/comic/1.html", {},
         Text(run, L"CheckUpdateDlg", L"ScriptError")},
        {"Harbor", harbor, {}, ""},
    };
    std::vector<std::pair<std::string, std::string>> items;
    for (const Case& c : cases) {
        items.push_back({c.name, c.url});
        if (!c.failure.empty()) {
            ASSERT_EQ(Service().Control("fail", c.failure).find("error"), std::string::npos) << c.name;
        }
    }
    LoadTree(*run, Favourites(items).c_str());
    CCheckUpdateDlg dialog;
    std::vector<Row> rows;
    bool downloadEnabled = false;
    INT_PTR result = RunDialog(dialog, [&](CCheckUpdateDlg& d) {
        rows = Rows(d);
        downloadEnabled = ::IsWindowEnabled(d.GetDlgItem(IDOK)) != FALSE;
        d.PostMessageW(WM_CLOSE);
    });
    EXPECT_EQ(result, 2);
    EXPECT_TRUE(downloadEnabled) << "error rows keep the dialog open";
    ASSERT_EQ(rows.size(), std::size(cases));
    for (size_t k = 0; k < rows.size(); ++k) {
        const Case& c = cases[k];
        EXPECT_EQ(rows[k].item, std::to_string(k)) << c.name;
        if (c.info.empty()) {
            EXPECT_EQ(rows[k].title, "Harbor Lights");
            EXPECT_EQ(rows[k].error, "");
            EXPECT_EQ(rows[k].buttons.size(), 3u);
            continue;
        }
        EXPECT_EQ(rows[k].title, c.name);
        EXPECT_EQ(rows[k].classes, "manga") << c.name;
        EXPECT_TRUE(rows[k].buttons.empty()) << c.name;
        std::string line = Text(run, L"CheckUpdateDlg", L"ErrorInfo", {{L"INFO", ToWide(c.info, CP_UTF8)}});
        size_t number = line.find('\x01');
        if (number == std::string::npos) {
            EXPECT_EQ(rows[k].error, line) << c.name;
            continue;
        }
        // The request state stands in the place of the code.
        const std::string& got = rows[k].error;
        std::string head = line.substr(0, number), tail = line.substr(number + 1);
        ASSERT_GT(got.size(), head.size() + tail.size()) << c.name << ": " << got;
        EXPECT_EQ(got.substr(0, head.size()), head) << got;
        EXPECT_EQ(got.substr(got.size() - tail.size()), tail) << got;
        std::string digits = got.substr(head.size(), got.size() - head.size() - tail.size());
        EXPECT_EQ(digits.find_first_not_of("-0123456789"), std::string::npos) << got;
        EXPECT_NE(digits, "0") << got;
    }
    EXPECT_EQ(Query(run.DatabaseFile(), "SELECT url FROM FavVolumes2"), "[[" + Quoted(harbor) + "]]")
        << "only the comic that was read is stored";
    EXPECT_TRUE(sink.grabs.empty());
}

TEST(CheckUpdateDlgTest, CancelWithAnAnswerDelayedEndsAtOnceAndLeavesNothing) {
    for (const char* delayed : {"/v2/get_script.php", "/comic/harbor.html"}) {
        SCOPED_TRACE(delayed);
        wtltest::SeamRecorder seams;
        seams.boxAnswer = IDYES;
        Service().Control("reset");
        ServiceContext run;
        ASSERT_TRUE(run.LoadCatalogue());
        run->Database().SetConfig("KeepNew", "1");
        const DWORD delay = 2500;
        Service().Control("fail", {{"path", delayed}, {"delay_ms", std::to_string(delay)}, {"count", "1"}});
        std::string harbor = Service().SiteUrl("/comic/harbor.html");
        LoadTree(*run, Favourites({{"Harbor", harbor}, {"Kite", Service().SiteUrl("/comic/kite.html")}}).c_str());
        size_t rowsAtCancel = 99;
        DWORD cancelled = 0, ended = 0;
        {
            CCheckUpdateDlg dialog;
            INT_PTR result = RunDialog(
                dialog,
                [&](CCheckUpdateDlg& d) {
                    rowsAtCancel = Rows(d).size();
                    cancelled = GetTickCount();
                    d.SendMessageW(WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
                },
                [&](CCheckUpdateDlg&) { return ServiceLogCount(delayed) > 0; });
            ended = GetTickCount();
            EXPECT_EQ(result, 2);
        }
        EXPECT_EQ(rowsAtCancel, 0u);
        ASSERT_NE(cancelled, 0u);
        EXPECT_LT(ended - cancelled, delay / 2) << "the dialog does not wait for the answer";
        ASSERT_EQ(seams.boxes.size(), 1u) << "the cancel question, and no tip";
        EXPECT_EQ(seams.boxes[0].flags, 0x124u);
        // The late answer comes to a dialog that is gone.
        wtltest::PumpUntil([] { return false; }, delay + 1000);
        EXPECT_EQ(ServiceLogCount("/comic/kite.html"), 0) << "the chain stopped";
        EXPECT_EQ(ServiceLogCount("/comic/harbor.html"), std::string(delayed) == "/comic/harbor.html" ? 1 : 0);
        DrainDatabase(run);
        EXPECT_EQ(Query(run.DatabaseFile(), "SELECT COUNT(*) FROM FavVolumes2"), "[[0]]");
    }
}

TEST(CheckUpdateDlgTest, MarkupInSiteTextReadsBackExactly) {
    wtltest::SeamRecorder seams;
    Service().Control("reset");
    ServiceContext run;
    ASSERT_TRUE(run.LoadCatalogue());
    FrameSink sink;
    ASSERT_TRUE(sink.Open(*run));
    std::string harbor = Service().SiteUrl("/comic/harbor.html");
    FirstVisit(run, {{"Harbor", harbor}});
    const std::string page =
        "<html><head><meta charset=\"utf-8\"></head><body>"
        "<h1 id=\"name\">Odd &lt;b&gt;Name&lt;/b&gt; &amp; &quot;Co&quot;</h1><ul id=\"volumes\">"
        "<li><a href=\"/comic/harbor/x&quot;&gt;&lt;b&gt;y&amp;z=1.html\">Vol &lt;2&gt; &amp; &quot;two&quot;</a></li>"
        "<li><a href=\"/comic/harbor/q&apos; onclick=&quot;w().html\">&lt;/a&gt;&lt;/button&gt;&lt;/div&gt;</a></li>"
        "</ul></body></html>";
    ASSERT_EQ(Service().Control("fail", {{"path", "/comic/harbor.html"}, {"body", page}}).find("error"),
              std::string::npos);
    const std::string root = Service().SiteUrl("");
    const std::vector<std::pair<std::string, std::string>> volumes = {
        {root + "/comic/harbor/x\"><b>y&z=1.html", "Vol <2> & \"two\""},
        {root + "/comic/harbor/q' onclick=\"w().html", "</a></button></div>"},
    };
    LoadTree(*run, Favourites({{"Harbor", harbor},
                               {"Gone <i>\"&amp;", Service().SiteUrl("/comic/none.html")},
                               {"Kite", Service().SiteUrl("/comic/kite.html")}})
                       .c_str());
    CCheckUpdateDlg dialog;
    std::vector<Row> rows;
    INT_PTR result = RunDialog(dialog, [&](CCheckUpdateDlg& d) {
        rows = Rows(d);
        d.SendMessageW(WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    });
    EXPECT_EQ(result, 1);
    ASSERT_EQ(rows.size(), 3u) << "one row a favourite, whatever the site wrote";
    for (size_t k = 0; k < rows.size(); ++k)
        EXPECT_EQ(rows[k].item, std::to_string(k));
    EXPECT_EQ(rows[0].title, "Odd <b>Name</b> & \"Co\"");
    ASSERT_EQ(rows[0].buttons.size(), volumes.size());
    for (size_t v = 0; v < volumes.size(); ++v) {
        EXPECT_EQ(rows[0].buttons[v].href, volumes[v].first);
        EXPECT_EQ(rows[0].buttons[v].text, volumes[v].second);
        EXPECT_TRUE(rows[0].buttons[v].checked);
    }
    EXPECT_EQ(rows[1].title, "Gone <i>\"&amp;");
    EXPECT_EQ(rows[2].title, "Paper Kite");
    EXPECT_EQ(rows[2].classes, "manga newest");

    ASSERT_TRUE(wtltest::PumpUntil([&] { return !sink.grabs.empty(); }, 5000));
    ASSERT_EQ(sink.grabs[0].size(), 1u);
    EXPECT_EQ(ToNarrow(sink.grabs[0][0].name, CP_UTF8), "Odd <b>Name</b> & \"Co\"");
    ASSERT_EQ(sink.grabs[0][0].volumes.size(), volumes.size());
    for (size_t v = 0; v < volumes.size(); ++v) {
        EXPECT_EQ(sink.grabs[0][0].volumes[v].url, volumes[v].first);
        EXPECT_EQ(ToNarrow(sink.grabs[0][0].volumes[v].name, CP_UTF8), volumes[v].second);
    }
    std::map<std::string, int> stored = StoredVolumes(run, harbor);
    for (const auto& volume : volumes)
        EXPECT_EQ(stored[volume.first], 1) << volume.first;
}

TEST(CheckUpdateDlgTest, ScreenshotsOfEveryKindOfRow) {
    wtltest::SeamRecorder seams;
    Service().Control("reset");
    ServiceContext run;
    ASSERT_TRUE(run.LoadCatalogue());
    std::string harbor = Service().SiteUrl("/comic/harbor.html"), kite = Service().SiteUrl("/comic/kite.html");
    FirstVisit(run, {{"Harbor", harbor}, {"Kite", kite}});
    ASSERT_EQ(Service().Control("add_volume", {{"comic", "harbor"}, {"title", "Harbor Extra"}}).find("error"),
              std::string::npos);
    Service().Control("fail", {{"path", "/comic/yuexia.html"}, {"status", "500"}});
    LoadTree(*run, Favourites({{"Harbor", harbor},
                               {"Kite", kite},
                               {"Missing", "http://missing.vellix-demo.test/comic/1.html"},
                               {"Yuexia", Service().SiteUrl("/comic/yuexia.html")}})
                       .c_str());
    CCheckUpdateDlg dialog;
    size_t shown = 0, all = 0;
    bool first = false, second = false;
    INT_PTR result = RunDialog(dialog, [&](CCheckUpdateDlg& d) {
        for (const Row& row : Rows(d))
            shown += row.classes != "manga newest";
        first = Screenshot(d.m_hWnd, "checkupdate_rows_" + LanguageTag(), 4);
        d.CheckDlgButton(IDC_CU_SHOWALL, BST_CHECKED);
        d.SendMessageW(WM_COMMAND, MAKEWPARAM(IDC_CU_SHOWALL, BN_CLICKED), 0);
        for (const Row& row : Rows(d)) {
            for (const Row::Button& b : row.buttons)
                all += b.visible;
        }
        ::RedrawWindow(d.m_hWnd, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
        wtltest::PumpUntil([] { return false; }, 300);
        second = Screenshot(d.m_hWnd, "checkupdate_showall_" + LanguageTag(), 4);
        d.PostMessageW(WM_CLOSE);
    });
    EXPECT_EQ(result, 2);
    EXPECT_EQ(shown, 3u);
    EXPECT_EQ(all, 5u) << "with Show All every volume not downloaded shows";
    EXPECT_TRUE(first);
    EXPECT_TRUE(second);
}

}  // namespace
