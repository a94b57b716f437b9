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

// The user information ends at the first '@'; a port that does not read takes the scheme's.
void SplitAuthority(UrlRecord& url, const std::string& authority)
{
    std::string hostPart = authority;
    size_t at = authority.find('@');
    if (at != std::string::npos) {
        SplitUserInfo(authority.substr(0, at), url);
        hostPart = authority.substr(at + 1);
    }
    std::string portText;
    if (SplitHostPort(hostPart, url, portText))
        url.port = ReadPort(portText);
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
    std::string authority;
    if (!CutUrl(text, url, authority))
        return false;
    if (!authority.empty())
        SplitAuthority(url, authority);
    url.target = PathAndQuery(url);
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
