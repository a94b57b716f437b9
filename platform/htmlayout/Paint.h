// Painting as a walk over the laid-out tree that emits drawing primitives, so what gets drawn is
// testable without a screen; the window side turns the primitives into GDI calls.
#pragma once
#include <string>

#include "Dom.h"

namespace hl {

class PaintSink {
 public:
  virtual ~PaintSink() = default;
  virtual void FillRect(const Rect& r, Color c) = 0;
  // y is the top of the text; the baseline lies ascent below it.
  virtual void Text(int x, int y, int ascent, int w, const std::u16string& text, FontId font,
                    Color color, bool underline) = 0;
  virtual void DrawImage(const Rect& r, Image& img) = 0;
  virtual void CheckBox(const Rect& r, bool checked) = 0;
  virtual void PushClip(const Rect& r) = 0;
  virtual void PopClip() = 0;
};

// Paints everything that meets clip (document coordinates) in painting order.
void PaintTree(Element* root, const Rect& clip, PaintSink& sink);

// What fills the window behind the document: the root's background, else the body's, else white.
Color CanvasColor(Element* root);

}  // namespace hl
