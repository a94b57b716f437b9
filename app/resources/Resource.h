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
// Favourite item (123), favourites manager (129) and category picker (130) dialogs.
#define IDD_FAVITEM 123
#define IDC_FAV_NAME_LABEL 1210
#define IDC_FAV_NAME 1230
#define IDC_FAV_CATEGORY_LABEL 1231
#define IDC_FAV_CATEGORY 1232
#define IDC_FAV_NEW_CATEGORY 1233
#define IDC_FAV_DELETE 1234
#define IDD_FAVMANAGE 129
#define IDC_FAV_RENAME_CATEGORY 1340
#define IDC_FAV_DELETE_CATEGORY 1341
#define IDC_FAV_LIST 1342
#define IDC_FAV_CHECK_ALL 1112
#define IDC_FAV_MOVE 1343
#define IDC_FAV_DELETE_ITEMS 1344
#define IDD_SELECTFOLDER 130

// The settings sheet's pages: general (200), downloader (201) and proxy (202).
#define IDD_GENERAL_PAGE 200
#define IDD_DOWNLOADER_PAGE 201
#define IDD_PROXY_PAGE 202
#define IDC_DL_OPTIONS 1240
#define IDC_DL_SAVE_LABEL 1241
#define IDC_DL_FOLDER 1242
#define IDC_DL_BROWSE 1243
#define IDC_DL_CLASSIFY 1244
#define IDC_DL_PER_VOLUME 1245
#define IDC_DL_COMIC_VOLUME 1246
#define IDC_DL_PER_COMIC 1247
#define IDC_GEN_GROUP 1248
#define IDC_GEN_MIN_TRAY 1250
#define IDC_DL_AUTO_ZIP 1251
#define IDC_GEN_LANGUAGE 1252
#define IDC_GEN_NOTE 1253
#define IDC_DL_SELECT_GROUP 1254
#define IDC_DL_DOWNLOADER 1255
#define IDC_DL_MORE_INFO 1256
#define IDC_GEN_SHOW_HOT 1257
#define IDC_PROXY_GROUP 1420
#define IDC_PROXY_ADDRESS 1421
#define IDC_PROXY_EXAMPLE 1422
#define IDC_PROXY_SITES_GROUP 1423
#define IDC_PROXY_SITES 1424
#define IDC_PROXY_HTTP 1425
#define IDC_PROXY_SOCKS4 1426
#define IDC_PROXY_SOCKS5 1427

// The download view.
#define IDD_DOWNLOADVIEW 110
#define IDC_DV_HTML 1100
#define IDC_DV_CLEAR 1101
#define IDC_DV_START 1102
#define IDC_DV_MANAGE 1103
// The comic details view (111): the page, the volume list and its buttons.
#define IDD_MANGAVIEW 111
#define IDC_MANGA_PAGE 1110
#define IDC_MANGA_VOLUMES 1111
#define IDC_MANGA_REVERSE 1113
#define IDC_MANGA_DOWNLOAD 1114
// The check for new volumes of favourites (133).
#define IDD_CHECKUPDATE 133
#define IDC_CU_HTML 1370
#define IDC_CU_AUTOSCROLL 1371
#define IDC_CU_CHECKALL 1372
#define IDC_CU_UNCHECKALL 1373
#define IDC_CU_SHOWALL 1374
