// Trimming, splitting and escaping of narrow text.
#include "StringUtil.h"

namespace {

bool IsTrimSpace(unsigned char c)
{
    return c == ' ' || (c >= '\t' && c <= '\r') || c == 0;
}

bool IsCookieSpace(unsigned char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

template <class Pred>
void TrimBy(std::string& text, Pred isSpace)
{
    size_t end = text.size();
    while (end > 0 && isSpace(static_cast<unsigned char>(text[end - 1])))
        --end;
    size_t begin = 0;
    while (begin < end && isSpace(static_cast<unsigned char>(text[begin])))
        ++begin;
    text.erase(end);
    text.erase(0, begin);
}

}  // namespace

void TrimString(std::string& text)
{
    TrimBy(text, IsTrimSpace);
}

void TrimSpaces(std::string& text)
{
    TrimBy(text, IsCookieSpace);
}

std::vector<std::string> SplitTrimmed(const std::string& text, char separator)
{
    std::vector<std::string> pieces;
    size_t start = 0;
    for (;;) {
        size_t cut = text.find(separator, start);
        std::string piece = text.substr(start, cut == std::string::npos ? std::string::npos : cut - start);
        TrimString(piece);
        if (!piece.empty())
            pieces.push_back(std::move(piece));
        if (cut == std::string::npos)
            return pieces;
        start = cut + 1;
    }
}

std::string HtmlEscape(const std::string& text)
{
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        case '\'': out += "&apos;"; break;
        default: out += c;
        }
    }
    return out;
}
