// The update check: no favourites ends at once with its notice; a favourite of an unknown site
// gets an error row that keeps the dialog open, under the favourite's own name.
#include "ServiceTestSupport.h"
#include "WtlTestSupport.h"
#include "UiTestSupport.h"

#include <AppContext.h>
#include <CheckUpdateDlg.h>
#include <FavoritesStore.h>
#include <JsonUtil.h>
#include <Messages.h>
#include <wtl/AxHost.h>
#include <wtl/Module.h>

#include <gtest/gtest.h>

#include <commctrl.h>

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
DWORD g_deadline = 0;

void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD) {
    if (!g_dialog || !g_dialog->m_hWnd || g_dialog->HasEnded())
        return;
    if (GetTickCount() > g_deadline) {
        g_dialog->EndDialog(-2);
        return;
    }
    if (!g_dialog->Checking() && g_onDone) {
        auto done = g_onDone;
        g_onDone = nullptr;
        done(*g_dialog);
    }
}

INT_PTR RunDialog(CCheckUpdateDlg& dialog, std::function<void(CCheckUpdateDlg&)> onDone) {
    g_dialog = &dialog;
    g_onDone = std::move(onDone);
    g_deadline = GetTickCount() + 30000;
    UINT_PTR timer = SetTimer(nullptr, 0, 50, Tick);
    INT_PTR result = dialog.DoModal(nullptr);
    KillTimer(nullptr, timer);
    g_dialog = nullptr;
    return result;
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

}  // namespace
