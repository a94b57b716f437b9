// What the program's address splitter and the HTTP client's share: both cut an address the same
// way, byte by byte, and differ only in how they read its user information and port.
#pragma once

#include <string>

struct UrlParts {
    std::string scheme;
    std::string user;
    std::string password;
    std::string host;
    int port = -1;
    std::string path;
    std::string query;
    std::string fragment;
};

// Resets parts and cuts text: the scheme before the first ':', the authority after a "//" up to the
// first '/', '?' or '#' (empty without "//"), then the fragment, the query and the path ("/" when
// empty). False for null or a text without ':'.
bool CutUrl(const char* text, UrlParts& parts, std::string& authority);
// The user name and password of user information, split at its first ':'.
void SplitUserInfo(const std::string& userInfo, UrlParts& parts);
// Split at the first ':': the host, and the port text when there is a ':'.
bool SplitHostPort(const std::string& hostPart, UrlParts& parts, std::string& portText);
// 80, 443 and 21 for "http", "https" and "ftp" (case-sensitive), else 0.
int DefaultPort(const std::string& scheme);
// The path, and "?" and the query when there is one.
std::string PathAndQuery(const UrlParts& parts);
