// Font metrics through GDI, shared by every engine window of the process. Each font carries a
// fallback face for characters its own face lacks, so Chinese text shows even when the page asks
// for a Latin face, and every chain ends on a face that exists on this machine.
#pragma once
#include <windows.h>

#include <map>
#include <string>
#include <vector>

#include "FontMetrics.h"

namespace hl {

class GdiFonts : public FontMetrics {
 public:
  static GdiFonts& Instance();

  FontId Font(const FontSpec& spec) override;
  FontInfo Info(FontId font) override;
  int Measure(FontId font, const char16_t* text, size_t len) override;

  // Draws text with its baseline at y; returns the width drawn.
  int Draw(HDC dc, FontId font, int x, int y, const char16_t* text, size_t len);
  const std::wstring& FaceName(FontId font) const { return fonts_[static_cast<size_t>(font)].face; }

 private:
  GdiFonts();
  struct Entry {
    std::wstring face;
    HFONT font = nullptr;
    HFONT fallback = nullptr;  // may equal font
    FontInfo info;
  };
  struct Run {
    size_t start, len;
    HFONT font;
  };
  bool FaceExists(const std::wstring& face);
  std::wstring ResolveFace(const FontSpec& spec);
  std::wstring FallbackFace();
  HFONT Create(const std::wstring& face, const FontSpec& spec);
  void Runs(const Entry& e, const char16_t* text, size_t len, std::vector<Run>& out);
  void Select(HFONT font);

  HDC dc_;
  HFONT selected_ = nullptr;
  std::vector<Entry> fonts_;
  std::map<std::wstring, FontId> byKey_;
  std::map<std::wstring, bool> faces_;
  std::wstring fallbackFace_;
};

}  // namespace hl
