// Selectors (parsing and matching), declarations, and cascade results on small documents.
#include <gtest/gtest.h>

#include "TestUtil.h"

namespace {

TEST(CssSelectors, ParseValidity) {
  const char* const kValid[] = {
      "div", "*", ".a.b", "#x", "[a]", "[a=v]", "[a='v w']", "[ a = \"q\" ]", "div > p", "div p",
      "a:hover", "p, div", "div.taskItem[task-id=12] > div[downloading]", "button:checked",
      "#updates[showall] button.ud", "DIV.Cls", "a>b", "p\n  span",
  };
  const char* const kInvalid[] = {
      "", "div >", "> div", "a + b", "a ~ b", "a::before", ":nth-child(1)", "[a~=b]", "[", "div,",
      "..a", "#", "#a#b", "a:visited", "[a=]", "[=v]", "p,,q", "a > > b", "[a='x]",
  };
  for (const char* s : kValid) {
    std::vector<hl::Selector> out;
    EXPECT_TRUE(hl::ParseSelectorList(s, out)) << s;
  }
  for (const char* s : kInvalid) {
    std::vector<hl::Selector> out;
    EXPECT_FALSE(hl::ParseSelectorList(s, out)) << s;
  }
}

TEST(CssSelectors, Specificity) {
  struct { const char* sel; uint32_t spec; } cases[] = {
      {"div", 0x000001}, {".a", 0x000100}, {"#x", 0x010000}, {"div.a.b#x", 0x010201},
      {"a:hover", 0x000101}, {"div[status=waiting] > div.right[waiting]", 0x000302}, {"*", 0},
  };
  for (auto& c : cases) {
    std::vector<hl::Selector> out;
    ASSERT_TRUE(hl::ParseSelectorList(c.sel, out)) << c.sel;
    EXPECT_EQ(out[0].specificity, c.spec) << c.sel;
  }
}

const char kRow[] = R"~(
<div id=row class="taskItem odd" status=waiting task-id=5>
  <div id=r1 class=right finish><a id=l1 href="#" command=redownload task-id=5>R</a></div>
  <div id=r2 class="right" downloading><span id=s1>1/2</span><span id=e1 class=error>, <span id=e2>x</span></span></div>
  <a id=name class=taskName href="#" task-id=5>name</a>
</div>
<p id=p1 class="a b"><b id=b1>bold</b></p>
<div id=updates showall><div id=m class="manga hasnew"><button id=bt type=checkbox class=ud>v</button></div></div>
)~";

std::string Matches(TestDoc& t, const char* sel) {
  std::vector<hl::Selector> sels;
  if (!hl::ParseSelectorList(sel, sels)) return "invalid";
  std::string ids;
  hl::SelectElements(t.doc.root(), sels, [&](hl::Element* e) {
    const std::u16string* id = e->Id();
    ids += (ids.empty() ? "" : " ") + (id ? hl::Utf16To8(*id) : std::string("?") + e->tag());
    return false;
  });
  return ids;
}

TEST(CssSelectors, MatchTable) {
  TestDoc t(kRow);
  struct { const char* sel; const char* ids; } cases[] = {
      {"div.taskItem[task-id=5]", "row"},
      {"div.taskItem[task-id=6]", ""},
      {"div.taskItem[task-id=5] > div[downloading]", "r2"},
      {"div.taskItem[task-id=5] > div[downloading] span", "s1 e1 e2"},
      {"div[downloading] > span", "s1 e1"},
      {"span.error > span", "e2"},
      {"a[command=redownload]", "l1"},
      {"[task-id]", "row l1 name"},
      {".right", "r1 r2"},
      {".taskItem.odd", "row"},
      {".taskItem.even", ""},
      {"#p1 b", "b1"},
      {"p.a.b > b", "b1"},
      {"div > b", ""},
      {"body > p", "p1"},
      {"html b", "b1"},
      {"div.manga[hasnew]", ""},
      {"div[class=manga]", ""},
      {"div[class=\"manga hasnew\"]", "m"},
      {"#updates[showall] button.ud", "bt"},
      {"a, b", "l1 name b1"},
      {"span:hover", ""},
  };
  for (auto& c : cases) {
    EXPECT_EQ(Matches(t, c.sel), c.ids) << c.sel;
  }
  t.ById("s1")->SetState(hl::kStateHover, 0);
  EXPECT_EQ(Matches(t, "span:hover"), "s1");
  EXPECT_EQ(Matches(t, "div:hover span"), "");
}

// Long chains of descendant combinators over a deep tree must not take exponential time.
TEST(CssSelectors, DeepDescendantChainsStayCheap) {
  std::string html;
  for (int i = 0; i < 150; ++i) html += "<i>";
  html += "x";
  TestDoc t(html);
  std::string sel;
  for (int i = 0; i < 30; ++i) sel += "i ";
  sel += "b";
  EXPECT_EQ(Matches(t, sel.c_str()), "");
  sel.resize(sel.size() - 2);
  EXPECT_NE(Matches(t, sel.c_str()), "");
}

TEST(CssDeclarations, ShorthandsAndBadValues) {
  TestDoc t(R"~(<style>html{font-size:10px} body{margin:0}</style>
    <div id=a style="margin: 1px 2px; padding: 3px 4px 5px; border: 2px solid red"></div>
    <div id=b style="font: bold italic 14px/20px Tahoma, 'Segoe UI', sans-serif"></div>
    <div id=c style="background: #fff url(x.png) no-repeat; color: rgb(1, 2, 3)"></div>
    <div id=d style="color: nonsense; width: -5px; margin: 5; height: 7px; display: bogus"></div>
    <div id=e style="color: #abc; background-color: rgba(0,0,0,0); border-left: 3px dotted"></div>
    <div id=f style="margin: 0 auto; width: 50px; font-family: &quot;&#x5FAE;&#x8F6F;&#x96C5;&#x9ED1;&quot;, Tahoma"></div>
    <div id=g style="font-size: 2em; margin-top: 1em; line-height: 1.5; padding-left: 10%"></div>)~");
  const hl::ComputedStyle& a = t.ById("a")->style;
  EXPECT_EQ(a.margin[0].v, 1);
  EXPECT_EQ(a.margin[1].v, 2);
  EXPECT_EQ(a.margin[2].v, 1);
  EXPECT_EQ(a.margin[3].v, 2);
  EXPECT_EQ(a.padding[1].v, 4);
  EXPECT_EQ(a.padding[3].v, 4);
  EXPECT_EQ(a.padding[2].v, 5);
  EXPECT_EQ(a.borderWidth[0], 2);
  EXPECT_EQ(a.borderColor[3], 0xFFFF0000u);
  const hl::ComputedStyle& b = t.ById("b")->style;
  EXPECT_EQ(b.fontWeight, 700);
  EXPECT_TRUE(b.italic);
  EXPECT_EQ(b.fontSize, 14);
  EXPECT_EQ(b.lineHeight, 20);
  ASSERT_TRUE(b.families);
  EXPECT_EQ(*b.families, (hl::FontFamilies{u"Tahoma", u"Segoe UI", u"sans-serif"}));
  EXPECT_EQ(t.ById("c")->style.background, 0xFFFFFFFFu);
  EXPECT_EQ(t.ById("c")->style.color, 0xFF010203u);
  const hl::ComputedStyle& d = t.ById("d")->style;
  EXPECT_EQ(d.color, 0xFF000000u);
  EXPECT_EQ(d.width.kind, hl::Len::Auto);
  EXPECT_EQ(d.margin[0].v, 0);
  EXPECT_EQ(d.height.v, 7);
  EXPECT_EQ(d.display, hl::Display::Block);
  const hl::ComputedStyle& e = t.ById("e")->style;
  EXPECT_EQ(e.color, 0xFFAABBCCu);
  EXPECT_EQ(e.background, 0u);
  EXPECT_EQ(e.borderStyle[3], hl::BorderStyle::Dotted);
  EXPECT_EQ(e.borderColor[3], 0xFFAABBCCu);  // a border without colour takes the text colour
  EXPECT_EQ(e.borderWidth[0], 0);
  const hl::ComputedStyle& f = t.ById("f")->style;
  EXPECT_EQ(f.margin[1].kind, hl::Len::Auto);
  ASSERT_TRUE(f.families);
  EXPECT_EQ((*f.families)[0], u"\u5FAE\u8F6F\u96C5\u9ED1");
  EXPECT_EQ(t.RectOf("f").x, (400 - 50) / 2);
  const hl::ComputedStyle& g = t.ById("g")->style;
  EXPECT_EQ(g.fontSize, 20);
  EXPECT_EQ(g.margin[0].v, 20);  // em of the element's own size
  EXPECT_EQ(g.padding[3].kind, hl::Len::Percent);
  EXPECT_EQ(t.ById("g")->box.padding[3], 40);
}

struct CascadeCase {
  const char* id;
  hl::Color color;
};

TEST(CssCascade, SpecificityOrderInlineImportant) {
  TestDoc t(R"~(<style>
      p { color: red }  .c { color: green }  #i { color: blue }  p.c { color: yellow }
      .d { color: red }  .d { color: green }
      .imp { color: red !important }  #z { color: green }
      div.x span { color: teal }  span { color: black }
      p.q { color: red; color: lime }
    </style>
    <p id=a>a</p><p id=b class=c>b</p><p id=i class=c>i</p><p id=d class=d>d</p>
    <p id=i2 class=d style="color: maroon">x</p><p id=z class=imp>z</p>
    <p id=zi class=imp style="color:navy">y</p>
    <div class=x><span id=s>s</span></div><p id=q class=q>q</p>)~");
  const CascadeCase cases[] = {
      {"a", 0xFFFF0000}, {"b", 0xFFFFFF00}, {"i", 0xFF0000FF}, {"d", 0xFF008000},
      {"i2", 0xFF800000}, {"z", 0xFFFF0000}, {"zi", 0xFFFF0000}, {"s", 0xFF008080}, {"q", 0xFF00FF00},
  };
  for (const CascadeCase& c : cases) EXPECT_EQ(t.ById(c.id)->style.color, c.color) << c.id;
}

TEST(CssCascade, InheritanceOfFontAndColourOnly) {
  TestDoc t(R"~(<style>html{font-size:10px}</style>
    <div id=o style="color:red; font-size:20px; font-weight:bold; background-color:blue;
                     border:1px solid; padding:4px; text-align:center; font-family: Verdana">
      <span id=s>x</span><p id=p style="color:inherit; background-color:inherit">p</p></div>)~");
  const hl::ComputedStyle& s = t.ById("s")->style;
  EXPECT_EQ(s.color, 0xFFFF0000u);
  EXPECT_EQ(s.fontSize, 20);
  EXPECT_EQ(s.fontWeight, 700);
  EXPECT_EQ(s.align, hl::TextAlign::Center);
  ASSERT_TRUE(s.families);
  EXPECT_EQ((*s.families)[0], u"Verdana");
  EXPECT_EQ(s.background, 0u);
  EXPECT_EQ(s.borderWidth[0], 0);
  EXPECT_EQ(s.padding[0].v, 0);
  EXPECT_EQ(t.ById("p")->style.background, 0xFF0000FFu);
}

TEST(CssCascade, HoverAndCheckedRestyle) {
  TestDoc t(R"~(<style>a { text-decoration: none } a:hover { text-decoration: underline }
               button:checked { color: red }</style>
               <a id=l href=#>link</a><button id=bt type=checkbox>b</button>)~");
  hl::Element* l = t.ById("l");
  EXPECT_FALSE(l->style.underline);
  t.doc.SetHover(l);
  EXPECT_TRUE(l->style.underline);
  t.doc.SetHover(nullptr);
  EXPECT_FALSE(l->style.underline);
  hl::Element* bt = t.ById("bt");
  EXPECT_TRUE(t.doc.SetState(bt, hl::kStateChecked, 0));
  EXPECT_EQ(bt->style.color, 0xFFFF0000u);
  EXPECT_FALSE(t.doc.SetState(bt, hl::kStateChecked, 0));
}

TEST(CssCascade, MediaTypes) {
  TestDoc t;
  t.host.files["hc.css"] = "p { background-color: black }";
  t.doc.SetMediaType("screen");
  t.Load(R"~(<style>p { color: black }
      @media contrast-screen { p { color: white } }
      @media screen, print { #s { color: green } }
      @import url(hc.css) contrast-screen;</style>
      <style media="contrast-screen">p { font-size: 30px }</style><p id=p>x</p><p id=s>y</p>)~");
  EXPECT_EQ(t.ById("p")->style.color, 0xFF000000u);
  EXPECT_EQ(t.ById("s")->style.color, 0xFF008000u);
  EXPECT_EQ(t.ById("p")->style.background, 0u);
  EXPECT_NE(t.ById("p")->style.fontSize, 30);
  t.doc.SetMediaType("contrast-screen");
  EXPECT_EQ(t.ById("p")->style.color, 0xFFFFFFFFu);
  EXPECT_EQ(t.ById("s")->style.color, 0xFFFFFFFFu);
  EXPECT_EQ(t.ById("p")->style.background, 0xFF000000u);
  EXPECT_EQ(t.ById("p")->style.fontSize, 30);
}

TEST(CssSheets, MalformedSheetsKeepTheGoodRules) {
  TestDoc t(R"~(<style>
      p { color: red
      @charset "x"; @font-face { src: url(a) } @unknown foo { a { color: red } }
      } #a { color: green } #b { color: ; background-color: blue } #c { } { color: red }
      #d { color: green; } /* #d { color: red } */ "unclosed { #e { color: red }
    </style><p id=a>a</p><p id=b>b</p><p id=d>d</p>)~");
  EXPECT_EQ(t.ById("a")->style.color, 0xFF008000u);
  EXPECT_EQ(t.ById("b")->style.background, 0xFF0000FFu);
  EXPECT_EQ(t.ById("d")->style.color, 0xFF008000u);
}

}  // namespace
