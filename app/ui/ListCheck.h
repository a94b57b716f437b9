// Tick routines for a report list with check boxes paired with a three-state "Check All" box.
#pragma once

#include <windows.h>

// Sets the box to none/all/some ticked and returns 0, 1 or 2 to match.
int ListCheckAllState(HWND list, HWND checkAll);
// Ticks every row unless all are ticked, then unticks them all; the box follows.
void ListToggleCheckAll(HWND list, HWND checkAll);
