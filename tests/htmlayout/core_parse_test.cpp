// Parser results for well-formed and malformed text: what the tree holds, and that no text is lost.
#include <gtest/gtest.h>

#include "HtmlParser.h"
#include "TestUtil.h"

namespace {

struct ParseCase {
  const char* html;
  const char* body;  // dump of the body's children
};

const ParseCase kBodyCases[] = {
    /*0*/ {"<p>a<p>b", "<p>a</p><p>b</p>"},
    /*1*/ {"<div><span>x</div>y", "<div><span>x</span></div>y"},
    /*2*/ {"<ul><li>a<li>b</ul>c", "<ul><li>a</li><li>b</li></ul>c"},
    /*3*/ {"a<br>b<img src=x.png>c<hr/>d", "a<br>b<img src=\"x.png\">c<hr>d"},
    /*4*/ {"a<!-- x <b> -->b", "ab"},
    /*5*/ {"<a href=\"q\" title='t w' x=1 bare>l</a>", "<a href=\"q\" title=\"t w\" x=\"1\" bare=\"\">l</a>"},
    /*6*/ {"&amp;&lt;&gt;&quot;&#65;&#x42;&amp &unknown; &#0; &nbsp;",
           "&<>\"AB&amp &unknown; \xEF\xBF\xBD \xC2\xA0"},
    /*7*/ {"</div>a</span>b", "ab"},
    /*8*/ {"<foo-bar x>t</foo-bar>", "<foo-bar x=\"\">t</foo-bar>"},
    /*9*/ {"a < b <3 c", "a < b <3 c"},
    /*10*/ {"abc<div class=", "abc"},
    /*11*/ {"a<!-- b", "a"},
    /*12*/ {"x<script>if (a<b) s='</div>'</script>z", "x<script>if (a<b) s='</div>'</script>z"},
    /*13*/ {"<body class=k><p>x", "<p>x</p>"},
    /*14*/ {"\xE4\xB8\xAD\xFF\xE6\x96\x87", "\xE4\xB8\xAD\xEF\xBF\xBD\xE6\x96\x87"},
    /*15*/ {"<a href=1>x<a href=2>y</a>", "<a href=\"1\">x</a><a href=\"2\">y</a>"},
    /*16*/ {"<h1>a<h2>b", "<h1>a</h1><h2>b</h2>"},
    /*17*/ {"<table><tr><td>a<td>b<tr><td>c</table>",
            "<table><tr><td>a</td><td>b</td></tr><tr><td>c</td></tr></table>"},
    /*18*/ {"<DIV CLASS=A>x</Div>", "<div class=\"A\">x</div>"},
    /*19*/ {"<p a=1 a=2>x", "<p a=\"1\">x</p>"},
    /*20*/ {"<b>bold <i>both</b> italic</i>", "<b>bold <i>both</i></b> italic"},
    /*21*/ {"<p>x</br>y", "<p>x<br>y</p>"},
    /*22*/ {"<<>>", "<<>>"},
    /*23*/ {"<a title=\"x > y\">t</a>", "<a title=\"x > y\">t</a>"},
    /*24*/ {"<p title=\"a&amp;b&#x4e2d;\">", "<p title=\"a&b\xE4\xB8\xAD\"></p>"},
    /*25*/ {"\xEF\xBB\xBFtext", "text"},
    /*26*/ {"<textarea><b>&amp;</b></textarea>", "<textarea><b>&</b></textarea>"},
    /*27*/ {"<?xml version='1.0'?><!DOCTYPE html>x", "x"},
};

TEST(HtmlParse, BodyTable) {
  int i = 0;
  for (const ParseCase& c : kBodyCases) {
    hl::Ref<hl::Element> html = hl::ParseHtmlDocument(c.html, strlen(c.html));
    ASSERT_EQ(html->children().size(), 2u) << "case " << i;
    const hl::Element* body = html->children()[1]->AsElement();
    EXPECT_EQ(DumpChildren(body), c.body) << "case " << i << ": " << c.html;
    ++i;
  }
}

TEST(HtmlParse, HeadCollectsHeadElementsUntilContent) {
  const char* src = "<html lang=en><title>T</title><style>p{}</style>\n<p>x</p><style>b{}</style>";
  hl::Ref<hl::Element> html = hl::ParseHtmlDocument(src, strlen(src));
  EXPECT_EQ(*html->Attr("lang"), u"en");
  EXPECT_EQ(DumpChildren(html->children()[0]->AsElement()), "<title>T</title><style>p{}</style>");
  EXPECT_EQ(DumpChildren(html->children()[1]->AsElement()), "<p>x</p><style>b{}</style>");
}

TEST(HtmlParse, NestingCapKeepsTextAndBoundsDepth) {
  std::string src;
  for (int i = 0; i < 5000; ++i) src += "<div><span>";
  src += "deep";
  hl::Ref<hl::Element> html = hl::ParseHtmlDocument(src.data(), src.size());
  int maxDepth = 0;
  std::function<void(hl::Element*, int)> walk = [&](hl::Element* e, int d) {
    maxDepth = std::max(maxDepth, d);
    for (hl::Node* n : e->children())
      if (n->IsElement()) walk(n->AsElement(), d + 1);
  };
  walk(html.get(), 0);
  EXPECT_LE(maxDepth, hl::kMaxDepth + 1);
  EXPECT_EQ(hl::InnerText(html.get()), u"deep");
}

TEST(HtmlParse, FragmentsIgnoreDocumentTagsAndRespectDepth) {
  const char* src = "<html><body class=z><b>x</b></body></html>tail";
  auto nodes = hl::ParseHtmlFragment(src, strlen(src), 10);
  std::string out;
  for (auto& n : nodes) Dump(n.get(), out);
  EXPECT_EQ(out, "<b>x</b>tail");

  const char* nested = "<i><i><i>t</i></i></i>";
  auto flat = hl::ParseHtmlFragment(nested, strlen(nested), 1);
  out.clear();
  for (auto& n : flat) Dump(n.get(), out);
  EXPECT_EQ(out, "<i><i></i><i></i>t</i>");  // past the cap elements hold no content
}

TEST(HtmlParse, CheckedButtonsStartChecked) {
  const char* src = "<button type=checkbox checked id=a>a</button><button type=checkbox id=b>b</button>";
  hl::Ref<hl::Element> html = hl::ParseHtmlDocument(src, strlen(src));
  const auto& kids = html->children()[1]->AsElement()->children();
  EXPECT_EQ(kids[0]->AsElement()->state() & hl::kStateChecked, hl::kStateChecked);
  EXPECT_EQ(kids[1]->AsElement()->state() & hl::kStateChecked, 0u);
}

// Introductions come from site scripts: whatever the markup, its text must survive.
TEST(HtmlParse, ArbitraryMarkupKeepsItsText) {
  const char* const kIntros[] = {
      "<b>unclosed <i>text</b> &amp; more <",
      "plain & simple < text > here",
      "<p><div><table><td>cell</p></div>after",
      "<select><option>one<option>two</select>",
      "<a href='x'>link <a href='y'>other</a>",
  };
  const char16_t* const kTexts[] = {
      u"unclosed text & more <", u"plain & simple < text > here", u"cellafter", u"onetwo", u"link other",
  };
  for (size_t i = 0; i < sizeof(kIntros) / sizeof(kIntros[0]); ++i) {
    auto nodes = hl::ParseHtmlFragment(kIntros[i], strlen(kIntros[i]), 50);
    hl::Ref<hl::Element> holder(new hl::Element("div"));
    for (auto& n : nodes) holder->AppendChild(n.get());
    EXPECT_EQ(hl::InnerText(holder.get()), kTexts[i]) << i;
  }
}

TEST(HtmlParse, EntitiesNeedTheirSemicolon) {
  EXPECT_EQ(hl::DecodeEntities(u"&lt;&lt&#60&#60;&#x3C;&#X3c;&#xZZ;&;"), u"<&lt&#60<<<&#xZZ;&;");
  EXPECT_EQ(hl::DecodeEntities(u"&#1114112;&#xD800;"), u"\xFFFD\xFFFD");
}

}  // namespace
