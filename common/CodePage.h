// Conversions between narrow text in a named code page and UTF-16 (Windows only).
#pragma once

#include <string>

// Counted forms convert every character, embedded zeros included; the CStr forms stop at the first
// zero. Code page 0 is the system ANSI code page, 65001 UTF-8.
std::wstring ToWide(const std::string& text, unsigned codePage);
std::string ToNarrow(const std::wstring& text, unsigned codePage);
std::string ToNarrowCStr(const wchar_t* text, unsigned codePage);
std::string ToUtf8CStr(const wchar_t* text);
std::wstring ToWideCStr(const char* text, unsigned codePage);
std::wstring ToWideAnsi(const std::string& text);
