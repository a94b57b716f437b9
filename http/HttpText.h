// Header texts of the HTTP client: the one canonical header-name form, the raw response headers
// as WinINet hands them over, the request header block, and redirect targets.
#pragma once

#include <string>
#include <unordered_map>
#include <vector>

namespace Orvane {

using HeaderMap = std::unordered_map<std::string, std::string>;

std::string CanonicalizeHeaderName(const std::string& name);
bool EqualsNoCase(const std::string& a, const char* b);  // ASCII only, whatever the locale

struct ParsedHeaders {
    int statusCode = -1;
    HeaderMap headers;
    std::vector<std::string> cookies;
};

// Takes nothing from the text unless its first line is a status line; returns whether it was.
bool ParseRawHeaders(const std::string& text, ParsedHeaders& into);

std::string StripLineBreaks(const std::string& text);
std::string BuildHeaderText(const HeaderMap& headers);

// The address a Location value points to, seen from the address that answered with it.
std::string ResolveLocation(const std::string& base, const std::string& location);

}  // namespace Orvane
