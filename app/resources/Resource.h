// Resource ids of the program, shared by its resource scripts and its code.
#pragma once

#include "CrashDlg.h"  // IDR_MAINFRAME, the crash dialog

#define IDB_AVATAR 101
#define IDB_TOOLBAR 102
#define IDB_SMALL 103
#define IDB_TABS 104
#define IDB_LIST 105
#define IDR_TABMENU 106

#define IDD_INFOBAR 120
#define IDC_INFO_TEXT 1200
#define IDD_INPUT 127
#define IDC_INPUT_EDIT 1320
#define IDD_ZIPPROGRESS 131
#define IDC_ZIP_PROGRESS 1350

// The main frame's children and commands.
#define IDC_AVATAR 1000
#define IDC_INPUT_BOX 1002
#define IDC_GO 1003
#define IDC_ADVERT 1004
#define IDC_TAB_VIEW 1005
#define IDC_BROADCAST 1006
#define IDC_PANEL 5000
#define IDC_TOOLBAR 59392
#define IDC_STATUS_BAR 59393

#define ID_ABOUT 40001
#define ID_FAVORITES 40002
#define ID_SETTINGS 40003
#define ID_HOT_MANGAS 40005
#define ID_FAV_CHECK_UPDATE 41000
#define ID_FAV_MANAGE 41001
#define ID_FAV_SORT 41003
#define ID_FAV_FOLDER 41004
#define ID_TAB_CLOSE_ALL 41100
#define ID_TAB_CLOSE 41101
#define ID_TAB_CLOSE_OTHERS 41102
#define ID_TRAY_RESTORE 41200
// Favourite items of the favourites menu are numbered from here.
#define ID_FAVORITE_FIRST 50000

// About (121), example address (128) and tip (134) dialogs.
#define IDD_ABOUT 121
#define IDC_ABOUT_NAME 1210
#define IDC_ABOUT_MAKER 1211
#define IDC_ABOUT_LIBRARIES 1212
#define IDC_ABOUT_CREDITS 1213
#define IDC_ABOUT_LINK 1214
#define IDD_EXAMPLE 128
#define IDC_EXAMPLE_TEXT 1330
#define IDC_EXAMPLE_LINK 1331
#define IDD_TIP 134
#define IDC_TIP_TEXT 1390
#define IDC_TIP_NO_MORE 1391

// Grab (122) and grab-failed (132) dialogs.
#define IDD_GRAB 122
#define IDC_GRAB_WHAT 1220
#define IDC_GRAB_LABEL 1221
#define IDC_GRAB_PROGRESS 1222
#define IDC_GRAB_ADDRESS 1223
#define IDD_GRABFAILED 132
#define IDC_GRABFAILED_INFO 1360

// Task repair (125) and task management (126) dialogs.
#define IDD_REPAIR 125
#define IDD_MANAGE 126
#define IDC_CHECK_ALL 1112
#define IDC_REPAIR_LIST 1300
#define IDC_MANAGE_LIST 1310
#define IDC_MANAGE_DELETE 1311
