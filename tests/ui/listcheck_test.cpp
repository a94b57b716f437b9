// The tick routines on a real list view with check boxes and a real three-state button.
#include <ListCheck.h>

#include <commctrl.h>
#include <gtest/gtest.h>

#include <vector>

namespace {

class ListCheckTest : public ::testing::Test {
protected:
    void SetUp() override {
        INITCOMMONCONTROLSEX icc = {sizeof(icc), ICC_LISTVIEW_CLASSES};
        InitCommonControlsEx(&icc);
        owner_ = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 300, 300, nullptr, nullptr, nullptr, nullptr);
        list_ = CreateWindowExW(0, WC_LISTVIEWW, L"", WS_CHILD | LVS_REPORT, 0, 0, 200, 200, owner_, nullptr,
                                nullptr, nullptr);
        box_ = CreateWindowExW(0, L"BUTTON", L"Check All", WS_CHILD | BS_AUTO3STATE, 0, 210, 100, 20, owner_,
                               reinterpret_cast<HMENU>(1112), nullptr, nullptr);
        ASSERT_TRUE(owner_ && list_ && box_);
        ListView_SetExtendedListViewStyle(list_, LVS_EX_CHECKBOXES | LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT);
        LVCOLUMNW col = {};
        col.mask = LVCF_WIDTH;
        col.cx = 150;
        ListView_InsertColumn(list_, 0, &col);
    }
    void TearDown() override { DestroyWindow(owner_); }

    void Fill(const std::vector<bool>& ticks) {
        ListView_DeleteAllItems(list_);
        for (size_t i = 0; i < ticks.size(); ++i) {
            LVITEMW item = {};
            item.mask = LVIF_TEXT;
            item.iItem = static_cast<int>(i);
            item.pszText = const_cast<wchar_t*>(L"row");
            ListView_InsertItem(list_, &item);
            ListView_SetCheckState(list_, static_cast<int>(i), ticks[i] ? TRUE : FALSE);
        }
    }
    std::vector<bool> Ticks() {
        std::vector<bool> out;
        for (int i = 0; i < ListView_GetItemCount(list_); ++i) out.push_back(ListView_GetCheckState(list_, i) != 0);
        return out;
    }
    LRESULT Box() { return SendMessageW(box_, BM_GETCHECK, 0, 0); }

    HWND owner_ = nullptr, list_ = nullptr, box_ = nullptr;
};

TEST_F(ListCheckTest, StateFollowsTheTickedRows) {
    struct Case {
        std::vector<bool> ticks;
        int state;
        LRESULT box;
    } cases[] = {
        {{}, 0, BST_UNCHECKED},
        {{false, false}, 0, BST_UNCHECKED},
        {{true, false, false}, 2, BST_INDETERMINATE},
        {{true, true, true}, 1, BST_CHECKED},
        {{true}, 1, BST_CHECKED},
    };
    for (size_t i = 0; i < sizeof(cases) / sizeof(cases[0]); ++i) {
        SCOPED_TRACE(i);
        SendMessageW(box_, BM_SETCHECK, BST_INDETERMINATE, 0);
        Fill(cases[i].ticks);
        EXPECT_EQ(cases[i].state, ListCheckAllState(list_, box_));
        EXPECT_EQ(cases[i].box, Box());
    }
}

TEST_F(ListCheckTest, ToggleTicksAllUnlessAllAreTicked) {
    struct Case {
        std::vector<bool> before, after;
        LRESULT box;
    } cases[] = {
        {{false, false}, {true, true}, BST_CHECKED},
        {{true, false, true}, {true, true, true}, BST_CHECKED},
        {{true, true}, {false, false}, BST_UNCHECKED},
        {{}, {}, BST_UNCHECKED},
    };
    for (size_t i = 0; i < sizeof(cases) / sizeof(cases[0]); ++i) {
        SCOPED_TRACE(i);
        Fill(cases[i].before);
        ListToggleCheckAll(list_, box_);
        EXPECT_EQ(cases[i].after, Ticks());
        EXPECT_EQ(cases[i].box, Box());
    }
}

}  // namespace
