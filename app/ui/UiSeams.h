// Where the tab pages and the dialogs that commands open are made, so the frame and the tab view
// never depend on them directly. Tests may replace any member.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

class CParseContext;
class VxView;

struct ViewSeams {
    // Each creates its view as a child of the tab view (the window exists on return), or null.
    std::function<VxView*(HWND tabView)> download;
    std::function<VxView*(HWND tabView, const std::wstring& url, const std::string& cookies,
                          std::shared_ptr<CParseContext> context)>
        manga;
    std::function<VxView*(HWND tabView, const std::wstring& keyword, const std::string& json, int controlId)> search;
    // Starts the recommendations page on its own thread; the page adds its tab itself.
    std::function<bool(HWND tabView, const RECT& area, int controlId)> recommend;
    // The advert panel of the frame: its window, or null when there is none.
    std::function<HWND(HWND frame, const RECT& area, int controlId, const std::wstring& url)> advert;
    // The start-up advert in a pop-up browser of its own.
    std::function<void(const std::wstring& url)> popupAdvert;
};

// Modal dialogs opened by commands and bus messages; each returns the dialog's result.
struct DialogSeams {
    std::function<int(HWND owner)> about;
    std::function<int(HWND owner)> settings;
    std::function<int(HWND owner)> checkUpdate;
    // True when the favourites changed.
    std::function<bool(HWND owner, HIMAGELIST images)> manageFavorites;
    // Add mode (empty address: edit mode for address) over a title, category and address.
    std::function<int(HWND owner, HIMAGELIST images, const std::wstring& title, const std::wstring& category,
                      const std::string& url, bool edit)>
        favoriteItem;
    std::function<int(HWND owner, int taskId)> repair;
    // The task management dialog: 1 with the rowids of the tasks ticked for deletion appended.
    std::function<int(HWND owner, std::vector<int>& checked)> manage;
    std::function<int(HWND owner, int taskId)> zipProgress;
    // The example dialog of a parse failure: 1 when the user wants the example opened.
    std::function<int(HWND owner, const std::wstring& example)> example;
};

ViewSeams& Views();
DialogSeams& Dialogs();
// Back to the real pages and dialogs.
void ResetUiSeams();
