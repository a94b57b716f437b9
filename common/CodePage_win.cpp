// Code-page conversions over MultiByteToWideChar and WideCharToMultiByte: measure, size, convert.
#include "CodePage.h"

#include <windows.h>

#include <climits>
#include <cstring>
#include <cwchar>

namespace {

// The system calls fail for length 0, so empty text never reaches them.
std::wstring Widen(const char* text, size_t length, unsigned codePage)
{
    if (!text || length == 0 || length > INT_MAX)
        return std::wstring();
    int n = MultiByteToWideChar(codePage, 0, text, static_cast<int>(length), nullptr, 0);
    if (n <= 0)
        return std::wstring();
    std::wstring out(static_cast<size_t>(n), L'\0');
    n = MultiByteToWideChar(codePage, 0, text, static_cast<int>(length), &out[0], n);
    out.resize(n > 0 ? static_cast<size_t>(n) : 0);
    return out;
}

std::string Narrow(const wchar_t* text, size_t length, unsigned codePage)
{
    if (!text || length == 0 || length > INT_MAX)
        return std::string();
    int n = WideCharToMultiByte(codePage, 0, text, static_cast<int>(length), nullptr, 0, nullptr, nullptr);
    if (n <= 0)
        return std::string();
    std::string out(static_cast<size_t>(n), '\0');
    n = WideCharToMultiByte(codePage, 0, text, static_cast<int>(length), &out[0], n, nullptr, nullptr);
    out.resize(n > 0 ? static_cast<size_t>(n) : 0);
    return out;
}

}  // namespace

std::wstring ToWide(const std::string& text, unsigned codePage)
{
    return Widen(text.data(), text.size(), codePage);
}

std::string ToNarrow(const std::wstring& text, unsigned codePage)
{
    return Narrow(text.data(), text.size(), codePage);
}

std::string ToNarrowCStr(const wchar_t* text, unsigned codePage)
{
    return text ? Narrow(text, wcslen(text), codePage) : std::string();
}

std::string ToUtf8CStr(const wchar_t* text)
{
    return ToNarrowCStr(text, CP_UTF8);
}

std::wstring ToWideCStr(const char* text, unsigned codePage)
{
    return text ? Widen(text, strlen(text), codePage) : std::wstring();
}

std::wstring ToWideAnsi(const std::string& text)
{
    return ToWide(text, CP_ACP);
}
