// Where lines break when a word is wider than its box, and the width cache. Fake metrics at the
// 10px font used here: a Latin character is 5px wide, an ideograph 10px, a line 12px high.
#include <gtest/gtest.h>

#include "Layout.h"
#include "TestUtil.h"

namespace {

const char kBase[] = "<style>html { font-size: 10px } body { margin: 0 }</style>";

struct Line {
  std::u16string text;
  int x0 = 0, x1 = 0;  // extent of the line's fragments
};

std::vector<Line> Lines(hl::Element* e) {
  std::vector<Line> out;
  for (const hl::LineBox& lb : e->box.lines) {
    Line l;
    bool first = true;
    for (const hl::Fragment& f : lb.frags) {
      if (f.atomic) continue;
      l.text += f.text;
      l.x0 = first ? f.x : std::min(l.x0, f.x);
      l.x1 = first ? f.x + f.w : std::max(l.x1, f.x + f.w);
      first = false;
    }
    out.push_back(l);
  }
  return out;
}

// What the fake metrics give, counted independently of the engine.
int FakeWidth(const std::u16string& s) {
  int w = 0;
  for (size_t i = 0; i < s.size();) w += hl::IsCjk(hl::NextCodePoint(s.data(), s.size(), i)) ? 10 : 5;
  return w;
}

size_t CodePoints(const std::u16string& s) {
  size_t n = 0;
  for (size_t i = 0; i < s.size(); ++n) hl::NextCodePoint(s.data(), s.size(), i);
  return n;
}

std::u16string WithoutSpaces(const std::u16string& s) {
  std::u16string r;
  for (char16_t c : s)
    if (c != ' ' && c != '\n') r.push_back(c);
  return r;
}

std::u16string Word(size_t n) {
  std::u16string w;
  for (size_t i = 0; i < n; ++i) w.push_back(static_cast<char16_t>('a' + i % 26));
  return w;
}

// Every line fits between left and right (a line of one character may not), each fragment is as
// wide as its text, no line starts or ends with a space, and the lines hold the text once, in order.
void ExpectSound(hl::Element* d, const std::u16string& text, int left, int right, const std::string& what) {
  std::u16string joined;
  for (const Line& l : Lines(d)) {
    const std::string head = hl::Utf16To8(l.text.substr(0, 40));
    EXPECT_GE(l.x0, left) << what;
    if (CodePoints(l.text) > 1) {
      EXPECT_LE(l.x1, right) << what << " line " << head;
    }
    EXPECT_EQ(l.x1 - l.x0, FakeWidth(l.text)) << what << " line " << head;
    ASSERT_FALSE(l.text.empty()) << what;
    EXPECT_NE(l.text.front(), u' ') << what;
    EXPECT_NE(l.text.back(), u' ') << what;
    joined += WithoutSpaces(l.text);
  }
  EXPECT_EQ(joined, WithoutSpaces(text)) << what;
}

hl::Element* LayOut(TestDoc& t, const std::u16string& body, int width) {
  t.Load(kBase + std::string("<div id=d>") + hl::Utf16To8(body) + "</div>", width);
  return t.ById("d");
}

TEST(LongWord, BreaksWhereTheLineIsFull) {
  // A word of n characters in a box of w pixels: lines of max(1, w / 5) characters, the last one
  // holding what is left. Lengths around 64 cross the point where a rest is measured at once, those
  // around 1024 the point where a word is not measured whole.
  const size_t lengths[] = {2, 3, 39, 40, 41, 63, 64, 65, 66, 129, 130, 1024, 1025, 5000};
  const int widths[] = {3, 5, 12, 20, 200, 333};
  for (size_t n : lengths) {
    for (int w : widths) {
      const std::u16string word = Word(n);
      TestDoc t;
      hl::Element* d = LayOut(t, word, w);
      const std::string what = "n=" + std::to_string(n) + " w=" + std::to_string(w);
      const size_t per = std::max(1, w / 5);
      std::vector<Line> lines = Lines(d);
      ASSERT_EQ(lines.size(), (n + per - 1) / per) << what;
      for (size_t i = 0; i < lines.size(); ++i)
        EXPECT_EQ(lines[i].text, word.substr(i * per, per)) << what << " line " << i;
      ExpectSound(d, word, 0, w, what);
    }
  }
}

TEST(LongWord, MixedTextTable) {
  const std::u16string b25(25, u'b'), cjk = u"\u4E2D\u6587\u5B57\u7B26\u4E32\u4E2D\u6587\u5B57\u7B26\u4E32";
  const std::u16string astral = u"\U0001D49C\U0001D49C\U0001D49C\U0001D49C\U0001D49C";  // not ideographs
  struct Case {
    std::u16string html, text;
    int width;
    std::vector<std::u16string> lines;
  };
  const Case cases[] = {
      // 1: words on either side go on lines of their own or share the last piece's line
      {u"aaa " + b25 + u" ccc", {}, 50, {u"aaa", std::u16string(10, u'b'), std::u16string(10, u'b'), u"bbbbb ccc"}},
      // 2: ideographs break between any two
      {cjk, {}, 35, {cjk.substr(0, 3), cjk.substr(3, 3), cjk.substr(6, 3), cjk.substr(9)}},
      // 3: an ideograph wider than the box still takes a line
      {cjk.substr(0, 3), {}, 7, {cjk.substr(0, 1), cjk.substr(1, 1), cjk.substr(2, 1)}},
      // 4: Latin then ideographs without spaces
      {u"abcdefgh" + cjk.substr(0, 4), {}, 20, {u"abcd", u"efgh", cjk.substr(0, 2), cjk.substr(2, 2)}},
      // 5: a surrogate pair is never cut in two
      {astral, {}, 12, {astral.substr(0, 4), astral.substr(4, 4), astral.substr(8)}},
      // 6: a long word inside an inline element, then more words
      {u"x <b>" + b25 + u"</b> y", u"x " + b25 + u" y", 60,
       {u"x", std::u16string(12, u'b'), std::u16string(12, u'b'), u"b y"}},
      // 7: a long word after a line break
      {u"aa<br>" + b25, u"aa " + b25, 100, {u"aa", std::u16string(20, u'b'), std::u16string(5, u'b')}},
  };
  int n = 0;
  for (const Case& c : cases) {
    ++n;
    TestDoc t;
    hl::Element* d = LayOut(t, c.html, c.width);
    std::vector<std::u16string> got;
    for (const Line& l : Lines(d)) got.push_back(l.text);
    EXPECT_EQ(got, c.lines) << "case " << n;
    ExpectSound(d, c.text.empty() ? c.html : c.text, 0, c.width, "case " + std::to_string(n));
  }
}

TEST(LongWord, SeveralPiecesInOneWord) {
  // Words made of several elements' texts without a space between: long and short pieces in either
  // order, two long ones, and boxes wide enough for one long piece or all of it.
  const std::string x200(200, 'x'), y2000(2000, 'y'), z3000(3000, 'z');
  struct Case {
    std::string html;
    int width;
  };
  const Case cases[] = {
      {"<b>" + x200 + "</b>" + y2000, 200},
      {y2000 + "<b>" + x200 + "</b>", 200},
      {"<b>" + y2000 + "</b><i>" + z3000 + "</i> tail", 200},
      {"ab<b>" + y2000 + "</b>cd", 33},
      {"<b>" + y2000 + "</b> " + x200, 20000},
      {"ab <b>" + y2000 + "</b><i>" + z3000 + "</i>", 20000},
  };
  int n = 0;
  for (const Case& c : cases) {
    ++n;
    TestDoc t;
    std::u16string text = hl::Utf8To16(c.html);
    hl::Element* d = LayOut(t, text, c.width);
    std::u16string plain;
    for (size_t i = 0; i < text.size(); ++i) {
      if (text[i] == '<') i = text.find('>', i);
      else plain.push_back(text[i]);
    }
    ExpectSound(d, plain, 0, c.width, "case " + std::to_string(n));
  }
}

TEST(LongWord, NextToAFloatAndAfterAWidthChange) {
  // A word that does not fit beside the float (50px of 200, 30px high) starts below it and breaks
  // at the full width there: lines of 40 characters.
  const std::u16string word = Word(300);
  TestDoc t;
  t.Load(kBase + std::string("<div id=d><div style='float:left; width:50px; height:30px'></div>") +
             hl::Utf16To8(word) + "</div>",
         200);
  hl::Element* d = t.ById("d");
  std::vector<Line> lines = Lines(d);
  ASSERT_EQ(lines.size(), 8u);
  EXPECT_EQ(d->box.lines[0].y, 30);
  for (size_t i = 0; i < lines.size(); ++i) {
    EXPECT_EQ(lines[i].text, word.substr(i * 40, 40)) << "line " << i;
    EXPECT_EQ(lines[i].x0, 0) << "line " << i;
  }
  ExpectSound(d, word, 0, 200, "below the float");

  // Narrower, then wider again: each layout breaks the word afresh.
  for (int w : {120, 200, 7}) {
    t.doc.Layout(w);
    ExpectSound(d, word, 0, w, "relaid at " + std::to_string(w));
  }
}

TEST(WidthCache, StaysWithinItsBudget) {
  FakeMetrics fonts;
  hl::FontSpec spec;
  spec.sizePx = 10;
  hl::FontId f = fonts.Font(spec);
  hl::TextMeasurer tm(fonts);

  // A word asked for again is measured once.
  EXPECT_EQ(tm.Width(f, u"word", 4), 20);
  int calls = fonts.measureCalls;
  EXPECT_EQ(tm.Width(f, u"word", 4), 20);
  EXPECT_EQ(fonts.measureCalls, calls);

  // A long string is measured every time and never kept.
  const std::u16string longWord = Word(100000);
  size_t bytes = tm.CachedBytes();
  EXPECT_EQ(tm.Width(f, longWord.data(), longWord.size()), 500000);
  EXPECT_EQ(tm.CachedBytes(), bytes);

  // Many distinct words: the cache stays within its bytes and widths stay right after it drops.
  bool dropped = false;
  for (int i = 0; i < 200000; ++i) {
    std::u16string w = hl::Utf8To16("w" + std::to_string(i) + std::string(static_cast<size_t>(i % 40), 'x'));
    size_t before = tm.CachedBytes();
    ASSERT_EQ(tm.Width(f, w.data(), w.size()), FakeWidth(w)) << i;
    ASSERT_LE(tm.CachedBytes(), hl::TextMeasurer::kCacheBytes) << i;
    dropped = dropped || tm.CachedBytes() < before;
  }
  EXPECT_TRUE(dropped);
  tm.Clear();
  EXPECT_EQ(tm.CachedBytes(), 0u);
}

}  // namespace
