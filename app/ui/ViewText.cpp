// Template filling, the link policy and resource names of the view pages.
#include "ViewText.h"

#include <cwchar>

namespace {

// Resource names are kept to what FindResource takes comfortably (MAX_PATH with its terminator).
const size_t kMaxResourceAddress = 259;

wchar_t UpperAscii(wchar_t c) {
    return c >= L'a' && c <= L'z' ? static_cast<wchar_t>(c - L'a' + L'A') : c;
}

bool StartsNoCase(const wchar_t* text, const wchar_t* prefix) {
    for (; *prefix; ++text, ++prefix) {
        if (UpperAscii(*text) != UpperAscii(*prefix))
            return false;
    }
    return true;
}

}  // namespace

// One pass over the page: the text between two '%' is a key, "%%" gives '%', a key the map lacks
// gives the key itself, and a last unpaired '%' is dropped. Inserted values are never scanned, so
// "100% unsupervised" in a text stays whole.
void FillTemplate(std::string& page, const std::map<std::string, std::string>& texts) {
    std::string out;
    out.reserve(page.size());
    size_t at = 0;
    while (at < page.size()) {
        size_t open = page.find('%', at);
        if (open == std::string::npos) {
            out.append(page, at, std::string::npos);
            break;
        }
        out.append(page, at, open - at);
        size_t close = page.find('%', open + 1);
        if (close == std::string::npos) {
            out.append(page, open + 1, std::string::npos);
            break;
        }
        std::string key = page.substr(open + 1, close - open - 1);
        if (key.empty()) {
            out += '%';
        } else {
            auto it = texts.find(key);
            out += it != texts.end() ? it->second : key;
        }
        at = close + 1;
    }
    page.swap(out);
}

std::string TemplateLiteral(const std::string& data) {
    std::string out;
    out.reserve(data.size());
    for (char c : data) {
        out += c;
        if (c == '%')
            out += '%';
    }
    return out;
}

bool IsHttpAddress(const wchar_t* text) {
    if (!text)
        return false;
    return (StartsNoCase(text, L"http://") && text[7]) || (StartsNoCase(text, L"https://") && text[8]);
}

// Links carry site and service text; only web addresses may reach the user's browser.
LinkAction ClassifyLink(const wchar_t* href, bool execute) {
    if (!href)
        return LinkAction::None;
    if (execute)
        return LinkAction::Execute;
    if (href[0] == L'#')
        return LinkAction::Beep;
    return IsHttpAddress(href) ? LinkAction::Open : LinkAction::Refuse;
}

bool ResourceOfAddress(const std::wstring& address, std::wstring& name, std::wstring& type) {
    std::wstring cut = address.substr(0, kMaxResourceAddress);
    // A scheme, a folder or a drive: a file or a web address, for the engine to load itself.
    if (cut.empty() || cut.find_first_of(L":/\\") != std::wstring::npos)
        return false;
    size_t dot = cut.rfind(L'.');
    name = cut.substr(0, dot);
    type = dot == std::wstring::npos ? std::wstring() : cut.substr(dot + 1);
    for (wchar_t& c : name)
        c = UpperAscii(c);
    for (wchar_t& c : type)
        c = UpperAscii(c);
    if (type == L"HTML")
        type.clear();
    return !name.empty() && (dot == std::wstring::npos || dot + 1 < cut.size());
}
