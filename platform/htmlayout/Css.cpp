// CSS parsing: values and shorthands into longhand declarations, selectors, and style sheets.
#include "Css.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

#include "Utf.h"

namespace hl {
namespace {

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f'; }
bool IsIdentStart(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c == '-' ||
         static_cast<unsigned char>(c) >= 0x80;
}
bool IsIdentChar(char c) { return IsIdentStart(c) || (c >= '0' && c <= '9'); }

std::string Lower(std::string_view s) {
  std::string r(s);
  for (char& c : r)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return r;
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsSpace(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsSpace(s.back())) s.remove_suffix(1);
  return s;
}

// Skips a quoted string starting at s[i] (the quote); returns the index after it.
size_t SkipString(std::string_view s, size_t i) {
  char q = s[i++];
  while (i < s.size() && s[i] != q) {
    if (s[i] == '\\' && i + 1 < s.size()) ++i;
    ++i;
  }
  return i < s.size() ? i + 1 : i;
}

// Comments are removed up front; strings are kept intact so that "/*" inside one survives.
std::string StripComments(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  size_t i = 0;
  while (i < s.size()) {
    if (s[i] == '"' || s[i] == '\'') {
      size_t j = SkipString(s, i);
      out.append(s.substr(i, j - i));
      i = j;
    } else if (s[i] == '/' && i + 1 < s.size() && s[i + 1] == '*') {
      size_t end = s.find("*/", i + 2);
      i = end == std::string_view::npos ? s.size() : end + 2;
      out.push_back(' ');
    } else {
      out.push_back(s[i++]);
    }
  }
  return out;
}

// Splits on a separator that is outside strings, parentheses and brackets.
std::vector<std::string_view> SplitTop(std::string_view s, char sep) {
  std::vector<std::string_view> parts;
  int depth = 0;
  size_t start = 0, i = 0;
  while (i < s.size()) {
    char c = s[i];
    if (c == '"' || c == '\'') { i = SkipString(s, i); continue; }
    if (c == '(' || c == '[') ++depth;
    else if ((c == ')' || c == ']') && depth > 0) --depth;
    else if (c == sep && depth == 0) { parts.push_back(s.substr(start, i - start)); start = i + 1; }
    ++i;
  }
  parts.push_back(s.substr(start));
  return parts;
}

std::string Unquote(std::string_view s) {
  std::string out;
  if (s.size() >= 2 && (s.front() == '"' || s.front() == '\'') && s.back() == s.front())
    s = s.substr(1, s.size() - 2);
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\\' && i + 1 < s.size()) ++i;
    out.push_back(s[i]);
  }
  return out;
}

// ---- value tokens ----------------------------------------------------------------------------

struct Tok {
  enum Kind { Ident, Num, Hash, Str, Func, Comma, Slash, Other } kind;
  std::string text;  // identifier, hash digits, string content, function name (lower case)
  float num = 0;
  std::string unit;  // lower case; "%" for percentages
  std::string args;
};

std::vector<Tok> Tokenize(std::string_view s) {
  std::vector<Tok> toks;
  size_t i = 0;
  while (i < s.size()) {
    char c = s[i];
    if (IsSpace(c)) { ++i; continue; }
    Tok t{Tok::Other, {}, 0, {}, {}};
    if (c == ',') { t.kind = Tok::Comma; ++i; }
    else if (c == '/') { t.kind = Tok::Slash; ++i; }
    else if (c == '"' || c == '\'') {
      size_t j = SkipString(s, i);
      t.kind = Tok::Str;
      t.text = Unquote(s.substr(i, j - i));
      i = j;
    } else if (c == '#') {
      size_t j = i + 1;
      while (j < s.size() && IsIdentChar(s[j])) ++j;
      t.kind = Tok::Hash;
      t.text = std::string(s.substr(i + 1, j - i - 1));
      i = j;
    } else if ((c >= '0' && c <= '9') || c == '.' ||
               ((c == '-' || c == '+') && i + 1 < s.size() &&
                ((s[i + 1] >= '0' && s[i + 1] <= '9') || s[i + 1] == '.'))) {
      size_t j = i;
      if (s[j] == '-' || s[j] == '+') ++j;
      bool digits = false;
      while (j < s.size() && s[j] >= '0' && s[j] <= '9') { ++j; digits = true; }
      if (j < s.size() && s[j] == '.') {
        ++j;
        while (j < s.size() && s[j] >= '0' && s[j] <= '9') { ++j; digits = true; }
      }
      if (!digits) { ++i; toks.push_back(t); continue; }
      t.kind = Tok::Num;
      t.num = static_cast<float>(std::strtod(std::string(s.substr(i, j - i)).c_str(), nullptr));
      if (!std::isfinite(t.num)) t.num = 0;
      size_t k = j;
      if (k < s.size() && s[k] == '%') ++k;
      else while (k < s.size() && ((s[k] >= 'a' && s[k] <= 'z') || (s[k] >= 'A' && s[k] <= 'Z'))) ++k;
      t.unit = Lower(s.substr(j, k - j));
      i = k;
    } else if (IsIdentStart(c)) {
      size_t j = i;
      while (j < s.size() && IsIdentChar(s[j])) ++j;
      t.text = std::string(s.substr(i, j - i));
      if (j < s.size() && s[j] == '(') {
        int depth = 1;
        size_t k = j + 1;
        while (k < s.size() && depth > 0) {
          if (s[k] == '"' || s[k] == '\'') { k = SkipString(s, k); continue; }
          if (s[k] == '(') ++depth;
          else if (s[k] == ')') --depth;
          ++k;
        }
        t.kind = Tok::Func;
        t.text = Lower(t.text);
        t.args = std::string(s.substr(j + 1, (depth == 0 ? k - 1 : k) - j - 1));
        i = k;
      } else {
        t.kind = Tok::Ident;
        i = j;
      }
    } else {
      t.text = std::string(1, c);
      ++i;
    }
    toks.push_back(std::move(t));
  }
  return toks;
}

bool IsIdent(const Tok& t, const char* word) { return t.kind == Tok::Ident && Lower(t.text) == word; }

// ---- colours ---------------------------------------------------------------------------------

struct NamedColor { const char* name; Color rgb; };
const NamedColor kColors[] = {
    {"black", 0x000000}, {"silver", 0xC0C0C0}, {"gray", 0x808080}, {"grey", 0x808080},
    {"white", 0xFFFFFF}, {"maroon", 0x800000}, {"red", 0xFF0000}, {"purple", 0x800080},
    {"fuchsia", 0xFF00FF}, {"magenta", 0xFF00FF}, {"green", 0x008000}, {"lime", 0x00FF00},
    {"olive", 0x808000}, {"yellow", 0xFFFF00}, {"navy", 0x000080}, {"blue", 0x0000FF},
    {"teal", 0x008080}, {"aqua", 0x00FFFF}, {"cyan", 0x00FFFF}, {"orange", 0xFFA500},
    {"aliceblue", 0xF0F8FF}, {"lightgray", 0xD3D3D3}, {"lightgrey", 0xD3D3D3},
    {"darkgray", 0xA9A9A9}, {"darkgrey", 0xA9A9A9}, {"gainsboro", 0xDCDCDC},
    {"whitesmoke", 0xF5F5F5}, {"darkgreen", 0x006400}, {"darkred", 0x8B0000},
    {"darkblue", 0x00008B}, {"lightblue", 0xADD8E6}, {"lightyellow", 0xFFFFE0},
    {"lightgreen", 0x90EE90}, {"brown", 0xA52A2A}, {"pink", 0xFFC0CB}, {"gold", 0xFFD700},
    {"steelblue", 0x4682B4}, {"dimgray", 0x696969}, {"dimgrey", 0x696969},
};

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool HashColor(const std::string& h, Color& out) {
  for (char c : h)
    if (HexDigit(c) < 0) return false;
  auto d = [&](size_t i) { return static_cast<Color>(HexDigit(h[i])); };
  switch (h.size()) {
    case 3: case 4: {
      Color a = h.size() == 4 ? d(3) * 17 : 255;
      out = (a << 24) | (d(0) * 17 << 16) | (d(1) * 17 << 8) | (d(2) * 17);
      return true;
    }
    case 6: case 8: {
      Color a = h.size() == 8 ? d(6) * 16 + d(7) : 255;
      out = (a << 24) | ((d(0) * 16 + d(1)) << 16) | ((d(2) * 16 + d(3)) << 8) | (d(4) * 16 + d(5));
      return true;
    }
  }
  return false;
}

bool FuncColor(const Tok& t, Color& out) {
  if (t.text != "rgb" && t.text != "rgba") return false;
  std::vector<Tok> args = Tokenize(t.args);
  float v[4] = {0, 0, 0, 1};
  int n = 0;
  for (const Tok& a : args) {
    if (a.kind == Tok::Comma || a.kind == Tok::Slash) continue;
    if (a.kind != Tok::Num || n == 4) return false;
    float x = a.num;
    if (n < 3) x = a.unit == "%" ? x * 2.55f : x;
    else if (a.unit == "%") x /= 100;
    v[n++] = x;
  }
  if (n < 3) return false;
  auto clamp = [](float x, float hi) { return x < 0 ? 0 : x > hi ? hi : x; };
  Color a = static_cast<Color>(std::lround(clamp(v[3], 1) * 255));
  out = (a << 24) | (static_cast<Color>(std::lround(clamp(v[0], 255))) << 16) |
        (static_cast<Color>(std::lround(clamp(v[1], 255))) << 8) |
        static_cast<Color>(std::lround(clamp(v[2], 255)));
  return true;
}

bool TokColor(const Tok& t, Color& out) {
  if (t.kind == Tok::Hash) return HashColor(t.text, out);
  if (t.kind == Tok::Func) return FuncColor(t, out);
  if (t.kind != Tok::Ident) return false;
  std::string w = Lower(t.text);
  if (w == "transparent") { out = 0; return true; }
  for (const NamedColor& nc : kColors)
    if (w == nc.name) { out = 0xFF000000 | nc.rgb; return true; }
  return false;
}

// ---- longhand values -------------------------------------------------------------------------

CssValue Keyword(std::string w) {
  CssValue v;
  v.kind = CssValue::Keyword;
  v.keyword = std::move(w);
  return v;
}

bool OneOf(const std::string& w, std::initializer_list<const char*> words) {
  for (const char* x : words)
    if (w == x) return true;
  return false;
}

bool LengthValue(const Tok& t, bool allowPercent, bool allowNegative, CssValue& v) {
  if (t.kind != Tok::Num) return false;
  if (!allowNegative && t.num < 0) return false;
  v.kind = CssValue::Length;
  v.num = t.num;
  if (t.unit.empty()) {
    if (t.num != 0) return false;  // unitless lengths other than 0 are invalid
    v.unit = Unit::Px;
  } else if (t.unit == "px" || t.unit == "dip") v.unit = Unit::Px;
  else if (t.unit == "em") v.unit = Unit::Em;
  else if (t.unit == "ex") v.unit = Unit::Ex;
  else if (t.unit == "pt") v.unit = Unit::Pt;
  else if (t.unit == "%" && allowPercent) v.unit = Unit::Percent;
  else return false;
  return true;
}

bool IsColorProp(Prop p) {
  return p == Prop::Color || p == Prop::BackgroundColor ||
         (p >= Prop::BorderTopColor && p <= Prop::BorderLeftColor);
}

// One longhand from its tokens; false when the value is not valid for the property.
bool LonghandValue(Prop p, const std::vector<Tok>& toks, CssValue& v) {
  if (toks.empty()) return false;
  const Tok& t = toks[0];
  std::string w = t.kind == Tok::Ident ? Lower(t.text) : std::string();
  if (toks.size() == 1 && w == "inherit") { v.kind = CssValue::Inherit; return true; }
  if (p == Prop::FontFamily) {
    auto fams = std::make_shared<FontFamilies>();
    std::string cur;
    auto flush = [&]() {
      if (!cur.empty()) fams->push_back(Utf8To16(cur));
      cur.clear();
    };
    for (const Tok& x : toks) {
      if (x.kind == Tok::Comma) flush();
      else if (x.kind == Tok::Str) { flush(); cur = x.text; }
      else if (x.kind == Tok::Ident) { if (!cur.empty()) cur += ' '; cur += x.text; }
      else return false;
    }
    flush();
    if (fams->empty()) return false;
    v.kind = CssValue::Families;
    v.families = fams;
    return true;
  }
  if (toks.size() != 1 && p != Prop::TextDecoration) return false;
  if (IsColorProp(p)) {
    if (w == "currentcolor" && p != Prop::Color) { v = Keyword(w); return true; }
    v.kind = CssValue::ColorValue;
    return TokColor(t, v.color);
  }
  switch (p) {
    case Prop::Display:
      if (!OneOf(w, {"none", "block", "inline", "inline-block", "list-item", "table", "inline-table",
                     "table-row", "table-row-group", "table-header-group", "table-footer-group",
                     "table-cell", "table-caption", "flex", "inline-flex", "run-in"}))
        return false;
      v = Keyword(w);
      return true;
    case Prop::Float: if (!OneOf(w, {"none", "left", "right"})) return false; v = Keyword(w); return true;
    case Prop::Clear: if (!OneOf(w, {"none", "left", "right", "both"})) return false; v = Keyword(w); return true;
    case Prop::Overflow:
      if (!OneOf(w, {"visible", "hidden", "auto", "scroll", "hidden-scroll", "scroll-indicator"})) return false;
      v = Keyword(w);
      return true;
    case Prop::Visibility: if (!OneOf(w, {"visible", "hidden", "collapse"})) return false; v = Keyword(w); return true;
    case Prop::FontSize:
      if (OneOf(w, {"xx-small", "x-small", "small", "medium", "large", "x-large", "xx-large",
                    "smaller", "larger"})) { v = Keyword(w); return true; }
      return LengthValue(t, true, false, v);
    case Prop::FontWeight:
      if (OneOf(w, {"normal", "bold", "bolder", "lighter"})) { v = Keyword(w); return true; }
      if (t.kind == Tok::Num && t.unit.empty() && t.num >= 1 && t.num <= 1000) {
        v.kind = CssValue::Number;
        v.num = t.num;
        return true;
      }
      return false;
    case Prop::FontStyle: if (!OneOf(w, {"normal", "italic", "oblique"})) return false; v = Keyword(w); return true;
    case Prop::TextDecoration: {
      bool underline = false;
      for (const Tok& x : toks) {
        if (x.kind != Tok::Ident) return false;
        std::string xw = Lower(x.text);
        if (xw == "underline") underline = true;
        else if (!OneOf(xw, {"none", "overline", "line-through", "blink"})) return false;
      }
      v = Keyword(underline ? "underline" : "none");
      return true;
    }
    case Prop::TextAlign:
      if (!OneOf(w, {"left", "right", "center", "justify", "start", "end"})) return false;
      v = Keyword(w == "justify" || w == "start" ? "left" : w == "end" ? "right" : w);
      return true;
    case Prop::LineHeight:
      if (w == "normal") { v = Keyword(w); return true; }
      if (t.kind == Tok::Num && t.unit.empty() && t.num >= 0) {
        v.kind = CssValue::Number;
        v.num = t.num;
        return true;
      }
      return LengthValue(t, true, false, v);
    case Prop::WhiteSpace:
      if (!OneOf(w, {"normal", "nowrap", "pre", "pre-wrap", "pre-line"})) return false;
      v = Keyword(w == "pre-wrap" ? "pre" : w == "pre-line" ? "normal" : w);
      return true;
    case Prop::Cursor:
      if (!OneOf(w, {"auto", "default", "pointer", "hand", "text"})) return false;
      v = Keyword(w == "hand" ? "pointer" : w);
      return true;
    case Prop::Width: case Prop::Height:
      if (w == "auto") { v = Keyword(w); return true; }
      return LengthValue(t, true, false, v);
    case Prop::MarginTop: case Prop::MarginRight: case Prop::MarginBottom: case Prop::MarginLeft:
      if (w == "auto") { v = Keyword(w); return true; }
      return LengthValue(t, true, true, v);
    case Prop::PaddingTop: case Prop::PaddingRight: case Prop::PaddingBottom: case Prop::PaddingLeft:
      return LengthValue(t, true, false, v);
    case Prop::BorderTopWidth: case Prop::BorderRightWidth: case Prop::BorderBottomWidth:
    case Prop::BorderLeftWidth:
      if (OneOf(w, {"thin", "medium", "thick"})) {
        v.kind = CssValue::Length;
        v.unit = Unit::Px;
        v.num = w == "thin" ? 1.f : w == "medium" ? 3.f : 5.f;
        return true;
      }
      return LengthValue(t, false, false, v);
    case Prop::BorderTopStyle: case Prop::BorderRightStyle: case Prop::BorderBottomStyle:
    case Prop::BorderLeftStyle:
      if (!OneOf(w, {"none", "hidden", "solid", "dotted", "dashed", "double", "groove", "ridge",
                     "inset", "outset"}))
        return false;
      v = Keyword(w);
      return true;
    default:
      return false;
  }
}

struct PropName { const char* name; Prop prop; };
const PropName kProps[] = {
    {"display", Prop::Display}, {"float", Prop::Float}, {"clear", Prop::Clear},
    {"overflow", Prop::Overflow}, {"visibility", Prop::Visibility}, {"color", Prop::Color},
    {"background-color", Prop::BackgroundColor}, {"font-family", Prop::FontFamily},
    {"font-size", Prop::FontSize}, {"font-weight", Prop::FontWeight},
    {"font-style", Prop::FontStyle}, {"text-decoration", Prop::TextDecoration},
    {"text-align", Prop::TextAlign}, {"line-height", Prop::LineHeight},
    {"white-space", Prop::WhiteSpace}, {"cursor", Prop::Cursor}, {"width", Prop::Width},
    {"height", Prop::Height}, {"margin-top", Prop::MarginTop}, {"margin-right", Prop::MarginRight},
    {"margin-bottom", Prop::MarginBottom}, {"margin-left", Prop::MarginLeft},
    {"padding-top", Prop::PaddingTop}, {"padding-right", Prop::PaddingRight},
    {"padding-bottom", Prop::PaddingBottom}, {"padding-left", Prop::PaddingLeft},
    {"border-top-width", Prop::BorderTopWidth}, {"border-right-width", Prop::BorderRightWidth},
    {"border-bottom-width", Prop::BorderBottomWidth}, {"border-left-width", Prop::BorderLeftWidth},
    {"border-top-style", Prop::BorderTopStyle}, {"border-right-style", Prop::BorderRightStyle},
    {"border-bottom-style", Prop::BorderBottomStyle}, {"border-left-style", Prop::BorderLeftStyle},
    {"border-top-color", Prop::BorderTopColor}, {"border-right-color", Prop::BorderRightColor},
    {"border-bottom-color", Prop::BorderBottomColor}, {"border-left-color", Prop::BorderLeftColor},
};

Prop Side(Prop top, int side) { return static_cast<Prop>(static_cast<int>(top) + side); }

void Push(DeclarationList& out, Prop p, const CssValue& v, bool important) {
  out.push_back(Declaration{p, important, v});
}

// margin, padding, border-width/style/color: one to four values, top right bottom left.
bool FourSides(Prop top, const std::vector<Tok>& toks, bool important, DeclarationList& out) {
  if (toks.empty() || toks.size() > 4) return false;
  CssValue v[4];
  for (size_t i = 0; i < toks.size(); ++i)
    if (!LonghandValue(top, {toks[i]}, v[i]) || v[i].kind == CssValue::Inherit) return false;
  static const int pick[5][4] = {{0}, {0, 0, 0, 0}, {0, 1, 0, 1}, {0, 1, 2, 1}, {0, 1, 2, 3}};
  for (int s = 0; s < 4; ++s) Push(out, Side(top, s), v[pick[toks.size()][s]], important);
  return true;
}

// border and border-<side>: width, style and colour in any order; the missing ones reset.
bool BorderShorthand(int firstSide, int lastSide, const std::vector<Tok>& toks, bool important,
                     DeclarationList& out) {
  CssValue width, style = Keyword("none"), color;
  width.kind = CssValue::Length;
  width.unit = Unit::Px;
  width.num = 3;  // medium
  bool haveColor = false, haveWidth = false, haveStyle = false;
  for (const Tok& t : toks) {
    CssValue v;
    if (!haveWidth && LonghandValue(Prop::BorderTopWidth, {t}, v)) { width = v; haveWidth = true; }
    else if (!haveStyle && LonghandValue(Prop::BorderTopStyle, {t}, v)) { style = v; haveStyle = true; }
    else if (!haveColor && LonghandValue(Prop::BorderTopColor, {t}, v)) { color = v; haveColor = true; }
    else return false;
  }
  if (toks.empty()) return false;
  for (int s = firstSide; s <= lastSide; ++s) {
    Push(out, Side(Prop::BorderTopWidth, s), width, important);
    Push(out, Side(Prop::BorderTopStyle, s), style, important);
    // Without a colour the border takes the text colour, which the cascade fills in.
    if (haveColor) Push(out, Side(Prop::BorderTopColor, s), color, important);
    else Push(out, Side(Prop::BorderTopColor, s), Keyword("currentcolor"), important);
  }
  return true;
}

bool FontShorthand(const std::vector<Tok>& toks, bool important, DeclarationList& out) {
  size_t i = 0;
  CssValue style = Keyword("normal"), weight = Keyword("normal"), size, lh = Keyword("normal");
  for (; i < toks.size(); ++i) {
    CssValue v;
    if (IsIdent(toks[i], "normal")) continue;
    if (LonghandValue(Prop::FontStyle, {toks[i]}, v)) style = v;
    else if (LonghandValue(Prop::FontWeight, {toks[i]}, v)) weight = v;
    else if (toks[i].kind == Tok::Ident && OneOf(Lower(toks[i].text), {"small-caps"})) continue;
    else break;
  }
  if (i >= toks.size() || !LonghandValue(Prop::FontSize, {toks[i]}, size)) return false;
  ++i;
  if (i < toks.size() && toks[i].kind == Tok::Slash) {
    if (i + 1 >= toks.size() || !LonghandValue(Prop::LineHeight, {toks[i + 1]}, lh)) return false;
    i += 2;
  }
  CssValue fam;
  std::vector<Tok> rest(toks.begin() + static_cast<long>(i), toks.end());
  if (!LonghandValue(Prop::FontFamily, rest, fam)) return false;
  Push(out, Prop::FontStyle, style, important);
  Push(out, Prop::FontWeight, weight, important);
  Push(out, Prop::FontSize, size, important);
  Push(out, Prop::LineHeight, lh, important);
  Push(out, Prop::FontFamily, fam, important);
  return true;
}

bool Shorthand(const std::string& name, const std::vector<Tok>& toks, bool important,
               DeclarationList& out) {
  if (toks.size() == 1 && IsIdent(toks[0], "inherit")) {
    CssValue inh;
    inh.kind = CssValue::Inherit;
    Prop first, last;
    if (name == "margin") first = Prop::MarginTop, last = Prop::MarginLeft;
    else if (name == "padding") first = Prop::PaddingTop, last = Prop::PaddingLeft;
    else if (name == "border") first = Prop::BorderTopWidth, last = Prop::BorderLeftColor;
    else return false;
    for (int p = static_cast<int>(first); p <= static_cast<int>(last); ++p)
      Push(out, static_cast<Prop>(p), inh, important);
    return true;
  }
  if (name == "margin") return FourSides(Prop::MarginTop, toks, important, out);
  if (name == "padding") return FourSides(Prop::PaddingTop, toks, important, out);
  if (name == "border-width") return FourSides(Prop::BorderTopWidth, toks, important, out);
  if (name == "border-style") return FourSides(Prop::BorderTopStyle, toks, important, out);
  if (name == "border-color") return FourSides(Prop::BorderTopColor, toks, important, out);
  if (name == "border") return BorderShorthand(0, 3, toks, important, out);
  static const char* sides[4] = {"border-top", "border-right", "border-bottom", "border-left"};
  for (int s = 0; s < 4; ++s)
    if (name == sides[s]) return BorderShorthand(s, s, toks, important, out);
  if (name == "font") return FontShorthand(toks, important, out);
  if (name == "background") {
    // Only the colour of a background is drawn; images and positions are accepted and ignored.
    CssValue c;
    c.kind = CssValue::ColorValue;
    c.color = 0;
    for (const Tok& t : toks) {
      Color col;
      if (TokColor(t, col)) c.color = col;
    }
    Push(out, Prop::BackgroundColor, c, important);
    return true;
  }
  return false;
}

bool ParseOne(std::string_view name, std::string_view value, bool important, DeclarationList& out) {
  std::string n = Lower(Trim(name));
  std::vector<Tok> toks = Tokenize(value);
  for (const PropName& pn : kProps) {
    if (n == pn.name) {
      CssValue v;
      if (!LonghandValue(pn.prop, toks, v)) return false;
      Push(out, pn.prop, v, important);
      return true;
    }
  }
  return Shorthand(n, toks, important, out);
}

}  // namespace

bool ParseColor(std::string_view text, Color& out) {
  std::vector<Tok> toks = Tokenize(text);
  return toks.size() == 1 && TokColor(toks[0], out);
}

bool ParseProperty(std::string_view name, std::string_view value, DeclarationList& out) {
  return ParseOne(name, value, false, out);
}

void ParseDeclarations(std::string_view text, DeclarationList& out) {
  std::string clean = StripComments(text);
  for (std::string_view part : SplitTop(clean, ';')) {
    size_t colon = part.find(':');
    if (colon == std::string_view::npos) continue;
    std::string_view name = part.substr(0, colon);
    std::string_view value = Trim(part.substr(colon + 1));
    bool important = false;
    size_t bang = value.rfind('!');
    if (bang != std::string_view::npos && Lower(Trim(value.substr(bang + 1))) == "important") {
      important = true;
      value = Trim(value.substr(0, bang));
    }
    ParseOne(name, value, important, out);
  }
}

// ---- selectors -------------------------------------------------------------------------------

namespace {

class SelectorParser {
 public:
  explicit SelectorParser(std::string_view s) : s_(s) {}

  bool ParseList(std::vector<Selector>& out) {
    for (std::string_view part : SplitTop(s_, ',')) {
      SelectorParser p(Trim(part));
      Selector sel;
      if (!p.ParseComplex(sel)) return false;
      out.push_back(std::move(sel));
    }
    return !out.empty();
  }

 private:
  bool AtEnd() const { return i_ >= s_.size(); }
  char Peek() const { return AtEnd() ? '\0' : s_[i_]; }
  void SkipSpace() { while (!AtEnd() && IsSpace(s_[i_])) ++i_; }

  bool Ident(std::string& out) {
    out.clear();
    while (!AtEnd()) {
      char c = s_[i_];
      if (c == '\\' && i_ + 1 < s_.size()) { out.push_back(s_[i_ + 1]); i_ += 2; continue; }
      if (!IsIdentChar(c)) break;
      out.push_back(c);
      ++i_;
    }
    return !out.empty();
  }

  bool ParseComplex(Selector& sel) {
    if (s_.empty()) return false;
    for (;;) {
      Compound c;
      if (!ParseCompound(c)) return false;
      sel.parts.push_back(std::move(c));
      size_t before = i_;
      SkipSpace();
      if (AtEnd()) break;
      char comb = ' ';
      if (Peek() == '>') { comb = '>'; ++i_; SkipSpace(); }
      else if (i_ == before) return false;  // two compounds with nothing between them
      if (AtEnd()) return false;
      sel.combinators.push_back(comb);
    }
    uint32_t a = 0, b = 0, c = 0;
    for (const Compound& part : sel.parts) {
      a += part.id.empty() ? 0 : 1;
      b += static_cast<uint32_t>(part.classes.size() + part.attrs.size());
      for (uint32_t bits = part.states; bits; bits &= bits - 1) ++b;
      c += part.tag.empty() ? 0 : 1;
      sel.states |= part.states;
    }
    auto cap = [](uint32_t x) { return x > 255 ? 255u : x; };
    sel.specificity = (cap(a) << 16) | (cap(b) << 8) | cap(c);
    return sel.parts.size() <= 32;
  }

  bool ParseCompound(Compound& c) {
    bool any = false;
    std::string word;
    if (Peek() == '*') { ++i_; any = true; }
    else if (IsIdentStart(Peek()) && Ident(word)) { c.tag = Lower(word); any = true; }
    for (;;) {
      char ch = Peek();
      if (ch == '.') {
        ++i_;
        if (!Ident(word)) return false;
        c.classes.push_back(Utf8To16(word));
      } else if (ch == '#') {
        ++i_;
        if (!Ident(word) || !c.id.empty()) return false;
        c.id = Utf8To16(word);
      } else if (ch == '[') {
        ++i_;
        if (!ParseAttr(c)) return false;
      } else if (ch == ':') {
        ++i_;
        if (!Ident(word)) return false;
        std::string w = Lower(word);
        if (w == "hover") c.states |= kStateHover;
        else if (w == "checked") c.states |= kStateChecked;
        else return false;
      } else {
        break;
      }
      any = true;
    }
    return any;
  }

  bool ParseAttr(Compound& c) {
    SkipSpace();
    AttrCondition a;
    std::string word;
    if (!Ident(word)) return false;
    a.name = Lower(word);
    SkipSpace();
    if (Peek() == '=') {
      ++i_;
      SkipSpace();
      a.hasValue = true;
      if (Peek() == '"' || Peek() == '\'') {
        size_t j = SkipString(s_, i_);
        if (j > s_.size() || s_[j - 1] != s_[i_] || j - i_ < 2) return false;
        a.value = Utf8To16(Unquote(s_.substr(i_, j - i_)));
        i_ = j;
      } else {
        // Unquoted values may be numbers ("task-id=12"), which are no identifiers.
        size_t j = i_;
        while (j < s_.size() && (IsIdentChar(s_[j]) || s_[j] == '.')) ++j;
        if (j == i_) return false;
        a.value = Utf8To16(std::string(s_.substr(i_, j - i_)));
        i_ = j;
      }
      SkipSpace();
    }
    if (Peek() != ']') return false;
    ++i_;
    c.attrs.push_back(std::move(a));
    return true;
  }

  std::string_view s_;
  size_t i_ = 0;
};

// Finds the '}' that closes the block whose '{' is at s[open]; npos when unclosed.
size_t MatchBrace(std::string_view s, size_t open) {
  int depth = 0;
  for (size_t i = open; i < s.size();) {
    char c = s[i];
    if (c == '"' || c == '\'') { i = SkipString(s, i); continue; }
    if (c == '{') ++depth;
    else if (c == '}' && --depth == 0) return i;
    ++i;
  }
  return std::string_view::npos;
}

// Finds the next ch outside strings and parentheses.
size_t FindTop(std::string_view s, size_t from, char ch) {
  int depth = 0;
  for (size_t i = from; i < s.size();) {
    char c = s[i];
    if (c == '"' || c == '\'') { i = SkipString(s, i); continue; }
    if (c == '(') ++depth;
    else if (c == ')' && depth > 0) --depth;
    else if (c == ch && depth == 0) return i;
    ++i;
  }
  return std::string_view::npos;
}

std::vector<std::string> MediaList(std::string_view text) {
  std::vector<std::string> media;
  for (std::string_view m : SplitTop(text, ',')) {
    std::string w = Lower(Trim(m));
    if (!w.empty()) media.push_back(w);
  }
  return media;
}

void ParseBlock(std::string_view s, const std::vector<std::string>& media, StyleSheet& out,
                int depth) {
  size_t i = 0;
  while (i < s.size()) {
    while (i < s.size() && (IsSpace(s[i]) || s[i] == ';' || s[i] == '}')) ++i;
    if (i >= s.size()) break;
    if (s[i] == '@') {
      size_t j = i + 1;
      while (j < s.size() && IsIdentChar(s[j])) ++j;
      std::string kw = Lower(s.substr(i + 1, j - i - 1));
      size_t semi = FindTop(s, j, ';');
      size_t brace = FindTop(s, j, '{');
      if (kw == "import" && semi != std::string_view::npos && (brace == std::string_view::npos || semi < brace)) {
        std::vector<Tok> toks = Tokenize(s.substr(j, semi - j));
        SheetItem item;
        item.kind = SheetItem::Import;
        size_t k = 0;
        if (!toks.empty() && toks[0].kind == Tok::Func && toks[0].text == "url")
          item.importUri = Unquote(Trim(toks[0].args)), k = 1;
        else if (!toks.empty() && toks[0].kind == Tok::Str)
          item.importUri = toks[0].text, k = 1;
        std::string rest;
        for (; k < toks.size(); ++k) rest += toks[k].kind == Tok::Comma ? std::string(",") : toks[k].text + " ";
        item.media = media.empty() ? MediaList(rest) : media;
        if (!item.importUri.empty()) out.items.push_back(std::move(item));
        i = semi + 1;
      } else if (kw == "media" && brace != std::string_view::npos &&
                 (semi == std::string_view::npos || brace < semi)) {
        size_t close = MatchBrace(s, brace);
        std::vector<std::string> inner = MediaList(s.substr(j, brace - j));
        if (depth < 4) {
          ParseBlock(s.substr(brace + 1, (close == std::string_view::npos ? s.size() : close) - brace - 1),
                     inner, out, depth + 1);
        }
        i = close == std::string_view::npos ? s.size() : close + 1;
      } else if (brace != std::string_view::npos && (semi == std::string_view::npos || brace < semi)) {
        size_t close = MatchBrace(s, brace);
        i = close == std::string_view::npos ? s.size() : close + 1;
      } else {
        i = semi == std::string_view::npos ? s.size() : semi + 1;
      }
      continue;
    }
    size_t brace = FindTop(s, i, '{');
    if (brace == std::string_view::npos) break;
    size_t close = MatchBrace(s, brace);
    size_t end = close == std::string_view::npos ? s.size() : close;
    SheetItem item;
    item.media = media;
    if (ParseSelectorList(Trim(s.substr(i, brace - i)), item.selectors)) {
      auto decls = std::make_shared<DeclarationList>();
      ParseDeclarations(s.substr(brace + 1, end - brace - 1), *decls);
      if (!decls->empty()) {
        item.decls = decls;
        out.items.push_back(std::move(item));
      }
    }
    i = close == std::string_view::npos ? s.size() : close + 1;
  }
}

}  // namespace

bool ParseSelectorList(std::string_view text, std::vector<Selector>& out) {
  std::vector<Selector> sels;
  SelectorParser p(Trim(text));
  if (!p.ParseList(sels)) return false;
  for (Selector& s : sels) out.push_back(std::move(s));
  return true;
}

void ParseStyleSheet(std::string_view css, StyleSheet& out) {
  std::string clean = StripComments(css);
  ParseBlock(clean, {}, out, 0);
}

bool MediaMatches(const std::vector<std::string>& media, const std::string& type) {
  if (media.empty()) return true;
  for (const std::string& m : media)
    if (m == "all" || m == type) return true;
  return false;
}

}  // namespace hl
