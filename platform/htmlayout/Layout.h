// Block and inline layout: block flow with margin collapsing between siblings, floats, line
// breaking at spaces and between ideographs, inline-blocks and images.
#pragma once
#include <unordered_map>
#include <vector>

#include "Dom.h"
#include "FontMetrics.h"

namespace hl {

struct LayoutStats {
  int blocksLaidOut = 0;  // blocks whose content was laid out again
  int blocksReused = 0;   // blocks taken over unchanged from the last layout
  int linesBuilt = 0;
};

// Word widths are asked for again and again (every row of a list holds the same words), so they
// are kept per font, within a budget of bytes.
class TextMeasurer {
 public:
  static constexpr size_t kMaxCachedChars = 64;
  static constexpr size_t kCacheBytes = 4 << 20;

  explicit TextMeasurer(FontMetrics& fonts) : fonts_(fonts) {}
  int Width(FontId font, const char16_t* s, size_t n);
  int WidthUncached(FontId font, const char16_t* s, size_t n);
  FontInfo Info(FontId font);
  FontMetrics& fonts() { return fonts_; }
  size_t CachedBytes() const { return cachedBytes_; }
  void Clear();

 private:
  FontMetrics& fonts_;
  std::vector<std::unordered_map<std::u16string, int>> widths_;
  std::vector<std::pair<bool, FontInfo>> infos_;
  size_t cachedBytes_ = 0;
};

// Lays out the tree under root for a viewport of the given width; clean blocks whose width did not
// change keep their layout.
void LayoutTree(Element* root, int viewportWidth, TextMeasurer& tm, LayoutStats& stats);

// Height of everything laid out, for scrolling.
int ContentHeight(Element* root);

// Border box in document coordinates; for an inline element the union of its pieces on all lines.
// False when the element has no box (display: none, not laid out, or detached).
bool ElementRect(Element* e, Rect& out);

// The innermost element at a document point, or null.
Element* HitTest(Element* root, int x, int y);

}  // namespace hl
