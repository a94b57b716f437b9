// GDI drawing of the paint list: solid fills, text with fallback faces, pictures, check boxes.
#include "GdiPainter_win.h"

#include <algorithm>

#include "GdiFonts_win.h"
#include "Images_win.h"

namespace hl {

GdiPainter::GdiPainter(HDC dc, int dx, int dy) : dc_(dc), dx_(dx), dy_(dy), saved_(SaveDC(dc)) {
  SetBkMode(dc_, TRANSPARENT);
  SetTextAlign(dc_, TA_BASELINE | TA_LEFT | TA_NOUPDATECP);
}

GdiPainter::~GdiPainter() { RestoreDC(dc_, saved_); }

void GdiPainter::FillRect(const Rect& r, Color c) {
  if (r.w <= 0 || r.h <= 0) return;
  RECT rc = {r.x + dx_, r.y + dy_, r.x + dx_ + r.w, r.y + dy_ + r.h};
  SetDCBrushColor(dc_, ToColorRef(c));
  ::FillRect(dc_, &rc, static_cast<HBRUSH>(GetStockObject(DC_BRUSH)));
}

void GdiPainter::Text(int x, int y, int ascent, int w, const std::u16string& text, FontId font, Color color,
                      bool underline) {
  SetTextColor(dc_, ToColorRef(color));
  int baseline = y + dy_ + ascent;
  int drawn = GdiFonts::Instance().Draw(dc_, font, x + dx_, baseline, text.data(), text.size());
  if (underline) {
    FontInfo fi = GdiFonts::Instance().Info(font);
    int thick = std::max(1, (fi.ascent + fi.descent) / 14);
    int uy = baseline + std::max(1, fi.descent / 2 - thick / 2);
    RECT rc = {x + dx_, uy, x + dx_ + std::max(w, drawn), uy + thick};
    SetDCBrushColor(dc_, ToColorRef(color));
    ::FillRect(dc_, &rc, static_cast<HBRUSH>(GetStockObject(DC_BRUSH)));
  }
}

void GdiPainter::DrawImage(const Rect& r, Image& img) { DrawGdiImage(dc_, img, r.x + dx_, r.y + dy_, r.w, r.h); }

void GdiPainter::CheckBox(const Rect& r, bool checked) {
  RECT rc = {r.x + dx_, r.y + dy_, r.x + dx_ + r.w, r.y + dy_ + r.h};
  DrawFrameControl(dc_, &rc, DFC_BUTTON, DFCS_BUTTONCHECK | (checked ? DFCS_CHECKED : 0));
}

void GdiPainter::PushClip(const Rect& r) {
  SaveDC(dc_);
  IntersectClipRect(dc_, r.x + dx_, r.y + dy_, r.x + dx_ + r.w, r.y + dy_ + r.h);
}

void GdiPainter::PopClip() { RestoreDC(dc_, -1); }

}  // namespace hl
