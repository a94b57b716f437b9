// Web addresses: two parsers, the Internet Explorer proxy per scheme, and the service's own addresses.
#pragma once

#include <map>
#include <string>

#include "UrlParts.h"

struct UrlRecord : UrlParts {
    std::string target;  // path, plus "?" and the query when there is one
};

// Keys "scheme", "path", "query", "user", "password", "host", "port", each present only when set.
class UrlMap {
public:
    void Clear() { fields_.clear(); }
    void Set(const std::string& key, const std::string& value) { fields_[key] = value; }
    bool Has(const std::string& key) const { return fields_.count(key) != 0; }
    const std::string& Get(const std::string& key) const;  // the empty text when absent
    size_t Size() const { return fields_.size(); }

private:
    std::map<std::string, std::string> fields_;
};

// Scheme name to proxy ("host:port"). The key "" holds a proxy given without a scheme: it serves
// every scheme that has no entry of its own.
using ProxyMap = std::map<std::string, std::string>;

bool SplitUrl(UrlRecord& url, const char* text);
bool ParseUrl(UrlMap& map, const char* text);

// Fills the map from a proxy text as the system settings hold it ("http=p1:80;https=p2:443" or
// "p:8080"); true when the map is not empty.
bool ParseProxyText(ProxyMap& map, const std::string& text);
// The proxy for a scheme: its own entry, else the one for every scheme, else the empty text.
std::string ProxyForScheme(const ProxyMap& map, const std::string& scheme);

bool LoadIEProxyMap(ProxyMap& map);
std::string GetIEProxyForUrl(const char* url);

// Scheme and host of the maker's service, without a trailing '/'.
const char* ServiceRoot();
// The root + "/v2/" + path; the root alone for a null path.
std::string MakeApiUrl(const char* path);
std::string RedirectLinkUrl(const char* key);
void OpenRedirectLink(const char* key);

// The shell call behind OpenRedirectLink ("open" verb, ANSI). Tests install their own; null
// restores the shell. Returns the one that was installed.
using ShellOpener = void (*)(const char* verb, const char* target);
ShellOpener SetShellOpener(ShellOpener opener);
