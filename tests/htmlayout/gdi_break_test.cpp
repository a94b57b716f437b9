// Long words broken with real GDI fonts, whose widths need not add up character by character:
// every line fits, a line inside a word is as full as it can be, and the lines hold the text once.
#include <gtest/gtest.h>

#include "GdiFonts_win.h"
#include "Layout.h"
#include "TestUtil.h"

namespace {

struct NoHost : hl::ResourceHost {
  void RequestData(const std::u16string&, DataType, hl::Element*) override {}
  std::shared_ptr<hl::Image> DecodeImage(const uint8_t*, size_t) override { return nullptr; }
};

std::u16string Repeat(const std::u16string& alphabet, size_t n) {
  std::u16string s;
  for (size_t i = 0; i < n; ++i) s.push_back(alphabet[i % alphabet.size()]);
  return s;
}

size_t CodePoints(const std::u16string& s) {
  size_t n = 0;
  for (size_t i = 0; i < s.size(); ++n) hl::NextCodePoint(s.data(), s.size(), i);
  return n;
}

TEST(GdiLongWord, LinesFitAndAreFull) {
  const std::u16string base64 = u"QWxhZGRpbjpvcGVuIHNlc2FtZQ+/09azAZ", cyrillic = u"\u0436\u0438\u0437\u043D\u044C\u042F";
  struct Case {
    std::u16string text;
    int width;
    bool oneWord;  // every line but the last must be full
  };
  const Case cases[] = {
      {Repeat(base64, 5000), 200, true},
      {Repeat(base64, 5000), 37, true},
      {Repeat(base64, 3000), 801, true},
      {Repeat(base64, 20), 4, true},
      {Repeat(cyrillic, 2000), 150, true},
      {Repeat(u"\u4E2D\u6587\u5B57", 300), 120, true},
      {u"see " + Repeat(base64, 1500) + u" and " + Repeat(base64, 90) + u" more", 160, false},
  };
  hl::GdiFonts& fonts = hl::GdiFonts::Instance();
  int n = 0;
  for (const Case& c : cases) {
    ++n;
    NoHost host;
    hl::Document doc(fonts, &host);
    std::string page = "<style>body { margin: 0; font: 13px sans-serif }</style><div>" + hl::Utf16To8(c.text) + "</div>";
    doc.Load(page.data(), page.size());
    doc.Layout(c.width);
    hl::Element* d = doc.body()->children()[0]->AsElement();
    const hl::FontId font = d->style.font;
    std::vector<std::u16string> lines;
    for (const hl::LineBox& lb : d->box.lines) {
      std::u16string t;
      for (const hl::Fragment& f : lb.frags) t += f.text;
      lines.push_back(t);
    }
    ASSERT_FALSE(lines.empty()) << "case " << n;
    std::u16string joined, expected;
    for (size_t i = 0; i < lines.size(); ++i) {
      const std::u16string& l = lines[i];
      if (CodePoints(l) > 1) {
        EXPECT_LE(fonts.Measure(font, l.data(), l.size()), c.width) << "case " << n << " line " << i;
      }
      if (c.oneWord && i + 1 < lines.size()) {
        std::u16string more = l + lines[i + 1].substr(0, lines[i + 1][0] >= 0xD800 && lines[i + 1][0] <= 0xDBFF ? 2 : 1);
        EXPECT_GT(fonts.Measure(font, more.data(), more.size()), c.width) << "case " << n << " line " << i;
      }
      for (char16_t ch : l)
        if (ch != ' ') joined.push_back(ch);
    }
    for (char16_t ch : c.text)
      if (ch != ' ') expected.push_back(ch);
    EXPECT_EQ(joined, expected) << "case " << n;
  }
}

}  // namespace
