// UTF-8 and UTF-16 conversion for the engine.
#include "Utf.h"

namespace hl {

void AppendUtf16(std::u16string& out, char32_t cp) {
  if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = 0xFFFD;
  if (cp < 0x10000) {
    out.push_back(static_cast<char16_t>(cp));
  } else {
    cp -= 0x10000;
    out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
    out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
  }
}

std::u16string Utf8To16(const char* s, size_t n) {
  std::u16string out;
  out.reserve(n);
  const unsigned char* p = reinterpret_cast<const unsigned char*>(s);
  size_t i = 0;
  while (i < n) {
    unsigned c = p[i];
    if (c < 0x80) {
      out.push_back(static_cast<char16_t>(c));
      ++i;
      continue;
    }
    int len = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 0;
    if (c >= 0xF8 || len == 0 || i + len > n) {
      out.push_back(0xFFFD);
      ++i;
      continue;
    }
    char32_t cp = c & (0x7F >> len);
    bool ok = true;
    for (int k = 1; k < len; ++k) {
      unsigned b = p[i + k];
      if ((b & 0xC0) != 0x80) { ok = false; break; }
      cp = (cp << 6) | (b & 0x3F);
    }
    // Overlong forms and surrogates are rejected so that no two byte strings decode alike.
    static const char32_t minimum[5] = {0, 0, 0x80, 0x800, 0x10000};
    if (!ok || cp < minimum[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
      out.push_back(0xFFFD);
      ++i;
      continue;
    }
    AppendUtf16(out, cp);
    i += len;
  }
  return out;
}

char32_t NextCodePoint(const char16_t* s, size_t n, size_t& i) {
  char32_t c = s[i++];
  if (c >= 0xD800 && c <= 0xDBFF && i < n && s[i] >= 0xDC00 && s[i] <= 0xDFFF) {
    c = 0x10000 + ((c - 0xD800) << 10) + (s[i] - 0xDC00);
    ++i;
  }
  return c;
}

std::string Utf16To8(const char16_t* s, size_t n) {
  std::string out;
  out.reserve(n);
  size_t i = 0;
  while (i < n) {
    char32_t c = NextCodePoint(s, n, i);
    if (c >= 0xD800 && c <= 0xDFFF) c = 0xFFFD;
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (c >> 6)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (c >> 12)));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (c >> 18)));
      out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
  }
  return out;
}

bool IsCjk(char32_t c) {
  return (c >= 0x2E80 && c <= 0x9FFF) ||    // radicals, punctuation, kana, ideographs
         (c >= 0xAC00 && c <= 0xD7AF) ||    // Hangul syllables
         (c >= 0xF900 && c <= 0xFAFF) ||    // compatibility ideographs
         (c >= 0xFF00 && c <= 0xFFEF) ||    // full-width forms
         (c >= 0x20000 && c <= 0x3FFFF);    // supplementary ideographs
}

}  // namespace hl
