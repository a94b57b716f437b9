// The engine measures text only through this interface, so layout runs against real GDI fonts in
// the window and against fixed fake metrics in tests.
#pragma once
#include <cstddef>
#include <memory>

#include "Css.h"

namespace hl {

using FontId = int;

struct FontSpec {
  std::shared_ptr<const FontFamilies> families;  // in order of preference; may be null
  int sizePx = 16;
  int weight = 400;
  bool italic = false;
};

struct FontInfo {
  int ascent = 0;
  int descent = 0;
  int lineHeight = 0;  // the font's normal line spacing
};

class FontMetrics {
 public:
  virtual ~FontMetrics() = default;
  // Same spec, same id; ids are small non-negative numbers.
  virtual FontId Font(const FontSpec& spec) = 0;
  virtual FontInfo Info(FontId font) = 0;
  virtual int Measure(FontId font, const char16_t* text, size_t len) = 0;
};

}  // namespace hl
