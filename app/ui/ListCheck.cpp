#include "ListCheck.h"

#include <commctrl.h>

namespace {

int CountTicked(HWND list, int rows) {
    int ticked = 0;
    for (int i = 0; i < rows; ++i) {
        if (ListView_GetCheckState(list, i)) ++ticked;
    }
    return ticked;
}

int ShowState(HWND checkAll, int rows, int ticked) {
    int state = ticked == 0 ? 0 : (ticked == rows ? 1 : 2);
    static const WPARAM kBoxState[] = {BST_UNCHECKED, BST_CHECKED, BST_INDETERMINATE};
    if (checkAll) SendMessageW(checkAll, BM_SETCHECK, kBoxState[state], 0);
    return state;
}

}  // namespace

int ListCheckAllState(HWND list, HWND checkAll) {
    int rows = ListView_GetItemCount(list);
    return ShowState(checkAll, rows, CountTicked(list, rows));
}

void ListToggleCheckAll(HWND list, HWND checkAll) {
    int rows = ListView_GetItemCount(list);
    BOOL tick = CountTicked(list, rows) != rows || rows == 0;
    for (int i = 0; i < rows; ++i) ListView_SetCheckState(list, i, tick);
    ShowState(checkAll, rows, tick ? rows : 0);
}
