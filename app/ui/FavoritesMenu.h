// The favourites drop-down of the toolbar: the favourites tree as nested popup menus. Each item's
// name and address are copied when the menu is built, so a reload of the tree while the menu is
// open frees nothing that the menu or its caller reads.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

class FavoritesMenu {
public:
    struct Item {
        std::wstring name;
        std::string url;
        bool placeholder;  // the greyed "(Empty)" of an empty folder
    };

    FavoritesMenu() = default;
    ~FavoritesMenu();
    FavoritesMenu(const FavoritesMenu&) = delete;
    FavoritesMenu& operator=(const FavoritesMenu&) = delete;

    bool Build();
    // The chosen favourite, or null: nothing chosen, a placeholder, or a command below the
    // favourites, which is posted to the main window.
    const Item* Track(int x, int y, HWND owner);

    HMENU menu = nullptr;
    std::vector<Item> items;  // index i belongs to command ID_FAVORITE_FIRST + i
};

// A menu point that lies on no monitor gets its x moved into the nearest monitor's work area.
POINT MenuPointOnMonitor(int x, int y);
