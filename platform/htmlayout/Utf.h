// UTF-8 and UTF-16 conversion for the engine; both directions are lenient, bad input becomes U+FFFD.
#pragma once
#include <cstddef>
#include <string>

namespace hl {

std::u16string Utf8To16(const char* s, size_t n);
std::string Utf16To8(const char16_t* s, size_t n);
inline std::u16string Utf8To16(const std::string& s) { return Utf8To16(s.data(), s.size()); }
inline std::string Utf16To8(const std::u16string& s) { return Utf16To8(s.data(), s.size()); }

void AppendUtf16(std::u16string& out, char32_t cp);
// Decodes one code point at s[i] (advancing i); a lone surrogate comes back as itself.
char32_t NextCodePoint(const char16_t* s, size_t n, size_t& i);

// Ideographs and the scripts set like them: a line may break between any two of them.
bool IsCjk(char32_t c);

}  // namespace hl
