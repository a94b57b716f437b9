// Helpers of the bus messages that need more than their fields.
#include "Messages.h"

#include "AppContext.h"

#include <Tessara.h>
#include <wtl/Seams.h>

size_t msg_grab::AddItem(std::shared_ptr<CParseContext> context, std::wstring comicName) {
    items.push_back(GrabItem{std::move(context), std::move(comicName), {}});
    return items.size() - 1;
}

// Runs inside a window procedure, so a bad index is answered, not thrown.
bool msg_grab::AddVolume(size_t item, const VolumeItem& volume) {
    if (item >= items.size())
        return false;
    std::vector<VolumeItem>& volumes = items[item].volumes;
    for (const VolumeItem& known : volumes) {
        if (known.url == volume.url)
            return false;
    }
    volumes.push_back(volume);
    return true;
}

int msg_message_box::Show(HWND owner) {
    if (caption.empty()) {
        AppContextRef ctx;
        if (ctx)
            caption = ctx->Translator().Text(L"Global", L"Name");
    }
    result = WTL::ShowMessageBox(owner, text.c_str(), caption.c_str(), flags);
    return result;
}

void msg_message_box::SetText(const std::wstring& section, const std::wstring& key, const TextVars& vars) {
    AppContextRef ctx;
    text = ctx ? ctx->Translator().Text(section, key, vars) : key;
}

msg_favorites_loaded::~msg_favorites_loaded() {
    if (tree)
        deleteValue(&tree);
}

msg_update_cover::msg_update_cover(const std::wstring& cachedPath)
    : VxMsg("update_cover"), cover(cachedPath.empty() ? L"noimg.gif" : L"file://" + cachedPath) {}

msg_set_info::msg_set_info(InfosKey key) : VxMsg("set_info") {
    AppContextRef ctx;
    text = ctx ? ctx->Translator().Text(L"Infos", key.key) : key.key;
}
