// The settings sheet over a real Vellix.dat in a fresh program folder (with the test downloader
// plug-in and a second language file), the reference service for the proxied sites, and Python's
// sqlite3 reading back what the sheet stored once the run has ended.
#include "UiTestSupport.h"
#include "WtlTestSupport.h"

#include <AppContext.h>
#include <AppDatabase.h>
#include <CoreTestSupport.h>
#include <DbTestSupport.h>
#include <InfoBar.h>
#include <JsonUtil.h>
#include <LanguageTranslator.h>
#include <ScriptCatalog.h>
#include <ScriptManager.h>
#include <ServiceApi.h>
#include <ServiceTestSupport.h>
#include <SettingsSheet.h>
#include <Tessara.h>
#include <UiSeams.h>
#include <VxDownloadMgr.h>
#include <common/CodePage.h>
#include <common/Url.h>
#include <wtl/Module.h>

#include <gtest/gtest.h>

#include <commctrl.h>

#include <functional>
#include <map>
#include <memory>
#include <vector>

namespace {

struct Environment : ::testing::Environment {
    void SetUp() override {
        INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_WIN95_CLASSES | ICC_TAB_CLASSES | ICC_LISTVIEW_CLASSES};
        InitCommonControlsEx(&controls);
        WTL::AppModule().Init(nullptr);
        Service();
    }
};
::testing::Environment* const g_env = ::testing::AddGlobalTestEnvironment(new Environment);

std::wstring BinFolder() {
    wchar_t path[MAX_PATH];
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder = path;
    return folder.substr(0, folder.rfind(L'\\') + 1);
}

const char kProxySitesPath[] = "/v2/proxy_sites.php";
// What the reference service's catalogue holds, in the order the page lists it.
const std::vector<std::string> kSites = {"127.0.0.1", "broken.vellix-demo.test", "future.vellix-demo.test",
                                         "missing.vellix-demo.test", "vellix-demo.test"};

// One run of the program over a fresh folder: the context with its database open. End() closes it
// as the program's exit does (the cached settings are written back then); the Stored readers are
// Python's, for after the end.
class ProgramRun {
public:
    explicit ProgramRun(const std::string& seed = "") {
        EXPECT_TRUE(
            CopyFileW((BinFolder() + L"kestrade_test.dll").c_str(), (folder + L"Kestrade.dll").c_str(), FALSE));
        CreateDirectoryW((folder + L"Languages").c_str(), nullptr);
        EXPECT_TRUE(WriteBytes(folder + L"Languages\\de.ini", "[Global]\r\nLanguage=Deutsch\r\n"));
        if (!seed.empty())
            ExecSql(Database(), seed);
        ctx.reset(new AppContext());
        EXPECT_TRUE(ctx->Database().Open());
        EXPECT_NE(ctx->GetDownloadMgr(), nullptr);
    }
    ~ProgramRun() { End(); }

    void End() {
        if (!ctx)
            return;
        ctx->Scripts().ReleaseAll();
        ctx.reset();
    }
    std::wstring Database() const { return folder + L"Vellix.dat"; }

    // Config2 as the file holds it.
    std::map<std::string, std::string> Stored() const {
        std::map<std::string, std::string> rows;
        JsonTree all(ParseJsonText(Query(Database(), "SELECT key, value FROM Config2")));
        for (unsigned int i = 0; i < getArraySize(all.get()); ++i) {
            JsonValue *row = nullptr, *key = nullptr, *value = nullptr;
            if (getArrayMember(all.get(), i, &row) && getArrayMember(row, 0, &key) && getArrayMember(row, 1, &value))
                rows[getCString(key)] = getValueType(value) == 3 ? getCString(value) : "<not text>";
        }
        return rows;
    }
    std::vector<std::string> ProxyDomains() const {
        std::vector<std::string> domains;
        JsonTree all(ParseJsonText(Query(Database(), "SELECT domain FROM Proxy2 ORDER BY domain")));
        for (unsigned int i = 0; i < getArraySize(all.get()); ++i) {
            JsonValue *row = nullptr, *domain = nullptr;
            if (getArrayMember(all.get(), i, &row) && getArrayMember(row, 0, &domain))
                domains.push_back(getCString(domain));
        }
        return domains;
    }

    ScopedAppFolder folder;
    std::unique_ptr<AppContext> ctx;
};

// A modeless sheet over a hidden owner, driven the way the user drives it.
class Sheet {
public:
    Sheet() { created = sheet.Create(host.hwnd()) != nullptr; }
    ~Sheet() {
        if (sheet.m_hWnd)
            sheet.DestroyWindow();
    }
    HWND Show(int index) {
        sheet.SetActivePage(index);
        wtltest::Pump();
        return sheet.GetActivePage();
    }
    // The proxy page once its list is there or a box has said why not.
    HWND ShowProxy(wtltest::SeamRecorder& seams) {
        size_t boxes = seams.boxes.size();
        HWND page = Show(2);
        EXPECT_TRUE(wtltest::PumpUntil([&] { return sheet.proxy.filled || seams.boxes.size() > boxes; }, 30000));
        return page;
    }
    bool Ok() {
        sheet.PressButton(PSBTN_OK);
        wtltest::Pump();
        return sheet.IsDone();
    }
    bool Cancel() {
        sheet.PressButton(PSBTN_CANCEL);
        wtltest::Pump();
        return sheet.IsDone();
    }

    wtltest::HostWindow host;
    CSettingsSheet sheet;
    bool created = false;
};

bool Checked(HWND page, int id) {
    return IsDlgButtonChecked(page, id) == BST_CHECKED;
}

// Sets a box or radio button as a click does, so that its handler runs.
void Click(HWND page, int id, bool on) {
    if (Checked(page, id) != on)
        SendMessageW(GetDlgItem(page, id), BM_CLICK, 0, 0);
    EXPECT_EQ(Checked(page, id), on) << id;
}

void Choose(HWND page, int id, int index) {
    SendDlgItemMessageW(page, id, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
    SendMessageW(page, WM_COMMAND, MAKEWPARAM(id, CBN_SELCHANGE), reinterpret_cast<LPARAM>(GetDlgItem(page, id)));
}

int Chosen(HWND page, int id) {
    return static_cast<int>(SendDlgItemMessageW(page, id, CB_GETCURSEL, 0, 0));
}

std::wstring ItemText(HWND page, int id) {
    wchar_t text[512] = L"";
    GetDlgItemTextW(page, id, text, 512);
    return text;
}

std::vector<std::wstring> Rows(HWND page) {
    HWND list = GetDlgItem(page, IDC_PROXY_SITES);
    std::vector<std::wstring> rows;
    for (int i = 0; i < ListView_GetItemCount(list); ++i) {
        wchar_t text[300] = L"";
        ListView_GetItemText(list, i, 0, text, 300);
        rows.push_back(text);
    }
    return rows;
}

std::vector<std::wstring> Wide(const std::vector<std::string>& names) {
    std::vector<std::wstring> out;
    for (const std::string& name : names)
        out.push_back(ToWide(name, CP_UTF8));
    return out;
}

void CheckRow(HWND page, const std::string& domain, bool on) {
    HWND list = GetDlgItem(page, IDC_PROXY_SITES);
    std::vector<std::wstring> rows = Rows(page);
    for (size_t i = 0; i < rows.size(); ++i) {
        if (rows[i] == ToWide(domain, CP_UTF8))
            ListView_SetCheckState(list, static_cast<int>(i), on);
    }
}

std::vector<std::string> CheckedRows(HWND page) {
    HWND list = GetDlgItem(page, IDC_PROXY_SITES);
    std::vector<std::string> rows;
    std::vector<std::wstring> texts = Rows(page);
    for (size_t i = 0; i < texts.size(); ++i) {
        if (ListView_GetCheckState(list, static_cast<int>(i)))
            rows.push_back(ToNarrow(texts[i], CP_UTF8));
    }
    return rows;
}

Brimholt::LanguageTranslator& Texts() {
    return GetAppContext()->Translator();
}

class SettingsTest : public ::testing::Test {
protected:
    void SetUp() override {
        ResetUiSeams();
        ForgetProxiedSitesForTesting();
        Service().Control("reset");
    }
    void TearDown() override {
        Service().Control("reset");
        SetStepRequestTimeoutForTesting(0);
        ForgetProxiedSitesForTesting();
        ResetUiSeams();
    }
    wtltest::SeamRecorder seams;
};

// ---------------------------------------------------------------------------------------------
// Pure rules

TEST(SettingsRules, SaveLocations) {
    struct Case {
        const wchar_t* typed;
        bool full;
    };
    const Case cases[] = {
        {L"D:\\Comics", true},     {L"d:\\", true},          {L"C:/Comics", true},       {L"\\\\nas\\comics", true},
        {L"\\\\?\\D:\\x", true},   {L"", false},             {L"   ", false},            {L"Comics", false},
        {L"Comics\\", false},      {L"..\\Comics", false},   {L"\\Comics", false},       {L"C:Comics", false},
        {L"C:", false},            {L"\\\\", false},         {L"\\\\\\x", false},        {L" D:\\x", false},
        {L"1:\\x", false},         {L"\u00e9:\\x", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(IsFullFolderPath(c.typed), c.full) << ToNarrow(c.typed, CP_UTF8);

    const wchar_t* const slashed[][2] = {
        {L"D:\\Comics", L"D:\\Comics\\"}, {L"D:\\Comics\\", L"D:\\Comics\\"}, {L"C:/Comics", L"C:/Comics\\"},
        {L"", L"\\"},
    };
    for (const auto& s : slashed)
        EXPECT_EQ(WithTrailingBackslash(s[0]), s[1]);
}

TEST(SettingsRules, DownloaderInfoAddress) {
    const std::wstring base = ToWide(MakeApiUrl("redirect.php"), CP_UTF8) + L"?t=downloader";
    EXPECT_EQ(DownloaderInfoUrl(936), base);
    EXPECT_EQ(DownloaderInfoUrl(950), base);
    EXPECT_EQ(DownloaderInfoUrl(437), base + L"-en");
    EXPECT_EQ(DownloaderInfoUrl(1252), base + L"-en");
}

// ---------------------------------------------------------------------------------------------
// Texts and layout

// Whether a control's text fits it in its own font: check and radio boxes keep room for the box,
// group boxes for their frame.
void ExpectTextFits(HWND control, const char* where) {
    wchar_t cls[32] = L"";
    GetClassNameW(control, cls, 32);
    LONG style = GetWindowLongW(control, GWL_STYLE);
    int reserve = 0;
    if (_wcsicmp(cls, L"Button") == 0) {
        LONG kind = style & BS_TYPEMASK;
        if (kind == BS_GROUPBOX)
            reserve = 16;
        else if (kind == BS_AUTOCHECKBOX || kind == BS_CHECKBOX || kind == BS_AUTORADIOBUTTON || kind == BS_RADIOBUTTON)
            reserve = GetSystemMetrics(SM_CXMENUCHECK) + 6;
        else
            reserve = 6;
    } else if (_wcsicmp(cls, L"Static") != 0 && _wcsicmp(cls, L"Vx.HyperLink") != 0) {
        return;  // edits, lists: their contents scroll
    }
    int length = GetWindowTextLengthW(control);
    if (length == 0)
        return;
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    text.resize(static_cast<size_t>(GetWindowTextW(control, &text[0], length + 1)));
    HDC dc = GetDC(control);
    auto font = reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0));
    HGDIOBJ old = SelectObject(dc, font ? static_cast<HGDIOBJ>(font) : GetStockObject(DEFAULT_GUI_FONT));
    RECT need = {0, 0, 0, 0};
    DrawTextW(dc, text.c_str(), -1, &need, DT_CALCRECT | DT_SINGLELINE | DT_NOPREFIX);
    SelectObject(dc, old);
    ReleaseDC(control, dc);
    RECT have = {};
    GetClientRect(control, &have);
    EXPECT_LE(need.right + reserve, have.right) << where << " " << GetDlgCtrlID(control) << ": "
                                                << ToNarrow(text, CP_UTF8);
    if (reserve != 16) {
        EXPECT_LE(need.bottom, have.bottom + 1) << where << " " << GetDlgCtrlID(control);
    }
}

struct Children {
    std::vector<HWND> all;
};

BOOL CALLBACK CollectChild(HWND child, LPARAM out) {
    reinterpret_cast<Children*>(out)->all.push_back(child);
    return TRUE;
}

bool IsGroupBox(HWND w) {
    wchar_t cls[32] = L"";
    GetClassNameW(w, cls, 32);
    return _wcsicmp(cls, L"Button") == 0 && (GetWindowLongW(w, GWL_STYLE) & BS_TYPEMASK) == BS_GROUPBOX;
}

// Every control's text from the page's section, each fitting its control, no two controls on top
// of each other, and all of them inside the page.
void ExpectPageLayout(HWND page, const wchar_t* section) {
    const std::string where = ToNarrow(section, CP_UTF8);
    std::map<std::string, std::string> keys;
    Texts().GetSectionStrings(section, keys);
    int numbered = 0;
    for (const auto& key : keys) {
        int id = atoi(key.first.c_str());
        if (id <= 0)
            continue;
        ++numbered;
        EXPECT_EQ(ItemText(page, id), ToWide(key.second, CP_UTF8)) << where << " " << id;
    }
    EXPECT_GT(numbered, 3) << where;
    Children children;
    EnumChildWindows(page, CollectChild, reinterpret_cast<LPARAM>(&children));
    RECT pageRect = {};
    GetWindowRect(page, &pageRect);
    for (HWND a : children.all) {
        if (GetParent(a) != page)
            continue;  // the parts of a control, such as a list's header
        ExpectTextFits(a, where.c_str());
        RECT ra = {}, inside = {};
        GetWindowRect(a, &ra);
        IntersectRect(&inside, &ra, &pageRect);
        EXPECT_TRUE(EqualRect(&inside, &ra)) << where << " " << GetDlgCtrlID(a) << " leaves the page";
        if (IsGroupBox(a))
            continue;
        for (HWND b : children.all) {
            if (b <= a || IsGroupBox(b) || GetParent(b) != page)
                continue;
            RECT rb = {}, both = {};
            GetWindowRect(b, &rb);
            EXPECT_FALSE(IntersectRect(&both, &ra, &rb))
                << where << " " << GetDlgCtrlID(a) << " overlaps " << GetDlgCtrlID(b);
        }
    }
}

std::wstring TabText(HWND sheet, int index) {
    HWND tab = reinterpret_cast<HWND>(SendMessageW(sheet, PSM_GETTABCONTROL, 0, 0));
    wchar_t text[128] = L"";
    TCITEMW item = {};
    item.mask = TCIF_TEXT;
    item.pszText = text;
    item.cchTextMax = 128;
    SendMessageW(tab, TCM_GETITEMW, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&item));
    return text;
}

TEST_F(SettingsTest, TextsAndLayout) {
    ProgramRun run;
    Sheet s;
    ASSERT_TRUE(s.created);
    wchar_t caption[128] = L"";
    GetWindowTextW(s.sheet.m_hWnd, caption, 128);
    EXPECT_EQ(std::wstring(caption), Texts().Text(L"SettingsSheet", L"Caption"));
    EXPECT_EQ(s.sheet.GetPageCount(), 3);
    const wchar_t* const sections[] = {L"GeneralPage", L"DownloaderPage", L"ProxyPage"};
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(TabText(s.sheet.m_hWnd, i), Texts().Text(L"SettingsSheet", sections[i])) << i;
    // OK and Cancel, and no Apply button.
    EXPECT_TRUE(IsWindowVisible(GetDlgItem(s.sheet.m_hWnd, IDOK)));
    EXPECT_TRUE(IsWindowVisible(GetDlgItem(s.sheet.m_hWnd, IDCANCEL)));
    HWND apply = GetDlgItem(s.sheet.m_hWnd, 0x3021);
    EXPECT_TRUE(!apply || !IsWindowVisible(apply));
    if (LanguageTag() == "en") {
        EXPECT_EQ(std::wstring(caption), L"Settings");
        EXPECT_EQ(TabText(s.sheet.m_hWnd, 2), L"Proxy");
    }
    ExpectPageLayout(s.Show(0), L"GeneralPage");
    ExpectPageLayout(s.Show(1), L"DownloaderPage");
    HWND proxy = s.ShowProxy(seams);
    ASSERT_EQ(proxy, s.sheet.proxy.m_hWnd);
    ExpectPageLayout(proxy, L"ProxyPage");
    // The one column shows the longest name whole.
    HWND list = GetDlgItem(proxy, IDC_PROXY_SITES);
    EXPECT_GE(ListView_GetColumnWidth(list, 0), ListView_GetStringWidth(list, L"missing.vellix-demo.test") + 24);
    EXPECT_TRUE(s.Cancel());
}

TEST_F(SettingsTest, Screenshots) {
    ProgramRun run;
    run.ctx->Database().SetProxyDomain("vellix-demo.test", true);
    Sheet s;
    ASSERT_TRUE(s.created);
    const char* const names[] = {"settings_general", "settings_downloader", "settings_proxy"};
    for (int i = 0; i < 3; ++i) {
        HWND page = i == 2 ? s.ShowProxy(seams) : s.Show(i);
        ASSERT_EQ(page, s.sheet.GetActivePage());
        RedrawWindow(s.sheet.m_hWnd, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW | RDW_ALLCHILDREN);
        const DWORD until = GetTickCount() + 400;
        while (GetTickCount() < until) {
            wtltest::Pump();
            Sleep(20);
        }
        EXPECT_TRUE(Screenshot(s.sheet.m_hWnd, std::string(names[i]) + "_" + LanguageTag(), 4)) << names[i];
    }
    EXPECT_TRUE(seams.boxes.empty());
    EXPECT_TRUE(s.Cancel());
}

// ---------------------------------------------------------------------------------------------
// What the pages store

// One sheet's worth of choices, and what the file holds after the run.
struct Round {
    const char* name;
    const char* seed;
    int language, downloader;
    bool minToTray, showHot;
    const wchar_t* folder;
    int naming;  // 0: classify off; else the radio button
    bool autoZip;
    const wchar_t* proxy;
    int proxyType;
    std::vector<std::string> checked;
    std::map<std::string, std::string> stored;
    std::vector<std::string> proxy2;
};

TEST_F(SettingsTest, EveryControlReachesConfig2) {
    const std::string builtIn = Brimholt::BuiltInCodeForOemCp(GetOEMCP());
    const Round rounds[] = {
        {"from the defaults",
         "",
         1,
         1,
         true,
         false,
         L"C:\\Comics\\Vellix",
         IDC_DL_COMIC_VOLUME,
         true,
         L"127.0.0.1:8964",
         IDC_PROXY_SOCKS5,
         {"127.0.0.1", "vellix-demo.test"},
         {{"Language", "de"},
          {"MinToTray", "1"},
          {"ShowRecommended", "0"},
          {"Downloader", "TestDL"},
          {"DownloadFolder", "C:\\Comics\\Vellix\\"},
          {"RenameType", "2"},
          {"AutoPacking", "1"},
          {"Proxy", "127.0.0.1:8964"},
          {"ProxyType", "5"}},
         {"127.0.0.1", "vellix-demo.test"}},
        {"everything back",
         "CREATE TABLE Config2(key TEXT PRIMARY KEY, value TEXT);"
         "INSERT INTO Config2 VALUES('Language', 'de'), ('MinToTray', '1'), ('ShowRecommended', '0'),"
         " ('Downloader', 'TestDL'), ('DownloadFolder', 'C:\\Comics\\'), ('RenameType', '3'),"
         " ('AutoPacking', '1'), ('Proxy', '10.1.1.1:1080'), ('ProxyType', '5');"
         "CREATE TABLE Proxy2(domain TEXT PRIMARY KEY);"
         "INSERT INTO Proxy2 VALUES('127.0.0.1'), ('vellix-demo.test'), ('gone.example');",
         0,
         0,
         false,
         true,
         L"\\\\nas\\comics\\",
         0,
         false,
         L"",
         IDC_PROXY_SOCKS4,
         {"vellix-demo.test"},
         {{"Language", builtIn},
          {"MinToTray", "0"},
          {"ShowRecommended", "1"},
          {"Downloader", "Vellix"},
          {"DownloadFolder", "\\\\nas\\comics\\"},
          {"RenameType", "0"},
          {"AutoPacking", "0"},
          {"Proxy", ""},
          {"ProxyType", "4"}},
         // A stored domain the service no longer lists is no row, and stays.
         {"gone.example", "vellix-demo.test"}},
        {"the other naming and proxy type",
         "CREATE TABLE Config2(key TEXT PRIMARY KEY, value TEXT);"
         "INSERT INTO Config2 VALUES('RenameType', '0'), ('ProxyType', '4');",
         0,
         0,
         false,
         true,
         L"E:\\\u6f2b\u753b",
         IDC_DL_PER_COMIC,
         false,
         L"socks.example:1080",
         IDC_PROXY_HTTP,
         {},
         {{"RenameType", "3"},
          {"ProxyType", "0"},
          {"DownloadFolder", "E:\\\xe6\xbc\xab\xe7\x94\xbb\\"},
          {"Proxy", "socks.example:1080"}},
         {}},
        {"one folder per volume",
         "",
         0,
         0,
         false,
         true,
         L"D:\\",
         IDC_DL_PER_VOLUME,
         false,
         L"",
         IDC_PROXY_HTTP,
         {},
         {{"RenameType", "1"}, {"DownloadFolder", "D:\\"}},
         {}},
    };
    for (const Round& r : rounds) {
        SCOPED_TRACE(r.name);
        ProgramRun run(r.seed);
        {
            Sheet s;
            ASSERT_TRUE(s.created);
            HWND general = s.Show(0);
            Choose(general, IDC_GEN_LANGUAGE, r.language);
            Click(general, IDC_GEN_MIN_TRAY, r.minToTray);
            Click(general, IDC_GEN_SHOW_HOT, r.showHot);

            HWND downloader = s.Show(1);
            Choose(downloader, IDC_DL_DOWNLOADER, r.downloader);
            SetDlgItemTextW(downloader, IDC_DL_FOLDER, r.folder);
            Click(downloader, IDC_DL_CLASSIFY, r.naming != 0);
            if (r.naming)
                Click(downloader, r.naming, true);
            Click(downloader, IDC_DL_AUTO_ZIP, r.autoZip);

            HWND proxy = s.ShowProxy(seams);
            ASSERT_TRUE(s.sheet.proxy.filled);
            SetDlgItemTextW(proxy, IDC_PROXY_ADDRESS, r.proxy);
            Click(proxy, r.proxyType, true);
            for (const std::string& site : kSites)
                CheckRow(proxy, site, std::find(r.checked.begin(), r.checked.end(), site) != r.checked.end());
            EXPECT_EQ(CheckedRows(proxy), r.checked);

            ASSERT_TRUE(s.Ok());
            EXPECT_TRUE(seams.boxes.empty());
            // The chosen downloader is the active one at once.
            VxDownloadMgr* mgr = run.ctx->GetDownloadMgr();
            EXPECT_EQ(mgr->GetActive(), mgr->GetDownloader(r.stored.count("Downloader") ? r.stored.at("Downloader").c_str()
                                                                                        : "Vellix"));
        }
        run.End();
        std::map<std::string, std::string> stored = run.Stored();
        for (const auto& want : r.stored) {
            ASSERT_TRUE(stored.count(want.first)) << want.first;
            EXPECT_EQ(stored[want.first], want.second) << want.first;
        }
        EXPECT_EQ(run.ProxyDomains(), r.proxy2);
    }
}

// Cancel, and a page that was never shown, write nothing.
TEST_F(SettingsTest, CancelAndUnshownPagesWriteNothing) {
    ProgramRun run;
    {
        Sheet s;
        ASSERT_TRUE(s.created);
        Click(s.Show(0), IDC_GEN_MIN_TRAY, true);
        SetDlgItemTextW(s.Show(1), IDC_DL_FOLDER, L"");
        EXPECT_TRUE(s.Cancel());
    }
    {
        Sheet s;  // only the general page is shown
        ASSERT_TRUE(s.created);
        Click(s.Show(0), IDC_GEN_SHOW_HOT, false);
        EXPECT_TRUE(s.Ok());
    }
    EXPECT_EQ(ServiceLogCount(kProxySitesPath), 0) << "the proxy page was never shown";
    std::string folder = run.ctx->Database().GetConfig("DownloadFolder");
    run.End();
    std::map<std::string, std::string> stored = run.Stored();
    EXPECT_EQ(stored["MinToTray"], "0");
    EXPECT_EQ(stored["ShowRecommended"], "0");
    EXPECT_EQ(stored["DownloadFolder"], folder);
    for (const char* key : {"Downloader", "ProxyType", "Proxy"}) {
        if (strcmp(key, "Proxy") == 0) {
            EXPECT_EQ(stored[key], "") << "the default, written back at the end";
        } else {
            EXPECT_EQ(stored.count(key), 0u) << key;
        }
    }
}

TEST_F(SettingsTest, StoredValuesShowInTheControls) {
    ProgramRun run;
    AppDatabase& db = run.ctx->Database();
    struct Case {
        std::vector<std::pair<const char*, const char*>> set;
        int language;
        bool minToTray, showHot;
        int naming;  // 0: classify off, the radios cleared and disabled
        bool autoZip;
        int proxyType;
    };
    const Case cases[] = {
        {{}, 0, false, true, IDC_DL_PER_VOLUME, false, IDC_PROXY_HTTP},  // a new file's defaults
        {{{"Language", "de"}, {"MinToTray", "1"}, {"ShowRecommended", "0"}, {"RenameType", "2"},
          {"AutoPacking", "1"}, {"ProxyType", "4"}},
         1, true, false, IDC_DL_COMIC_VOLUME, true, IDC_PROXY_SOCKS4},
        {{{"Language", "xx"}, {"MinToTray", "2"}, {"ShowRecommended", "1"}, {"RenameType", "3"},
          {"AutoPacking", "2"}, {"ProxyType", "5"}},
         0, false, true, IDC_DL_PER_COMIC, false, IDC_PROXY_SOCKS5},
        {{{"Language", "DE"}, {"MinToTray", "01"}, {"ShowRecommended", "2"}, {"RenameType", "0"}, {"ProxyType", "9"}},
         0, true, false, 0, false, IDC_PROXY_HTTP},
        {{{"RenameType", "7"}, {"ProxyType", "0"}}, 0, true, false, IDC_DL_PER_VOLUME, false, IDC_PROXY_HTTP},
        {{{"RenameType", "abc"}}, 0, true, false, 0, false, IDC_PROXY_HTTP},
    };
    const int radios[] = {IDC_DL_PER_VOLUME, IDC_DL_COMIC_VOLUME, IDC_DL_PER_COMIC};
    const int types[] = {IDC_PROXY_HTTP, IDC_PROXY_SOCKS4, IDC_PROXY_SOCKS5};
    db.SetConfig("Proxy", "10.0.0.1:3128");
    db.SetConfigW("DownloadFolder", L"F:\\\u6f2b\u753b\\");
    db.SetProxyDomain("future.vellix-demo.test", true);
    int index = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(index++);
        for (const auto& setting : c.set)
            db.SetConfig(setting.first, setting.second);
        Sheet s;
        ASSERT_TRUE(s.created);
        HWND general = s.Show(0);
        EXPECT_EQ(Chosen(general, IDC_GEN_LANGUAGE), c.language);
        EXPECT_EQ(Checked(general, IDC_GEN_MIN_TRAY), c.minToTray);
        EXPECT_EQ(Checked(general, IDC_GEN_SHOW_HOT), c.showHot);
        HWND downloader = s.Show(1);
        EXPECT_EQ(ItemText(downloader, IDC_DL_FOLDER), L"F:\\\u6f2b\u753b\\");
        EXPECT_EQ(Checked(downloader, IDC_DL_CLASSIFY), c.naming != 0);
        for (int radio : radios) {
            EXPECT_EQ(Checked(downloader, radio), radio == c.naming) << radio;
            EXPECT_EQ(IsWindowEnabled(GetDlgItem(downloader, radio)) != 0, c.naming != 0) << radio;
        }
        EXPECT_EQ(Checked(downloader, IDC_DL_AUTO_ZIP), c.autoZip);
        HWND proxy = s.ShowProxy(seams);
        EXPECT_EQ(ItemText(proxy, IDC_PROXY_ADDRESS), L"10.0.0.1:3128");
        for (int type : types)
            EXPECT_EQ(Checked(proxy, type), type == c.proxyType) << type;
        EXPECT_EQ(CheckedRows(proxy), std::vector<std::string>{"future.vellix-demo.test"});
        EXPECT_TRUE(s.Cancel());
    }
    EXPECT_TRUE(seams.boxes.empty());
}

TEST_F(SettingsTest, ClassifyBoxGovernsTheNamingChoices) {
    ProgramRun run;
    run.ctx->Database().SetConfig("RenameType", "3");
    Sheet s;
    ASSERT_TRUE(s.created);
    HWND page = s.Show(1);
    const int radios[] = {IDC_DL_PER_VOLUME, IDC_DL_COMIC_VOLUME, IDC_DL_PER_COMIC};
    auto enabled = [&] {
        int n = 0;
        for (int radio : radios)
            n += IsWindowEnabled(GetDlgItem(page, radio)) ? 1 : 0;
        return n;
    };
    EXPECT_EQ(enabled(), 3);
    Click(page, IDC_DL_CLASSIFY, false);
    EXPECT_EQ(enabled(), 0);
    EXPECT_TRUE(Checked(page, IDC_DL_PER_COMIC)) << "the choice stays for when the box comes back";
    Click(page, IDC_DL_CLASSIFY, true);
    EXPECT_EQ(enabled(), 3);
    EXPECT_TRUE(Checked(page, IDC_DL_PER_COMIC));
    EXPECT_FALSE(Checked(page, IDC_DL_PER_VOLUME));
    // With no choice left, checking the box picks one folder per volume.
    for (int radio : radios)
        CheckDlgButton(page, radio, BST_UNCHECKED);
    Click(page, IDC_DL_CLASSIFY, false);
    Click(page, IDC_DL_CLASSIFY, true);
    EXPECT_TRUE(Checked(page, IDC_DL_PER_VOLUME));
    EXPECT_TRUE(s.Cancel());
}

// A stored downloader that no longer exists (or is written another way) selects the first
// entry, and OK stores that entry's identifier.
TEST_F(SettingsTest, StaleDownloaderFallsBackToTheFirst) {
    struct Case {
        const char* stored;
        int shown;
        const char* written;
    };
    const Case cases[] = {
        {"TestDL", 1, "TestDL"}, {"Gone", 0, "Vellix"}, {"testdl", 0, "Vellix"}, {"TestDL ", 0, "Vellix"},
        {"", 0, "Vellix"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.stored);
        ProgramRun run;
        VxDownloadMgr* mgr = run.ctx->GetDownloadMgr();
        ASSERT_TRUE(mgr->Select("TestDL"));
        // Stored after the manager's start-up check, as a plug-in that went away leaves it.
        run.ctx->Database().SetConfig("Downloader", c.stored);
        {
            Sheet s;
            ASSERT_TRUE(s.created);
            ASSERT_EQ(s.sheet.downloader.downloaders.size(), 2u);
            EXPECT_EQ(s.sheet.downloader.downloaders[0].first, "Vellix");
            EXPECT_EQ(s.sheet.downloader.downloaders[1].second, L"Test downloader");
            HWND page = s.Show(1);
            EXPECT_EQ(Chosen(page, IDC_DL_DOWNLOADER), c.shown);
            ASSERT_TRUE(s.Ok());
        }
        EXPECT_EQ(mgr->GetActive(), mgr->GetDownloader(c.written));
        run.End();
        EXPECT_EQ(run.Stored()["Downloader"], c.written);
    }
}

TEST_F(SettingsTest, LanguageNoteTurnsBlueForAnotherLanguage) {
    ProgramRun run;
    Sheet s;
    ASSERT_TRUE(s.created);
    HWND page = s.Show(0);
    HWND note = GetDlgItem(page, IDC_GEN_NOTE);
    auto colour = [&](COLORREF& text, HGDIOBJ& brush) {
        HDC dc = CreateCompatibleDC(nullptr);
        SetTextColor(dc, RGB(1, 2, 3));
        brush = reinterpret_cast<HGDIOBJ>(
            SendMessageW(page, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(note)));
        text = GetTextColor(dc);
        DeleteDC(dc);
    };
    ASSERT_EQ(Texts().ListLanguages().size(), 2u);
    // The entries' order is the list's; the one in use is the built-in language here.
    for (int pass = 0; pass < 2; ++pass) {
        for (int entry : {1, 0}) {
            Choose(page, IDC_GEN_LANGUAGE, entry);
            COLORREF text = 0;
            HGDIOBJ brush = nullptr;
            colour(text, brush);
            bool other = entry == 1;
            EXPECT_EQ(s.sheet.general.languageDiffers, other) << entry;
            if (other) {
                EXPECT_EQ(text, static_cast<COLORREF>(0x00FF0000));
                EXPECT_EQ(brush, GetStockObject(NULL_BRUSH));
            } else {
                EXPECT_NE(text, static_cast<COLORREF>(0x00FF0000));
                EXPECT_NE(brush, GetStockObject(NULL_BRUSH));
            }
        }
    }
    // Other statics keep their colour whatever the choice.
    Choose(page, IDC_GEN_LANGUAGE, 1);
    HDC dc = CreateCompatibleDC(nullptr);
    SetTextColor(dc, RGB(1, 2, 3));
    SendMessageW(page, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
                 reinterpret_cast<LPARAM>(GetDlgItem(page, IDC_GEN_GROUP)));
    EXPECT_NE(GetTextColor(dc), static_cast<COLORREF>(0x00FF0000));
    DeleteDC(dc);
    EXPECT_TRUE(s.Cancel());
}

TEST_F(SettingsTest, DownloaderLinkAndFolderBrowser) {
    ProgramRun run;
    const std::string before = run.ctx->Database().GetConfig("DownloadFolder");
    Sheet s;
    ASSERT_TRUE(s.created);
    HWND page = s.Show(1);
    HWND link = GetDlgItem(page, IDC_DL_MORE_INFO);
    RECT r = {};
    GetClientRect(link, &r);
    LPARAM at = MAKELPARAM(3, (r.bottom - r.top) / 2);
    SendMessageW(link, WM_MOUSEMOVE, 0, at);
    SendMessageW(link, WM_LBUTTONDOWN, MK_LBUTTON, at);
    SendMessageW(link, WM_LBUTTONUP, 0, at);
    ASSERT_EQ(seams.opened.size(), 1u);
    EXPECT_EQ(seams.opened[0], DownloaderInfoUrl(GetOEMCP()));
    if (LanguageTag() == "en") {
        EXPECT_EQ(seams.opened[0].substr(seams.opened[0].size() - 16), L"?t=downloader-en");
    }

    struct Case {
        bool confirms;
        const wchar_t* answer;
        const wchar_t* shown;
    };
    const Case cases[] = {
        {true, L"E:\\Comics", L"E:\\Comics\\"},
        {true, L"D:\\", L"D:\\"},
        {false, L"G:\\Never", L"D:\\"},
        {true, L"", L"D:\\"},  // no file-system folder
    };
    for (const Case& c : cases) {
        seams.browseConfirms = c.confirms;
        seams.browseAnswer = c.answer;
        SendMessageW(GetDlgItem(page, IDC_DL_BROWSE), BM_CLICK, 0, 0);
        EXPECT_EQ(ItemText(page, IDC_DL_FOLDER), c.shown) << ToNarrow(c.answer, CP_UTF8);
    }
    ASSERT_EQ(seams.browseStarts.size(), 4u);
    EXPECT_EQ(seams.browseStarts[0], ToWide(before, CP_UTF8)) << "the stored folder, not the edit's";
    EXPECT_EQ(run.ctx->Database().GetConfig("DownloadFolder"), before) << "nothing is stored before OK";
    EXPECT_TRUE(s.Cancel());
}

// ---------------------------------------------------------------------------------------------
// The save location

// An empty or relative folder is refused before any page writes: the box says why, the
// downloader page shows, the sheet stays open, and not one setting changes.
TEST_F(SettingsTest, EmptyAndRelativeFoldersAreRefused) {
    ProgramRun run;
    AppDatabase& db = run.ctx->Database();
    const std::string folder = db.GetConfig("DownloadFolder");
    struct Case {
        const wchar_t* typed;
        int okFrom;  // the page shown when OK is pressed
    };
    const Case cases[] = {
        {L"", 0},          {L"", 1},         {L"Comics", 2},    {L"Comics\\", 0}, {L"..\\Comics", 1},
        {L"\\Comics", 2},  {L"C:Comics", 0}, {L"   ", 1},
    };
    {
        Sheet s;
        ASSERT_TRUE(s.created);
        HWND general = s.Show(0);
        Click(general, IDC_GEN_MIN_TRAY, true);
        Choose(general, IDC_GEN_LANGUAGE, 1);
        HWND downloader = s.Show(1);
        Click(downloader, IDC_DL_AUTO_ZIP, true);
        Click(downloader, IDC_DL_CLASSIFY, false);
        Choose(downloader, IDC_DL_DOWNLOADER, 1);
        HWND proxy = s.ShowProxy(seams);
        ASSERT_TRUE(s.sheet.proxy.filled);
        SetDlgItemTextW(proxy, IDC_PROXY_ADDRESS, L"127.0.0.1:1");
        Click(proxy, IDC_PROXY_SOCKS4, true);
        CheckRow(proxy, "vellix-demo.test", true);
        for (const Case& c : cases) {
            SCOPED_TRACE(ToNarrow(c.typed, CP_UTF8) + " from page " + std::to_string(c.okFrom));
            seams.boxes.clear();
            SetDlgItemTextW(downloader, IDC_DL_FOLDER, c.typed);
            s.Show(c.okFrom);
            EXPECT_FALSE(s.Ok());
            ASSERT_EQ(seams.boxes.size(), 1u);
            EXPECT_EQ(seams.boxes[0].text, Texts().Text(L"Messages", L"BadDownloadFolder"));
            EXPECT_NE(seams.boxes[0].text, L"BadDownloadFolder");
            EXPECT_EQ(seams.boxes[0].caption, Texts().Text(L"Global", L"Error"));
            EXPECT_EQ(seams.boxes[0].flags & MB_ICONMASK, static_cast<UINT>(MB_ICONWARNING));
            EXPECT_EQ(s.sheet.GetActivePage(), downloader);
            EXPECT_EQ(GetFocus(), GetDlgItem(downloader, IDC_DL_FOLDER));
            // Nothing of any page reached the settings.
            EXPECT_EQ(db.GetConfig("DownloadFolder"), folder);
            EXPECT_EQ(db.GetConfig("MinToTray"), "");
            EXPECT_EQ(db.GetConfig("Language"), "");
            EXPECT_EQ(db.GetConfig("AutoPacking"), "0");
            EXPECT_EQ(db.GetConfig("RenameType"), "1");
            EXPECT_EQ(db.GetConfig("Downloader"), "");
            EXPECT_EQ(db.GetConfig("Proxy"), "");
            EXPECT_EQ(db.GetConfig("ProxyType"), "");
            EXPECT_FALSE(db.IsProxyDomain("vellix-demo.test"));
            EXPECT_EQ(run.ctx->GetDownloadMgr()->GetActive(), run.ctx->GetDownloadMgr()->GetDownloader("Vellix"));
        }
        EXPECT_TRUE(s.Cancel());
    }
    run.End();
    std::map<std::string, std::string> stored = run.Stored();
    EXPECT_EQ(stored["DownloadFolder"], folder);
    EXPECT_EQ(stored["AutoPacking"], "0");
    EXPECT_EQ(stored["RenameType"], "1");
    for (const char* key : {"MinToTray", "Language", "ShowRecommended", "Downloader", "ProxyType"})
        EXPECT_EQ(stored.count(key), 0u) << key;
    EXPECT_TRUE(run.ProxyDomains().empty());
}

// Once the folder is put right, the same sheet applies everything.
TEST_F(SettingsTest, FolderPutRightThenApplied) {
    ProgramRun run;
    {
        Sheet s;
        ASSERT_TRUE(s.created);
        Click(s.Show(0), IDC_GEN_MIN_TRAY, true);
        HWND downloader = s.Show(1);
        SetDlgItemTextW(downloader, IDC_DL_FOLDER, L"Comics");
        EXPECT_FALSE(s.Ok());
        EXPECT_EQ(seams.boxes.size(), 1u);
        SetDlgItemTextW(downloader, IDC_DL_FOLDER, L"\\\\nas\\share");
        EXPECT_TRUE(s.Ok());
        EXPECT_EQ(seams.boxes.size(), 1u);
    }
    run.End();
    std::map<std::string, std::string> stored = run.Stored();
    EXPECT_EQ(stored["DownloadFolder"], "\\\\nas\\share\\");
    EXPECT_EQ(stored["MinToTray"], "1");
}

// ---------------------------------------------------------------------------------------------
// The proxied sites

TEST_F(SettingsTest, ProxySitesComeFromTheService) {
    ProgramRun run;
    ASSERT_TRUE(run.ctx->Catalog().Load(std::make_shared<std::string>(
        Fetch(ConfigUrl("en"), [](Orvane::OvRequest* r) { PrepareConfigRequest(r, false); })->Body())));
    run.ctx->Database().SetProxyDomain("vellix-demo.test", true);
    run.ctx->Database().SetProxyDomain("elsewhere.example", true);
    std::wstring owner;
    {
        Sheet s;
        ASSERT_TRUE(s.created);
        HWND proxy = s.ShowProxy(seams);
        ASSERT_TRUE(s.sheet.proxy.filled);
        EXPECT_TRUE(seams.boxes.empty());
        EXPECT_EQ(Rows(proxy), Wide(kSites));
        EXPECT_EQ(ProxiedSites(), kSites);
        EXPECT_EQ(CheckedRows(proxy), std::vector<std::string>{"vellix-demo.test"});
        // Each row is a name the catalogue lookup answers with, the name the proxy check asks for.
        for (const std::string& site : kSites) {
            SiteInfo info;
            EXPECT_TRUE(run.ctx->Catalog().FindSite(site, info)) << site;
            EXPECT_EQ(info.name, site);
        }
        EXPECT_EQ(ServiceLogCount(kProxySitesPath), 1);
        // Activated again: the same rows, once each, and no second request.
        s.Show(0);
        s.ShowProxy(seams);
        EXPECT_EQ(Rows(proxy), Wide(kSites));
        EXPECT_EQ(ServiceLogCount(kProxySitesPath), 1);
        CheckRow(proxy, "broken.vellix-demo.test", true);
        ASSERT_TRUE(s.Ok());
    }
    {
        // The list is kept for the run: the next sheet asks nobody.
        Sheet s;
        ASSERT_TRUE(s.created);
        HWND proxy = s.ShowProxy(seams);
        EXPECT_EQ(Rows(proxy), Wide(kSites));
        EXPECT_EQ(CheckedRows(proxy), (std::vector<std::string>{"broken.vellix-demo.test", "vellix-demo.test"}));
        EXPECT_EQ(ServiceLogCount(kProxySitesPath), 1);
        EXPECT_TRUE(s.Cancel());
    }
    run.End();
    EXPECT_EQ(run.ProxyDomains(),
              (std::vector<std::string>{"broken.vellix-demo.test", "elsewhere.example", "vellix-demo.test"}));
}

// Service text is UTF-8: a name outside ASCII shows as it was sent, whatever the ANSI code page.
TEST_F(SettingsTest, SiteNamesAreUtf8) {
    ProgramRun run;
    Service().Control("fail", {{"path", kProxySitesPath}, {"body", "[\"\xc3\xbc" "ber.test\", \"a.test\"]"}});
    run.ctx->Database().SetProxyDomain("\xc3\xbc" "ber.test", true);
    {
        Sheet s;
        ASSERT_TRUE(s.created);
        HWND proxy = s.ShowProxy(seams);
        ASSERT_TRUE(s.sheet.proxy.filled);
        EXPECT_EQ(Rows(proxy), (std::vector<std::wstring>{L"a.test", L"\u00fcber.test"}));
        EXPECT_EQ(CheckedRows(proxy), std::vector<std::string>{"\xc3\xbc" "ber.test"});
        CheckRow(proxy, "a.test", true);
        EXPECT_TRUE(s.Ok());
    }
    run.End();
    EXPECT_EQ(run.ProxyDomains(), (std::vector<std::string>{"a.test", "\xc3\xbc" "ber.test"}));
}

// The site list cannot be had: the box says so, the page is left, and the rest of the sheet works.
// The next activation tries again.
TEST_F(SettingsTest, SiteListFailures) {
    struct Case {
        const char* name;
        std::vector<std::pair<std::string, std::string>> rule;  // empty: the service is stopped
        int timeout;
    };
    const Case cases[] = {
        {"status 503", {{"status", "503"}}, 0},
        {"not a list", {{"body", "{\"sites\": []}"}}, 0},
        {"no answer", {{"drop", "1"}}, 0},
        {"too slow", {{"delay_ms", "4000"}}, 1},
        {"service down", {}, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        seams.boxes.clear();
        ProgramRun run;
        if (c.rule.empty()) {
            const std::string port = std::to_string(Service().ServicePort());
            Service().Stop();
            // Down means gone: no listener, and no kept-alive connection that a server on its way
            // out still answers.
            ASSERT_TRUE(wtltest::PumpUntil(
                [&] {
                    std::string out, error;
                    vxtest::RunLinux({"/bin/sh", "-c", "ss -Htanp '( sport = :" + port + " )' | grep -c python"},
                                     &out, &error, 10000);
                    return out.compare(0, 1, "0") == 0;
                },
                20000));
        } else {
            auto rule = c.rule;
            rule.insert(rule.begin(), {"path", kProxySitesPath});
            Service().Control("fail", rule);
        }
        SetStepRequestTimeoutForTesting(c.timeout);
        {
            Sheet s;
            ASSERT_TRUE(s.created);
            HWND general = s.Show(0);
            const DWORD started = GetTickCount();
            s.ShowProxy(seams);
            EXPECT_LT(GetTickCount() - started, 20000u);
            ASSERT_EQ(seams.boxes.size(), 1u);
            EXPECT_EQ(seams.boxes[0].text, Texts().Text(L"Messages", L"LoadingSiteListFailed"));
            EXPECT_EQ(seams.boxes[0].caption, Texts().Text(L"Global", L"Error"));
            EXPECT_EQ(seams.boxes[0].flags, static_cast<UINT>(MB_ICONINFORMATION));
            EXPECT_FALSE(s.sheet.proxy.filled);
            EXPECT_FALSE(ProxiedSitesLoaded());
            EXPECT_TRUE(Rows(s.sheet.proxy.m_hWnd).empty());
            EXPECT_EQ(s.sheet.GetActivePage(), general) << "back to the page the user came from";
            EXPECT_TRUE(IsWindowEnabled(s.sheet.m_hWnd));
            // The service back: the next activation loads the list.
            if (c.rule.empty()) {
                std::string error;
                bool restarted = false;
                for (int i = 0; i < 50 && !restarted; ++i) {
                    restarted = Service().Start(&error);
                    if (!restarted)
                        Sleep(200);
                }
                ASSERT_TRUE(restarted) << error;
            }
            Service().Control("clear_failures");
            SetStepRequestTimeoutForTesting(0);
            Click(general, IDC_GEN_MIN_TRAY, true);
            HWND proxy = s.ShowProxy(seams);
            EXPECT_EQ(seams.boxes.size(), 1u);
            EXPECT_EQ(Rows(proxy), Wide(kSites));
            Click(proxy, IDC_PROXY_SOCKS5, true);
            EXPECT_TRUE(s.Ok());
        }
        run.End();
        std::map<std::string, std::string> stored = run.Stored();
        EXPECT_EQ(stored["MinToTray"], "1");
        EXPECT_EQ(stored["ProxyType"], "5");
        ForgetProxiedSitesForTesting();
    }
}

// With the list down, OK still applies the page's own fields, and no row setting is touched.
TEST_F(SettingsTest, FailedListStillAppliesTheProxyFields) {
    ProgramRun run;
    run.ctx->Database().SetProxyDomain("vellix-demo.test", true);
    Service().Control("fail", {{"path", kProxySitesPath}, {"status", "500"}});
    {
        Sheet s;
        ASSERT_TRUE(s.created);
        s.ShowProxy(seams);
        ASSERT_EQ(seams.boxes.size(), 1u);
        SetDlgItemTextW(s.sheet.proxy.m_hWnd, IDC_PROXY_ADDRESS, L"127.0.0.1:8964");
        Click(s.sheet.proxy.m_hWnd, IDC_PROXY_SOCKS4, true);
        EXPECT_TRUE(s.Ok());
    }
    run.End();
    std::map<std::string, std::string> stored = run.Stored();
    EXPECT_EQ(stored["Proxy"], "127.0.0.1:8964");
    EXPECT_EQ(stored["ProxyType"], "4");
    EXPECT_EQ(run.ProxyDomains(), std::vector<std::string>{"vellix-demo.test"});
}

// ---------------------------------------------------------------------------------------------
// The seam the toolbar's Settings button calls

// The settings seam run modally; the sheet gets the drive's inspection, then its button.
int RunModal(ModalDrive& d, int button, HWND owner) {
    d.accept = [](HWND w) { return SendMessageW(w, PSM_GETTABCONTROL, 0, 0) != 0; };
    d.message = PSM_PRESSBUTTON;
    d.wParam = static_cast<WPARAM>(button);
    return RunDriven(d, [owner] { return Dialogs().settings(owner); });
}

struct FrameWindow {
    HWND hwnd() const { return observer.window; }
    TestObserver observer;
};

TEST_F(SettingsTest, TheSettingsSeamRunsTheSheetModally) {
    ProgramRun run;
    // Observer 0, as the main frame is: the window an info bar falls back to.
    FrameWindow frame;
    frame.observer.Register();
    ASSERT_EQ(frame.observer.id, 0);
    struct Case {
        int button;
        bool applied;
    };
    for (const Case& c : {Case{PSBTN_CANCEL, false}, Case{PSBTN_OK, true}}) {
        SCOPED_TRACE(c.applied ? "OK" : "Cancel");
        bool frameDisabled = false, frameBeforeBar = true, listed = false, frameAfterBar = true, sheetAfterBar = false;
        ModalDrive d;
        d.inspect = [&](HWND sheet) {
            frameDisabled = !IsWindowEnabled(frame.hwnd());
            EXPECT_EQ(GetWindow(sheet, GW_OWNER), frame.hwnd());
            HWND page = reinterpret_cast<HWND>(SendMessageW(sheet, PSM_GETCURRENTPAGEHWND, 0, 0));
            SendMessageW(GetDlgItem(page, IDC_GEN_MIN_TRAY), BM_CLICK, 0, 0);
            // The site list's bar belongs to the sheet: once it ends, the frame is still held
            // under the sheet and the sheet works again.
            frameBeforeBar = IsWindowEnabled(frame.hwnd()) != 0;
            SendMessageW(sheet, PSM_SETCURSEL, 2, 0);
            HWND proxy = reinterpret_cast<HWND>(SendMessageW(sheet, PSM_GETCURRENTPAGEHWND, 0, 0));
            listed = wtltest::PumpUntil([&] { return ListView_GetItemCount(GetDlgItem(proxy, IDC_PROXY_SITES)) > 0; },
                                        20000);
            frameAfterBar = IsWindowEnabled(frame.hwnd()) != 0;
            sheetAfterBar = IsWindowEnabled(sheet) != 0;
        };
        int result = RunModal(d, c.button, frame.hwnd());
        ASSERT_NE(d.dialog, nullptr);
        EXPECT_TRUE(frameDisabled);
        EXPECT_TRUE(listed);
        EXPECT_FALSE(frameBeforeBar);
        EXPECT_FALSE(frameAfterBar);
        EXPECT_TRUE(sheetAfterBar);
        EXPECT_TRUE(IsWindowEnabled(frame.hwnd()));
        if (c.applied) {
            EXPECT_GT(result, 0);
        } else {
            EXPECT_EQ(result, 0);
        }
        EXPECT_EQ(run.ctx->Database().GetConfig("MinToTray"), c.applied ? "1" : "");
    }
}

}  // namespace
