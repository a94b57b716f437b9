// The task management and repair dialogs over a real Vellix.dat: their rows, the "Check All" box
// and the action button as ticks change, the deletion question, the repair's writes read back by
// Python's sqlite3, the modal runs through the dialog seams, and the screenshots.
#include "UiTestSupport.h"
#include "WtlTestSupport.h"

#include <AppContext.h>
#include <AppDatabase.h>
#include <CoreTestSupport.h>
#include <DbJobs.h>
#include <DbTestSupport.h>
#include <DownloaderImpl.h>
#include <LanguageTranslator.h>
#include <ManageDlg.h>
#include <UiSeams.h>
#include <common/CodePage.h>
#include <wtl/Module.h>

#include <gtest/gtest.h>

#include <commctrl.h>

#include <functional>
#include <list>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace {

struct Environment : ::testing::Environment {
    void SetUp() override {
        INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_LISTVIEW_CLASSES};
        InitCommonControlsEx(&controls);
        WTL::AppModule().Init(nullptr);
        folder.reset(new ScopedAppFolder());
        ctx.reset(new AppContext());
        ASSERT_TRUE(ctx->Database().Open());
    }
    void TearDown() override {
        ctx.reset();
        folder.reset();
    }
    std::unique_ptr<ScopedAppFolder> folder;
    std::unique_ptr<AppContext> ctx;
};
Environment* g_env = static_cast<Environment*>(::testing::AddGlobalTestEnvironment(new Environment));

Brimholt::LanguageTranslator& Texts() {
    return g_env->ctx->Translator();
}

std::wstring Db() {
    return *g_env->folder + L"Vellix.dat";
}

// Every job queued before it has run once it returns: the worker keeps its queue's order.
void Drain() {
    GetProxyTask barrier("");
    g_env->ctx->Database().RunSync(&barrier);
}

std::wstring WindowText(HWND window) {
    wchar_t text[512] = L"";
    GetWindowTextW(window, text, 512);
    return text;
}

std::wstring Cell(HWND list, int row, int column) {
    wchar_t text[512] = L"";
    ListView_GetItemText(list, row, column, text, 512);
    return text;
}

std::wstring ColumnTitle(HWND list, int column) {
    wchar_t text[128] = L"";
    LVCOLUMNW info = {};
    info.mask = LVCF_TEXT;
    info.pszText = text;
    info.cchTextMax = 128;
    ListView_GetColumn(list, column, &info);
    return text;
}

std::vector<bool> Ticks(HWND list) {
    std::vector<bool> ticks;
    for (int i = 0; i < ListView_GetItemCount(list); ++i)
        ticks.push_back(ListView_GetCheckState(list, i) != 0);
    return ticks;
}

LRESULT BoxState(HWND dialog) {
    return SendDlgItemMessageW(dialog, IDC_CHECK_ALL, BM_GETCHECK, 0, 0);
}

bool Enabled(HWND dialog, int id) {
    return IsWindowEnabled(GetDlgItem(dialog, id)) != FALSE;
}

// A press as the button makes it: a disabled button makes none.
void Click(HWND dialog, int id) {
    SendMessageW(GetDlgItem(dialog, id), BM_CLICK, 0, 0);
}

// A left click on a row's check box, found by hit testing the row's left edge.
bool ClickCheckBox(HWND list, int row) {
    RECT bounds = {};
    if (!ListView_GetItemRect(list, row, &bounds, LVIR_BOUNDS))
        return false;
    for (int x = bounds.left; x < bounds.left + 40; ++x) {
        LVHITTESTINFO hit = {};
        hit.pt = {x, (bounds.top + bounds.bottom) / 2};
        if (ListView_SubItemHitTest(list, &hit) >= 0 && hit.iItem == row && (hit.flags & LVHT_ONITEMSTATEICON)) {
            LPARAM at = MAKELPARAM(hit.pt.x, hit.pt.y);
            SendMessageW(list, WM_LBUTTONDOWN, MK_LBUTTON, at);
            SendMessageW(list, WM_LBUTTONUP, 0, at);
            return true;
        }
    }
    return false;
}

// Pumps what is queued (paints included) so that the display shows the dialog, then shoots it.
void Shoot(HWND dialog, const std::string& name) {
    RedrawWindow(dialog, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    const DWORD until = GetTickCount() + 400;
    while (GetTickCount() < until) {
        wtltest::Pump();
        Sleep(20);
    }
    EXPECT_TRUE(Screenshot(dialog, name + "_" + LanguageTag(), 4)) << name;
}

class TaskDialogsTest : public ::testing::Test {
protected:
    void SetUp() override {
        ResetUiSeams();
        ASSERT_TRUE(ExecSql(Db(), "DELETE FROM Image2; DELETE FROM Task2;"));
        static int counter = 0;
        downloads = *g_env->folder + (L"tdl" + std::to_wstring(++counter) + L"\\").c_str();
        ASSERT_TRUE(CreateDirectoryW(downloads.c_str(), nullptr));
    }
    void TearDown() override { ResetUiSeams(); }

    // A Task2 row with its own folder; the rowid.
    int AddTask(const std::string& name, int status) {
        static int next = 100;
        int rowid = ++next;
        std::wstring folder = downloads + L"t" + std::to_wstring(rowid) + L"\\";
        EXPECT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
        folders[rowid] = folder;
        EXPECT_TRUE(ExecSql(Db(), "INSERT INTO Task2(rowid, url, Name, Cookie, Path, Status) VALUES(" +
                                      std::to_string(rowid) + ", 'http://t.invalid/" + std::to_string(rowid) +
                                      "', " + Quote(name) + ", '', " + Quote(ToNarrow(folder, CP_UTF8)) + ", " +
                                      std::to_string(status) + ");"));
        return rowid;
    }

    // An Image2 row of the task; with a file it is also written into the task's folder.
    void AddImage(int task, const std::string& url, const std::string& target, const std::string& ext, int status,
                  const std::string& file = std::string()) {
        EXPECT_TRUE(ExecSql(Db(), "INSERT INTO Image2(url, ref, target, status, parent, ext) VALUES(" + Quote(url) +
                                      ", '', " + Quote(target) + ", " + std::to_string(status) + ", " +
                                      std::to_string(task) + ", " + (ext.empty() ? "NULL" : Quote(ext)) + ");"));
        if (!file.empty()) {
            EXPECT_TRUE(WriteBytes(folders[task] + ToWide(file, CP_UTF8), "image bytes"));
        }
    }

    static std::string Quote(const std::string& text) {
        std::string out = "'";
        for (char c : text)
            out += c == '\'' ? std::string("''") : std::string(1, c);
        return out + "'";
    }

    // The tasks as the built-in downloader holds them, read by a real one.
    static std::list<TaskRecord> DownloaderTasks() {
        CDownloaderImpl downloader;
        return downloader.Tasks();
    }

    template <class D>
    HWND Show(D& dialog) {
        HWND window = dialog.Create(host.hwnd());
        if (window)
            ::ShowWindow(window, SW_SHOWNOACTIVATE);
        return window;
    }

    std::wstring downloads;
    std::map<int, std::wstring> folders;
    wtltest::SeamRecorder seams;
    wtltest::HostWindow host;
};

// ---------------------------------------------------------------------------------------------
// Rows and texts

TEST_F(TaskDialogsTest, ManageRowsAndTexts) {
    const int done = AddTask("Harbor Vol 1", 2);
    const int waiting = AddTask("\xe6\x9c\xac Vol 2", 0);
    const int paused = AddTask("Tom & <Jerry> 100%", 3);
    const int busy = AddTask("Busy", 1);
    CManageDlg dialog(DownloaderTasks());
    ASSERT_EQ(dialog.rows.size(), 4u);
    HWND window = Show(dialog);
    ASSERT_NE(window, nullptr);
    HWND list = dialog.list;
    ASSERT_EQ(list, GetDlgItem(window, IDC_MANAGE_LIST));

    EXPECT_EQ(WindowText(window), Texts().Text(L"ManageDlg", L"Caption"));
    EXPECT_EQ(WindowText(GetDlgItem(window, IDC_CHECK_ALL)), Texts().Text(L"ManageDlg", L"1112"));
    EXPECT_EQ(WindowText(GetDlgItem(window, IDC_MANAGE_DELETE)), Texts().Text(L"ManageDlg", L"1311"));
    EXPECT_EQ(WindowText(GetDlgItem(window, IDCLOSE)), Texts().DefaultControlText(IDCLOSE));
    EXPECT_EQ(ColumnTitle(list, 0), Texts().Text(L"ManageDlg", L"Task"));
    EXPECT_EQ(ColumnTitle(list, 1), Texts().Text(L"ManageDlg", L"Status"));
    RECT client = {};
    GetClientRect(list, &client);
    EXPECT_EQ(ListView_GetColumnWidth(list, 0), client.right - GetSystemMetrics(SM_CXVSCROLL) - 85);
    EXPECT_EQ(ListView_GetColumnWidth(list, 1), 80);
    DWORD extended = ListView_GetExtendedListViewStyle(list);
    EXPECT_EQ(extended & 0x25u, 0x25u);

    const std::wstring completed = Texts().Text(L"ManageDlg", L"Completed");
    const struct {
        int rowid;
        std::wstring name, status;
    } expected[] = {
        {done, L"Harbor Vol 1", completed},
        {waiting, L"\u672c Vol 2", L""},
        {paused, L"Tom & <Jerry> 100%", L""},
        {busy, L"Busy", L""},
    };
    ASSERT_EQ(ListView_GetItemCount(list), 4);
    for (int i = 0; i < 4; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(dialog.rows[i].rowid, expected[i].rowid);
        EXPECT_EQ(Cell(list, i, 0), expected[i].name);
        EXPECT_EQ(Cell(list, i, 1), expected[i].status);
    }
    EXPECT_EQ(Ticks(list), std::vector<bool>(4, false));
    EXPECT_EQ(BoxState(window), BST_UNCHECKED);
    EXPECT_FALSE(Enabled(window, IDC_MANAGE_DELETE));
    if (LanguageTag() == "en") {
        EXPECT_EQ(WindowText(window), L"Manage Tasks");
        EXPECT_EQ(completed, L"Completed");
    }
    dialog.DestroyWindow();
}

// Each image by its status and the file in the task's folder: only a downloaded image whose file
// is there is in order.
TEST_F(TaskDialogsTest, RepairRowsAndTexts) {
    const int task = AddTask("Harbor 100% & <b>", 2);
    CreateDirectoryW((folders[task] + L"004.gif").c_str(), nullptr);
    CreateDirectoryW((folders[task] + L"sub").c_str(), nullptr);
    const struct {
        const char* target;
        const char* ext;
        int status;
        const char* file;  // written into the task's folder
        std::wstring shown;
        const wchar_t* state;
        bool ticked;
    } images[] = {
        {"001", ".jpg", 2, "001.jpg", L"001.jpg", L"OK", false},
        {"002", ".png", 2, "", L"002.png", L"Deleted", true},
        {"003", ".jpg", 2, "003.png", L"003.jpg", L"Deleted", true},  // another extension
        {"004", ".gif", 2, "", L"004.gif", L"Deleted", true},         // a folder of that name
        {"005", "", 3, "", L"005", L"Error", true},
        {"006", "", 0, "", L"006", L"Error", true},
        {"sub\\007", ".jpg", 2, "sub\\007.jpg", L"sub\\007.jpg", L"OK", false},
        {"\xe6\x9c\xac 008", ".webp", 2, "\xe6\x9c\xac 008.webp", L"\u672c 008.webp", L"OK", false},
        {"009", ".jpg", 3, "009.jpg", L"009.jpg", L"Error", true},  // failed, though a file is there
    };
    for (const auto& image : images)
        AddImage(task, "http://i.invalid/" + std::string(image.target), image.target, image.ext, image.status,
                 image.file);

    CRepairDlg dialog(task);
    EXPECT_EQ(dialog.name, L"Harbor 100% & <b>");
    EXPECT_EQ(dialog.path, folders[task]);
    ASSERT_EQ(dialog.images.size(), sizeof(images) / sizeof(images[0]));
    HWND window = Show(dialog);
    ASSERT_NE(window, nullptr);
    HWND list = dialog.list;
    EXPECT_EQ(WindowText(window), Texts().Text(L"RepairDlg", L"CaptionText", {{L"NAME", L"Harbor 100% & <b>"}}));
    EXPECT_EQ(WindowText(GetDlgItem(window, IDOK)), Texts().Text(L"RepairDlg", L"1"));
    EXPECT_EQ(WindowText(GetDlgItem(window, IDCANCEL)), Texts().DefaultControlText(IDCANCEL));
    EXPECT_EQ(WindowText(GetDlgItem(window, IDC_CHECK_ALL)), Texts().Text(L"RepairDlg", L"1112"));
    EXPECT_EQ(ColumnTitle(list, 0), Texts().Text(L"RepairDlg", L"File"));
    EXPECT_EQ(ColumnTitle(list, 1), Texts().Text(L"RepairDlg", L"Status"));
    EXPECT_EQ(ListView_GetColumnWidth(list, 1), 80);
    if (LanguageTag() == "en") {
        EXPECT_EQ(WindowText(window), L"Repair Harbor 100% & <b>");
    }

    ASSERT_EQ(ListView_GetItemCount(list), static_cast<int>(sizeof(images) / sizeof(images[0])));
    for (int i = 0; i < ListView_GetItemCount(list); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(Cell(list, i, 0), images[i].shown);
        EXPECT_EQ(Cell(list, i, 1), Texts().Text(L"RepairDlg", images[i].state));
        EXPECT_EQ(ListView_GetCheckState(list, i) != 0, images[i].ticked);
    }
    EXPECT_EQ(BoxState(window), BST_INDETERMINATE);
    EXPECT_TRUE(Enabled(window, IDOK));
    dialog.DestroyWindow();
}

// Nothing to repair: no row starts ticked and the button stays off, also for a task that is gone.
TEST_F(TaskDialogsTest, RepairWithNothingToRepairStartsDisabled) {
    const int whole = AddTask("Whole", 2);
    AddImage(whole, "http://i.invalid/1", "001", ".jpg", 2, "001.jpg");
    AddImage(whole, "http://i.invalid/2", "002", ".png", 2, "002.png");
    const struct {
        const char* what;
        int rowid;
        std::wstring name;
        int rows;
    } cases[] = {
        {"every file there", whole, L"Whole", 2},
        {"no such task", 9999, L"", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        CRepairDlg dialog(c.rowid);
        HWND window = Show(dialog);
        ASSERT_NE(window, nullptr);
        EXPECT_EQ(WindowText(window), Texts().Text(L"RepairDlg", L"CaptionText", {{L"NAME", c.name}}));
        EXPECT_EQ(ListView_GetItemCount(dialog.list), c.rows);
        EXPECT_EQ(Ticks(dialog.list), std::vector<bool>(c.rows, false));
        EXPECT_EQ(BoxState(window), BST_UNCHECKED);
        EXPECT_FALSE(Enabled(window, IDOK));
        dialog.DestroyWindow();
    }
}

// ---------------------------------------------------------------------------------------------
// "Check All" and the action button

// One table of ticks for both dialogs, each over three rows that start unticked.
TEST_F(TaskDialogsTest, CheckAllAndTheActionButtonFollowTheTicks) {
    enum Action { kTick, kUntick, kToggleAll, kClickBox };
    const struct {
        Action action;
        int row;
        std::vector<bool> ticks;
        LRESULT box;
    } steps[] = {
        {kTick, 0, {true, false, false}, BST_INDETERMINATE},
        {kTick, 1, {true, true, false}, BST_INDETERMINATE},
        {kTick, 2, {true, true, true}, BST_CHECKED},
        {kUntick, 1, {true, false, true}, BST_INDETERMINATE},
        {kUntick, 0, {false, false, true}, BST_INDETERMINATE},
        {kUntick, 2, {false, false, false}, BST_UNCHECKED},
        {kToggleAll, 0, {true, true, true}, BST_CHECKED},
        {kToggleAll, 0, {false, false, false}, BST_UNCHECKED},
        {kClickBox, 1, {false, true, false}, BST_INDETERMINATE},
        {kToggleAll, 0, {true, true, true}, BST_CHECKED},  // some ticked: all get ticked
        {kClickBox, 2, {true, true, false}, BST_INDETERMINATE},
        {kClickBox, 2, {true, true, true}, BST_CHECKED},
        {kToggleAll, 0, {false, false, false}, BST_UNCHECKED},
    };

    AddTask("A", 2);
    AddTask("B", 0);
    AddTask("C", 3);
    CManageDlg manage(DownloaderTasks());
    const int repairTask = AddTask("Repair", 2);
    for (int i = 1; i <= 3; ++i)
        AddImage(repairTask, "http://i.invalid/" + std::to_string(i), std::to_string(i), ".jpg", 2,
                 std::to_string(i) + ".jpg");
    CRepairDlg repair(repairTask);

    const struct {
        const char* what;
        HWND window;
        int action;
    } dialogs[] = {
        {"manage", Show(manage), IDC_MANAGE_DELETE},
        {"repair", Show(repair), IDOK},
    };
    for (const auto& d : dialogs) {
        SCOPED_TRACE(d.what);
        ASSERT_NE(d.window, nullptr);
        HWND list = GetDlgItem(d.window, d.action == IDOK ? IDC_REPAIR_LIST : IDC_MANAGE_LIST);
        ASSERT_EQ(Ticks(list), std::vector<bool>(3, false));
        ASSERT_FALSE(Enabled(d.window, d.action));
        int n = 0;
        for (const auto& step : steps) {
            SCOPED_TRACE(++n);
            switch (step.action) {
            case kTick:
            case kUntick:
                ListView_SetCheckState(list, step.row, step.action == kTick);
                break;
            case kToggleAll:
                Click(d.window, IDC_CHECK_ALL);
                break;
            case kClickBox:
                ASSERT_TRUE(ClickCheckBox(list, step.row));
                break;
            }
            EXPECT_EQ(Ticks(list), step.ticks);
            EXPECT_EQ(BoxState(d.window), step.box);
            EXPECT_EQ(Enabled(d.window, d.action), step.box != BST_UNCHECKED);
        }
    }
    manage.DestroyWindow();
    repair.DestroyWindow();
}

// A change that is no tick (a selection) keeps the button as the ticks have it, also while the
// "Check All" box has the focus and its button state is therefore not zero.
TEST_F(TaskDialogsTest, ASelectionWhileCheckAllHasTheFocusEnablesNothing) {
    const int repairTask = AddTask("Repair", 2);
    AddImage(repairTask, "http://i.invalid/1", "001", ".jpg", 2, "001.jpg");
    AddImage(repairTask, "http://i.invalid/2", "002", ".jpg", 2, "002.jpg");
    AddTask("Other", 0);
    CManageDlg manage(DownloaderTasks());
    CRepairDlg repair(repairTask);
    const struct {
        const char* what;
        HWND window;
        int listId, action;
    } dialogs[] = {
        {"manage", Show(manage), IDC_MANAGE_LIST, IDC_MANAGE_DELETE},
        {"repair", Show(repair), IDC_REPAIR_LIST, IDOK},
    };
    for (const auto& d : dialogs) {
        SCOPED_TRACE(d.what);
        ASSERT_NE(d.window, nullptr);
        HWND list = GetDlgItem(d.window, d.listId);
        HWND box = GetDlgItem(d.window, IDC_CHECK_ALL);
        SetActiveWindow(d.window);
        SetFocus(box);
        ASSERT_EQ(GetFocus(), box);
        ASSERT_NE(SendMessageW(box, BM_GETSTATE, 0, 0) & BST_FOCUS, 0);
        for (int row = 0; row < 2; ++row) {
            ListView_SetItemState(list, row, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
            EXPECT_FALSE(Enabled(d.window, d.action)) << row;
        }
        ListView_SetCheckState(list, 1, TRUE);
        ListView_SetItemState(list, 0, LVIS_SELECTED, LVIS_SELECTED);
        EXPECT_TRUE(Enabled(d.window, d.action));
    }
    manage.DestroyWindow();
    repair.DestroyWindow();
}

// ---------------------------------------------------------------------------------------------
// Deleting tasks

TEST_F(TaskDialogsTest, DeletingAsksOnlyWhenAnUnfinishedTaskIsTicked) {
    const int done1 = AddTask("Done 1", 2);
    const int waiting = AddTask("Waiting", 0);
    const int done2 = AddTask("Done 2", 2);
    const int paused = AddTask("Paused", 3);
    const struct {
        const char* what;
        std::vector<bool> ticks;
        int answer;
        bool asked;
        bool ended;
        std::vector<int> deleted;
    } cases[] = {
        {"finished only", {true, false, true, false}, IDNO, false, true, {done1, done2}},
        {"a waiting one, yes", {true, true, false, false}, IDYES, true, true, {done1, waiting}},
        {"a paused one, yes", {false, false, false, true}, IDYES, true, true, {paused}},
        {"unfinished, no", {true, true, true, true}, IDNO, true, false, {}},
        {"every row, closed box", {true, true, true, true}, IDCANCEL, true, false, {}},
    };
    const std::list<TaskRecord> tasks = DownloaderTasks();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        seams.boxes.clear();
        seams.boxAnswer = c.answer;
        CManageDlg dialog(tasks);
        HWND window = Show(dialog);
        ASSERT_NE(window, nullptr);
        for (size_t i = 0; i < c.ticks.size(); ++i)
            ListView_SetCheckState(dialog.list, static_cast<int>(i), c.ticks[i]);
        Click(window, IDC_MANAGE_DELETE);
        ASSERT_EQ(seams.boxes.size(), c.asked ? 1u : 0u);
        if (c.asked) {
            EXPECT_EQ(seams.boxes[0].text, Texts().Text(L"ManageDlg", L"EnsureDelete"));
            EXPECT_EQ(seams.boxes[0].caption, Texts().Text(L"Global", L"Name"));
            EXPECT_EQ(seams.boxes[0].flags, static_cast<UINT>(MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2));
        }
        EXPECT_EQ(dialog.HasEnded(), c.ended);
        std::vector<int> deleted;
        ManageDlgCollectChecked(dialog, deleted);
        if (c.ended) {
            EXPECT_EQ(dialog.GetResult(), 1);
            EXPECT_EQ(deleted, c.deleted);
        }
        dialog.DestroyWindow();
    }
}

// After "No", unticking the unfinished task and deleting again takes only what is ticked then.
TEST_F(TaskDialogsTest, ADeletionRefusedAndPressedAgainTakesTheTicksOfThen) {
    const int done = AddTask("Done", 2);
    AddTask("Waiting", 0);
    const int other = AddTask("Other done", 2);
    CManageDlg dialog(DownloaderTasks());
    HWND window = Show(dialog);
    ASSERT_NE(window, nullptr);
    for (int i = 0; i < 3; ++i)
        ListView_SetCheckState(dialog.list, i, TRUE);
    seams.boxAnswer = IDNO;
    Click(window, IDC_MANAGE_DELETE);
    ASSERT_EQ(seams.boxes.size(), 1u);
    EXPECT_FALSE(dialog.HasEnded());

    ListView_SetCheckState(dialog.list, 1, FALSE);
    Click(window, IDC_MANAGE_DELETE);
    EXPECT_EQ(seams.boxes.size(), 1u);
    ASSERT_TRUE(dialog.HasEnded());
    EXPECT_EQ(dialog.GetResult(), 1);
    std::vector<int> deleted = {7};  // appended to, not replaced
    ManageDlgCollectChecked(dialog, deleted);
    EXPECT_EQ(deleted, (std::vector<int>{7, done, other}));
    dialog.DestroyWindow();
}

// The deletion with nothing ticked (its button is off then, but the command may still come) ends
// with 1 and no task; the other ways out end with 2 and no task, whatever is ticked.
TEST_F(TaskDialogsTest, ManageEndsWithItsCommands) {
    AddTask("Done", 2);
    AddTask("Waiting", 0);
    const struct {
        const char* what;
        UINT message;
        WPARAM wParam;
        bool tick;
        int result;
    } cases[] = {
        {"delete, nothing ticked", WM_COMMAND, IDC_MANAGE_DELETE, false, 1},
        {"IDOK", WM_COMMAND, IDOK, true, 2},
        {"IDCANCEL", WM_COMMAND, IDCANCEL, true, 2},
        {"IDCLOSE", WM_COMMAND, IDCLOSE, true, 2},
        {"WM_CLOSE", WM_CLOSE, 0, true, 2},
    };
    const std::list<TaskRecord> tasks = DownloaderTasks();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        CManageDlg dialog(tasks);
        HWND window = Show(dialog);
        ASSERT_NE(window, nullptr);
        if (c.tick)
            ListView_SetCheckState(dialog.list, 0, TRUE);
        SendMessageW(window, c.message, c.wParam, 0);
        ASSERT_TRUE(dialog.HasEnded());
        EXPECT_EQ(dialog.GetResult(), c.result);
        std::vector<int> deleted;
        ManageDlgCollectChecked(dialog, deleted);
        EXPECT_TRUE(deleted.empty());
        EXPECT_TRUE(seams.boxes.empty());
        dialog.DestroyWindow();
    }
}

// Modal over the built-in downloader's own task list, as the download view runs it.
TEST_F(TaskDialogsTest, TheManageSeamRunsModalOverTheDownloadersTasks) {
    const int first = AddTask("First", 2);
    AddTask("Second", 2);
    const int third = AddTask("Third", 2);
    std::vector<std::wstring> names;
    ModalDrive m;
    m.message = 0;
    m.inspect = [&](HWND dialog) {
        HWND list = GetDlgItem(dialog, IDC_MANAGE_LIST);
        for (int i = 0; i < ListView_GetItemCount(list); ++i)
            names.push_back(Cell(list, i, 0));
        ListView_SetCheckState(list, 0, TRUE);
        ListView_SetCheckState(list, 2, TRUE);
        PostMessageW(GetDlgItem(dialog, IDC_MANAGE_DELETE), BM_CLICK, 0, 0);
    };
    std::vector<int> deleted;
    EXPECT_EQ(RunDriven(m, [&] { return Dialogs().manage(host.hwnd(), deleted); }), 1);
    EXPECT_EQ(names, (std::vector<std::wstring>{L"First", L"Second", L"Third"}));
    EXPECT_EQ(deleted, (std::vector<int>{first, third}));
    EXPECT_TRUE(seams.boxes.empty());
}

// ---------------------------------------------------------------------------------------------
// Repairing

class RepairTest : public TaskDialogsTest {
protected:
    // Task "A" shares addresses with task "B" and holds one address twice.
    void SetUp() override {
        TaskDialogsTest::SetUp();
        a = AddTask("A", 2);
        b = AddTask("B", 2);
        AddImage(a, "http://i.invalid/same.jpg", "001", "", 3);                   // Error, ticked
        AddImage(a, "http://i.invalid/same.jpg", "002", ".jpg", 2, "002.jpg");    // OK
        AddImage(a, "http://i.invalid/3.jpg", "003", "", 3);                      // Error, unticked below
        AddImage(a, "http://i.invalid/4.jpg", "004", ".png", 2);                  // Deleted, ticked
        AddImage(b, "http://i.invalid/same.jpg", "001", "", 3);
        AddImage(b, "http://i.invalid/4.jpg", "002", ".jpg", 2, "002.jpg");
    }
    static std::string Images() {
        return Query(Db(), "SELECT parent, url, target, status, ext FROM Image2 ORDER BY rowid");
    }
    static std::string TaskStates() { return Query(Db(), "SELECT Name, Status FROM Task2 ORDER BY rowid"); }

    int a = 0, b = 0;
};

TEST_F(RepairTest, RepairResetsOnlyTheTickedImagesOfItsTask) {
    CRepairDlg dialog(a);
    HWND window = Show(dialog);
    ASSERT_NE(window, nullptr);
    ASSERT_EQ(Ticks(dialog.list), (std::vector<bool>{true, false, true, true}));
    ListView_SetCheckState(dialog.list, 2, FALSE);
    Click(window, IDOK);
    ASSERT_TRUE(dialog.HasEnded());
    EXPECT_EQ(dialog.GetResult(), 1);
    dialog.DestroyWindow();
    Drain();

    const std::string rows = "[" + std::to_string(a) + ", \"http://i.invalid/same.jpg\", \"001\", 0, \"\"], [" +
                             std::to_string(a) + ", \"http://i.invalid/same.jpg\", \"002\", 2, \".jpg\"], [" +
                             std::to_string(a) + ", \"http://i.invalid/3.jpg\", \"003\", 3, null], [" +
                             std::to_string(a) + ", \"http://i.invalid/4.jpg\", \"004\", 0, \"\"], [" +
                             std::to_string(b) + ", \"http://i.invalid/same.jpg\", \"001\", 3, null], [" +
                             std::to_string(b) + ", \"http://i.invalid/4.jpg\", \"002\", 2, \".jpg\"]";
    EXPECT_EQ(Images(), "[" + rows + "]");
    EXPECT_EQ(TaskStates(), R"([["A", 0], ["B", 2]])");

    // The downloader's resume, as the main frame runs it next, queues just the reset images.
    CDownloaderImpl downloader;
    downloader.ResumeTask(a);
    std::vector<std::wstring> queued;
    for (const QueuedImage& entry : downloader.Queue())
        queued.push_back(entry.image.target);
    EXPECT_EQ(queued, (std::vector<std::wstring>{L"001", L"004"}));
}

TEST_F(RepairTest, RepairEndingOtherwiseChangesNothing) {
    const struct {
        const char* what;
        UINT message;
        WPARAM wParam;
    } cases[] = {
        {"Cancel", WM_COMMAND, IDCANCEL},
        {"WM_CLOSE", WM_CLOSE, 0},
    };
    const std::string images = Images(), tasks = TaskStates();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        CRepairDlg dialog(a);
        HWND window = Show(dialog);
        ASSERT_NE(window, nullptr);
        SendMessageW(window, c.message, c.wParam, 0);
        ASSERT_TRUE(dialog.HasEnded());
        EXPECT_EQ(dialog.GetResult(), 2);
        dialog.DestroyWindow();
    }
    Drain();
    EXPECT_EQ(Images(), images);
    EXPECT_EQ(TaskStates(), tasks);
}

// Modal, as the main frame runs it for "repair_task": every ticked row of the task goes back.
TEST_F(RepairTest, TheRepairSeamRunsModal) {
    std::wstring caption;
    ModalDrive m;
    m.message = 0;
    m.inspect = [&](HWND dialog) {
        caption = WindowText(dialog);
        PostMessageW(GetDlgItem(dialog, IDOK), BM_CLICK, 0, 0);
    };
    EXPECT_EQ(RunDriven(m, [&] { return Dialogs().repair(host.hwnd(), a); }), 1);
    EXPECT_EQ(caption, Texts().Text(L"RepairDlg", L"CaptionText", {{L"NAME", L"A"}}));
    Drain();
    EXPECT_EQ(Query(Db(), "SELECT target, status FROM Image2 WHERE parent=? ORDER BY rowid", {std::to_string(a)}),
              R"([["001", 0], ["002", 2], ["003", 0], ["004", 0]])");
    EXPECT_EQ(Query(Db(), "SELECT COUNT(*) FROM Image2 WHERE parent=? AND status=3", {std::to_string(b)}), "[[1]]");
    EXPECT_EQ(TaskStates(), R"([["A", 0], ["B", 2]])");
}

// ---------------------------------------------------------------------------------------------
// Screenshots

TEST_F(TaskDialogsTest, Screenshot) {
    AddTask("Harbor Vol 1", 2);
    // Wine's English prefix links no CJK font into the dialog font, so a Chinese name would show
    // boxes there; each language shows names of its own.
    AddTask(LanguageTag() == "zh" ? "\xe6\xb8\xaf\xe5\x8f\xa3 \xe7\xac\xac 2 \xe5\x8d\xb7" : "Harbor Vol 2", 0);
    AddTask("Tom & Jerry 100%", 3);
    CManageDlg manage(DownloaderTasks());
    HWND window = Show(manage);
    ASSERT_NE(window, nullptr);
    ListView_SetCheckState(manage.list, 1, TRUE);
    Shoot(window, "manage");
    manage.DestroyWindow();

    const int task = AddTask("Harbor Vol 1", 2);
    AddImage(task, "http://i.invalid/1", "Harbor Vol 1 001", ".jpg", 2, "Harbor Vol 1 001.jpg");
    AddImage(task, "http://i.invalid/2", "Harbor Vol 1 002", ".png", 2);
    AddImage(task, "http://i.invalid/3", "Harbor Vol 1 003", "", 3);
    AddImage(task, "http://i.invalid/4", "Harbor Vol 1 004", ".jpg", 2, "Harbor Vol 1 004.jpg");
    CRepairDlg repair(task);
    window = Show(repair);
    ASSERT_NE(window, nullptr);
    Shoot(window, "repair");
    repair.DestroyWindow();
}

}  // namespace
