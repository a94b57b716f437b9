// GDI fonts: face resolution with generic families, per-character fallback, and measuring.
#include "GdiFonts_win.h"

#include <algorithm>

namespace hl {
namespace {

const wchar_t* const kSans[] = {L"Segoe UI", L"Tahoma", L"Arial", L"DejaVu Sans", L"Liberation Sans"};
const wchar_t* const kSerif[] = {L"Times New Roman", L"DejaVu Serif", L"Liberation Serif"};
const wchar_t* const kMono[] = {L"Consolas", L"Courier New", L"DejaVu Sans Mono", L"Liberation Mono"};
// The end of every chain; one of these is on any machine the program runs on.
const wchar_t* const kLast[] = {L"Segoe UI", L"Tahoma", L"Microsoft YaHei", L"DejaVu Sans", L"Arial",
                                L"WenQuanYi Micro Hei", L"MS Shell Dlg"};
const wchar_t* const kCjk[] = {L"Microsoft YaHei", L"\u5FAE\u8F6F\u96C5\u9ED1", L"SimSun", L"\u5B8B\u4F53",
                               L"WenQuanYi Micro Hei", L"WenQuanYi Zen Hei", L"Noto Sans CJK SC",
                               L"Arial Unicode MS"};

int CALLBACK FoundFace(const LOGFONTW*, const TEXTMETRICW*, DWORD, LPARAM found) {
  *reinterpret_cast<bool*>(found) = true;
  return 0;
}

int CALLBACK AnyFace(const LOGFONTW* lf, const TEXTMETRICW*, DWORD type, LPARAM out) {
  if (!(type & TRUETYPE_FONTTYPE) || lf->lfFaceName[0] == '@') return 1;
  *reinterpret_cast<std::wstring*>(out) = lf->lfFaceName;
  return 0;
}

std::wstring Lower(const std::u16string& s) {
  std::wstring r(s.begin(), s.end());
  for (wchar_t& c : r)
    if (c >= 'A' && c <= 'Z') c = static_cast<wchar_t>(c - 'A' + 'a');
  return r;
}

}  // namespace

GdiFonts& GdiFonts::Instance() {
  static GdiFonts* fonts = new GdiFonts;  // fonts live as long as the process
  return *fonts;
}

GdiFonts::GdiFonts() : dc_(CreateCompatibleDC(nullptr)) {}

bool GdiFonts::FaceExists(const std::wstring& face) {
  if (face.empty() || face.size() >= LF_FACESIZE) return false;
  auto it = faces_.find(face);
  if (it != faces_.end()) return it->second;
  LOGFONTW lf = {};
  lf.lfCharSet = DEFAULT_CHARSET;
  face.copy(lf.lfFaceName, LF_FACESIZE - 1);
  bool found = false;
  EnumFontFamiliesExW(dc_, &lf, FoundFace, reinterpret_cast<LPARAM>(&found), 0);
  faces_[face] = found;
  return found;
}

std::wstring GdiFonts::ResolveFace(const FontSpec& spec) {
  auto first = [&](const wchar_t* const* list, size_t n) -> std::wstring {
    for (size_t i = 0; i < n; ++i)
      if (FaceExists(list[i])) return list[i];
    return std::wstring();
  };
  if (spec.families) {
    for (const std::u16string& fam : *spec.families) {
      std::wstring lower = Lower(fam), face;
      if (lower == L"sans-serif" || lower == L"cursive" || lower == L"fantasy" || lower == L"system-ui")
        face = first(kSans, std::size(kSans));
      else if (lower == L"serif") face = first(kSerif, std::size(kSerif));
      else if (lower == L"monospace") face = first(kMono, std::size(kMono));
      else if (FaceExists(std::wstring(fam.begin(), fam.end()))) face.assign(fam.begin(), fam.end());
      if (!face.empty()) return face;
    }
  }
  std::wstring face = first(kLast, std::size(kLast));
  if (face.empty()) {
    LOGFONTW lf = {};
    lf.lfCharSet = DEFAULT_CHARSET;
    EnumFontFamiliesExW(dc_, &lf, AnyFace, reinterpret_cast<LPARAM>(&face), 0);
  }
  return face;
}

std::wstring GdiFonts::FallbackFace() {
  if (fallbackFace_.empty()) {
    for (const wchar_t* f : kCjk) {
      if (FaceExists(f)) {
        fallbackFace_ = f;
        break;
      }
    }
    if (fallbackFace_.empty()) fallbackFace_ = L"-";
  }
  return fallbackFace_ == L"-" ? std::wstring() : fallbackFace_;
}

HFONT GdiFonts::Create(const std::wstring& face, const FontSpec& spec) {
  return CreateFontW(-spec.sizePx, 0, 0, 0, spec.weight, spec.italic ? TRUE : FALSE, FALSE, FALSE,
                     DEFAULT_CHARSET, OUT_TT_PRECIS, CLIP_DEFAULT_PRECIS, ANTIALIASED_QUALITY,
                     DEFAULT_PITCH | FF_DONTCARE, face.c_str());
}

FontId GdiFonts::Font(const FontSpec& spec) {
  std::wstring key = std::to_wstring(spec.sizePx) + L"/" + std::to_wstring(spec.weight) + (spec.italic ? L"i" : L"n");
  if (spec.families)
    for (const std::u16string& f : *spec.families) key += L"|" + std::wstring(f.begin(), f.end());
  auto it = byKey_.find(key);
  if (it != byKey_.end()) return it->second;
  Entry e;
  e.face = ResolveFace(spec);
  e.font = Create(e.face, spec);
  std::wstring fb = FallbackFace();
  e.fallback = !fb.empty() && fb != e.face ? Create(fb, spec) : e.font;
  if (!e.fallback) e.fallback = e.font;
  Select(e.font);
  TEXTMETRICW tm = {};
  if (GetTextMetricsW(dc_, &tm)) {
    e.info.ascent = tm.tmAscent;
    e.info.descent = tm.tmDescent;
    e.info.lineHeight = tm.tmHeight + tm.tmExternalLeading;
  } else {
    e.info = FontInfo{spec.sizePx * 4 / 5, spec.sizePx / 5, spec.sizePx * 6 / 5};
  }
  FontId id = static_cast<FontId>(fonts_.size());
  fonts_.push_back(e);
  byKey_[key] = id;
  return id;
}

FontInfo GdiFonts::Info(FontId font) {
  if (font < 0 || static_cast<size_t>(font) >= fonts_.size()) return FontInfo{12, 3, 16};
  return fonts_[static_cast<size_t>(font)].info;
}

// Splits text into runs of the font's own face and of the fallback face for what it lacks.
void GdiFonts::Runs(const Entry& e, const char16_t* text, size_t len, std::vector<Run>& out) {
  out.clear();
  // Only characters past ASCII can be missing from a face, and asking GDI for glyphs costs as
  // much as measuring.
  bool ascii = true;
  for (size_t i = 0; i < len && ascii; ++i) ascii = text[i] < 0x80;
  if (e.fallback == e.font || len == 0 || ascii) {
    out.push_back(Run{0, len, e.font});
    return;
  }
  std::vector<WORD> glyphs(len);
  Select(e.font);
  DWORD got = GetGlyphIndicesW(dc_, reinterpret_cast<LPCWSTR>(text), static_cast<int>(len), glyphs.data(),
                               GGI_MARK_NONEXISTING_GLYPHS);
  if (got == GDI_ERROR) {
    out.push_back(Run{0, len, e.font});
    return;
  }
  for (size_t i = 0; i < len; ++i) {
    char16_t c = text[i];
    bool missing = c >= 0x80 && (glyphs[i] == 0xFFFF || (c >= 0xD800 && c <= 0xDFFF));
    HFONT f = missing ? e.fallback : e.font;
    if (!out.empty() && out.back().font == f) ++out.back().len;
    else out.push_back(Run{i, 1, f});
  }
}

int GdiFonts::Measure(FontId font, const char16_t* text, size_t len) {
  if (font < 0 || static_cast<size_t>(font) >= fonts_.size() || len == 0) return 0;
  std::vector<Run> runs;
  Runs(fonts_[static_cast<size_t>(font)], text, len, runs);
  int w = 0;
  for (const Run& r : runs) {
    Select(r.font);
    SIZE sz = {};
    GetTextExtentPoint32W(dc_, reinterpret_cast<LPCWSTR>(text + r.start), static_cast<int>(r.len), &sz);
    w += sz.cx;
  }
  return w;
}

// The measuring DC is the fonts' own, so a font stays selected between calls: selecting one costs
// more under Wine than measuring a short word.
void GdiFonts::Select(HFONT font) {
  if (font == selected_) return;
  SelectObject(dc_, font);
  selected_ = font;
}

int GdiFonts::Draw(HDC dc, FontId font, int x, int y, const char16_t* text, size_t len) {
  if (font < 0 || static_cast<size_t>(font) >= fonts_.size() || len == 0) return 0;
  std::vector<Run> runs;
  Runs(fonts_[static_cast<size_t>(font)], text, len, runs);
  int start = x;
  for (const Run& r : runs) {
    HGDIOBJ old = SelectObject(dc, r.font);
    ExtTextOutW(dc, x, y, 0, nullptr, reinterpret_cast<LPCWSTR>(text + r.start), static_cast<UINT>(r.len), nullptr);
    SIZE sz = {};
    GetTextExtentPoint32W(dc, reinterpret_cast<LPCWSTR>(text + r.start), static_cast<int>(r.len), &sz);
    SelectObject(dc, old);
    x += sz.cx;
  }
  return x - start;
}

}  // namespace hl
