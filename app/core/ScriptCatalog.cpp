// Loading and lookups of the site catalogue. It is loaded once at start-up and only read afterwards,
// so lookups take no lock.
#include "ScriptCatalog.h"

#include "AppContext.h"
#include "DebugSettings.h"
#include "JsonUtil.h"

#include <Tessara.h>
#include <common/CodePage.h>
#include <common/Hex.h>

#include <windows.h>

#include <atomic>

namespace {

std::atomic<int> g_entryPosition{-1};

std::string AsciiLower(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

}  // namespace

ScriptCatalog::~ScriptCatalog() {
    broadcasts = nullptr;
    if (root)
        deleteValue(&root);
}

bool ScriptCatalog::Load(const std::shared_ptr<std::string>& text) {
    {
        AppContextRef context;
        if (context && text) {
            const DebugSettings& debug = context->Debug();
            if (debug.SaveCloud && !debug.path.empty())
                debug.Post(new AsyncWriteFile(L"config.txt", text));
        }
    }
    JsonTree parsed(text ? ParseJsonText(*text) : nullptr);
    if (getValueType(parsed.get()) != 5)
        return false;
    if (root)
        deleteValue(&root);
    root = parsed.release();
    broadcasts = nullptr;
    JsonGetArrayValue(root, "b", broadcasts);
    return true;
}

std::string CatalogueKey(const std::string& host) {
    return ToNarrow(Md5OfText(host), CP_UTF8);
}

// The catalogue is keyed by lower-case names; a host typed in capitals is the same site.
bool ScriptCatalog::FindSite(const std::string& host, SiteInfo& site) const {
    JsonValue* versions = nullptr;
    if (!lookupDictionaryMember(root, "v", &versions) || getValueType(versions) != 5)
        return false;
    std::string name = AsciiLower(host);
    for (;;) {
        std::string key = CatalogueKey(name);
        int version = 0;
        if (JsonGetNumberMember(versions, key.c_str(), version)) {
            site.version = version;
            site.key = key;
            site.name = name;
            return true;
        }
        size_t dot = name.find('.');
        if (dot == std::string::npos)
            return false;
        name.erase(0, dot + 1);
    }
}

bool ScriptCatalog::GetAdUrls(std::string& advert, std::string& startPage) const {
    JsonGetStringMember(root, "e", advert);
    return JsonGetStringMember(root, "p", startPage);
}

bool ScriptCatalog::GetEntry(std::wstring& text, std::wstring& link) const {
    JsonValue* entry = nullptr;
    int position = g_entryPosition.load();
    if (position < 0 || !JsonGetArrayMember(broadcasts, position, entry))
        return false;
    std::string name, url;
    JsonGetStringMember(entry, "n", name);
    JsonGetStringMember(entry, "u", url);
    text = ToWide(name, CP_UTF8);
    link = ToWide(url, CP_UTF8);
    return true;
}

bool ScriptCatalog::IsSearchDisabled() const {
    bool disabled = false;
    JsonGetBooleanMember(root, "sd", disabled);
    return disabled;
}

int ScriptCatalog::BroadcastCount() const {
    return static_cast<int>(getArraySize(broadcasts));
}

int ScriptCatalog::EntryPosition() {
    return g_entryPosition.load();
}

void ScriptCatalog::SetEntryPosition(int position) {
    g_entryPosition.store(position);
}

bool HasScriptForSite(const std::string& host) {
    AppContextRef context;
    if (!context)
        return false;
    const DebugSettings& debug = context->Debug();
    if (!debug.GetScriptOverride(host.c_str(), nullptr).empty() || !debug.GetPackagePath(host.c_str()).empty())
        return true;
    SiteInfo site;
    return context->Catalog().FindSite(host, site);
}
