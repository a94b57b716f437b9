// Byte-wise address splitting and form encoding; no character-set knowledge, nothing validated
// beyond what the connect call needs (a port that fits).
#include "UrlSplit.h"

namespace Orvane {

namespace {

int DefaultPort(const std::string& scheme)
{
    if (scheme == "http") return 80;
    if (scheme == "https") return 443;
    if (scheme == "ftp") return 21;
    return 0;
}

bool IsAlnum(unsigned char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
}

// The port is the decimal number at the start of text; no digits leaves it unset.
bool ParsePort(const std::string& text, int& port)
{
    long value = -1;
    for (char c : text) {
        if (c < '0' || c > '9') break;
        value = (value < 0 ? 0 : value * 10) + (c - '0');
        if (value > 65535) return false;
    }
    port = static_cast<int>(value);
    return true;
}

bool SplitAuthority(const std::string& authority, UrlComponents& out)
{
    std::string hostPart = authority;
    // The last '@' ends the user information: a host never contains one.
    size_t at = authority.rfind('@');
    if (at != std::string::npos) {
        std::string userInfo = authority.substr(0, at);
        hostPart = authority.substr(at + 1);
        size_t colon = userInfo.find(':');
        out.user = userInfo.substr(0, colon);
        if (colon != std::string::npos) out.password = userInfo.substr(colon + 1);
    }
    size_t colon = hostPart.find(':');
    out.host = hostPart.substr(0, colon);
    if (colon != std::string::npos && !ParsePort(hostPart.substr(colon + 1), out.port)) return false;
    if (out.port < 0) out.port = DefaultPort(out.scheme);
    return true;
}

}  // namespace

bool SplitUrl(const char* url, UrlComponents& out)
{
    out = UrlComponents();
    if (!url) return false;
    const std::string text(url);
    size_t colon = text.find(':');
    if (colon == std::string::npos) return false;
    out.scheme = text.substr(0, colon);

    size_t restBegin = colon + 1;
    if (text.compare(colon + 1, 2, "//") == 0) {
        // The authority ends at the first '/', '?' or '#', so "h?u=a@evil" still connects to h.
        size_t begin = colon + 3;
        size_t end = text.find_first_of("/?#", begin);
        if (end == std::string::npos) end = text.size();
        std::string authority = text.substr(begin, end - begin);
        if (!authority.empty() && !SplitAuthority(authority, out)) return false;
        restBegin = end;
    }

    std::string rest = text.substr(restBegin);
    size_t hash = rest.find('#');
    if (hash != std::string::npos) {
        out.fragment = rest.substr(hash + 1);
        rest.resize(hash);
    }
    size_t question = rest.find('?');
    if (question != std::string::npos) {
        out.query = rest.substr(question + 1);
        rest.resize(question);
    }
    out.path = rest.empty() ? "/" : rest;
    out.object = out.query.empty() ? out.path : out.path + "?" + out.query;
    return true;
}

std::string PercentEncode(const std::string& text)
{
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size() * 3);
    for (char ch : text) {
        unsigned char c = static_cast<unsigned char>(ch);
        if (IsAlnum(c)) {
            out += ch;
        } else if (c == '\r' || c == '\n' || c > 0x20) {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        } else {
            out += "%20";
        }
    }
    return out;
}

std::string EncodeForm(const FormFields& fields)
{
    std::string out;
    for (const auto& field : fields) {
        if (!out.empty()) out += '&';
        out += PercentEncode(field.first);
        out += '=';
        out += PercentEncode(field.second);
    }
    return out;
}

}  // namespace Orvane
