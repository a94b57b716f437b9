// Byte-wise address splitting and form encoding; no character-set knowledge, nothing validated
// beyond what the connect call needs (a port that fits).
#include "UrlSplit.h"

namespace Orvane {

namespace {

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
        SplitUserInfo(authority.substr(0, at), out);
        hostPart = authority.substr(at + 1);
    }
    std::string portText;
    if (SplitHostPort(hostPart, out, portText) && !ParsePort(portText, out.port)) return false;
    if (out.port < 0) out.port = DefaultPort(out.scheme);
    return true;
}

}  // namespace

bool SplitUrl(const char* url, UrlComponents& out)
{
    out = UrlComponents();
    std::string authority;
    if (!CutUrl(url, out, authority)) return false;
    if (!authority.empty() && !SplitAuthority(authority, out)) return false;
    out.object = PathAndQuery(out);
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
