// The cascade: rule index, selector matching, and turning the winning declarations into a
// computed style with inheritance of font and colour.
#include "Style.h"

#include <algorithm>
#include <cmath>

#include "Dom.h"

namespace hl {
namespace {

const char kEngineDefaults[] = R"CSS(
html, body, div, p, h1, h2, h3, h4, h5, h6, ul, ol, li, dl, dt, dd, form, blockquote, pre, center,
table, tr, tbody, thead, tfoot, caption, hr, address, section, article, header, footer, nav, aside,
main, fieldset, legend, figure, figcaption, menu, details, summary { display: block }
head, style, script, title, meta, link, base, template, noscript { display: none }
td, th, img, button, input, select, textarea { display: inline-block }
html { font-family: sans-serif; font-size: 16px; color: black }
body { margin: 8px }
p { margin: 1em 0 }
h1 { font-size: 2em; margin: 0.67em 0; font-weight: bold }
h2 { font-size: 1.5em; margin: 0.83em 0; font-weight: bold }
h3 { font-size: 1.17em; margin: 1em 0; font-weight: bold }
h4 { margin: 1.33em 0; font-weight: bold }
h5 { font-size: 0.83em; margin: 1.67em 0; font-weight: bold }
h6 { font-size: 0.67em; margin: 2.33em 0; font-weight: bold }
b, strong, th { font-weight: bold }
i, em, cite, var, address { font-style: italic }
u, ins { text-decoration: underline }
a[href] { color: #0000ff; text-decoration: underline; cursor: pointer }
pre, code, tt, kbd, samp { font-family: monospace }
pre { white-space: pre; margin: 1em 0 }
ul, ol, menu { margin: 1em 0; padding-left: 40px }
dd { margin-left: 40px }
blockquote { margin: 1em 40px }
hr { border: 1px solid #a0a0a0; margin: 0.5em 0 }
center { text-align: center }
small, sub, sup { font-size: smaller }
big { font-size: larger }
td, th { padding: 1px }
button { border: 1px solid #a0a0a0; background-color: #e1e1e1; padding: 2px 6px; cursor: default }
button[type=checkbox] { border: none; background-color: transparent; padding: 1px 2px 1px 18px }
)CSS";

int Resolve(const CssValue& v, int fontSize, int percentBase) {
  float px = v.num;
  switch (v.unit) {
    case Unit::Em: px = v.num * fontSize; break;
    case Unit::Ex: px = v.num * fontSize / 2; break;
    case Unit::Pt: px = v.num * 4 / 3; break;
    case Unit::Percent: px = v.num * percentBase / 100; break;
    default: break;
  }
  if (!std::isfinite(px)) return 0;
  px = std::max(-100000.f, std::min(100000.f, px));
  return static_cast<int>(std::lround(px));
}

Len ToLen(const CssValue& v, int fontSize) {
  Len l;
  if (v.kind == CssValue::Keyword) {
    l.kind = Len::Auto;
  } else if (v.unit == Unit::Percent) {
    l.kind = Len::Percent;
    l.v = std::max(-10000.f, std::min(10000.f, v.num));
  } else {
    l.kind = Len::Px;
    l.v = static_cast<float>(Resolve(v, fontSize, 0));
  }
  return l;
}

Display ToDisplay(const std::string& k) {
  if (k == "none") return Display::None;
  if (k == "inline") return Display::Inline;
  if (k == "inline-block" || k == "inline-table" || k == "inline-flex" || k == "table-cell")
    return Display::InlineBlock;
  return Display::Block;
}

BorderStyle ToBorderStyle(const std::string& k) {
  if (k == "none" || k == "hidden") return BorderStyle::None;
  if (k == "dotted") return BorderStyle::Dotted;
  if (k == "dashed") return BorderStyle::Dashed;
  return BorderStyle::Solid;
}

bool MatchesCompound(const Compound& c, const Element* e, bool ignoreStates = false) {
  if (!c.tag.empty() && c.tag != e->tag()) return false;
  if (!c.id.empty()) {
    const std::u16string* id = e->Id();
    if (!id || *id != c.id) return false;
  }
  for (const std::u16string& cls : c.classes) {
    const auto& have = e->classes();
    if (std::find(have.begin(), have.end(), cls) == have.end()) return false;
  }
  for (const AttrCondition& a : c.attrs) {
    const std::u16string* v = e->Attr(a.name);
    if (!v || (a.hasValue && *v != a.value)) return false;
  }
  return ignoreStates || (e->state() & c.states) == c.states;
}

}  // namespace

const StyleSheet& EngineDefaultSheet() {
  static const StyleSheet* sheet = [] {
    auto* s = new StyleSheet;
    ParseStyleSheet(kEngineDefaults, *s);
    return s;
  }();
  return *sheet;
}

// Matching runs over the ancestor chain one compound at a time, keeping for every ancestor
// whether the selector's prefix matches there. That costs parts x depth, never more, where
// backtracking on descendant combinators can explode on hostile selectors.
bool MatchesSelector(const Selector& s, const Element* e) {
  const size_t parts = s.parts.size();
  if (parts == 0 || !MatchesCompound(s.parts[parts - 1], e)) return false;
  if (parts == 1) return true;
  constexpr size_t kMaxChain = 256;
  const Element* chain[kMaxChain];
  size_t n = 0;
  for (const Element* a = e; a && n < kMaxChain; a = a->parent()) chain[n++] = a;
  bool prev[kMaxChain], cur[kMaxChain];
  for (size_t k = 0; k < n; ++k) prev[k] = MatchesCompound(s.parts[0], chain[k]);
  for (size_t i = 1; i < parts; ++i) {
    char comb = s.combinators[i - 1];
    bool above = false;
    for (size_t k = n; k-- > 0;) {
      bool reach = comb == '>' ? (k + 1 < n && prev[k + 1]) : above;
      cur[k] = reach && (i + 1 == parts ? k == 0 : true) && MatchesCompound(s.parts[i], chain[k]);
      above = above || prev[k];
    }
    std::copy(cur, cur + n, prev);
  }
  return prev[0];
}

bool ComputedStyle::SameLayout(const ComputedStyle& o) const {
  if (display != o.display || floating != o.floating || clear != o.clear ||
      overflowHidden != o.overflowHidden || font != o.font || align != o.align ||
      lineHeightKind != o.lineHeightKind || lineHeight != o.lineHeight ||
      whiteSpace != o.whiteSpace || !(width == o.width) || !(height == o.height))
    return false;
  for (int i = 0; i < 4; ++i)
    if (!(margin[i] == o.margin[i]) || !(padding[i] == o.padding[i]) ||
        borderWidth[i] != o.borderWidth[i])
      return false;
  return true;
}

void StyleResolver::Build(const std::vector<std::shared_ptr<const StyleSheet>>& pageSheets,
                          const std::string& media) {
  keep_.clear();
  rules_.clear();
  byId_.clear();
  byClass_.clear();
  byTag_.clear();
  universal_.clear();
  stateCompounds_.clear();
  order_ = 0;
  static const std::shared_ptr<const StyleSheet> defaults(&EngineDefaultSheet(), [](const StyleSheet*) {});
  AddSheet(defaults, 0, media, 0);
  for (const auto& s : pageSheets) AddSheet(s, 1, media, 0);
}

void StyleResolver::AddSheet(const std::shared_ptr<const StyleSheet>& sheet, uint8_t origin,
                             const std::string& media, int depth) {
  if (!sheet || depth > 16) return;
  keep_.push_back(sheet);
  for (const SheetItem& item : sheet->items) {
    if (!MediaMatches(item.media, media)) continue;
    if (item.kind == SheetItem::Import) {
      AddSheet(item.imported, origin, media, depth + 1);
      continue;
    }
    for (const Selector& sel : item.selectors) {
      uint32_t index = static_cast<uint32_t>(rules_.size());
      rules_.push_back(MatchedRule{&sel, item.decls.get(), order_++, origin});
      const Compound& last = sel.parts.back();
      if (!last.id.empty()) byId_[last.id].push_back(index);
      else if (!last.classes.empty()) byClass_[last.classes[0]].push_back(index);
      else if (!last.tag.empty()) byTag_[last.tag].push_back(index);
      else universal_.push_back(index);
      if (sel.states) {
        for (const Compound& c : sel.parts)
          if (c.states) stateCompounds_.push_back(&c);
      }
    }
  }
}

bool StyleResolver::StateMayMatter(const Element* e, uint32_t bits) const {
  for (const Compound* c : stateCompounds_)
    if ((c->states & bits) && MatchesCompound(*c, e, true)) return true;
  return false;
}

void StyleResolver::Collect(const Element* e, std::vector<MatchedRule>& out) const {
  auto scan = [&](const std::vector<uint32_t>& bucket) {
    for (uint32_t i : bucket)
      if (MatchesSelector(*rules_[i].selector, e)) out.push_back(rules_[i]);
  };
  if (const std::u16string* id = e->Id()) {
    auto it = byId_.find(*id);
    if (it != byId_.end()) scan(it->second);
  }
  const auto& classes = e->classes();
  for (size_t i = 0; i < classes.size(); ++i) {
    // A class listed twice in the attribute must not match its rules twice.
    if (std::find(classes.begin(), classes.begin() + static_cast<long>(i), classes[i]) !=
        classes.begin() + static_cast<long>(i))
      continue;
    auto it = byClass_.find(classes[i]);
    if (it != byClass_.end()) scan(it->second);
  }
  auto it = byTag_.find(e->tag());
  if (it != byTag_.end()) scan(it->second);
  scan(universal_);
}

void StyleResolver::Compute(Element* e, const ComputedStyle* parent, FontMetrics& fonts,
                            ComputedStyle& s) const {
  static thread_local std::vector<MatchedRule> matched;
  matched.clear();
  Collect(e, matched);
  std::sort(matched.begin(), matched.end(), [](const MatchedRule& a, const MatchedRule& b) {
    if (a.origin != b.origin) return a.origin < b.origin;
    if (a.selector->specificity != b.selector->specificity)
      return a.selector->specificity < b.selector->specificity;
    return a.order < b.order;
  });

  // The winning value of each property: rules in cascade order, then the style attribute, then
  // styles set at run time; important declarations after all normal ones.
  const CssValue* win[static_cast<int>(Prop::Count)] = {};
  for (int pass = 0; pass < 2; ++pass) {
    bool important = pass == 1;
    auto apply = [&](const DeclarationList& list) {
      for (const Declaration& d : list)
        if (d.important == important) win[static_cast<int>(d.prop)] = &d.value;
    };
    for (const MatchedRule& m : matched) apply(*m.decls);
    apply(e->inlineStyle());
    apply(e->runtimeStyle());
  }
  auto get = [&](Prop p) -> const CssValue* { return win[static_cast<int>(p)]; };

  static const ComputedStyle kInitial;
  const ComputedStyle& inh = parent ? *parent : kInitial;
  s = ComputedStyle();
  s.color = inh.color;
  s.families = inh.families;
  s.fontSize = inh.fontSize;
  s.fontWeight = inh.fontWeight;
  s.italic = inh.italic;
  s.underline = inh.underline;
  s.align = inh.align;
  s.lineHeightKind = inh.lineHeightKind;
  s.lineHeight = inh.lineHeight;
  s.whiteSpace = inh.whiteSpace;
  s.hidden = inh.hidden;
  s.cursor = inh.cursor;

  // Font size first: em lengths of every other property depend on it.
  if (const CssValue* v = get(Prop::FontSize)) {
    if (v->kind == CssValue::Keyword) {
      const std::string& k = v->keyword;
      static const struct { const char* name; int px; } kSizes[] = {
          {"xx-small", 9}, {"x-small", 10}, {"small", 13}, {"medium", 16},
          {"large", 18}, {"x-large", 24}, {"xx-large", 32}};
      if (k == "smaller") s.fontSize = inh.fontSize * 5 / 6;
      else if (k == "larger") s.fontSize = inh.fontSize * 6 / 5;
      for (const auto& sz : kSizes)
        if (k == sz.name) s.fontSize = sz.px;
    } else if (v->kind == CssValue::Length) {
      s.fontSize = v->unit == Unit::Em || v->unit == Unit::Ex || v->unit == Unit::Percent
                       ? Resolve(*v, inh.fontSize, inh.fontSize)
                       : Resolve(*v, inh.fontSize, 0);
    }
    s.fontSize = std::max(1, std::min(500, s.fontSize));
  }
  const int fs = s.fontSize;

  for (int pi = 0; pi < static_cast<int>(Prop::Count); ++pi) {
    const Prop p = static_cast<Prop>(pi);
    const CssValue* v = win[pi];
    if (!v || p == Prop::FontSize) continue;
    if (v->kind == CssValue::Inherit) {
      switch (p) {
        case Prop::Display: s.display = inh.display; break;
        case Prop::Float: s.floating = inh.floating; break;
        case Prop::Clear: s.clear = inh.clear; break;
        case Prop::Overflow: s.overflowHidden = inh.overflowHidden; break;
        case Prop::BackgroundColor: s.background = inh.background; break;
        case Prop::Width: s.width = inh.width; break;
        case Prop::Height: s.height = inh.height; break;
        case Prop::MarginTop: case Prop::MarginRight: case Prop::MarginBottom: case Prop::MarginLeft:
          s.margin[pi - static_cast<int>(Prop::MarginTop)] = inh.margin[pi - static_cast<int>(Prop::MarginTop)];
          break;
        case Prop::PaddingTop: case Prop::PaddingRight: case Prop::PaddingBottom: case Prop::PaddingLeft:
          s.padding[pi - static_cast<int>(Prop::PaddingTop)] = inh.padding[pi - static_cast<int>(Prop::PaddingTop)];
          break;
        default: break;  // inherited properties already hold the parent's value
      }
      continue;
    }
    const std::string& k = v->keyword;
    switch (p) {
      case Prop::Display: s.display = ToDisplay(k); break;
      case Prop::Float: s.floating = k == "left" ? FloatSide::Left : k == "right" ? FloatSide::Right : FloatSide::None; break;
      case Prop::Clear:
        s.clear = k == "left" ? ClearSide::Left : k == "right" ? ClearSide::Right : k == "both" ? ClearSide::Both : ClearSide::None;
        break;
      case Prop::Overflow: s.overflowHidden = k != "visible"; break;
      case Prop::Visibility: s.hidden = k != "visible"; break;
      case Prop::Color: s.color = v->color; break;
      case Prop::BackgroundColor: s.background = v->kind == CssValue::ColorValue ? v->color : 0; break;
      case Prop::FontFamily: s.families = v->families; break;
      case Prop::FontWeight:
        if (v->kind == CssValue::Number) s.fontWeight = static_cast<int>(v->num);
        else if (k == "normal") s.fontWeight = 400;
        else if (k == "bold") s.fontWeight = 700;
        else if (k == "bolder") s.fontWeight = std::min(900, inh.fontWeight + 300);
        else if (k == "lighter") s.fontWeight = std::max(100, inh.fontWeight - 300);
        break;
      case Prop::FontStyle: s.italic = k != "normal"; break;
      case Prop::TextDecoration: s.underline = k == "underline"; break;
      case Prop::TextAlign: s.align = k == "center" ? TextAlign::Center : k == "right" ? TextAlign::Right : TextAlign::Left; break;
      case Prop::LineHeight:
        if (v->kind == CssValue::Number) {
          s.lineHeightKind = ComputedStyle::LineHeightKind::Factor;
          s.lineHeight = std::min(100.f, v->num);
        } else if (v->kind == CssValue::Length) {
          s.lineHeightKind = ComputedStyle::LineHeightKind::Px;
          s.lineHeight = static_cast<float>(std::min(10000, Resolve(*v, fs, fs)));
        } else {
          s.lineHeightKind = ComputedStyle::LineHeightKind::Normal;
        }
        break;
      case Prop::WhiteSpace: s.whiteSpace = k == "pre" ? WhiteSpace::Pre : k == "nowrap" ? WhiteSpace::NoWrap : WhiteSpace::Normal; break;
      case Prop::Cursor:
        s.cursor = k == "pointer" ? CursorKind::Pointer : k == "default" ? CursorKind::Default : k == "text" ? CursorKind::Text : CursorKind::Auto;
        break;
      case Prop::Width: s.width = ToLen(*v, fs); break;
      case Prop::Height: s.height = ToLen(*v, fs); break;
      case Prop::MarginTop: case Prop::MarginRight: case Prop::MarginBottom: case Prop::MarginLeft:
        s.margin[pi - static_cast<int>(Prop::MarginTop)] = ToLen(*v, fs);
        break;
      case Prop::PaddingTop: case Prop::PaddingRight: case Prop::PaddingBottom: case Prop::PaddingLeft:
        s.padding[pi - static_cast<int>(Prop::PaddingTop)] = ToLen(*v, fs);
        break;
      case Prop::BorderTopWidth: case Prop::BorderRightWidth: case Prop::BorderBottomWidth: case Prop::BorderLeftWidth:
        s.borderWidth[pi - static_cast<int>(Prop::BorderTopWidth)] = std::max(0, std::min(1000, Resolve(*v, fs, 0)));
        break;
      case Prop::BorderTopStyle: case Prop::BorderRightStyle: case Prop::BorderBottomStyle: case Prop::BorderLeftStyle:
        s.borderStyle[pi - static_cast<int>(Prop::BorderTopStyle)] = ToBorderStyle(k);
        break;
      default: break;
    }
  }
  for (int side = 0; side < 4; ++side) {
    const CssValue* c = get(static_cast<Prop>(static_cast<int>(Prop::BorderTopColor) + side));
    if (c && c->kind == CssValue::ColorValue) s.borderColor[side] = c->color;
    else if (c && c->kind == CssValue::Inherit) s.borderColor[side] = inh.borderColor[side];
    else s.borderColor[side] = s.color;
    if (s.borderStyle[side] == BorderStyle::None) s.borderWidth[side] = 0;
  }

  if (parent && s.families == parent->families && s.fontSize == parent->fontSize &&
      s.fontWeight == parent->fontWeight && s.italic == parent->italic) {
    s.font = parent->font;
  } else {
    FontSpec spec;
    spec.families = s.families;
    spec.sizePx = s.fontSize;
    spec.weight = s.fontWeight;
    spec.italic = s.italic;
    s.font = fonts.Font(spec);
  }
}

}  // namespace hl
