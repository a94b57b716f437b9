// Fixed font metrics for layout tests: at size s, Latin characters are s/2 wide and ideographs s
// wide; ascent is 8/10 of s, descent 2/10, the normal line 12/10.
#pragma once
#include <map>
#include <tuple>
#include <vector>

#include "FontMetrics.h"
#include "Utf.h"

struct FakeMetrics : hl::FontMetrics {
  std::map<std::tuple<int, int, bool>, hl::FontId> ids;
  std::vector<hl::FontSpec> specs;
  int measureCalls = 0;

  hl::FontId Font(const hl::FontSpec& spec) override {
    auto key = std::make_tuple(spec.sizePx, spec.weight, spec.italic);
    auto it = ids.find(key);
    if (it != ids.end()) return it->second;
    hl::FontId id = static_cast<hl::FontId>(specs.size());
    specs.push_back(spec);
    ids[key] = id;
    return id;
  }
  hl::FontInfo Info(hl::FontId f) override {
    int s = specs.empty() ? 10 : specs[static_cast<size_t>(f)].sizePx;
    return hl::FontInfo{s * 8 / 10, s * 2 / 10, s * 12 / 10};
  }
  int Measure(hl::FontId f, const char16_t* text, size_t len) override {
    ++measureCalls;
    int s = specs.empty() ? 10 : specs[static_cast<size_t>(f)].sizePx;
    int w = 0;
    for (size_t i = 0; i < len;) {
      char32_t c = hl::NextCodePoint(text, len, i);
      w += hl::IsCjk(c) ? s : s / 2;
    }
    return w;
  }
};
