// Set-Cookie values: the first piece is the cookie, the pieces after it are its attributes.
#include "SetCookie.h"

#include <cstring>

#include "StringUtil.h"

namespace {

bool EqualsNoCase(const std::string& a, const char* b)
{
    size_t n = std::strlen(b);
    if (a.size() != n)
        return false;
    for (size_t i = 0; i < n; ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z')
            x = static_cast<char>(x - 'A' + 'a');
        if (x != y)
            return false;
    }
    return true;
}

std::string* AttributeField(CookieRecord& record, const std::string& name)
{
    if (EqualsNoCase(name, "expires"))
        return &record.expires;
    if (EqualsNoCase(name, "max-age"))
        return &record.maxAge;
    if (EqualsNoCase(name, "domain"))
        return &record.domain;
    if (EqualsNoCase(name, "path"))
        return &record.path;
    return nullptr;
}

void SplitPair(const std::string& piece, size_t eq, std::string& name, std::string& value)
{
    name = piece.substr(0, eq);
    value = piece.substr(eq + 1);
    TrimSpaces(name);
    TrimSpaces(value);
}

// Later pieces: attributes the record keeps, or pieces that are skipped (SameSite, Priority, ...).
void ReadAttribute(CookieRecord& record, const std::string& piece)
{
    size_t eq = piece.find('=');
    if (eq == std::string::npos) {
        if (EqualsNoCase(piece, "secure"))
            record.secure = true;
        else if (EqualsNoCase(piece, "httponly"))
            record.httponly = true;
        return;
    }
    std::string name, value;
    SplitPair(piece, eq, name, value);
    if (std::string* field = AttributeField(record, name))
        *field = value;
}

}  // namespace

void SetCookieField(CookieRecord& record, const std::string& name, const std::string& value)
{
    if (std::string* field = AttributeField(record, name))
        *field = value;
    else
        record.cookies[name] = value;
}

bool ParseSetCookie(CookieRecord& record, const std::string& text)
{
    bool first = true;
    size_t start = 0;
    for (;;) {
        size_t cut = text.find(';', start);
        std::string piece = text.substr(start, cut == std::string::npos ? std::string::npos : cut - start);
        TrimSpaces(piece);
        if (first && !piece.empty()) {
            size_t eq = piece.find('=');
            if (eq == std::string::npos)
                return false;
            std::string name, value;
            SplitPair(piece, eq, name, value);
            if (name.empty())
                return false;
            record.cookies[name] = value;
            first = false;
        } else if (!piece.empty()) {
            ReadAttribute(record, piece);
        }
        if (cut == std::string::npos)
            return true;
        start = cut + 1;
    }
}
