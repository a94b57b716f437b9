// Painting order per block: background and border, text of its lines with the inline boxes
// behind it, then the boxes of its children, each culled against the clip.
#include "Paint.h"

#include <algorithm>

namespace hl {
namespace {

constexpr int kTop = 0, kRight = 1, kBottom = 2, kLeft = 3;
constexpr int kCheckSize = 13;

bool Visible(Color c) { return (c >> 24) != 0; }

void Side(PaintSink& sink, const Rect& r, BorderStyle style, Color c, bool horizontal) {
  if (!Visible(c) || r.w <= 0 || r.h <= 0) return;
  if (style == BorderStyle::Solid) {
    sink.FillRect(r, c);
    return;
  }
  const int t = horizontal ? r.h : r.w;
  const int dash = style == BorderStyle::Dotted ? t : 3 * t, gap = style == BorderStyle::Dotted ? t : 2 * t;
  const int len = horizontal ? r.w : r.h;
  for (int p = 0; p < len; p += dash + gap) {
    int n = std::min(dash, len - p);
    sink.FillRect(horizontal ? Rect{r.x + p, r.y, n, r.h} : Rect{r.x, r.y + p, r.w, n}, c);
  }
}

void Borders(PaintSink& sink, const Rect& r, const int bw[4], const ComputedStyle& s) {
  Side(sink, Rect{r.x, r.y, r.w, bw[kTop]}, s.borderStyle[kTop], s.borderColor[kTop], true);
  Side(sink, Rect{r.x, r.y + r.h - bw[kBottom], r.w, bw[kBottom]}, s.borderStyle[kBottom], s.borderColor[kBottom], true);
  Side(sink, Rect{r.x, r.y + bw[kTop], bw[kLeft], r.h - bw[kTop] - bw[kBottom]}, s.borderStyle[kLeft], s.borderColor[kLeft], false);
  Side(sink, Rect{r.x + r.w - bw[kRight], r.y + bw[kTop], bw[kRight], r.h - bw[kTop] - bw[kBottom]},
       s.borderStyle[kRight], s.borderColor[kRight], false);
}

bool HasBox(const Element* e) { return e->box.kind == BoxKind::Block || e->box.kind == BoxKind::Atomic; }

bool IsCheckButton(const Element* e) {
  if (e->tag() != "button") return false;
  const std::u16string* t = e->Attr("type");
  return t && *t == u"checkbox";
}

void PaintBlock(Element* e, int ox, int oy, const Rect& clip, PaintSink& sink);

void PaintChildren(Element* e, int cbx, int cby, const Rect& clip, PaintSink& sink) {
  for (Node* n : e->children()) {
    Element* c = n->AsElement();
    if (!c || c->box.kind == BoxKind::None) continue;
    if (HasBox(c)) PaintBlock(c, cbx, cby, clip, sink);
    else if (c->box.kind == BoxKind::Inline) PaintChildren(c, cbx, cby, clip, sink);
  }
}

void PaintLines(Element* e, int bx, int by, const Rect& clip, PaintSink& sink) {
  for (const LineBox& lb : e->box.lines) {
    if (by + lb.y >= clip.y + clip.h || by + lb.y + lb.h <= clip.y) continue;
    for (const InlineSpan& sp : lb.spans) {
      const ComputedStyle& s = sp.el->style;
      if (s.hidden) continue;
      Rect r{bx + sp.rect.x, by + sp.rect.y, sp.rect.w, sp.rect.h};
      if (Visible(s.background)) sink.FillRect(r, s.background);
      Borders(sink, r, sp.el->box.border, s);
    }
    for (const Fragment& f : lb.frags) {
      if (f.atomic || f.text.empty()) continue;
      const ComputedStyle& s = f.el->style;
      if (s.hidden || !Visible(s.color)) continue;
      sink.Text(bx + f.x, by + f.y, f.ascent, f.w, f.text, s.font, s.color, s.underline);
    }
  }
}

void PaintBlock(Element* e, int ox, int oy, const Rect& clip, PaintSink& sink) {
  const LayoutBox& b = e->box;
  const int bx = ox + b.x, by = oy + b.y;
  if (by >= clip.y + clip.h || by + std::max(b.h, b.extent) <= clip.y) return;
  const ComputedStyle& s = e->style;
  const Rect border{bx, by, b.w, b.h};
  if (!s.hidden) {
    if (Visible(s.background)) sink.FillRect(border, s.background);
    Borders(sink, border, b.border, s);
    if (IsCheckButton(e)) {
      int lineH = b.lines.empty() ? b.h - b.border[kTop] - b.border[kBottom] : b.lines[0].h;
      int y = by + b.border[kTop] + b.padding[kTop] + std::max(0, (lineH - kCheckSize) / 2);
      sink.CheckBox(Rect{bx + b.border[kLeft] + 2, y, kCheckSize, kCheckSize}, (e->state() & kStateChecked) != 0);
    }
    if (e->image && b.w > 0 && b.h > 0) {
      Rect content{bx + b.border[kLeft] + b.padding[kLeft], by + b.border[kTop] + b.padding[kTop],
                   b.w - b.border[kLeft] - b.border[kRight] - b.padding[kLeft] - b.padding[kRight],
                   b.h - b.border[kTop] - b.border[kBottom] - b.padding[kTop] - b.padding[kBottom]};
      if (content.w > 0 && content.h > 0) sink.DrawImage(content, *e->image);
    }
  }
  const bool clipped = s.overflowHidden;
  if (clipped) {
    sink.PushClip(Rect{bx + b.border[kLeft], by + b.border[kTop], b.w - b.border[kLeft] - b.border[kRight],
                       b.h - b.border[kTop] - b.border[kBottom]});
  }
  PaintLines(e, bx, by, clip, sink);
  PaintChildren(e, bx, by, clip, sink);
  if (clipped) sink.PopClip();
}

}  // namespace

void PaintTree(Element* root, const Rect& clip, PaintSink& sink) {
  if (root && HasBox(root)) PaintBlock(root, 0, 0, clip, sink);
}

Color CanvasColor(Element* root) {
  if (!root) return 0xFFFFFFFF;
  if (Visible(root->style.background)) return root->style.background | 0xFF000000;
  for (Node* n : root->children()) {
    Element* c = n->AsElement();
    if (c && c->tag() == "body" && Visible(c->style.background)) return c->style.background | 0xFF000000;
  }
  return 0xFFFFFFFF;
}

}  // namespace hl
