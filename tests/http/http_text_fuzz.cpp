// Fuzzes the parsers that see network text: raw response headers, address split, Location resolution.
#include "HttpText.h"
#include "UrlSplit.h"

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    Orvane::ParsedHeaders parsed;
    Orvane::ParseRawHeaders(text, parsed);
    for (const auto& header : parsed.headers)
        if (Orvane::CanonicalizeHeaderName(header.first) != header.first) __builtin_trap();

    Orvane::UrlComponents parts;
    const std::string url = text.substr(0, text.find('\0'));
    if (Orvane::SplitUrl(url.c_str(), parts)) {
        if (parts.port > 65535 || parts.path.empty()) __builtin_trap();
        if (parts.host.find_first_of("/?#") != std::string::npos) __builtin_trap();
    }

    size_t cut = text.find('\n');
    if (cut != std::string::npos) {
        std::string resolved = Orvane::ResolveLocation(text.substr(0, cut), text.substr(cut + 1));
        (void)resolved;
    }
    return 0;
}
