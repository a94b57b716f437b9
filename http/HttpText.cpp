// Header-name canonicalisation, raw-header parsing, request header text and Location resolution.
// All of it sees untrusted network text: no recursion, no regex engine, bounded numbers.
#include "HttpText.h"

namespace Orvane {

namespace {

bool IsTrimmed(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }
char Upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

std::string Trim(const std::string& text, size_t begin, size_t end)
{
    while (begin < end && IsTrimmed(text[begin])) ++begin;
    while (end > begin && IsTrimmed(text[end - 1])) --end;
    return text.substr(begin, end - begin);
}

size_t SkipDigits(const std::string& s, size_t i)
{
    while (i < s.size() && IsDigit(s[i])) ++i;
    return i;
}

// "HTTP/" digits "." digits, white space, the code, then white space or the end of the line (a
// missing reason phrase is what Wine rebuilds when a server sends none).
bool MatchStatusAt(const std::string& line, size_t pos, int& code)
{
    size_t i = pos + 5;
    size_t j = SkipDigits(line, i);
    if (j == i || j >= line.size() || line[j] != '.') return false;
    i = j + 1;
    j = SkipDigits(line, i);
    if (j == i) return false;
    i = j;
    while (j < line.size() && IsSpace(line[j])) ++j;
    if (j == i) return false;
    i = j;
    j = SkipDigits(line, i);
    if (j == i || j - i > 9) return false;
    if (j < line.size() && !IsSpace(line[j])) return false;
    code = std::stoi(line.substr(i, j - i));
    return true;
}

bool MatchStatusLine(const std::string& line, int& code)
{
    for (size_t pos = line.find("HTTP/"); pos != std::string::npos; pos = line.find("HTTP/", pos + 1))
        if (MatchStatusAt(line, pos, code)) return true;
    return false;
}

bool HasScheme(const std::string& ref)
{
    if (ref.empty() || !((ref[0] >= 'a' && ref[0] <= 'z') || (ref[0] >= 'A' && ref[0] <= 'Z'))) return false;
    for (char c : ref) {
        if (c == ':') return true;
        bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || IsDigit(c) || c == '+' || c == '-' || c == '.';
        if (!ok) return false;
    }
    return false;
}

void DropLastSegment(std::string& out)
{
    size_t slash = out.rfind('/');
    out.resize(slash == std::string::npos ? 0 : slash);
}

// Dot-segment removal on an absolute path, in one pass over the input.
std::string RemoveDotSegments(const std::string& path)
{
    std::string out;
    size_t i = 0;
    const size_t n = path.size();
    while (i < n) {
        size_t end = path.find('/', i + 1);
        if (end == std::string::npos) end = n;
        std::string segment = path.substr(i, end - i);  // starts with '/' except maybe the first
        bool last = end == n;
        if (segment == "/." || segment == ".") {
            if (last) out += '/';
        } else if (segment == "/.." || segment == "..") {
            DropLastSegment(out);
            if (last) out += '/';
        } else {
            out += segment;
        }
        i = end;
    }
    return out;
}

}  // namespace

bool EqualsNoCase(const std::string& a, const char* b)
{
    size_t i = 0;
    for (; i < a.size() && b[i]; ++i)
        if (Lower(a[i]) != Lower(b[i])) return false;
    return i == a.size() && !b[i];
}

std::string CanonicalizeHeaderName(const std::string& name)
{
    if (EqualsNoCase(name, "ETag")) return "ETag";
    std::string out(name);
    bool start = true;
    for (char& c : out) {
        c = start ? Upper(c) : Lower(c);
        start = c == '-';
    }
    return out;
}

bool ParseRawHeaders(const std::string& text, ParsedHeaders& into)
{
    size_t lineEnd = text.find('\n');
    if (lineEnd == std::string::npos) lineEnd = text.size();
    int code = -1;
    if (!MatchStatusLine(Trim(text, 0, lineEnd), code)) return false;
    into.statusCode = code;

    for (size_t begin = lineEnd; begin < text.size();) {
        size_t end = text.find('\n', begin + 1);
        if (end == std::string::npos) end = text.size();
        size_t colon = text.find_first_of(":\n", begin + 1);
        if (colon < end && text[colon] == ':') {
            std::string name = Trim(text, begin, colon);
            std::string value = Trim(text, colon + 1, end);
            if (EqualsNoCase(name, "Set-Cookie"))
                into.cookies.push_back(value);
            else
                into.headers[CanonicalizeHeaderName(name)] = value;
        }
        begin = end;
    }
    return true;
}

std::string StripLineBreaks(const std::string& text)
{
    std::string out;
    out.reserve(text.size());
    for (char c : text)
        if (c != '\r' && c != '\n') out += c;
    return out;
}

std::string BuildHeaderText(const HeaderMap& headers)
{
    std::string out;
    for (const auto& header : headers) {
        // A CR or LF would let a value start a header line of its own.
        std::string name = StripLineBreaks(header.first);
        if (name.empty()) continue;
        out += name;
        out += ':';
        out += StripLineBreaks(header.second);
        out += "\r\n";
    }
    return out;
}

std::string ResolveLocation(const std::string& base, const std::string& location)
{
    if (location.empty() || HasScheme(location)) return location;

    size_t colon = base.find(':');
    std::string scheme = base.substr(0, colon == std::string::npos ? 0 : colon);
    if (location.compare(0, 2, "//") == 0) return scheme + ":" + location;

    size_t pathBegin = colon == std::string::npos ? 0 : colon + 1;
    if (base.compare(pathBegin, 2, "//") == 0) {
        pathBegin = base.find_first_of("/?#", pathBegin + 2);
        if (pathBegin == std::string::npos) pathBegin = base.size();
    }
    std::string origin = base.substr(0, pathBegin);
    size_t pathEnd = base.find_first_of("?#", pathBegin);
    if (pathEnd == std::string::npos) pathEnd = base.size();
    std::string basePath = base.substr(pathBegin, pathEnd - pathBegin);
    if (basePath.empty()) basePath = "/";

    if (location[0] == '#') {
        size_t hash = base.find('#');
        return base.substr(0, hash) + location;
    }
    if (location[0] == '?') return origin + basePath + location;

    size_t refPathEnd = location.find_first_of("?#");
    if (refPathEnd == std::string::npos) refPathEnd = location.size();
    std::string refPath = location.substr(0, refPathEnd);
    std::string tail = location.substr(refPathEnd);
    if (refPath[0] != '/') {
        size_t slash = basePath.rfind('/');
        refPath = basePath.substr(0, slash + 1) + refPath;
        if (refPath[0] != '/') refPath = "/" + refPath;
    }
    return origin + RemoveDotSegments(refPath) + tail;
}

}  // namespace Orvane
