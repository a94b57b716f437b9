// Building and tracking the favourites drop-down.
#include "FavoritesMenu.h"

#include "AppContext.h"
#include "FavoritesStore.h"
#include "JsonUtil.h"
#include "LanguageTranslator.h"
#include "MsgCenter.h"
#include "Resource.h"
#include "wtl/Seams.h"

#include <Tessara.h>
#include <common/CodePage.h>
#include <common/Log.h>

namespace {

// Command ids are 16 bits; deeper menus than this are unusable anyway and guard the stack.
const size_t kMaxItems = 0xFFFF - ID_FAVORITE_FIRST;
const int kMaxDepth = 32;

std::wstring Text(const wchar_t* key) {
    AppContext* ctx = GetAppContext();
    return ctx ? ctx->Translator().Text(L"Favorites", key) : std::wstring(key);
}

// A name is shown as it is: '&' would otherwise underline the next letter.
std::wstring MenuText(std::wstring name) {
    for (size_t at = name.find(L'&'); at != std::wstring::npos; at = name.find(L'&', at + 2))
        name.insert(at, 1, L'&');
    return name;
}

JsonValue* Members(JsonValue* node) {
    JsonValue* members = nullptr;
    if (getValueType(node) == JSON_DICTIONARY)
        lookupDictionaryMember(node, "c", &members);
    return getValueType(members) == JSON_ARRAY ? members : nullptr;
}

class Filler {
public:
    explicit Filler(std::vector<FavoritesMenu::Item>& items) : items_(items) {}

    void Fill(HMENU menu, JsonValue* members, int depth) {
        unsigned count = getValueType(members) == JSON_ARRAY ? getArraySize(members) : 0;
        bool any = false;
        for (unsigned i = 0; i < count; ++i) {
            JsonValue* member = nullptr;
            if (getArrayMember(members, i, &member) && getValueType(member) == JSON_DICTIONARY)
                any = AddMember(menu, member, depth) || any;
        }
        if (!any)
            AddCommand(menu, {Text(L"Empty"), std::string(), true}, MF_GRAYED | MF_DISABLED);
    }

private:
    bool AddMember(HMENU menu, JsonValue* member, int depth) {
        std::wstring name = ToWide(JsonStringMember(member, "n"), CP_UTF8);
        JsonValue* members = Members(member);
        if (!members)
            return AddCommand(menu, {name, JsonStringMember(member, "u"), false}, 0);
        if (depth >= kMaxDepth)
            return false;
        HMENU sub = CreatePopupMenu();
        if (!sub)
            return false;
        Fill(sub, members, depth + 1);
        if (!AppendMenuW(menu, MF_POPUP, reinterpret_cast<UINT_PTR>(sub), MenuText(name).c_str())) {
            DestroyMenu(sub);
            return false;
        }
        return true;
    }

    bool AddCommand(HMENU menu, FavoritesMenu::Item item, UINT flags) {
        if (items_.size() >= kMaxItems)
            return false;
        UINT id = ID_FAVORITE_FIRST + static_cast<UINT>(items_.size());
        if (!AppendMenuW(menu, MF_STRING | flags, id, MenuText(item.name).c_str()))
            return false;
        items_.push_back(std::move(item));
        return true;
    }

    std::vector<FavoritesMenu::Item>& items_;
};

HMENU BuildMoreMenu(bool treeEmpty) {
    HMENU more = CreatePopupMenu();
    if (!more)
        return nullptr;
    UINT folderFlags = treeEmpty ? MF_GRAYED | MF_DISABLED : 0;
    AppendMenuW(more, MF_STRING | folderFlags, ID_FAV_SORT, Text(L"41003").c_str());
    AppendMenuW(more, MF_STRING | folderFlags, ID_FAV_MANAGE, Text(L"41001").c_str());
    AppendMenuW(more, MF_STRING, ID_FAV_FOLDER, Text(L"41004").c_str());
    return more;
}

}  // namespace

FavoritesMenu::~FavoritesMenu() {
    if (menu)
        DestroyMenu(menu);
}

bool FavoritesMenu::Build() {
    if (menu)
        DestroyMenu(menu);
    items.clear();
    menu = CreatePopupMenu();
    AppContext* ctx = GetAppContext();
    if (!menu || !ctx)
        return false;
    FavoritesStore& store = ctx->Favorites();
    UINT updateFlags = store.index.empty() ? MF_GRAYED | MF_DISABLED : 0;
    AppendMenuW(menu, MF_STRING | updateFlags, ID_FAV_CHECK_UPDATE, Text(L"41000").c_str());
    HMENU more = BuildMoreMenu(getValueType(store.root) != JSON_ARRAY || getArraySize(store.root) == 0);
    if (more && !AppendMenuW(menu, MF_POPUP, reinterpret_cast<UINT_PTR>(more), Text(L"More").c_str()))
        DestroyMenu(more);
    AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
    Filler(items).Fill(menu, store.root, 0);
    return true;
}

const FavoritesMenu::Item* FavoritesMenu::Track(int x, int y, HWND owner) {
    if (!menu)
        return nullptr;
    POINT pt = MenuPointOnMonitor(x, y);
    UINT command = WTL::TrackPopup(menu, TPM_RETURNCMD | TPM_VERTICAL, pt.x, pt.y, owner);
    if (command == 0)
        return nullptr;
    if (command < ID_FAVORITE_FIRST) {
        AppContext* ctx = GetAppContext();
        HWND frame = ctx ? ctx->Messages().GetObserverWindow(0) : nullptr;
        if (!frame || !PostMessageW(frame, WM_COMMAND, command, 0))
            Brimholt::Log << "Favourites command " << command << " not delivered: " << GetLastError() << std::endl;
        return nullptr;
    }
    size_t index = command - ID_FAVORITE_FIRST;
    if (index >= items.size() || items[index].placeholder)
        return nullptr;
    return &items[index];
}

POINT MenuPointOnMonitor(int x, int y) {
    POINT pt = {x, y};
    if (MonitorFromPoint(pt, MONITOR_DEFAULTTONULL))
        return pt;
    MONITORINFO info = {};
    info.cbSize = sizeof info;
    if (GetMonitorInfoW(MonitorFromPoint(pt, MONITOR_DEFAULTTONEAREST), &info)) {
        if (pt.x < info.rcWork.left)
            pt.x = info.rcWork.left;
        else if (pt.x >= info.rcWork.right)
            pt.x = info.rcWork.right - 1;
    }
    return pt;
}
