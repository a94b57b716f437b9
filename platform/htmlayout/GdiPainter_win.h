// Turns the engine's drawing primitives into GDI calls on a DC, shifted by the scroll position.
#pragma once
#include <windows.h>

#include "Paint.h"

namespace hl {

class GdiPainter : public PaintSink {
 public:
  GdiPainter(HDC dc, int dx, int dy);
  ~GdiPainter() override;
  void FillRect(const Rect& r, Color c) override;
  void Text(int x, int y, int ascent, int w, const std::u16string& text, FontId font, Color color,
            bool underline) override;
  void DrawImage(const Rect& r, Image& img) override;
  void CheckBox(const Rect& r, bool checked) override;
  void PushClip(const Rect& r) override;
  void PopClip() override;

 private:
  HDC dc_;
  int dx_, dy_;
  int saved_;
};

inline COLORREF ToColorRef(Color c) { return RGB((c >> 16) & 0xFF, (c >> 8) & 0xFF, c & 0xFF); }

}  // namespace hl
