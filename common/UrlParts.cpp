// Address cutting shared by the program and the HTTP client; portable, no system calls.
#include "UrlParts.h"

bool CutUrl(const char* text, UrlParts& parts, std::string& authority)
{
    parts = UrlParts();
    authority.clear();
    if (!text)
        return false;
    const std::string s(text);
    size_t colon = s.find(':');
    if (colon == std::string::npos)
        return false;
    parts.scheme = s.substr(0, colon);

    size_t restBegin = colon + 1;
    if (s.compare(colon + 1, 2, "//") == 0) {
        // The authority ends at '?' or '#' too, so "h?u=a@evil" still names the host h.
        size_t begin = colon + 3;
        size_t end = s.find_first_of("/?#", begin);
        if (end == std::string::npos)
            end = s.size();
        authority = s.substr(begin, end - begin);
        restBegin = end;
    }

    // A '#' starts the fragment even when a '?' follows it.
    std::string rest = s.substr(restBegin);
    size_t hash = rest.find('#');
    if (hash != std::string::npos) {
        parts.fragment = rest.substr(hash + 1);
        rest.resize(hash);
    }
    size_t question = rest.find('?');
    if (question != std::string::npos) {
        parts.query = rest.substr(question + 1);
        rest.resize(question);
    }
    parts.path = rest.empty() ? "/" : rest;
    return true;
}

void SplitUserInfo(const std::string& userInfo, UrlParts& parts)
{
    size_t colon = userInfo.find(':');
    parts.user = userInfo.substr(0, colon);
    if (colon != std::string::npos)
        parts.password = userInfo.substr(colon + 1);
}

bool SplitHostPort(const std::string& hostPart, UrlParts& parts, std::string& portText)
{
    size_t colon = hostPart.find(':');
    parts.host = hostPart.substr(0, colon);
    portText = colon == std::string::npos ? std::string() : hostPart.substr(colon + 1);
    return colon != std::string::npos;
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

std::string PathAndQuery(const UrlParts& parts)
{
    return parts.query.empty() ? parts.path : parts.path + "?" + parts.query;
}
