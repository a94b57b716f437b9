// Layout results kept on each element: its box, and for a block holding text, its lines.
#pragma once
#include <string>
#include <vector>

namespace hl {

class Element;

struct Rect {
  int x = 0, y = 0, w = 0, h = 0;
  bool Contains(int px, int py) const { return px >= x && py >= y && px < x + w && py < y + h; }
  bool operator==(const Rect& o) const { return x == o.x && y == o.y && w == o.w && h == o.h; }
};

// A piece of one line: a run of text in one element's style, or an atomic inline box.
struct Fragment {
  int x = 0, y = 0, w = 0, h = 0;  // relative to the block that holds the line
  int ascent = 0;                  // baseline offset from y
  Element* el = nullptr;           // text: the element whose style draws it; atomic: the box itself
  bool atomic = false;
  std::u16string text;
};

// The part of an inline element (span, a) that lies on one line: its background, border and hit area.
struct InlineSpan {
  Element* el = nullptr;
  Rect rect;
};

struct LineBox {
  int y = 0, h = 0;
  std::vector<Fragment> frags;
  std::vector<InlineSpan> spans;
};

enum class BoxKind : unsigned char { None, Block, Atomic, Inline };

struct LayoutBox {
  BoxKind kind = BoxKind::None;
  bool isFloat = false;
  int x = 0, y = 0, w = 0, h = 0;  // border box, relative to the containing block's border box
  int margin[4] = {0, 0, 0, 0};
  int border[4] = {0, 0, 0, 0};
  int padding[4] = {0, 0, 0, 0};
  int extent = 0;  // lowest painted point of the subtree, relative to y
  std::vector<LineBox> lines;
  // What the last layout depended on, so an unchanged block can be reused as it is.
  int cacheWidth = -1;
  int cacheForced = -1;
  bool floatFree = false;     // no outside float reached into it
  bool floatsEscape = false;  // one of its floats reached below it
};

}  // namespace hl
