// The site catalogue: the service's configuration answer (which hosts have a script and in which
// version, the broadcasts of the status bar, the advert and start-up pages, the search switch).
#pragma once

#include <memory>
#include <string>

struct JsonValue;

// The result of a catalogue lookup.
struct SiteInfo {
    int version = 0;
    std::string key;   // the catalogue key that matched
    std::string name;  // the host suffix that matched
};

class ScriptCatalog {
public:
    ScriptCatalog() = default;
    ~ScriptCatalog();
    ScriptCatalog(const ScriptCatalog&) = delete;
    ScriptCatalog& operator=(const ScriptCatalog&) = delete;

    bool Load(const std::shared_ptr<std::string>& text);
    bool FindSite(const std::string& host, SiteInfo& site) const;
    bool GetAdUrls(std::string& advert, std::string& startPage) const;
    bool GetEntry(std::wstring& text, std::wstring& link) const;
    bool IsSearchDisabled() const;

    int BroadcastCount() const;
    // The status bar's position in the broadcasts, shared by the whole process; -1 before the first.
    static int EntryPosition();
    static void SetEntryPosition(int position);

    JsonValue* root = nullptr;        // owned
    JsonValue* broadcasts = nullptr;  // the root's "b", borrowed
};

// The catalogue key of a host name or suffix: 32 lower-case hexadecimal digits of its MD5.
std::string CatalogueKey(const std::string& host);

// Whether an address of this host is a supported comic page: a developer override script, a
// local package, or a catalogue entry.
bool HasScriptForSite(const std::string& host);
