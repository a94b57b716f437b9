// Layout boxes under fake metrics: at the 10px font used here a Latin character is 5px wide, an
// ideograph 10px, and a line 12px high with the baseline 8px below its top.
#include <gtest/gtest.h>

#include "TestUtil.h"

namespace {

const char kBase[] = "<style>html { font-size: 10px } body { margin: 0 } p { margin: 0 }</style>";

std::string Page(const std::string& body) { return kBase + body; }

std::vector<std::string> LineTexts(hl::Element* e) {
  std::vector<std::string> lines;
  for (const hl::LineBox& lb : e->box.lines) {
    std::string s;
    for (const hl::Fragment& f : lb.frags) s += f.atomic ? std::string("[]") : hl::Utf16To8(f.text);
    lines.push_back(s);
  }
  return lines;
}

struct BoxCase {
  const char* id;
  hl::Rect rect;
};

void ExpectBoxes(TestDoc& t, std::initializer_list<BoxCase> cases) {
  for (const BoxCase& c : cases) {
    hl::Rect r = t.RectOf(c.id);
    EXPECT_EQ(r.x, c.rect.x) << c.id;
    EXPECT_EQ(r.y, c.rect.y) << c.id;
    EXPECT_EQ(r.w, c.rect.w) << c.id;
    EXPECT_EQ(r.h, c.rect.h) << c.id;
  }
}

TEST(Layout, BlockFlowMarginsPaddingBorders) {
  TestDoc t(Page(R"~(<div id=a style="height:20px"></div>
      <div id=b style="margin:5px; padding:3px; border:2px solid"></div>
      <div id=c style="width:100px; margin-left:auto"></div>
      <p id=p1 style="margin:10px 0">x</p><p id=p2 style="margin:20px 0">y</p>
      <div id=n style="display:none">gone</div><div id=after>z</div>)~"),
            400);
  ExpectBoxes(t, {
                     {"a", {0, 0, 400, 20}},
                     {"b", {5, 25, 390, 10}},
                     {"c", {300, 40, 100, 0}},
                     {"p1", {0, 50, 400, 12}},
                     {"p2", {0, 82, 400, 12}},  // 10 and 20 collapse to 20
                     {"after", {0, 114, 400, 12}},
                 });
  hl::Rect none;
  EXPECT_FALSE(t.doc.ElementBox(t.ById("n"), none));
}

TEST(Layout, LineBreakingTable) {
  struct Case {
    const char* html;
    int width;
    std::vector<std::string> lines;
  };
  const Case cases[] = {
      {"aaa bbb ccc", 50, {"aaa bbb", "ccc"}},
      {"aaa bbb ccc", 55, {"aaa bbb ccc"}},
      {"  lead   and   trail  ", 400, {"lead and trail"}},
      {"\xE4\xB8\xAD\xE6\x96\x87\xE5\xAD\x97\xE7\xAC\xA6\xE4\xB8\xB2", 35, {"\xE4\xB8\xAD\xE6\x96\x87\xE5\xAD\x97", "\xE7\xAC\xA6\xE4\xB8\xB2"}},
      {"ab\xE4\xB8\xAD\xE6\x96\x87", 25, {"ab\xE4\xB8\xAD", "\xE6\x96\x87"}},
      {"abcdefgh", 20, {"abcd", "efgh"}},
      {"a<br>b<br><br>c", 400, {"a", "b", "", "c"}},
      {"<span style='white-space:nowrap'>aa bb cc</span>", 20, {"aa bb cc"}},
      {"<pre>a  b\nc</pre>", 400, {}},
      {"foo<b>bar</b> baz", 30, {"foobar", "baz"}},
  };
  for (const Case& c : cases) {
    TestDoc t(Page(std::string("<div id=d>") + c.html + "</div>"), c.width);
    if (std::string(c.html).rfind("<pre>", 0) == 0) {
      hl::Element* pre = t.doc.body()->children()[0]->AsElement()->children()[0]->AsElement();
      EXPECT_EQ(LineTexts(pre), (std::vector<std::string>{"a  b", "c"}));
      continue;
    }
    EXPECT_EQ(LineTexts(t.ById("d")), c.lines) << c.html;
  }
}

TEST(Layout, LineHeightsAndAlignment) {
  TestDoc t(Page(R"~(<div id=a style="width:100px">xx</div>
      <div id=c style="width:100px; text-align:center">xx</div>
      <div id=r style="width:100px; text-align:right">xx</div>
      <div id=lh style="line-height:30px">x</div>
      <div id=big>x<span style="font-size:20px">y</span></div>)~"));
  EXPECT_EQ(t.ById("a")->box.lines[0].frags[0].x, 0);
  EXPECT_EQ(t.ById("c")->box.lines[0].frags[0].x, 45);
  EXPECT_EQ(t.ById("r")->box.lines[0].frags[0].x, 90);
  EXPECT_EQ(t.RectOf("lh").h, 30);
  EXPECT_EQ(t.ById("lh")->box.lines[0].frags[0].y, 10);  // the half-leading goes above and below
  EXPECT_EQ(t.RectOf("big").h, 24);  // 16 ascent + 2 leading above the baseline, 4 + 2 below
}

TEST(Layout, InlineBoxesAndHitTesting) {
  TestDoc t(Page(R"~(<p id=p>aa <a id=l href=# style="padding:0 2px">bb</a> cc</p>
      <div id=w style="width:40px">xx <span id=s style="background-color:red">yyy zzz</span></div>)~"));
  ExpectBoxes(t, {{"l", {15, 1, 14, 10}}});  // 1px of leading above the text
  EXPECT_EQ(t.doc.HitTest(20, 5), t.ById("l"));
  EXPECT_EQ(t.doc.HitTest(5, 5), t.ById("p"));
  EXPECT_EQ(t.doc.HitTest(300, 5), t.ById("p"));
  EXPECT_EQ(t.doc.HitTest(5, 500), nullptr);
  // A span broken over two lines has a piece on each; its rectangle is their union.
  hl::Element* w = t.ById("w");
  ASSERT_EQ(w->box.lines.size(), 2u);
  EXPECT_EQ(w->box.lines[0].spans.size(), 1u);
  EXPECT_EQ(w->box.lines[1].spans.size(), 1u);
  EXPECT_EQ(w->box.lines[1].spans[0].rect.x, 0);
  EXPECT_EQ(w->box.lines[1].spans[0].rect.w, 15);
  EXPECT_EQ(t.RectOf("s").y, 13);
  EXPECT_EQ(t.RectOf("s").h, 22);
}

TEST(Layout, FloatsAndClear) {
  TestDoc t(Page(R"~(<div id=box style="width:100px">
        <img id=f src=pic style="float:left; width:30px; height:30px">
        <div id=r style="float:right; width:20px; height:10px"></div>
        <p id=t>aaaa bbbb cccc dddd</p>
        <div id=c style="clear:both">c</div>
      </div>
      <div id=o style="overflow:hidden; width:100px"><div id=f2 style="float:left; height:40px; width:10px"></div></div>)~"));
  ExpectBoxes(t, {
                     {"f", {0, 0, 30, 30}},
                     {"r", {80, 0, 20, 10}},
                     {"t", {0, 0, 100, 24}},
                     {"c", {0, 30, 100, 12}},
                     {"o", {0, 42, 100, 40}},  // overflow:hidden contains its float
                 });
  hl::Element* p = t.ById("t");
  ASSERT_EQ(p->box.lines.size(), 2u);
  EXPECT_EQ(p->box.lines[0].frags[0].x, 30);
  EXPECT_EQ(LineTexts(p)[0], "aaaa bbbb");  // 50px between the floats
  EXPECT_EQ(LineTexts(p)[1], "cccc dddd");  // beside the left float only
  EXPECT_EQ(p->box.lines[1].frags[0].x, 30);
}

TEST(Layout, InlineBlocksImagesAndCheckButtons) {
  TestDoc t;
  t.host.files["pic40x20"] = "40x20";
  t.Load(Page(R"~(<div id=d>a<span id=ib style="display:inline-block; width:20px; height:30px"></span>b</div>
      <img id=i1 src=pic40x20><img id=i2 src=pic40x20 width=20><img id=i3 src=pic40x20 style="height:10px">
      <img id=i4 src=missing width=7 height=9>
      <div><button id=cb type=checkbox>vol</button><button id=pb style="padding:0; border:0">go</button></div>
      <span id=sh style="display:inline-block">shrink me</span>)~"));
  ExpectBoxes(t, {
                     {"ib", {5, 0, 20, 30}},
                     {"i1", {0, 33, 40, 20}},   // bottoms on the baseline, 3px of descent below
                     {"i2", {40, 43, 20, 10}},
                     {"i3", {60, 43, 20, 10}},
                     {"i4", {85, 44, 7, 9}},    // after the space the line break gives
                     {"cb", {0, 56, 35, 14}},   // 18px for the box, 15 for the text, 2 right
                     {"pb", {35, 58, 10, 12}},
                     {"sh", {0, 73, 45, 12}},
                 });
  EXPECT_EQ(t.RectOf("d").h, 33);  // the inline-block sits on the baseline
  EXPECT_EQ(LineTexts(t.ById("d")), (std::vector<std::string>{"a[]b"}));
}

TEST(Layout, BlocksInsideInlinesAreStacked) {
  TestDoc t(Page("<a id=a href=#><div id=d1>one</div><div id=d2>two</div></a><span id=s>tail</span>"));
  ExpectBoxes(t, {{"a", {0, 0, 400, 24}}, {"d1", {0, 0, 400, 12}}, {"d2", {0, 12, 400, 12}}, {"s", {0, 25, 20, 10}}});
}

std::string TaskRows(int n) {
  std::string html = Page(R"~(<style>
      div.taskItem div.right { display: none; float: right }
      div.taskItem[status=waiting] div.right[waiting],
      div.taskItem[status=downloading] div.right[downloading],
      div.taskItem[status=finish] div.right[finish] { display: block }
      div.taskItem { overflow: hidden; border-bottom: 1px solid #ddd }
    </style>)~");
  for (int i = 0; i < n; ++i) {
    std::string id = std::to_string(i);
    html += "<div class=taskItem status=waiting task-id=" + id + " id=row" + id + ">" +
            "<div class=right finish><a href=# command=redownload>Re-download</a></div>"
            "<div class=right waiting>Waiting...</div>"
            "<div class=right downloading>Downloading [<span></span><span class=error>, <span></span></span>]...</div>"
            "<a class=taskName href=# task-id=" + id + ">Some task name " + id + "</a></div>";
  }
  return html;
}

// Changing one row must lay out that row again and only move the others.
TEST(Layout, ChangingOneRowKeepsTheOthers) {
  TestDoc t(TaskRows(300), 600);
  hl::Rect last = t.RectOf("row299");
  EXPECT_EQ(last.y, 299 * 13);
  hl::LayoutStats before = t.doc.stats();
  hl::Element* row = t.ById("row10");
  const char16_t* status = u"downloading";
  row->SetAttr("status", status, 11);
  t.doc.Layout(600);
  hl::LayoutStats after = t.doc.stats();
  EXPECT_LE(after.linesBuilt - before.linesBuilt, 4);
  EXPECT_LE(after.blocksLaidOut - before.blocksLaidOut, 8);
  EXPECT_GE(after.blocksReused - before.blocksReused, 299);
  EXPECT_EQ(t.RectOf("row299").y, last.y);

  // A row that grows moves every row below it.
  row->SetRuntimeStyle("height", "50px");
  t.doc.Layout(600);
  EXPECT_EQ(t.RectOf("row299").y, last.y + 50 + 1 - 13);
  EXPECT_EQ(t.RectOf("row9").y, 9 * 13);
}

TEST(Layout, WidthChangeRelaysEverything) {
  TestDoc t(TaskRows(50), 600);
  hl::LayoutStats before = t.doc.stats();
  t.doc.Layout(300);
  EXPECT_GE(t.doc.stats().blocksLaidOut - before.blocksLaidOut, 50);
  EXPECT_EQ(t.RectOf("row0").w, 300);
}

}  // namespace
