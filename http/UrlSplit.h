// Address splitting for WinINet's connect and open calls, and the form body encoding.
#pragma once

#include <string>
#include <unordered_map>

namespace Orvane {

struct UrlComponents {
    std::string scheme;
    std::string user;
    std::string password;
    std::string host;
    int port = -1;
    std::string path;
    std::string query;
    std::string object;  // path and query, as HttpOpenRequestA takes it
    std::string fragment;
};

using FormFields = std::unordered_map<std::string, std::string>;

bool SplitUrl(const char* url, UrlComponents& out);
std::string PercentEncode(const std::string& text);
std::string EncodeForm(const FormFields& fields);

}  // namespace Orvane
