// One "Set-Cookie" header value as a record: the cookie pair and the attributes, recorded only.
#pragma once

#include <string>
#include <unordered_map>

struct CookieRecord {
    std::unordered_map<std::string, std::string> cookies;
    std::string expires;
    std::string maxAge;
    std::string domain;
    std::string path;
    bool secure = false;
    bool httponly = false;
};

// True when the value holds a well-formed name=value pair first (or is empty); unknown attributes
// and empty pieces are skipped.
bool ParseSetCookie(CookieRecord& record, const std::string& text);

// A known attribute name (any case) sets that attribute; any other name stores a cookie.
void SetCookieField(CookieRecord& record, const std::string& name, const std::string& value);
