// The favourites dialogs over the real store: each change is read back from the saved
// "Favorites.json" by Python and from the volume records in Vellix.dat; the refused changes, the
// cancelled label edit and a reload while a dialog is open; screenshots of the three dialogs.
#include "UiTestSupport.h"
#include "WtlTestSupport.h"

#include <AppContext.h>
#include <AppDatabase.h>
#include <CoreTestSupport.h>
#include <DbJobs.h>
#include <DbTestSupport.h>
#include <FavoritesDlgs.h>
#include <FavoritesMenu.h>
#include <FavoritesStore.h>
#include <JsonUtil.h>
#include <LanguageTranslator.h>
#include <LinuxTool.h>
#include <Resource.h>
#include <UiSeams.h>
#include <VolumeRecordSet.h>
#include <wtl/Module.h>
#include <wtl/Seams.h>

#include <Tessara.h>
#include <gtest/gtest.h>

#include <commctrl.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace {

// Observer 0 stands in for the main frame: it counts the flushes the store asks for and the
// commands that reach its window.
struct Frame {
    void OnFlush(msg_flush_favorites*) { ++flushes; }
    TestObserver window;
    int flushes = 0;
    std::vector<UINT> commands;
};

LRESULT CALLBACK RecordCommands(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR data) {
    if (message == WM_COMMAND)
        reinterpret_cast<Frame*>(data)->commands.push_back(LOWORD(wParam));
    return DefSubclassProc(window, message, wParam, lParam);
}

struct Environment : ::testing::Environment {
    void SetUp() override {
        INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_LISTVIEW_CLASSES | ICC_USEREX_CLASSES};
        InitCommonControlsEx(&controls);
        WTL::AppModule().Init(nullptr);
        folder.reset(new ScopedAppFolder());
        ctx.reset(new AppContext());
        ASSERT_TRUE(ctx->Database().Open());
        frame.reset(new Frame());
        frame->window.id = ctx->Messages().RegisterObserver(frame->window.window, frame.get());
        ASSERT_EQ(frame->window.id, 0);
        ctx->Messages().Subscribe(0, "flush_favorites", MsgThunk<&Frame::OnFlush>);
        SetWindowSubclass(frame->window.window, RecordCommands, 1, reinterpret_cast<DWORD_PTR>(frame.get()));
        images = ImageList_LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDB_SMALL), 16, 0,
                                      RGB(128, 0, 128), IMAGE_BITMAP, LR_CREATEDIBSECTION);
        ASSERT_NE(images, nullptr);
        imageCount = ImageList_GetImageCount(images);
        ASSERT_GT(imageCount, 1);
    }
    void TearDown() override {
        RemoveWindowSubclass(frame->window.window, RecordCommands, 1);
        ImageList_Destroy(images);
        frame.reset();
        ctx.reset();
        folder.reset();
    }
    std::unique_ptr<ScopedAppFolder> folder;
    std::unique_ptr<AppContext> ctx;
    std::unique_ptr<Frame> frame;
    HIMAGELIST images = nullptr;
    int imageCount = 0;
};
Environment* g_env = static_cast<Environment*>(::testing::AddGlobalTestEnvironment(new Environment));

FavoritesStore& Store() {
    return g_env->ctx->Favorites();
}

// Three categories, a loose item at the top (no category) and a non-dictionary member.
const char kTree[] =
    R"([{"c":[{"n":"Harbor Lights","u":"http://a.example/1"},{"n":"Iron Tide","u":"https://b.example:8080/2"},)"
    R"({"c":[],"n":"Inner"},{"n":"Quiet Bell","u":"http://c.example/3"},{"n":"Red Kite","u":"http://d.example/4"}],)"
    R"("n":"Action"},{"n":"Loose","u":"http://loose.example/"},7,{"c":[],"n":"Comedy"},)"
    R"({"c":[{"n":"Night Owl","u":"http://e.example/5"}],"n":"Mystery"}])";

// A tree as the loader hands it over.
bool LoadTree(const char* text, int saveNeeded = 0) {
    msg_favorites_loaded msg;
    msg.saveNeeded = saveNeeded;
    msg.tree = ParseJsonText(text);
    if (!msg.tree)
        return false;
    FavoritesStore::RebuildIndex(msg.tree, msg.index);
    return Store().SetLoaded(msg);
}

int TESSARA_CALL AppendChunk(const char* chunk, void* out) {
    static_cast<std::string*>(out)->append(chunk);
    return 0;
}

std::string Serialized(JsonValue* value) {
    std::string text;
    jsonSerialize(value, AppendChunk, &text);
    return text;
}

JsonValue* Member(JsonValue* array, unsigned i) {
    JsonValue* member = nullptr;
    getArrayMember(array, i, &member);
    return member;
}
JsonValue* Members(JsonValue* folder) {
    JsonValue* members = nullptr;
    lookupDictionaryMember(folder, "c", &members);
    return members;
}

class Barrier : public VxDBTask {
public:
    Barrier() : VxDBTask(false) {}
    void Execute(sqlite3**) override {}
};

// The store's tree, saved by the real writer and read back by Python: the tree compact, or what
// went wrong.
std::string SavedTree() {
    std::wstring file = FavoritesStore::FilePath(*g_env->folder + L"");
    if (FavoritesStore::WriterThread(Store().Serialize()) != 0)
        return "(not saved)";
    JsonTree read(ParseJsonText(CoreTool({"favorites", vxtest::UnixPath(file)})));
    bool bom = false;
    JsonValue* tree = nullptr;
    if (!JsonGetBooleanMember(read.get(), "bom", bom) || !bom || !lookupDictionaryMember(read.get(), "tree", &tree))
        return "(unreadable)";
    return Serialized(tree);
}

// The comic addresses with volume records in Vellix.dat, read by Python once the queued jobs ran.
std::string StoredVolumeUrls() {
    Barrier barrier;
    g_env->ctx->Database().RunSync(&barrier);
    return Query(*g_env->folder + L"Vellix.dat", "SELECT url FROM FavVolumes2 ORDER BY url");
}

void StoreVolumes(const std::vector<std::string>& urls) {
    for (const std::string& url : urls)
        g_env->ctx->Database().Post(new CUpdateVols(url, R"([{"t":2,"u":"v1"}])"));
}

// Acts on the next dialog box other than outer that a modal call opens on this thread.
class Nested {
public:
    Nested(HWND outer, std::function<void(HWND)> act) : driver_(Drive(outer, std::move(act))) {}
    HWND& seen = drive_.dialog;

private:
    ModalDrive& Drive(HWND outer, std::function<void(HWND)> act) {
        drive_.skip = outer;
        drive_.inspect = std::move(act);
        drive_.message = 0;
        return drive_;
    }
    ModalDrive drive_;
    ModalDriver driver_;
};

// The input dialog's answer: the text typed, then OK.
std::function<void(HWND)> Type(const std::wstring& text, std::wstring* prompt = nullptr,
                               std::wstring* initial = nullptr) {
    return [=](HWND input) {
        wchar_t buffer[256] = L"";
        if (prompt) {
            GetWindowTextW(input, buffer, 256);
            *prompt = buffer;
        }
        if (initial) {
            GetDlgItemTextW(input, IDC_INPUT_EDIT, buffer, 256);
            *initial = buffer;
        }
        SetDlgItemTextW(input, IDC_INPUT_EDIT, text.c_str());
        SendMessageW(input, WM_COMMAND, IDOK, 0);
    };
}

std::wstring ItemText(HWND dialog, int id) {
    wchar_t text[512] = L"";
    GetDlgItemTextW(dialog, id, text, 512);
    return text;
}

bool Enabled(HWND dialog, int id) {
    return IsWindowEnabled(GetDlgItem(dialog, id)) != FALSE;
}

// A click as the user makes it: nothing happens on a disabled button.
bool Click(HWND dialog, int id) {
    HWND button = GetDlgItem(dialog, id);
    if (!button || !IsWindowEnabled(button))
        return false;
    SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(button));
    return true;
}

void SelectCategory(HWND dialog, int index) {
    HWND combo = GetDlgItem(dialog, IDC_FAV_CATEGORY);
    SendMessageW(combo, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
    SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDC_FAV_CATEGORY, CBN_SELCHANGE), reinterpret_cast<LPARAM>(combo));
}

std::vector<std::wstring> ComboTexts(HWND combo) {
    std::vector<std::wstring> texts;
    for (int i = 0, n = static_cast<int>(SendMessageW(combo, CB_GETCOUNT, 0, 0)); i < n; ++i)
        texts.push_back(ComboBoxEx::GetText(combo, i));
    return texts;
}

int Selection(HWND dialog) {
    return static_cast<int>(SendDlgItemMessageW(dialog, IDC_FAV_CATEGORY, CB_GETCURSEL, 0, 0));
}

// "name|host" per row.
std::vector<std::wstring> Rows(HWND list) {
    std::vector<std::wstring> rows;
    for (int i = 0, n = ListView_GetItemCount(list); i < n; ++i) {
        wchar_t name[256] = L"", host[256] = L"";
        ListView_GetItemText(list, i, 0, name, 256);
        ListView_GetItemText(list, i, 1, host, 256);
        rows.push_back(std::wstring(name) + L"|" + host);
    }
    return rows;
}

int BoxState(HWND dialog) {
    return static_cast<int>(SendDlgItemMessageW(dialog, IDC_FAV_CHECK_ALL, BM_GETCHECK, 0, 0));
}

// Paints what is queued, then writes the shot.
void Shoot(HWND dialog, const std::string& name) {
    RedrawWindow(dialog, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    const DWORD until = GetTickCount() + 400;
    while (GetTickCount() < until) {
        wtltest::Pump();
        Sleep(20);
    }
    EXPECT_TRUE(Screenshot(dialog, name + "_" + LanguageTag(), 4)) << name;
}

class FavDlgTest : public ::testing::Test {
protected:
    void SetUp() override {
        g_env->ctx->Database().SetConfigW("FavoriteFolder", g_env->folder->path().c_str());
        ASSERT_TRUE(LoadTree(kTree));
        StoredVolumeUrls();  // what earlier tests queued has run
        ASSERT_TRUE(ExecSql(*g_env->folder + L"Vellix.dat", "DELETE FROM FavVolumes2;"));
        PumpPending();
        g_env->frame->flushes = 0;
        g_env->frame->commands.clear();
    }
    void TearDown() override { PumpPending(); }

    static JsonValue* Category(unsigned i) { return Member(Store().root, i); }

    // A dialog run modeless, as tests run modal dialogs, shown without taking the focus.
    template <class D>
    static bool Open(D& dialog, LPARAM param = 0) {
        if (!dialog.Create(nullptr, param))
            return false;
        dialog.ShowWindow(SW_SHOWNOACTIVATE);
        wtltest::Pump();
        return true;
    }

    wtltest::SeamRecorder seams;
};

TEST_F(FavDlgTest, CategoryCombosHoldTheTopLevelFoldersInTreeOrder) {
    wtltest::HostWindow host;
    HWND combo = CreateWindowExW(0, WC_COMBOBOXEXW, L"", WS_CHILD | CBS_DROPDOWNLIST, 0, 0, 200, 200, host.hwnd(),
                                 nullptr, nullptr, nullptr);
    ASSERT_NE(combo, nullptr);
    ComboBoxEx::FillFromFavoriteGroups(combo, 2);
    EXPECT_EQ(ComboTexts(combo), (std::vector<std::wstring>{L"Action", L"Comedy", L"Mystery"}));
    EXPECT_EQ(SendMessageW(combo, CB_GETCURSEL, 0, 0), 2);
    EXPECT_EQ(ComboBoxEx::GetData(combo, 0), Category(0));
    EXPECT_EQ(ComboBoxEx::GetData(combo, 1), Category(3));

    const struct {
        const wchar_t* text;
        int index;
    } byText[] = {{L"Comedy", 1}, {L"comedy", -1}, {L"Comed", -1}, {L"", -1}, {L"Mystery", 2}};
    for (const auto& c : byText)
        EXPECT_EQ(ComboBoxEx::FindByText(combo, c.text), c.index) << c.text;
    EXPECT_EQ(ComboBoxEx::FindByData(combo, Category(4)), 2);
    EXPECT_EQ(ComboBoxEx::FindByData(combo, Category(1)), -1);  // an item is no category
    EXPECT_EQ(ComboBoxEx::FindByData(combo, nullptr), -1);

    // Names longer than the first buffer come back whole.
    FavoriteEntry longName{std::wstring(700, L'x') + L"end", nullptr};
    ASSERT_TRUE(Store().AddFolder(nullptr, longName));
    EXPECT_EQ(ComboBoxEx::InsertText(combo, longName), 3);
    EXPECT_EQ(ComboBoxEx::GetText(combo, 3), longName.name);
    EXPECT_EQ(ComboBoxEx::FindByText(combo, longName.name), 3);
    EXPECT_EQ(ComboBoxEx::GetText(combo, 9), L"");

    // Refilled after a sort: sorted order, nothing left over, no selection.
    Store().SortByName(Store().root);
    ComboBoxEx::FillFromFavoriteGroups(combo, -1);
    EXPECT_EQ(ComboTexts(combo), (std::vector<std::wstring>{L"Action", L"Comedy", L"Mystery", longName.name}));
    EXPECT_EQ(SendMessageW(combo, CB_GETCURSEL, 0, 0), -1);
    EXPECT_EQ(SavedTree().substr(0, 12), R"([{"c":[{"n":)");
}

TEST_F(FavDlgTest, AddModePreselectsTheNamedCategoryAndStoresTheItem) {
    const struct {
        const wchar_t* title;
        const wchar_t* category;
        int selected;
        bool okAtStart;
    } cases[] = {
        {L"New One", L"Comedy", 1, true},
        {L"New One", L"Westerns", -1, false},  // no such category
        {L"New One", L"", -1, false},
        {L"", L"Mystery", 2, false},  // no name
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::wstring(c.title) + L"/" + c.category);
        CFavItemDlg dialog(g_env->images, c.title, c.category, "http://new.example/1");
        ASSERT_TRUE(Open(dialog));
        HWND d = dialog.m_hWnd;
        EXPECT_EQ(Selection(d), c.selected);
        EXPECT_EQ(Enabled(d, IDOK), c.okAtStart);
        EXPECT_FALSE(Enabled(d, IDC_FAV_DELETE));
        EXPECT_EQ(ItemText(d, IDC_FAV_NAME), c.title);
        // OK follows the fields: a category chosen and a name typed.
        SelectCategory(d, 0);
        SetDlgItemTextW(d, IDC_FAV_NAME, L"");
        EXPECT_FALSE(Enabled(d, IDOK));
        SetDlgItemTextW(d, IDC_FAV_NAME, L"Typed");
        EXPECT_TRUE(Enabled(d, IDOK));
        dialog.DestroyWindow();
    }
    wchar_t caption[128] = L"";
    {
        CFavItemDlg dialog(g_env->images, L"Sea Glass", L"Mystery", "http://new.example/1");
        ASSERT_TRUE(Open(dialog));
        GetWindowTextW(dialog.m_hWnd, caption, 128);
        EXPECT_EQ(caption, g_env->ctx->Translator().Text(L"FavItemDlg", L"CaptionAdd"));
        ASSERT_TRUE(Click(dialog.m_hWnd, IDOK));
        EXPECT_TRUE(dialog.HasEnded());
        EXPECT_EQ(dialog.GetResult(), 1);
        dialog.DestroyWindow();
    }
    JsonValue* added = Store().FindItem("http://new.example/1");
    ASSERT_NE(added, nullptr);
    EXPECT_EQ(Member(Members(Category(4)), 1), added);
    EXPECT_TRUE(PumpUntil([] { return g_env->frame->flushes > 0; }));
    std::string saved = SavedTree();
    EXPECT_NE(saved.find(R"({"c":[{"n":"Night Owl","u":"http://e.example/5"},{"n":"Sea Glass","u":"http://new.example/1"}],"n":"Mystery"})"),
              std::string::npos)
        << saved;
}

TEST_F(FavDlgTest, NewCategoryFromTheItemDialogIsAddedAndSelected) {
    CFavItemDlg dialog(g_env->images, L"Sea Glass", L"Westerns", "http://new.example/2");
    ASSERT_TRUE(Open(dialog));
    HWND d = dialog.m_hWnd;
    EXPECT_FALSE(Enabled(d, IDOK));
    std::wstring prompt, initial;
    {
        Nested input(d, Type(L"Westerns", &prompt, &initial));
        ASSERT_TRUE(Click(d, IDC_FAV_NEW_CATEGORY));
        EXPECT_NE(input.seen, nullptr);
    }
    EXPECT_EQ(prompt, g_env->ctx->Translator().Text(L"FavItemDlg", L"Input"));
    EXPECT_EQ(initial, L"Westerns");  // the category the caller named
    EXPECT_EQ(Selection(d), 3);
    EXPECT_EQ(ComboBoxEx::GetText(GetDlgItem(d, IDC_FAV_CATEGORY), 3), L"Westerns");
    EXPECT_TRUE(Enabled(d, IDOK));
    ASSERT_TRUE(Click(d, IDOK));
    EXPECT_EQ(dialog.GetResult(), 1);
    dialog.DestroyWindow();
    std::string saved = SavedTree();
    EXPECT_NE(saved.find(R"(,{"c":[{"n":"Sea Glass","u":"http://new.example/2"}],"n":"Westerns"}])"), std::string::npos)
        << saved;

    // Cancelled: no category.
    CFavItemDlg again(g_env->images, L"Sea Glass", L"", "http://new.example/3");
    ASSERT_TRUE(Open(again));
    {
        Nested input(again.m_hWnd, [](HWND w) { SendMessageW(w, WM_COMMAND, IDCANCEL, 0); });
        ASSERT_TRUE(Click(again.m_hWnd, IDC_FAV_NEW_CATEGORY));
    }
    EXPECT_EQ(SendDlgItemMessageW(again.m_hWnd, IDC_FAV_CATEGORY, CB_GETCOUNT, 0, 0), 4);
    EXPECT_EQ(getArraySize(Store().root), 6u);
    again.DestroyWindow();
}

TEST_F(FavDlgTest, EditModeRenamesMovesAndDeletes) {
    StoreVolumes({"http://a.example/1", "http://c.example/3"});
    JsonValue* harbor = Store().FindItem("http://a.example/1");
    {
        // Its own category: only the name changes, the place stays.
        CFavItemDlg dialog(g_env->images, harbor);
        ASSERT_TRUE(Open(dialog));
        HWND d = dialog.m_hWnd;
        wchar_t caption[128] = L"";
        GetWindowTextW(d, caption, 128);
        EXPECT_EQ(caption, g_env->ctx->Translator().Text(L"FavItemDlg", L"CaptionEdit"));
        EXPECT_EQ(ItemText(d, IDC_FAV_NAME), L"Harbor Lights");
        EXPECT_EQ(Selection(d), 0);
        EXPECT_TRUE(Enabled(d, IDOK));
        EXPECT_TRUE(Enabled(d, IDC_FAV_DELETE));
        SetDlgItemTextW(d, IDC_FAV_NAME, L"Harbor Lights II");
        ASSERT_TRUE(Click(d, IDOK));
        EXPECT_EQ(dialog.GetResult(), 1);
        dialog.DestroyWindow();
    }
    EXPECT_EQ(Member(Members(Category(0)), 0), harbor);
    {
        // Another category: to its end.
        CFavItemDlg dialog(g_env->images, harbor);
        ASSERT_TRUE(Open(dialog));
        SelectCategory(dialog.m_hWnd, 2);
        ASSERT_TRUE(Click(dialog.m_hWnd, IDOK));
        EXPECT_EQ(dialog.GetResult(), 1);
        dialog.DestroyWindow();
    }
    EXPECT_EQ(Member(Members(Category(4)), 1), harbor);
    EXPECT_EQ(Store().FindItem("http://a.example/1"), harbor);
    std::string saved = SavedTree();
    EXPECT_NE(saved.find(R"({"c":[{"n":"Night Owl","u":"http://e.example/5"},{"n":"Harbor Lights II","u":"http://a.example/1"}],"n":"Mystery"})"),
              std::string::npos)
        << saved;
    EXPECT_EQ(saved.find(R"("Harbor Lights")"), std::string::npos) << saved;

    // Deleting asks first; "No" keeps it.
    JsonValue* bell = Store().FindItem("http://c.example/3");
    for (int answer : {IDNO, IDYES}) {
        seams.boxes.clear();
        seams.boxAnswer = answer;
        CFavItemDlg dialog(g_env->images, bell);
        ASSERT_TRUE(Open(dialog));
        ASSERT_TRUE(Click(dialog.m_hWnd, IDC_FAV_DELETE));
        ASSERT_EQ(seams.boxes.size(), 1u);
        EXPECT_EQ(seams.boxes[0].text, g_env->ctx->Translator().Text(L"Messages", L"DelFav"));
        EXPECT_EQ(seams.boxes[0].caption, g_env->ctx->Translator().Text(L"Global", L"Warning"));
        EXPECT_EQ(seams.boxes[0].flags, static_cast<UINT>(MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON2));
        EXPECT_EQ(dialog.HasEnded(), answer == IDYES);
        if (answer == IDNO)
            EXPECT_EQ(Store().FindItem("http://c.example/3"), bell);
        else
            EXPECT_EQ(dialog.GetResult(), 1);
        dialog.DestroyWindow();
    }
    EXPECT_EQ(Store().FindItem("http://c.example/3"), nullptr);
    EXPECT_EQ(SavedTree().find("Quiet Bell"), std::string::npos);
    EXPECT_EQ(StoredVolumeUrls(), R"([["http://a.example/1"]])");

    // Cancel changes nothing.
    std::unique_ptr<FavoritesSnapshot> before(Store().Serialize());
    CFavItemDlg dialog(g_env->images, harbor);
    ASSERT_TRUE(Open(dialog));
    SetDlgItemTextW(dialog.m_hWnd, IDC_FAV_NAME, L"Never");
    SelectCategory(dialog.m_hWnd, 1);
    SendMessageW(dialog.m_hWnd, WM_COMMAND, IDCANCEL, 0);
    EXPECT_EQ(dialog.GetResult(), 2);
    dialog.DestroyWindow();
    std::unique_ptr<FavoritesSnapshot> after(Store().Serialize());
    EXPECT_EQ(after->text, before->text);
}

// A category whose member list the tree no longer holds as an array refuses every append.
void BreakCategory(JsonValue* category) {
    ASSERT_TRUE(setDictionaryMember(category, "c", newStringValue("broken", 0)) ||
                (removeDictionaryMember(category, "c") &&
                 setDictionaryMember(category, "c", newStringValue("broken", 0))));
    ASSERT_EQ(getValueType(Members(category)), JSON_STRING);
}

TEST_F(FavDlgTest, RefusedAppendsNeitherLoseTheItemNorReportSuccess) {
    // Add mode: the item cannot be stored, so the dialog does not end as if it were.
    {
        CFavItemDlg dialog(g_env->images, L"Sea Glass", L"Comedy", "http://new.example/9");
        ASSERT_TRUE(Open(dialog));
        BreakCategory(Category(3));
        std::unique_ptr<FavoritesSnapshot> before(Store().Serialize());
        EXPECT_TRUE(Click(dialog.m_hWnd, IDOK));
        EXPECT_FALSE(dialog.HasEnded());
        EXPECT_EQ(Store().FindItem("http://new.example/9"), nullptr);
        std::unique_ptr<FavoritesSnapshot> after(Store().Serialize());
        EXPECT_EQ(after->text, before->text);
        EXPECT_FALSE(seams.beeps.empty());
        // Cancel still ends it.
        SendMessageW(dialog.m_hWnd, WM_COMMAND, IDCANCEL, 0);
        EXPECT_EQ(dialog.GetResult(), 2);
        dialog.DestroyWindow();
    }
    const std::string kAction = R"({"n":"Quiet Bell","u":"http://c.example/3"},{"n":"Red Kite","u":"http://d.example/4"}],"n":"Action"})";
    // Edit mode: a refused move keeps the item in its place, under its old name.
    ASSERT_TRUE(LoadTree(kTree));
    JsonValue* kite = Store().FindItem("http://d.example/4");
    {
        CFavItemDlg dialog(g_env->images, kite);
        ASSERT_TRUE(Open(dialog));
        SelectCategory(dialog.m_hWnd, 2);
        BreakCategory(Category(4));
        SetDlgItemTextW(dialog.m_hWnd, IDC_FAV_NAME, L"Renamed Kite");
        EXPECT_TRUE(Click(dialog.m_hWnd, IDOK));
        EXPECT_FALSE(dialog.HasEnded());
        dialog.DestroyWindow();
    }
    EXPECT_EQ(Member(Members(Category(0)), 4), kite);
    EXPECT_EQ(Store().FindItem("http://d.example/4"), kite);
    std::string saved = SavedTree();
    EXPECT_NE(saved.find(kAction), std::string::npos) << saved;
    // The manager's move: the checked rows that could not move stay, ticked, and in the tree.
    ASSERT_TRUE(LoadTree(kTree));
    {
        CFavManageDlg dialog(g_env->images);
        ASSERT_TRUE(Open(dialog));
        ListView_SetCheckState(dialog.list, 0, TRUE);
        ListView_SetCheckState(dialog.list, 3, TRUE);
        {
            Nested picker(dialog.m_hWnd, [](HWND w) {
                BreakCategory(Category(3));
                SendDlgItemMessageW(w, IDC_FAV_CATEGORY, CB_SETCURSEL, 0, 0);  // Comedy
                SendMessageW(w, WM_COMMAND, IDOK, 0);
            });
            ASSERT_TRUE(Click(dialog.m_hWnd, IDC_FAV_MOVE));
            EXPECT_NE(picker.seen, nullptr);
        }
        EXPECT_EQ(ListView_GetItemCount(dialog.list), 4);
        EXPECT_TRUE(ListView_GetCheckState(dialog.list, 0) && ListView_GetCheckState(dialog.list, 3));
        EXPECT_TRUE(Enabled(dialog.m_hWnd, IDC_FAV_DELETE_ITEMS));
        dialog.DestroyWindow();
    }
    EXPECT_EQ(getArraySize(Members(Category(0))), 5u);
    saved = SavedTree();
    EXPECT_NE(saved.find(R"([{"c":[{"n":"Harbor Lights","u":"http://a.example/1"},)"), std::string::npos) << saved;
    EXPECT_NE(saved.find(kAction), std::string::npos) << saved;
}

// The store's move on its own: refused targets leave the node at its index.
TEST_F(FavDlgTest, AMoveTheTargetRefusesPutsTheNodeBack) {
    JsonValue* action = Category(0);
    JsonValue* inner = Member(Members(action), 2);
    JsonValue* bell = Member(Members(action), 3);
    const struct {
        const char* name;
        JsonValue* node;
        JsonValue* target;
        bool moved;
    } cases[] = {
        {"folder into its own child", action, Members(inner), false},
        {"folder into itself", action, Members(action), false},
        {"no target", bell, nullptr, false},
        {"target no array", bell, Category(1), false},
        {"same array", bell, Members(action), false},
        {"unattached node", Store().root, Members(inner), false},
        {"item into a folder below", bell, Members(inner), true},
    };
    for (const auto& c : cases) {
        std::unique_ptr<FavoritesSnapshot> before(Store().Serialize());
        EXPECT_EQ(Store().Move(c.node, c.target), c.moved) << c.name;
        std::unique_ptr<FavoritesSnapshot> after(Store().Serialize());
        if (!c.moved)
            EXPECT_EQ(after->text, before->text) << c.name;
    }
    EXPECT_EQ(Member(Members(inner), 0), bell);
    EXPECT_EQ(Member(Members(action), 3), Store().FindItem("http://d.example/4"));
    EXPECT_EQ(Store().FindItem("http://c.example/3"), bell);
}

TEST_F(FavDlgTest, ManagerListsTicksAndDeletesCheckedItems) {
    StoreVolumes({"http://a.example/1", "https://b.example:8080/2", "http://c.example/3", "http://d.example/4"});
    CFavManageDlg dialog(g_env->images);
    ASSERT_TRUE(Open(dialog));
    HWND d = dialog.m_hWnd;
    EXPECT_EQ(ComboTexts(dialog.combo), (std::vector<std::wstring>{L"Action", L"Comedy", L"Mystery"}));
    EXPECT_EQ(Selection(d), 0);
    // The sub-folder is no row.
    EXPECT_EQ(Rows(dialog.list), (std::vector<std::wstring>{L"Harbor Lights|a.example", L"Iron Tide|b.example",
                                                            L"Quiet Bell|c.example", L"Red Kite|d.example"}));
    EXPECT_FALSE(Enabled(d, IDC_FAV_MOVE) || Enabled(d, IDC_FAV_DELETE_ITEMS));

    const struct {
        std::vector<int> ticked;
        int box;
    } states[] = {{{}, BST_UNCHECKED}, {{1}, BST_INDETERMINATE}, {{0, 1, 2, 3}, BST_CHECKED}, {{1, 2}, BST_INDETERMINATE}};
    for (const auto& s : states) {
        for (int i = 0; i < 4; ++i)
            ListView_SetCheckState(dialog.list, i, FALSE);
        for (int i : s.ticked)
            ListView_SetCheckState(dialog.list, i, TRUE);
        EXPECT_EQ(BoxState(d), s.box) << s.ticked.size();
        EXPECT_EQ(Enabled(d, IDC_FAV_MOVE), !s.ticked.empty());
        EXPECT_EQ(Enabled(d, IDC_FAV_DELETE_ITEMS), !s.ticked.empty());
    }
    // "Check All" ticks all of some, then none of all.
    ASSERT_TRUE(Click(d, IDC_FAV_CHECK_ALL));
    EXPECT_EQ(BoxState(d), BST_CHECKED);
    ASSERT_TRUE(Click(d, IDC_FAV_CHECK_ALL));
    EXPECT_EQ(BoxState(d), BST_UNCHECKED);
    EXPECT_FALSE(Enabled(d, IDC_FAV_DELETE_ITEMS));

    ListView_SetCheckState(dialog.list, 1, TRUE);
    ListView_SetCheckState(dialog.list, 2, TRUE);
    seams.boxAnswer = IDNO;
    ASSERT_TRUE(Click(d, IDC_FAV_DELETE_ITEMS));
    EXPECT_EQ(ListView_GetItemCount(dialog.list), 4);
    EXPECT_FALSE(dialog.deleted);
    seams.boxAnswer = IDYES;
    seams.boxes.clear();
    ASSERT_TRUE(Click(d, IDC_FAV_DELETE_ITEMS));
    ASSERT_EQ(seams.boxes.size(), 1u);
    EXPECT_EQ(seams.boxes[0].text, g_env->ctx->Translator().Text(L"Messages", L"DelItems"));
    EXPECT_EQ(Rows(dialog.list), (std::vector<std::wstring>{L"Harbor Lights|a.example", L"Red Kite|d.example"}));
    EXPECT_EQ(BoxState(d), BST_UNCHECKED);
    EXPECT_FALSE(Enabled(d, IDC_FAV_MOVE) || Enabled(d, IDC_FAV_DELETE_ITEMS));
    EXPECT_TRUE(dialog.deleted);
    dialog.DestroyWindow();
    // The list only borrowed the caller's images.
    EXPECT_EQ(ImageList_GetImageCount(g_env->images), g_env->imageCount);

    EXPECT_EQ(Store().FindItem("https://b.example:8080/2"), nullptr);
    std::string saved = SavedTree();
    EXPECT_NE(saved.find(R"({"c":[{"n":"Harbor Lights","u":"http://a.example/1"},{"c":[],"n":"Inner"},{"n":"Red Kite","u":"http://d.example/4"}],"n":"Action"})"),
              std::string::npos)
        << saved;
    EXPECT_EQ(StoredVolumeUrls(), R"([["http://a.example/1"], ["http://d.example/4"]])");
}

TEST_F(FavDlgTest, ManagerMovesCheckedItemsToThePickedCategory) {
    CFavManageDlg dialog(g_env->images);
    ASSERT_TRUE(Open(dialog));
    HWND d = dialog.m_hWnd;
    ListView_SetCheckState(dialog.list, 0, TRUE);
    ListView_SetCheckState(dialog.list, 2, TRUE);
    std::vector<std::wstring> offered;
    int preselected = -2;
    {
        Nested picker(d, [&](HWND w) {
            HWND combo = GetDlgItem(w, IDC_FAV_CATEGORY);
            offered = ComboTexts(combo);
            preselected = static_cast<int>(SendMessageW(combo, CB_GETCURSEL, 0, 0));
            SendMessageW(combo, CB_SETCURSEL, 1, 0);
            SendMessageW(w, WM_COMMAND, IDOK, 0);
        });
        ASSERT_TRUE(Click(d, IDC_FAV_MOVE));
        EXPECT_NE(picker.seen, nullptr);
    }
    // The current category is not offered.
    EXPECT_EQ(offered, (std::vector<std::wstring>{L"Comedy", L"Mystery"}));
    EXPECT_EQ(preselected, 0);
    EXPECT_EQ(Rows(dialog.list), (std::vector<std::wstring>{L"Iron Tide|b.example", L"Red Kite|d.example"}));
    EXPECT_EQ(BoxState(d), BST_UNCHECKED);
    EXPECT_FALSE(Enabled(d, IDC_FAV_MOVE) || Enabled(d, IDC_FAV_DELETE_ITEMS));

    // A cancelled pick moves nothing.
    ListView_SetCheckState(dialog.list, 0, TRUE);
    {
        Nested picker(d, [](HWND w) { SendMessageW(w, WM_COMMAND, IDCANCEL, 0); });
        ASSERT_TRUE(Click(d, IDC_FAV_MOVE));
    }
    EXPECT_EQ(ListView_GetItemCount(dialog.list), 2);
    SelectCategory(d, 2);
    EXPECT_EQ(Rows(dialog.list), (std::vector<std::wstring>{L"Night Owl|e.example", L"Harbor Lights|a.example",
                                                            L"Quiet Bell|c.example"}));
    EXPECT_FALSE(dialog.deleted);
    dialog.DestroyWindow();
    EXPECT_NE(SavedTree().find(R"({"c":[{"n":"Night Owl","u":"http://e.example/5"},{"n":"Harbor Lights","u":"http://a.example/1"},)"
                               R"({"n":"Quiet Bell","u":"http://c.example/3"}],"n":"Mystery"})"),
              std::string::npos);
}

TEST_F(FavDlgTest, ManagerAddsRenamesAndDeletesCategories) {
    StoreVolumes({"http://e.example/5", "http://a.example/1"});
    CFavManageDlg dialog(g_env->images);
    ASSERT_TRUE(Open(dialog));
    HWND d = dialog.m_hWnd;
    std::wstring prompt, initial;
    {
        Nested input(d, Type(L"Westerns", &prompt, &initial));
        ASSERT_TRUE(Click(d, IDC_FAV_NEW_CATEGORY));
    }
    EXPECT_EQ(prompt, g_env->ctx->Translator().Text(L"FavItemDlg", L"Input"));
    EXPECT_EQ(initial, L"");
    EXPECT_EQ(ComboTexts(dialog.combo), (std::vector<std::wstring>{L"Action", L"Comedy", L"Mystery", L"Westerns"}));
    EXPECT_EQ(Selection(d), 0);

    SelectCategory(d, 2);
    {
        Nested input(d, Type(L"Whodunits", &prompt, &initial));
        ASSERT_TRUE(Click(d, IDC_FAV_RENAME_CATEGORY));
    }
    EXPECT_EQ(prompt, g_env->ctx->Translator().Text(L"FavManageDlg", L"NewName"));
    EXPECT_EQ(initial, L"Mystery");
    EXPECT_EQ(ComboBoxEx::GetText(dialog.combo, 2), L"Whodunits");
    EXPECT_EQ(Selection(d), 2);
    std::string saved = SavedTree();
    EXPECT_NE(saved.find(R"("n":"Whodunits"},{"c":[],"n":"Westerns"}])"), std::string::npos) << saved;

    // Deleting "Whodunits" selects the row that takes its place, and counts as a deletion.
    seams.boxAnswer = IDYES;
    ASSERT_TRUE(Click(d, IDC_FAV_DELETE_CATEGORY));
    ASSERT_EQ(seams.boxes.size(), 1u);
    EXPECT_EQ(seams.boxes[0].text, g_env->ctx->Translator().Text(L"Messages", L"DelFolder"));
    EXPECT_EQ(seams.boxes[0].flags, static_cast<UINT>(MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON2));
    EXPECT_TRUE(dialog.deleted);
    EXPECT_EQ(ComboTexts(dialog.combo), (std::vector<std::wstring>{L"Action", L"Comedy", L"Westerns"}));
    EXPECT_EQ(Selection(d), 2);
    EXPECT_EQ(ListView_GetItemCount(dialog.list), 0);
    EXPECT_EQ(Store().FindItem("http://e.example/5"), nullptr);
    EXPECT_EQ(StoredVolumeUrls(), R"([["http://a.example/1"]])");

    // The last row deleted: the one before takes its place; then the rest until none is left.
    for (int left = 2; left > 0; --left) {
        SelectCategory(d, left);
        ASSERT_TRUE(Click(d, IDC_FAV_DELETE_CATEGORY));
        EXPECT_EQ(Selection(d), left - 1);
        EXPECT_FALSE(dialog.HasEnded());
    }
    EXPECT_EQ(Rows(dialog.list), (std::vector<std::wstring>{L"Harbor Lights|a.example", L"Iron Tide|b.example",
                                                            L"Quiet Bell|c.example", L"Red Kite|d.example"}));
    seams.boxes.clear();
    ASSERT_TRUE(Click(d, IDC_FAV_DELETE_CATEGORY));
    ASSERT_EQ(seams.boxes.size(), 2u);
    EXPECT_EQ(seams.boxes[1].text, g_env->ctx->Translator().Text(L"Messages", L"FavEmpty"));
    EXPECT_EQ(seams.boxes[1].caption, g_env->ctx->Translator().Text(L"Global", L"Name"));
    EXPECT_TRUE(dialog.HasEnded());
    EXPECT_EQ(dialog.GetResult(), 1);
    dialog.DestroyWindow();
    EXPECT_EQ(SavedTree(), R"([{"n":"Loose","u":"http://loose.example/"},7])");
    EXPECT_EQ(StoredVolumeUrls(), "[]");
}

TEST_F(FavDlgTest, InPlaceRenamesTakeTextAndIgnoreCancelledEdits) {
    CFavManageDlg dialog(g_env->images);
    ASSERT_TRUE(Open(dialog));
    HWND list = dialog.list;
    JsonValue* tide = Store().FindItem("https://b.example:8080/2");
    // The end of an edit as the list reports it: null text when the edit was cancelled.
    auto endEdit = [&](int row, const wchar_t* text) {
        NMLVDISPINFOW info = {};
        info.hdr.hwndFrom = list;
        info.hdr.idFrom = IDC_FAV_LIST;
        info.hdr.code = LVN_ENDLABELEDITW;
        info.item.iItem = row;
        info.item.mask = text ? LVIF_TEXT : 0;
        info.item.pszText = const_cast<wchar_t*>(text);
        SendMessageW(dialog.m_hWnd, WM_NOTIFY, IDC_FAV_LIST, reinterpret_cast<LPARAM>(&info));
        return GetWindowLongPtrW(dialog.m_hWnd, DWLP_MSGRESULT);
    };
    const struct {
        int row;
        const wchar_t* text;
        LRESULT accepted;
        const wchar_t* name;
    } cases[] = {
        {1, nullptr, FALSE, L"Iron Tide"},
        {1, L"", FALSE, L"Iron Tide"},
        {1, L"Iron Tide Rising", TRUE, L"Iron Tide Rising"},
        {9, L"No Row", FALSE, L"Iron Tide Rising"},
        {1, nullptr, FALSE, L"Iron Tide Rising"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(endEdit(c.row, c.text), c.accepted) << (c.text ? c.text : L"(null)");
        EXPECT_EQ(FavoriteEntry::FromJson(tide).name, c.name);
    }

    // The list's own edit: Escape cancels, Enter stores.
    SetFocus(list);
    for (bool commit : {false, true}) {
        HWND edit = ListView_EditLabel(list, 0);
        ASSERT_NE(edit, nullptr);
        SetWindowTextW(edit, L"Typed In Place");
        SendMessageW(edit, WM_KEYDOWN, commit ? VK_RETURN : VK_ESCAPE, 0);
        wtltest::PumpUntil([&] { return !IsWindow(edit); }, 2000);
        EXPECT_EQ(FavoriteEntry::FromJson(Store().FindItem("http://a.example/1")).name,
                  commit ? L"Typed In Place" : L"Harbor Lights");
    }
    dialog.DestroyWindow();
    std::string saved = SavedTree();
    EXPECT_NE(saved.find(R"([{"c":[{"n":"Typed In Place","u":"http://a.example/1"},{"n":"Iron Tide Rising",)"),
              std::string::npos)
        << saved;
}

// Nodes the dialogs point to survive a reload that arrives while they are open; the new tree
// takes over when the last one is gone.
TEST_F(FavDlgTest, AReloadWaitsUntilTheDialogsAreGone) {
    const char kOther[] = R"([{"c":[{"n":"Other","u":"http://other.example/1"}],"n":"Elsewhere"}])";
    JsonValue* oldRoot = Store().root;
    {
        CFavManageDlg dialog(g_env->images);
        ASSERT_TRUE(Open(dialog));
        {
            CFavItemDlg item(g_env->images, Store().FindItem("http://d.example/4"));
            ASSERT_TRUE(Open(item));
            EXPECT_FALSE(LoadTree(kTree));
            EXPECT_FALSE(LoadTree(kOther, 1));  // a later load replaces the waiting one
            item.DestroyWindow();
        }
        EXPECT_EQ(Store().root, oldRoot);
        // Fresh allocations of the same sizes would land where freed nodes were.
        std::vector<JsonValue*> filler;
        for (int i = 0; i < 64; ++i)
            filler.push_back(ParseJsonText(R"({"n":"zzzzzzzzzzzzzz","u":"zzzzzzzzzzzzzzzzzzzzzzzzzzzzzz"})"));
        for (JsonValue* v : filler)
            deleteValue(&v);
        EXPECT_EQ(Rows(dialog.list)[3], L"Red Kite|d.example");
        ListView_SetCheckState(dialog.list, 3, TRUE);
        seams.boxAnswer = IDYES;
        ASSERT_TRUE(Click(dialog.m_hWnd, IDC_FAV_DELETE_ITEMS));
        EXPECT_EQ(Store().FindItem("http://d.example/4"), nullptr);
        dialog.DestroyWindow();
        EXPECT_EQ(Store().root, oldRoot);  // the object still holds
        PumpPending();
        g_env->frame->flushes = 0;
    }
    EXPECT_NE(Store().root, oldRoot);
    // The defaults of a load that needed saving are saved once they are in place.
    EXPECT_TRUE(PumpUntil([] { return g_env->frame->flushes == 1; }));
    EXPECT_EQ(SavedTree(), kOther);
    EXPECT_NE(Store().FindItem("http://other.example/1"), nullptr);
    EXPECT_EQ(Store().FindItem("http://a.example/1"), nullptr);
    // Nothing holds now: a load goes in at once.
    EXPECT_TRUE(LoadTree(kTree));
}

// The seams the main frame calls, run modally as it runs them.
TEST_F(FavDlgTest, TheFrameSeamsRunTheDialogs) {
    HWND owner = g_env->frame->window.window;
    // Edit mode for an address that is no favourite shows nothing.
    {
        Nested none(nullptr, [](HWND w) { EndDialog(w, -5); });
        EXPECT_EQ(Dialogs().favoriteItem(owner, g_env->images, L"", L"", "http://nowhere.example/", true), IDCANCEL);
        EXPECT_EQ(none.seen, nullptr);
    }
    {
        Nested add(nullptr, [](HWND w) { SendMessageW(w, WM_COMMAND, IDOK, 0); });
        EXPECT_EQ(Dialogs().favoriteItem(owner, g_env->images, L"Seam Add", L"Comedy", "http://seam.example/1", false),
                  IDOK);
    }
    JsonValue* added = Store().FindItem("http://seam.example/1");
    ASSERT_NE(added, nullptr);
    EXPECT_EQ(Member(Members(Category(3)), 0), added);
    {
        Nested edit(nullptr, [](HWND w) {
            SetDlgItemTextW(w, IDC_FAV_NAME, L"Seam Edit");
            SendMessageW(w, WM_COMMAND, IDOK, 0);
        });
        EXPECT_EQ(Dialogs().favoriteItem(owner, g_env->images, L"", L"", "http://seam.example/1", true), IDOK);
    }
    EXPECT_EQ(FavoriteEntry::FromJson(added).name, L"Seam Edit");
    // Closing the manager without deleting reports no change; deleting a category does.
    for (bool remove : {false, true}) {
        seams.boxAnswer = IDYES;
        Nested manage(nullptr, [remove](HWND w) {
            if (remove)
                SendMessageW(w, WM_COMMAND, IDC_FAV_DELETE_CATEGORY, 0);
            SendMessageW(w, WM_COMMAND, IDCLOSE, 0);
        });
        EXPECT_EQ(Dialogs().manageFavorites(owner, g_env->images), remove);
    }
    EXPECT_EQ(SavedTree().find(R"("n":"Action")"), std::string::npos);
}

// A menu closed without a choice sends the main window nothing.
TEST_F(FavDlgTest, ACancelledMenuPostsNothing) {
    for (UINT answer : {0u, static_cast<UINT>(ID_FAV_MANAGE)}) {
        seams.trackAnswer = answer;
        g_env->frame->commands.clear();
        FavoritesMenu menu;
        ASSERT_TRUE(menu.Build());
        EXPECT_EQ(menu.Track(10, 10, g_env->frame->window.window), nullptr);
        // A marker posted after proves that whatever the menu posted has arrived.
        PostMessageW(g_env->frame->window.window, WM_COMMAND, 1, 0);
        ASSERT_TRUE(PumpUntil([] { return !g_env->frame->commands.empty() && g_env->frame->commands.back() == 1; }));
        std::vector<UINT> expected = {1};
        if (answer)
            expected.insert(expected.begin(), answer);
        EXPECT_EQ(g_env->frame->commands, expected) << answer;
    }
}

TEST_F(FavDlgTest, Screenshots) {
    {
        CFavItemDlg dialog(g_env->images, L"Harbor Lights: The Long Voyage Home", L"Action", "http://a.example/1");
        ASSERT_TRUE(Open(dialog));
        Shoot(dialog.m_hWnd, "favitem_add");
        dialog.DestroyWindow();
    }
    {
        CFavItemDlg dialog(g_env->images, Store().FindItem("http://e.example/5"));
        ASSERT_TRUE(Open(dialog));
        Shoot(dialog.m_hWnd, "favitem_edit");
        dialog.DestroyWindow();
    }
    {
        CFavManageDlg dialog(g_env->images);
        ASSERT_TRUE(Open(dialog));
        ListView_SetCheckState(dialog.list, 1, TRUE);
        Shoot(dialog.m_hWnd, "favmanage");
        {
            Nested picker(dialog.m_hWnd, [](HWND w) {
                Shoot(w, "selectfolder");
                SendMessageW(w, WM_COMMAND, IDCANCEL, 0);
            });
            ASSERT_TRUE(Click(dialog.m_hWnd, IDC_FAV_MOVE));
            EXPECT_NE(picker.seen, nullptr);
        }
        dialog.DestroyWindow();
    }
}

}  // namespace
