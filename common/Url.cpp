// Address parsing, proxy text parsing and the service's addresses; no system calls.
#include "Url.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "StringUtil.h"

namespace {

const std::string kEmpty;

// Decimal port text as strtol reads it (leading blanks and a sign allowed); -1 for no number or a
// value that is no port.
int ReadPort(const std::string& text)
{
    const char* begin = text.c_str();
    char* end = nullptr;
    errno = 0;
    long value = std::strtol(begin, &end, 10);
    if (end == begin || errno == ERANGE || value < 0 || value > 65535)
        return -1;
    return static_cast<int>(value);
}

int DefaultPort(const std::string& scheme)
{
    if (scheme == "http")
        return 80;
    if (scheme == "https")
        return 443;
    if (scheme == "ftp")
        return 21;
    return 0;
}

void SplitAuthority(UrlRecord& url, const std::string& authority)
{
    std::string hostPart = authority;
    size_t at = authority.find('@');
    if (at != std::string::npos) {
        std::string userInfo = authority.substr(0, at);
        size_t colon = userInfo.find(':');
        url.user = userInfo.substr(0, colon);
        if (colon != std::string::npos)
            url.password = userInfo.substr(colon + 1);
        hostPart = authority.substr(at + 1);
    }
    size_t colon = hostPart.find(':');
    url.host = hostPart.substr(0, colon);
    if (colon != std::string::npos)
        url.port = ReadPort(hostPart.substr(colon + 1));
    if (url.port == -1)
        url.port = DefaultPort(url.scheme);
}

}  // namespace

const std::string& UrlMap::Get(const std::string& key) const
{
    auto it = fields_.find(key);
    return it == fields_.end() ? kEmpty : it->second;
}

bool SplitUrl(UrlRecord& url, const char* text)
{
    url = UrlRecord();
    if (!text)
        return false;
    std::string s = text;
    size_t colon = s.find(':');
    if (colon == std::string::npos)
        return false;
    url.scheme = s.substr(0, colon);
    std::string rest = s.substr(colon + 1);

    if (rest.compare(0, 2, "//") == 0) {
        // The authority also ends at '?' or '#': "http://h?q" names the host h.
        size_t end = rest.find_first_of("/?#", 2);
        std::string authority = rest.substr(2, end == std::string::npos ? std::string::npos : end - 2);
        rest = end == std::string::npos ? std::string() : rest.substr(end);
        if (!authority.empty())
            SplitAuthority(url, authority);
    }

    // A '#' starts the fragment even when a '?' follows it.
    size_t hash = rest.find('#');
    if (hash != std::string::npos) {
        url.fragment = rest.substr(hash + 1);
        rest.erase(hash);
    }
    size_t question = rest.find('?');
    if (question != std::string::npos) {
        url.query = rest.substr(question + 1);
        rest.erase(question);
    }
    url.path = rest.empty() ? "/" : rest;
    url.target = url.query.empty() ? url.path : url.path + "?" + url.query;
    return true;
}

bool ParseUrl(UrlMap& map, const char* text)
{
    map.Clear();
    if (!text)
        return false;
    std::string s = text;
    size_t sep = s.find("://");
    if (sep == std::string::npos)
        return false;
    map.Set("scheme", s.substr(0, sep));

    std::string rest = s.substr(sep + 3);
    size_t end = rest.find_first_of("/?#");
    std::string authority = rest.substr(0, end);
    std::string path = end == std::string::npos ? std::string() : rest.substr(end);
    if (path.empty() || path[0] != '/')
        path.insert(0, 1, '/');
    map.Set("path", path);
    size_t question = path.find('?');
    if (path.size() > 1 && question != std::string::npos && question + 1 < path.size())
        map.Set("query", path.substr(question + 1));

    std::string hostPart = authority;
    size_t at = authority.rfind('@');
    if (at != std::string::npos) {
        std::string userInfo = authority.substr(0, at);
        hostPart = authority.substr(at + 1);
        if (!userInfo.empty()) {
            size_t colon = userInfo.find(':');
            map.Set("user", userInfo.substr(0, colon));
            if (colon != std::string::npos && colon + 1 < userInfo.size())
                map.Set("password", userInfo.substr(colon + 1));
        }
    }
    size_t colon = hostPart.find(':');
    map.Set("host", hostPart.substr(0, colon));
    if (colon != std::string::npos && colon + 1 < hostPart.size())
        map.Set("port", hostPart.substr(colon + 1));
    return true;
}

bool ParseProxyText(ProxyMap& map, const std::string& text)
{
    for (const std::string& piece : SplitTrimmed(text, ';')) {
        size_t eq = piece.find('=');
        if (eq == std::string::npos) {
            map[std::string()] = piece;
            continue;
        }
        std::string scheme = piece.substr(0, eq);
        std::string proxy = piece.substr(eq + 1);
        TrimString(scheme);
        TrimString(proxy);
        if (!scheme.empty() && !proxy.empty())
            map[scheme] = proxy;
    }
    return !map.empty();
}

std::string ProxyForScheme(const ProxyMap& map, const std::string& scheme)
{
    auto it = map.find(scheme);
    if (it == map.end())
        it = map.find(std::string());
    return it == map.end() ? std::string() : it->second;
}

std::string MakeApiUrl(const char* path)
{
    std::string url = ServiceRoot();
    if (path)
        url.append("/v2/").append(path);
    return url;
}

std::string RedirectLinkUrl(const char* key)
{
    std::string url = std::string(ServiceRoot()) + "/redirect/?t=";
    if (key)
        url += key;
    return url;
}
