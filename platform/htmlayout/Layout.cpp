// Block and inline layout. Positions are kept relative to the containing block, so a block that
// did not change keeps its whole subtree and only moves when the blocks above it change height.
#include "Layout.h"

#include <algorithm>
#include <climits>

#include "Utf.h"

namespace hl {

// A string longer than kMaxCachedChars costs about as much to hash as to measure and seldom comes
// again, so it is not kept: one long word must not fill the cache with its prefixes.
int TextMeasurer::Width(FontId font, const char16_t* s, size_t n) {
  if (n == 0) return 0;
  if (n > kMaxCachedChars) return WidthUncached(font, s, n);
  if (font < 0) font = 0;
  if (static_cast<size_t>(font) >= widths_.size()) widths_.resize(static_cast<size_t>(font) + 1);
  auto& cache = widths_[static_cast<size_t>(font)];
  std::u16string key(s, n);
  auto it = cache.find(key);
  if (it != cache.end()) return it->second;
  // The key's characters, the node and its bucket; dropping everything at the budget is cheaper
  // than keeping an age for every word, and the words of the page come back at once.
  const size_t bytes = (n + 1) * sizeof(char16_t) + sizeof(std::pair<const std::u16string, int>) + 4 * sizeof(void*);
  if (cachedBytes_ + bytes > kCacheBytes) {
    for (auto& c : widths_) c.clear();
    cachedBytes_ = 0;
  }
  int w = WidthUncached(font, s, n);
  cache.emplace(std::move(key), w);
  cachedBytes_ += bytes;
  return w;
}

int TextMeasurer::WidthUncached(FontId font, const char16_t* s, size_t n) {
  if (n == 0) return 0;
  return std::max(0, fonts_.Measure(font < 0 ? 0 : font, s, n));
}

void TextMeasurer::Clear() {
  widths_.clear();
  infos_.clear();
  cachedBytes_ = 0;
}

FontInfo TextMeasurer::Info(FontId font) {
  if (font < 0) font = 0;
  if (static_cast<size_t>(font) >= infos_.size()) infos_.resize(static_cast<size_t>(font) + 1);
  auto& slot = infos_[static_cast<size_t>(font)];
  if (!slot.first) {
    slot.second = fonts_.Info(font);
    slot.first = true;
  }
  return slot.second;
}

namespace {

constexpr int kTop = 0, kRight = 1, kBottom = 2, kLeft = 3;

bool IsReplaced(const Element* e) { return e->tag() == "img"; }
bool IsWs(char16_t c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f'; }

int Clamp(int v, int lo, int hi) { return v < lo ? lo : v > hi ? hi : v; }

struct FloatRect {
  int l, t, r, b;
  bool left;
};

// Floats of one block formatting context, in its coordinates. The flow only moves down, so floats
// that end above the last query can be dropped from the active list.
class FloatContext {
 public:
  void Band(int y, int h, int l, int r, int& outL, int& outR) {
    Prune(y);
    outL = l;
    outR = r;
    int bottom = y + std::max(h, 1);
    for (const FloatRect& f : active_) {
      if (f.t >= bottom || f.b <= y) continue;
      if (f.left) outL = std::max(outL, f.r);
      else outR = std::min(outR, f.l);
    }
  }
  int NextChange(int y) const {
    int next = INT_MAX;
    for (const FloatRect& f : active_)
      if (f.b > y) next = std::min(next, f.b);
    return next;
  }
  int ClearY(ClearSide c) const {
    if (c == ClearSide::Left) return leftBottom_;
    if (c == ClearSide::Right) return rightBottom_;
    if (c == ClearSide::Both) return std::max(leftBottom_, rightBottom_);
    return INT_MIN;
  }
  bool AnyBelow(int y) const { return std::max(leftBottom_, rightBottom_) > y; }
  void Add(const FloatRect& f) {
    active_.push_back(f);
    ++added_;
    (f.left ? leftBottom_ : rightBottom_) = std::max(f.left ? leftBottom_ : rightBottom_, f.b);
  }
  size_t added() const { return added_; }
  int MaxBottom() const { return std::max(leftBottom_, rightBottom_); }

 private:
  void Prune(int y) {
    if (active_.size() < 16) return;
    active_.erase(std::remove_if(active_.begin(), active_.end(), [y](const FloatRect& f) { return f.b <= y; }),
                  active_.end());
  }
  std::vector<FloatRect> active_;
  size_t added_ = 0;
  int leftBottom_ = INT_MIN, rightBottom_ = INT_MIN;
};

struct RunItem {
  enum Kind : uint8_t { Text, Open, Close, Atomic, Break, Float } kind;
  Element* el;                         // text: the element whose style applies
  const std::u16string* text = nullptr;
};

struct Piece {
  RunItem::Kind kind = RunItem::Text;
  Element* el = nullptr;
  std::u16string text;
  int w = 0;
  int trimW = 0;  // without a trailing collapsible space
  bool space = false;
  int x = 0;
  // A word broken across lines keeps its unplaced rest from `from` on, unmeasured (w and trimW
  // stay 0) until a line finds it fits: each line then costs its own length, not the rest's.
  size_t from = 0;
  bool cut = false;
};

struct Cluster {
  std::vector<Piece> pieces;
  bool forcedBreak = false;
  Element* floatEl = nullptr;
  bool wrapBefore = true;
  int Width() const {
    int w = 0;
    for (const Piece& p : pieces) w += p.w;
    return w;
  }
  int TrimWidth() const {
    int w = Width();
    for (size_t i = pieces.size(); i-- > 0;) {
      if (pieces[i].kind == RunItem::Close) continue;
      if (pieces[i].kind == RunItem::Text) w -= pieces[i].w - pieces[i].trimW;
      break;
    }
    return w;
  }
};

int LineHeightOf(const ComputedStyle& s, const FontInfo& fi) {
  switch (s.lineHeightKind) {
    case ComputedStyle::LineHeightKind::Px: return static_cast<int>(s.lineHeight);
    case ComputedStyle::LineHeightKind::Factor: return static_cast<int>(s.lineHeight * s.fontSize + 0.5f);
    default: return fi.lineHeight;
  }
}

void ResolveEdges(Element* e, int cw, LayoutBox& box) {
  const ComputedStyle& s = e->style;
  for (int i = 0; i < 4; ++i) {
    box.margin[i] = s.margin[i].kind == Len::Auto ? 0 : Clamp(s.margin[i].Resolve(cw), -100000, 100000);
    box.padding[i] = Clamp(s.padding[i].Resolve(cw), 0, 100000);
    box.border[i] = s.borderWidth[i];
  }
}

int HEdges(const LayoutBox& b) { return b.border[kLeft] + b.border[kRight] + b.padding[kLeft] + b.padding[kRight]; }
int VEdges(const LayoutBox& b) { return b.border[kTop] + b.border[kBottom] + b.padding[kTop] + b.padding[kBottom]; }

int AttrInt(const Element* e, const char* name) {
  const std::u16string* v = e->Attr(name);
  if (!v || v->empty()) return -1;
  long n = 0;
  for (char16_t c : *v) {
    if (c < '0' || c > '9') break;
    n = n * 10 + (c - '0');
    if (n > 100000) return 100000;
  }
  return static_cast<int>(n);
}

void ReplacedSize(const Element* e, int cw, int& w, int& h) {
  int nw = e->image ? e->image->Width() : 0;
  int nh = e->image ? e->image->Height() : 0;
  const ComputedStyle& s = e->style;
  w = s.width.kind != Len::Auto ? s.width.Resolve(cw) : AttrInt(e, "width");
  h = s.height.kind == Len::Px ? static_cast<int>(s.height.v) : AttrInt(e, "height");
  if (w < 0 && h < 0) {
    w = nw;
    h = nh;
  } else if (w < 0) {
    w = nh > 0 ? static_cast<int>(static_cast<long long>(h) * nw / nh) : nw;
  } else if (h < 0) {
    h = nw > 0 ? static_cast<int>(static_cast<long long>(w) * nh / nw) : nh;
  }
  w = Clamp(w, 0, 100000);
  h = Clamp(h, 0, 100000);
}

bool IsFloating(const Element* e) { return e->style.floating != FloatSide::None; }

// An inline element that holds a block is laid out as a block itself, so markup such as
// <a><div>...</div></a> from scripts still stacks instead of losing its content.
bool ContainsBlock(const Element* e) {
  for (const Node* n : e->children()) {
    const Element* c = n->AsElement();
    if (!c || c->style.display == Display::None || IsFloating(c)) continue;
    if (c->style.display == Display::Block) return true;
    if (c->style.display == Display::Inline && ContainsBlock(c)) return true;
  }
  return false;
}

bool IsBlockLevel(const Element* e) {
  if (e->style.display == Display::Block) return true;
  return e->style.display == Display::Inline && e->tag() != "br" && ContainsBlock(e);
}

class Layouter {
 public:
  Layouter(TextMeasurer& tm, LayoutStats& st) : tm_(tm), st_(st) {}

  // Lays out a block-level box. cw is the containing block's content width; (pbx, pby) is the
  // containing block's border-box origin in fc's coordinates; (relX, relY) is where this box's
  // margin-left edge and border-top edge go relative to the containing block.
  void Block(Element* e, int cw, FloatContext* fc, int pbx, int pby, int relX, int relY, int forcedW,
             bool ownBfc) {
    LayoutBox& box = e->box;
    ownBfc = ownBfc || !fc || e->style.overflowHidden;
    const int top = pby + relY;
    const bool outsideFloats = !ownBfc && fc->AnyBelow(top);
    if (!e->layoutDirty() && box.cacheWidth == cw && box.cacheForced == forcedW &&
        (ownBfc || (!outsideFloats && box.floatFree && !box.floatsEscape))) {
      box.x = relX + box.margin[kLeft];
      box.y = relY;
      ++st_.blocksReused;
      return;
    }
    ++st_.blocksLaidOut;
    const ComputedStyle& s = e->style;
    ResolveEdges(e, cw, box);
    const int hEdges = HEdges(box);
    const bool replaced = IsReplaced(e);
    int contentW = 0, replacedH = 0;
    if (replaced) ReplacedSize(e, cw, contentW, replacedH);
    else if (forcedW >= 0) contentW = forcedW;
    else if (s.width.kind != Len::Auto) contentW = Clamp(s.width.Resolve(cw), 0, 100000);
    else contentW = std::max(0, cw - box.margin[kLeft] - box.margin[kRight] - hEdges);
    if (forcedW < 0 && !box.isFloat && (replaced || s.width.kind != Len::Auto)) {
      bool autoL = s.margin[kLeft].kind == Len::Auto, autoR = s.margin[kRight].kind == Len::Auto;
      int rest = cw - contentW - hEdges - box.margin[kLeft] - box.margin[kRight];
      if (autoL && autoR) box.margin[kLeft] = box.margin[kRight] = std::max(0, rest / 2);
      else if (autoL) box.margin[kLeft] = std::max(0, rest);
    }
    box.x = relX + box.margin[kLeft];
    box.y = relY;

    FloatContext local;
    FloatContext* cfc = ownBfc ? &local : fc;
    const int obx = ownBfc ? 0 : pbx + box.x;
    const int oby = ownBfc ? 0 : pby + box.y;
    const size_t floatsBefore = cfc->added();
    const int contentTop = box.border[kTop] + box.padding[kTop];
    const int contentLeft = box.border[kLeft] + box.padding[kLeft];
    box.lines.clear();
    int extent = 0;
    int flowBottom = contentTop;
    if (!replaced) flowBottom = Flow(e, contentW, cfc, obx, oby, contentLeft, contentTop, extent);

    int contentH;
    if (s.height.kind == Len::Px) contentH = Clamp(static_cast<int>(s.height.v), 0, 100000);
    else if (replaced) contentH = replacedH;
    else {
      contentH = flowBottom - contentTop;
      if (ownBfc && local.added() > 0) contentH = std::max(contentH, local.MaxBottom() - contentTop);
    }
    box.w = contentW + hEdges;
    box.h = contentH + VEdges(box);
    box.extent = std::max(box.h, extent);
    box.cacheWidth = cw;
    box.cacheForced = forcedW;
    box.floatFree = ownBfc || !outsideFloats;
    box.floatsEscape = false;
    if (!ownBfc && cfc->added() > floatsBefore && cfc->MaxBottom() > oby + box.h) box.floatsEscape = true;
    e->SetLayoutDirty(false);
  }

  // Intrinsic minimum and maximum widths of e's content box.
  void Intrinsic(Element* e, int& minW, int& maxW, int depth = 0) {
    minW = maxW = 0;
    if (IsReplaced(e)) {
      int h;
      ReplacedSize(e, 0, minW, h);
      maxW = minW;
      return;
    }
    if (depth > 64) return;
    int line = 0;
    IntrinsicChildren(e, minW, maxW, line, depth);
    maxW = std::max(maxW, line);
  }

 private:
  void Outer(Element* c, int& mn, int& mx, int depth) {
    LayoutBox tmp;
    ResolveEdges(c, 0, tmp);
    int edges = HEdges(tmp) + tmp.margin[kLeft] + tmp.margin[kRight];
    if (c->style.width.kind == Len::Px && !IsReplaced(c)) {
      mn = mx = static_cast<int>(c->style.width.v) + edges;
      return;
    }
    Intrinsic(c, mn, mx, depth + 1);
    mn += edges;
    mx += edges;
  }

  void IntrinsicChildren(Element* e, int& minW, int& maxW, int& line, int depth) {
    for (Node* n : e->children()) {
      if (!n->IsElement()) {
        IntrinsicText(e, static_cast<TextNode*>(n)->text, minW, line);
        continue;
      }
      Element* c = n->AsElement();
      const ComputedStyle& cs = c->style;
      if (cs.display == Display::None) continue;
      if (c->tag() == "br") {
        maxW = std::max(maxW, line);
        line = 0;
      } else if (IsFloating(c) || cs.display == Display::InlineBlock) {
        int mn, mx;
        Outer(c, mn, mx, depth);
        minW = std::max(minW, mn);
        line += mx;
      } else if (IsBlockLevel(c)) {
        maxW = std::max(maxW, line);
        line = 0;
        int mn, mx;
        Outer(c, mn, mx, depth);
        minW = std::max(minW, mn);
        maxW = std::max(maxW, mx);
      } else if (depth < 64) {
        LayoutBox tmp;
        ResolveEdges(c, 0, tmp);
        line += tmp.margin[kLeft] + tmp.margin[kRight] + HEdges(tmp);
        IntrinsicChildren(c, minW, maxW, line, depth + 1);
      }
    }
  }

  void IntrinsicText(Element* styleEl, const std::u16string& text, int& minW, int& line) {
    const ComputedStyle& s = styleEl->style;
    std::u16string word;
    auto flush = [&]() {
      if (word.empty()) return;
      int w = tm_.Width(s.font, word.data(), word.size());
      minW = std::max(minW, w);
      line += w;
      word.clear();
    };
    bool wraps = s.whiteSpace == WhiteSpace::Normal;
    bool prevSpace = false;
    for (size_t i = 0; i < text.size();) {
      size_t start = i;
      char32_t cp = NextCodePoint(text.data(), text.size(), i);
      if (IsWs(static_cast<char16_t>(cp < 0x10000 ? cp : 0)) && s.whiteSpace != WhiteSpace::Pre) {
        if (!prevSpace) {
          if (wraps) {
            flush();
            line += tm_.Width(s.font, u" ", 1);
          } else {
            word.push_back(' ');
          }
        }
        prevSpace = true;
        continue;
      }
      prevSpace = false;
      if (wraps && IsCjk(cp)) flush();
      word.append(text, start, i - start);
      if (wraps && IsCjk(cp)) flush();
    }
    flush();
  }

  // ---- block flow ----------------------------------------------------------------------------

  int Flow(Element* e, int contentW, FloatContext* fc, int obx, int oby, int cl, int ct, int& extent) {
    int y = ct;
    int pendingPos = 0, pendingNeg = 0;
    std::vector<RunItem> run;
    auto flushRun = [&]() {
      if (run.empty()) return;
      int startY = y + pendingPos + pendingNeg;
      int endY = Lines(e, run, contentW, fc, obx, oby, cl, startY, extent);
      if (endY != startY) {
        y = endY;
        pendingPos = pendingNeg = 0;
      }
      run.clear();
    };
    for (Node* n : e->children()) {
      if (!n->IsElement()) {
        run.push_back(RunItem{RunItem::Text, e, &static_cast<TextNode*>(n)->text});
        continue;
      }
      Element* c = n->AsElement();
      if (c->style.display == Display::None) {
        c->box.kind = BoxKind::None;
        continue;
      }
      if (IsFloating(c)) {
        if (HasContent(run)) {
          run.push_back(RunItem{RunItem::Float, c});
        } else {
          run.clear();
          PlaceFloat(c, contentW, fc, obx, oby, cl, y, extent);
        }
        continue;
      }
      if (!IsBlockLevel(c)) {
        Collect(c, run);
        continue;
      }
      flushRun();
      c->box.kind = BoxKind::Block;
      c->box.isFloat = false;
      int mt = c->style.margin[kTop].kind == Len::Auto ? 0 : c->style.margin[kTop].Resolve(contentW);
      int pos = std::max(pendingPos, mt > 0 ? mt : 0), neg = std::min(pendingNeg, mt < 0 ? mt : 0);
      int cy = y + pos + neg;
      if (c->style.clear != ClearSide::None) {
        int clearY = fc->ClearY(c->style.clear);
        if (clearY != INT_MIN && clearY > oby + cy) cy = clearY - oby;
      }
      int relX = cl, cw = contentW;
      if (c->style.overflowHidden && fc->AnyBelow(oby + cy)) {
        int bl, br;
        fc->Band(oby + cy, 1, obx + cl, obx + cl + contentW, bl, br);
        relX = bl - obx;
        cw = std::max(0, br - bl);
      }
      Block(c, cw, fc, obx, oby, relX, cy, -1, false);
      y = cy + c->box.h;
      extent = std::max(extent, cy + c->box.extent);
      int mb = c->box.margin[kBottom];
      pendingPos = mb > 0 ? mb : 0;
      pendingNeg = mb < 0 ? mb : 0;
    }
    flushRun();
    return y + pendingPos + pendingNeg;
  }

  static bool HasContent(const std::vector<RunItem>& run) {
    for (const RunItem& it : run) {
      if (it.kind != RunItem::Text) return true;
      for (char16_t c : *it.text)
        if (!IsWs(c)) return true;
    }
    return false;
  }

  void Collect(Element* c, std::vector<RunItem>& run) {
    if (c->style.display == Display::InlineBlock) {
      run.push_back(RunItem{RunItem::Atomic, c});
      return;
    }
    c->box.kind = BoxKind::Inline;
    c->box.lines.clear();
    if (c->tag() == "br") {
      run.push_back(RunItem{RunItem::Break, c});
      return;
    }
    run.push_back(RunItem{RunItem::Open, c});
    for (Node* n : c->children()) {
      if (!n->IsElement()) {
        run.push_back(RunItem{RunItem::Text, c, &static_cast<TextNode*>(n)->text});
        continue;
      }
      Element* k = n->AsElement();
      if (k->style.display == Display::None) k->box.kind = BoxKind::None;
      else if (IsFloating(k)) run.push_back(RunItem{RunItem::Float, k});
      else Collect(k, run);
    }
    run.push_back(RunItem{RunItem::Close, c});
  }

  void PlaceFloat(Element* f, int contentW, FloatContext* fc, int obx, int oby, int cl, int y, int& extent) {
    LayoutBox& box = f->box;
    box.kind = BoxKind::Block;
    box.isFloat = true;
    int forced = ShrinkWidth(f, contentW);
    Block(f, contentW, nullptr, 0, 0, 0, 0, forced, true);
    int mw = box.w + box.margin[kLeft] + box.margin[kRight];
    int mh = box.h + box.margin[kTop] + box.margin[kBottom];
    int fy = oby + y;
    int clearY = fc->ClearY(f->style.clear);
    if (clearY != INT_MIN && clearY > fy) fy = clearY;
    const int left = obx + cl, right = obx + cl + contentW;
    int bl = left, br = right;
    for (int guard = 0; guard < 10000; ++guard) {
      fc->Band(fy, mh, left, right, bl, br);
      if (br - bl >= mw || (bl == left && br == right)) break;
      int next = fc->NextChange(fy);
      if (next == INT_MAX || next <= fy) break;
      fy = next;
    }
    bool isLeft = f->style.floating == FloatSide::Left;
    int fx = isLeft ? bl : br - mw;
    fc->Add(FloatRect{fx, fy, fx + mw, fy + mh, isLeft});
    box.x = fx - obx + box.margin[kLeft];
    box.y = fy - oby + box.margin[kTop];
    extent = std::max(extent, fy - oby + mh);
  }

  // Content width of a float or inline-block whose width is auto: as wide as its content wants,
  // but no wider than the space it is in. -1 when the box has a width of its own.
  int ShrinkWidth(Element* e, int avail) {
    if (IsReplaced(e) || e->style.width.kind != Len::Auto) return -1;
    LayoutBox tmp;
    ResolveEdges(e, avail, tmp);
    int mn, mx;
    Intrinsic(e, mn, mx);
    int room = avail - tmp.margin[kLeft] - tmp.margin[kRight] - HEdges(tmp);
    return std::max(0, std::min(std::max(mn, room), mx));
  }

  // ---- inline formatting -----------------------------------------------------------------------

  void BuildClusters(const std::vector<RunItem>& run, int contentW, std::vector<Cluster>& out) {
    Cluster cur;
    bool prevSpace = true;  // a run starts like a line: leading spaces go
    bool lastCjk = false;
    WhiteSpace lastWs = WhiteSpace::Normal;
    auto closeCluster = [&]() {
      if (!cur.pieces.empty() || cur.forcedBreak) out.push_back(std::move(cur));
      cur = Cluster();
    };
    auto addText = [&](Element* el, std::u16string&& text, bool breakAfter) {
      if (text.empty()) return;
      Piece p;
      p.kind = RunItem::Text;
      p.el = el;
      p.space = text.back() == ' ' && el->style.whiteSpace != WhiteSpace::Pre;
      // A word this long is measured a line at a time when the lines are laid out.
      p.cut = text.size() > kLongWord && el->style.whiteSpace == WhiteSpace::Normal;
      if (!p.cut) {
        p.w = tm_.Width(el->style.font, text.data(), text.size());
        p.trimW = p.space ? p.w - tm_.Width(el->style.font, u" ", 1) : p.w;
      }
      p.text = std::move(text);
      if (cur.pieces.empty()) cur.wrapBefore = el->style.whiteSpace == WhiteSpace::Normal || lastWs == WhiteSpace::Normal;
      cur.pieces.push_back(std::move(p));
      lastWs = el->style.whiteSpace;
      if (breakAfter) closeCluster();
    };
    for (const RunItem& it : run) {
      switch (it.kind) {
        case RunItem::Text: {
          const ComputedStyle& s = it.el->style;
          const std::u16string& t = *it.text;
          std::u16string word;
          if (s.whiteSpace == WhiteSpace::Pre) {
            for (char16_t c : t) {
              if (c == '\n') {
                addText(it.el, std::move(word), false);
                word.clear();
                cur.forcedBreak = true;
                closeCluster();
              } else if (c == '\t') {
                word.append(u"    ");
              } else if (c != '\r') {
                word.push_back(c);
              }
            }
            addText(it.el, std::move(word), false);
            prevSpace = false;
            break;
          }
          const bool wraps = s.whiteSpace == WhiteSpace::Normal;
          for (size_t i = 0; i < t.size();) {
            size_t start = i;
            char32_t cp = NextCodePoint(t.data(), t.size(), i);
            if (cp < 0x80 && IsWs(static_cast<char16_t>(cp))) {
              if (!prevSpace) {
                word.push_back(' ');
                prevSpace = true;
                if (wraps) {
                  addText(it.el, std::move(word), true);
                  word.clear();
                }
              }
              lastCjk = false;
              continue;
            }
            bool cjk = IsCjk(cp);
            if (wraps && !word.empty() && (cjk || lastCjk)) {
              addText(it.el, std::move(word), true);
              word.clear();
            } else if (wraps && word.empty() && cur.pieces.size() && (cjk || lastCjk) && !prevSpace) {
              closeCluster();
            }
            word.append(t, start, i - start);
            prevSpace = false;
            lastCjk = cjk;
          }
          addText(it.el, std::move(word), false);
          break;
        }
        case RunItem::Open: case RunItem::Close: {
          Piece p;
          p.kind = it.kind;
          p.el = it.el;
          LayoutBox& eb = it.el->box;
          if (it.kind == RunItem::Open) ResolveEdges(it.el, contentW, eb);
          p.w = it.kind == RunItem::Open ? eb.margin[kLeft] + eb.border[kLeft] + eb.padding[kLeft]
                                         : eb.margin[kRight] + eb.border[kRight] + eb.padding[kRight];
          p.trimW = p.w;
          if (it.kind == RunItem::Close && cur.pieces.empty() && !out.empty() &&
              !out.back().floatEl && !out.back().forcedBreak) {
            out.back().pieces.push_back(std::move(p));  // stays with the word before it
          } else {
            cur.pieces.push_back(std::move(p));
          }
          break;
        }
        case RunItem::Atomic: {
          closeCluster();
          Element* a = it.el;
          a->box.kind = BoxKind::Atomic;
          a->box.isFloat = false;
          Block(a, contentW, nullptr, 0, 0, 0, 0, ShrinkWidth(a, contentW), true);
          Piece p;
          p.kind = RunItem::Atomic;
          p.el = a;
          p.w = p.trimW = a->box.w + a->box.margin[kLeft] + a->box.margin[kRight];
          cur.pieces.push_back(std::move(p));
          closeCluster();
          prevSpace = false;
          lastCjk = false;
          break;
        }
        case RunItem::Break: {
          Piece p;
          p.kind = RunItem::Break;
          p.el = it.el;
          cur.pieces.push_back(std::move(p));
          cur.forcedBreak = true;
          closeCluster();
          prevSpace = true;
          lastCjk = false;
          break;
        }
        case RunItem::Float: {
          closeCluster();
          Cluster f;
          f.floatEl = it.el;
          out.push_back(std::move(f));
          break;
        }
      }
    }
    closeCluster();
  }

  struct OpenSpan {
    Element* el;
    int startX;
  };

  struct LineState {
    int y = 0;
    int left = 0, right = 0;  // available band, container coordinates
    std::vector<Piece> pieces;
    int x = 0;
    bool content = false;
    bool hasBreak = false;
  };

  int Lines(Element* container, const std::vector<RunItem>& run, int contentW, FloatContext* fc, int obx,
            int oby, int cl, int startY, int& extent) {
    std::vector<Cluster> clusters;
    BuildClusters(run, contentW, clusters);
    const FontInfo& strutInfo = tm_.Info(container->style.font);
    const int strutH = std::max(1, LineHeightOf(container->style, strutInfo));

    LineState line;
    std::vector<OpenSpan> openSpans;
    std::vector<Element*> pendingFloats;
    int y = startY;
    const int startLines = static_cast<int>(container->box.lines.size());

    auto startLine = [&](int ly) {
      line = LineState();
      line.y = ly;
      int bl, br;
      fc->Band(oby + ly, strutH, obx + cl, obx + cl + contentW, bl, br);
      line.left = bl - obx;
      line.right = std::max(bl, br) - obx;
    };
    auto placePending = [&]() {
      for (Element* f : pendingFloats) PlaceFloat(f, contentW, fc, obx, oby, cl, y, extent);
      pendingFloats.clear();
    };
    auto finishLine = [&]() {
      if (line.content || line.hasBreak) {
        y = EmitLine(container, line, openSpans, strutInfo, strutH, extent);
      } else {
        // Nothing visible: inline elements stay open into the next line.
        for (Piece& p : line.pieces) {
          if (p.kind == RunItem::Open) {
            openSpans.push_back(OpenSpan{p.el, 0});
          } else if (p.kind == RunItem::Close) {
            for (size_t k = openSpans.size(); k-- > 0;) {
              if (openSpans[k].el == p.el) {
                openSpans.erase(openSpans.begin() + static_cast<long>(k));
                break;
              }
            }
          }
        }
      }
      placePending();
      startLine(y);
    };

    startLine(y);
    for (size_t i = 0; i < clusters.size();) {
      Cluster& c = clusters[i];
      if (c.floatEl) {
        if (!line.content) {
          PlaceFloat(c.floatEl, contentW, fc, obx, oby, cl, line.y, extent);
          int bl, br;
          fc->Band(oby + line.y, strutH, obx + cl, obx + cl + contentW, bl, br);
          line.left = bl - obx;
          line.right = std::max(bl, br) - obx;
        } else {
          pendingFloats.push_back(c.floatEl);
        }
        ++i;
        continue;
      }
      int width = line.right - line.left;
      bool visible = ClusterVisible(c);
      if (line.content && visible && c.wrapBefore && Wider(c, width - line.x)) {
        finishLine();
        width = line.right - line.left;
      }
      // The head of a split word fills this line; its rest stays at i for the next one.
      Cluster head;
      bool split = false;
      if (!line.content && visible) {
        while (Wider(c, width) && (line.left > cl || line.right < cl + contentW)) {
          int next = fc->NextChange(oby + line.y);
          if (next == INT_MAX || next - oby <= line.y) break;
          startLine(next - oby);
          width = line.right - line.left;
        }
        FitMemo fit;
        split = Wider(c, width, &fit) && SplitCluster(c, width, head, fit);
      }
      if (!split) SettleCuts(c);
      Cluster& cc = split ? head : c;
      for (Piece& p : cc.pieces) {
        // Collapsible spaces at the start of a line take no room.
        if (!line.content && p.kind == RunItem::Text && p.space && p.trimW == 0) {
          p.w = 0;
          p.text.clear();
        }
        p.x = line.x;
        line.x += p.w;
        if (p.kind == RunItem::Atomic || (p.kind == RunItem::Text && !p.text.empty())) line.content = true;
        if (p.kind == RunItem::Break) line.hasBreak = true;
        line.pieces.push_back(std::move(p));
      }
      if (cc.forcedBreak) finishLine();
      if (!split) ++i;
    }
    if (!line.pieces.empty()) finishLine();
    placePending();
    return static_cast<int>(container->box.lines.size()) > startLines ? y : startY;
  }

  static bool ClusterVisible(const Cluster& c) {
    for (const Piece& p : c.pieces)
      if (p.kind == RunItem::Atomic || (p.kind == RunItem::Text && (p.trimW > 0 || p.cut))) return true;
    return false;
  }

  static Piece* CutPiece(Cluster& c) {
    for (Piece& p : c.pieces)
      if (p.cut) return &p;
    return nullptr;
  }

  // Largest m <= maxM with width(m) <= room, widths growing with m; 0 when none fits. Gallops out
  // from the count of the last broken line, so lines of one width cost two measurements each, each
  // about a line long, however long the rest of the word.
  size_t FitCount(FontId font, const char16_t* s, size_t maxM, int room, int& wOut) {
    wOut = 0;
    if (maxM == 0 || room < 0) return 0;
    size_t lo = 0, hi = maxM + 1;  // width(lo) fits, width(hi) does not
    size_t m = std::min(std::max<size_t>(fitHint_, 1), maxM);
    int w = tm_.WidthUncached(font, s, m);
    if (w <= room) {
      lo = m;
      wOut = w;
      for (size_t step = 1; lo < maxM; step *= 2) {
        m = lo + std::min(step, maxM - lo);
        w = tm_.WidthUncached(font, s, m);
        if (w > room) {
          hi = m;
          break;
        }
        lo = m;
        wOut = w;
      }
    } else {
      hi = m;
      for (size_t step = 1; step < hi; step *= 2) {
        m = hi - step;
        w = tm_.WidthUncached(font, s, m);
        if (w <= room) {
          lo = m;
          wOut = w;
          break;
        }
        hi = m;
      }
    }
    while (hi - lo > 1) {
      m = lo + (hi - lo) / 2;
      w = tm_.WidthUncached(font, s, m);
      if (w <= room) {
        lo = m;
        wOut = w;
      } else {
        hi = m;
      }
    }
    return lo;
  }

  // What Wider found of the cut piece that did not fit, so the split that follows does not measure
  // the same prefixes again.
  struct FitMemo {
    const Piece* piece = nullptr;
    int room = 0;
    size_t count = 0;
    int w = 0;
  };

  // Whether c without its trailing space is wider than limit. A cut rest is measured only as far
  // as the limit and settles with its exact width once it is known to fit; a word made of several
  // elements' texts may hold more than one.
  bool Wider(Cluster& c, int limit, FitMemo* fit = nullptr) {
    for (;;) {
      const int others = c.TrimWidth();  // cut pieces count 0
      Piece* p = CutPiece(c);
      if (!p) return others > limit;
      const FontId font = p->el->style.font;
      const char16_t* s = p->text.data() + p->from;
      const size_t len = p->text.size() - p->from;
      const int spaceW = p->space ? tm_.Width(font, u" ", 1) : 0;
      const int room = limit - others + spaceW;
      const size_t first = len > 1 && s[0] >= 0xD800 && s[0] <= 0xDBFF ? 2 : 1;
      if (tm_.Width(font, s, first) > room) return true;
      int w = 0;
      const size_t count = FitCount(font, s, len, room, w);
      if (count < len) {
        if (fit) *fit = FitMemo{p, room, count, w};
        return true;
      }
      p->text.erase(0, p->from);
      p->from = 0;
      p->cut = false;
      p->w = w;
      p->trimW = w - spaceW;
    }
  }

  // Measures a cut rest whole, for a line that takes it as it is.
  void Settle(Piece& p) {
    p.text.erase(0, p.from);
    p.from = 0;
    p.cut = false;
    const FontId font = p.el->style.font;
    p.w = tm_.Width(font, p.text.data(), p.text.size());
    p.trimW = p.space ? p.w - tm_.Width(font, u" ", 1) : p.w;
  }
  void SettleCuts(Cluster& c) {
    while (Piece* p = CutPiece(c)) Settle(*p);
  }

  // A word wider than the whole line is broken between characters rather than run off the edge:
  // what fits moves to head, the rest stays in c, cut unless it is short.
  bool SplitCluster(Cluster& c, int width, Cluster& head, const FitMemo& fit) {
    int before = 0;
    for (size_t k = 0; k < c.pieces.size(); ++k) {
      Piece& p = c.pieces[k];
      const size_t len = p.text.size() - p.from;
      if (p.kind != RunItem::Text || p.el->style.whiteSpace != WhiteSpace::Normal || len < 2) {
        before += p.w;
        continue;
      }
      const FontId font = p.el->style.font;
      const char16_t* s = p.text.data() + p.from;
      int headW = 0;
      size_t best;
      if (fit.piece == &p && fit.room == width - before && fit.count < len) {
        best = fit.count;
        headW = fit.w;
      } else {
        best = FitCount(font, s, len - 1, width - before, headW);
      }
      const size_t fitted = best;
      if (best == 0) best = 1;
      if (s[best] >= 0xDC00 && s[best] <= 0xDFFF) ++best;
      if (best >= len) return false;
      if (best != fitted) headW = tm_.WidthUncached(font, s, best);
      fitHint_ = best;
      Piece h;
      h.kind = RunItem::Text;
      h.el = p.el;
      h.text.assign(s, best);
      h.w = h.trimW = headW;
      head.pieces.clear();
      for (size_t j = 0; j < k; ++j) head.pieces.push_back(std::move(c.pieces[j]));
      head.pieces.push_back(std::move(h));
      head.wrapBefore = c.wrapBefore;
      c.pieces.erase(c.pieces.begin(), c.pieces.begin() + static_cast<long>(k));
      c.wrapBefore = true;
      Piece& rest = c.pieces[0];
      rest.from += best;
      rest.cut = true;
      rest.w = rest.trimW = 0;
      if (len - best <= kShortRest) Settle(rest);
      return true;
    }
    return false;
  }

  int EmitLine(Element* container, LineState& line, std::vector<OpenSpan>& openSpans,
               const FontInfo& strutInfo, int strutH, int& extent) {
    ++st_.linesBuilt;
    // The trailing space of the line's last word hangs past the edge.
    for (size_t k = line.pieces.size(); k-- > 0;) {
      Piece& p = line.pieces[k];
      if (p.kind == RunItem::Close || (p.kind == RunItem::Text && p.text.empty())) continue;
      if (p.kind == RunItem::Text && p.space) {
        p.text.pop_back();
        p.w = p.trimW;
        p.space = false;
      }
      break;
    }
    int used = 0;
    for (Piece& p : line.pieces) {
      p.x = used;
      used += p.w;
    }
    const int avail = line.right - line.left;
    int off = 0;
    if (container->style.align == TextAlign::Center) off = std::max(0, (avail - used) / 2);
    else if (container->style.align == TextAlign::Right) off = std::max(0, avail - used);
    const int base = line.left + off;

    int strutAbove = strutInfo.ascent + (strutH - strutInfo.ascent - strutInfo.descent) / 2;
    int above = strutAbove, below = strutH - strutAbove;
    for (const Piece& p : line.pieces) {
      if (p.kind == RunItem::Atomic) {
        above = std::max(above, p.el->box.h + p.el->box.margin[kTop] + p.el->box.margin[kBottom]);
      } else if (p.kind != RunItem::Break) {
        const FontInfo& fi = tm_.Info(p.el->style.font);
        int lh = std::max(0, LineHeightOf(p.el->style, fi));
        int a = fi.ascent + (lh - fi.ascent - fi.descent) / 2;
        above = std::max(above, a);
        below = std::max(below, lh - a);
      }
    }
    LineBox lb;
    lb.y = line.y;
    lb.h = std::max(0, above + below);
    const int baseline = line.y + above;

    std::vector<OpenSpan> spans = openSpans;
    for (OpenSpan& s : spans) s.startX = 0;
    auto addSpan = [&](Element* el, int x0, int x1) {
      const FontInfo& fi = tm_.Info(el->style.font);
      const LayoutBox& eb = el->box;
      InlineSpan sp;
      sp.el = el;
      sp.rect.x = base + x0;
      sp.rect.w = std::max(0, x1 - x0);
      sp.rect.y = baseline - fi.ascent - eb.padding[kTop] - eb.border[kTop];
      sp.rect.h = fi.ascent + fi.descent + eb.padding[kTop] + eb.padding[kBottom] + eb.border[kTop] + eb.border[kBottom];
      lb.spans.push_back(sp);
    };
    for (Piece& p : line.pieces) {
      switch (p.kind) {
        case RunItem::Text: {
          if (p.text.empty()) break;
          const FontInfo& fi = tm_.Info(p.el->style.font);
          if (!lb.frags.empty() && !lb.frags.back().atomic && lb.frags.back().el == p.el &&
              lb.frags.back().x + lb.frags.back().w == base + p.x) {
            lb.frags.back().text += p.text;
            lb.frags.back().w += p.w;
            break;
          }
          Fragment f;
          f.x = base + p.x;
          f.w = p.w;
          f.ascent = fi.ascent;
          f.y = baseline - fi.ascent;
          f.h = fi.ascent + fi.descent;
          f.el = p.el;
          f.text = std::move(p.text);
          lb.frags.push_back(std::move(f));
          break;
        }
        case RunItem::Atomic: {
          LayoutBox& ab = p.el->box;
          ab.x = base + p.x + ab.margin[kLeft];
          ab.y = baseline - ab.h - ab.margin[kBottom];
          Fragment f;
          f.atomic = true;
          f.el = p.el;
          f.x = ab.x;
          f.y = ab.y;
          f.w = ab.w;
          f.h = ab.h;
          lb.frags.push_back(std::move(f));
          extent = std::max(extent, ab.y + ab.extent);
          break;
        }
        case RunItem::Open:
          spans.push_back(OpenSpan{p.el, p.x + p.el->box.margin[kLeft]});
          break;
        case RunItem::Close:
          for (size_t k = spans.size(); k-- > 0;) {
            if (spans[k].el != p.el) continue;
            addSpan(p.el, spans[k].startX, p.x + p.w - p.el->box.margin[kRight]);
            spans.erase(spans.begin() + static_cast<long>(k));
            break;
          }
          break;
        default:
          break;
      }
    }
    for (OpenSpan& s : spans) addSpan(s.el, s.startX, used);
    openSpans = spans;
    extent = std::max(extent, lb.y + lb.h);
    const int next = line.y + lb.h;
    container->box.lines.push_back(std::move(lb));
    return next;
  }

  // A rest this short is measured at once, as any word; a word longer than kLongWord is not
  // measured whole at all.
  static constexpr size_t kShortRest = 64;
  static constexpr size_t kLongWord = 1024;

  TextMeasurer& tm_;
  LayoutStats& st_;
  size_t fitHint_ = 1;
};

bool InlineRectIn(const Element* cb, const Element* e, Rect& out) {
  bool any = false;
  int x0 = 0, y0 = 0, x1 = 0, y1 = 0;
  for (const LineBox& lb : cb->box.lines) {
    for (const InlineSpan& s : lb.spans) {
      if (s.el != e) continue;
      if (!any) {
        x0 = s.rect.x, y0 = s.rect.y, x1 = s.rect.x + s.rect.w, y1 = s.rect.y + s.rect.h;
        any = true;
      } else {
        x0 = std::min(x0, s.rect.x), y0 = std::min(y0, s.rect.y);
        x1 = std::max(x1, s.rect.x + s.rect.w), y1 = std::max(y1, s.rect.y + s.rect.h);
      }
    }
  }
  out = Rect{x0, y0, x1 - x0, y1 - y0};
  return any;
}

bool HasBox(const Element* e) { return e->box.kind == BoxKind::Block || e->box.kind == BoxKind::Atomic; }

Element* HitBlock(Element* e, int ox, int oy, int x, int y);

Element* HitChildren(Element* e, int cbx, int cby, int x, int y) {
  const auto& kids = e->children();
  for (size_t i = kids.size(); i-- > 0;) {
    Element* c = kids[i]->AsElement();
    if (!c || c->box.kind == BoxKind::None) continue;
    Element* hit = nullptr;
    if (HasBox(c)) hit = HitBlock(c, cbx, cby, x, y);
    else if (c->box.kind == BoxKind::Inline) hit = HitChildren(c, cbx, cby, x, y);
    if (hit) return hit;
  }
  return nullptr;
}

Element* HitBlock(Element* e, int ox, int oy, int x, int y) {
  const LayoutBox& b = e->box;
  const int bx = ox + b.x, by = oy + b.y;
  if (y < by || y >= by + std::max(b.h, b.extent)) return nullptr;
  if (Element* hit = HitChildren(e, bx, by, x, y)) return hit;
  for (const LineBox& lb : b.lines) {
    if (y < by + lb.y || y >= by + lb.y + lb.h) continue;
    for (const Fragment& f : lb.frags)
      if (!f.atomic && x >= bx + f.x && x < bx + f.x + f.w) return f.el;
    Element* best = nullptr;
    int bestDepth = -1;
    for (const InlineSpan& s : lb.spans) {
      if (!Rect{bx + s.rect.x, by + lb.y, s.rect.w, lb.h}.Contains(x, y)) continue;
      int d = s.el->Depth();
      if (d > bestDepth) best = s.el, bestDepth = d;
    }
    if (best) return best;
  }
  return Rect{bx, by, b.w, b.h}.Contains(x, y) ? e : nullptr;
}

}  // namespace

void LayoutTree(Element* root, int viewportWidth, TextMeasurer& tm, LayoutStats& stats) {
  if (!root) return;
  Layouter lay(tm, stats);
  root->box.kind = root->style.display == Display::None ? BoxKind::None : BoxKind::Block;
  root->box.isFloat = false;
  if (root->box.kind == BoxKind::None) return;
  lay.Block(root, std::max(0, viewportWidth), nullptr, 0, 0, 0, 0, -1, true);
}

int ContentHeight(Element* root) {
  if (!root || root->box.kind == BoxKind::None) return 0;
  return std::max(0, root->box.y + std::max(root->box.h, root->box.extent) + root->box.margin[kBottom]);
}

bool ElementRect(Element* e, Rect& out) {
  if (!e || e->box.kind == BoxKind::None) return false;
  Element* cb = e->parent();
  while (cb && !HasBox(cb)) {
    if (cb->box.kind == BoxKind::None) return false;
    cb = cb->parent();
  }
  Rect r;
  if (HasBox(e)) {
    r = Rect{e->box.x, e->box.y, e->box.w, e->box.h};
  } else if (!cb || !InlineRectIn(cb, e, r)) {
    return false;
  }
  if (cb) {
    Rect o;
    if (!ElementRect(cb, o)) return false;
    r.x += o.x;
    r.y += o.y;
  }
  out = r;
  return true;
}

Element* HitTest(Element* root, int x, int y) {
  if (!root || !HasBox(root)) return nullptr;
  return HitBlock(root, 0, 0, x, y);
}

}  // namespace hl
