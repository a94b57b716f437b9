// Resource ids of the window-layer tests.
#pragma once

#define IDD_CONTROLS 100
#define IDD_SMALL 101
#define IDD_PAGE_ONE 200
#define IDD_PAGE_TWO 201

#define IDC_NAME 1001
#define IDC_TRAY 1002
#define IDC_RADIO_A 1003
#define IDC_RADIO_B 1004
#define IDC_RADIO_C 1005
#define IDC_LANGUAGE 1006
#define IDC_LIST 1007
#define IDC_CATEGORY 1008
#define IDC_GROUP 1009
#define IDC_LABEL 1010
#define IDC_LINK 1011
#define IDC_PROGRESS 1012
#define IDC_COUNT 1013
#define IDC_CHECK_ALL 1112

#define IDC_PAGE_ONE_EDIT 2001
#define IDC_PAGE_ONE_CHECK 2002
#define IDC_PAGE_TWO_EDIT 2101
