// Address splitting for WinINet's connect and open calls, and the form body encoding.
#pragma once

#include <string>
#include <unordered_map>

#include "common/UrlParts.h"

namespace Orvane {

struct UrlComponents : UrlParts {
    std::string object;  // path and query, as HttpOpenRequestA takes it
};

using FormFields = std::unordered_map<std::string, std::string>;

bool SplitUrl(const char* url, UrlComponents& out);
std::string PercentEncode(const std::string& text);
std::string EncodeForm(const FormFields& fields);

}  // namespace Orvane
