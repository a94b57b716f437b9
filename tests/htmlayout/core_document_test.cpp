// Document behaviour the views rely on: style sheets and pictures through the host, fragments,
// handles of deleted elements, visibility, and what gets painted.
#include <gtest/gtest.h>

#include "TestUtil.h"

namespace {

using DataType = hl::ResourceHost::DataType;

TEST(Document, ImportsAndLinksComeThroughTheHost) {
  TestDoc t;
  t.host.files["common.css"] = "\xEF\xBB\xBF@import url('inner.css'); body { color: red }";
  t.host.files["inner.css"] = "p { color: green } body { background-color: #f0f8ff }";
  t.host.files["link.css"] = "#l { color: blue }";
  t.Load(R"~(<style>@import url(common.css); @import "common.css"; p.x { color: black }</style>
            <link rel=stylesheet href=link.css><link rel=icon href=ignored.ico>
            <p id=p>p</p><p id=px class=x>x</p><p id=l>l</p>)~");
  std::vector<std::pair<std::string, DataType>> expected = {
      {"common.css", DataType::Style}, {"link.css", DataType::Style}, {"inner.css", DataType::Style}};
  EXPECT_EQ(t.host.requests, expected);
  EXPECT_EQ(t.ById("p")->style.color, 0xFF008000u);
  EXPECT_EQ(t.ById("px")->style.color, 0xFF000000u);  // the importing sheet's own rules come after
  EXPECT_EQ(t.ById("l")->style.color, 0xFF0000FFu);
  EXPECT_EQ(t.doc.Canvas(), 0xFFF0F8FFu);
}

TEST(Document, LateAnswersRestyle) {
  TestDoc t;
  t.host.deferred = true;
  t.host.files["late.css"] = "#p { color: red }";
  t.Load("<style>@import url(late.css);</style><p id=p>p</p>");
  EXPECT_EQ(t.ById("p")->style.color, 0xFF000000u);
  EXPECT_TRUE(t.host.Answer("late.css"));
  EXPECT_EQ(t.ById("p")->style.color, 0xFFFF0000u);
  EXPECT_FALSE(t.host.Answer("late.css"));  // nothing waits for it any more
}

TEST(Document, ImportCyclesEnd) {
  TestDoc t;
  t.host.files["a.css"] = "@import url(b.css); p { color: red }";
  t.host.files["b.css"] = "@import url(a.css); p { font-size: 20px }";
  t.Load("<style>@import url(a.css);</style><p id=p>p</p>");
  EXPECT_LE(t.host.requests.size(), 64u);
  EXPECT_EQ(t.ById("p")->style.color, 0xFFFF0000u);
}

TEST(Document, PicturesAreRequestedOncePerAddress) {
  TestDoc t;
  t.host.files["loading.gif"] = "16x16";
  t.host.files["file:///c:/cover"] = "100x150";
  t.Load("<img id=a src=loading.gif><img id=b src=loading.gif><img id=c src=http://x/y.png>");
  std::vector<std::pair<std::string, DataType>> expected = {{"loading.gif", DataType::Image},
                                                             {"http://x/y.png", DataType::Image}};
  EXPECT_EQ(t.host.requests, expected);
  EXPECT_EQ(t.RectOf("a").w, 16);
  EXPECT_EQ(t.RectOf("b").w, 16);
  EXPECT_EQ(t.RectOf("c").w, 0);

  const std::u16string src = u"file:///c:/cover";
  t.ById("a")->SetAttr("src", src.data(), src.size());
  t.doc.Layout(400);
  EXPECT_EQ(t.host.requests.back().first, "file:///c:/cover");
  EXPECT_EQ(t.RectOf("a").h, 150);
  t.ById("a")->SetAttr("src", u"loading.gif", 11);
  t.doc.Layout(400);
  EXPECT_EQ(t.host.requests.size(), 3u);  // taken from what was loaded before
  EXPECT_EQ(t.RectOf("a").w, 16);
}

TEST(Document, SetElementHtmlModes) {
  TestDoc t("<div id=d><i>old</i></div>");
  hl::Element* d = t.ById("d");
  const char* row = "<b>x</b>";
  EXPECT_TRUE(t.doc.SetElementHtml(d, row, strlen(row), 2));
  EXPECT_EQ(DumpChildren(d), "<i>old</i><b>x</b>");
  EXPECT_TRUE(t.doc.SetElementHtml(d, "y", 1, 1));
  EXPECT_EQ(DumpChildren(d), "y<i>old</i><b>x</b>");
  EXPECT_TRUE(t.doc.SetElementHtml(d, "<p>new", 6, 0));
  EXPECT_EQ(DumpChildren(d), "<p>new</p>");
  EXPECT_FALSE(t.doc.SetElementHtml(d, "z", 1, 3));
  EXPECT_TRUE(t.doc.SetElementHtml(d, nullptr, 0, 0));
  EXPECT_EQ(DumpChildren(d), "");
}

TEST(Document, DeletedElementsLiveWhileHeld) {
  TestDoc t("<div id=list><div id=row a=1><span id=inner>t</span></div></div>");
  hl::Element* row = t.ById("row");
  uint32_t rowHandle = row->handle();
  uint32_t innerHandle = t.ById("inner")->handle();
  row->AddRef();  // what HTMLayout_UseElement does
  EXPECT_TRUE(t.doc.DeleteElement(row));
  EXPECT_EQ(hl::Element::FromHandle(rowHandle), row);
  EXPECT_EQ(*row->Attr("a"), u"1");
  EXPECT_FALSE(t.doc.Contains(row));
  EXPECT_FALSE(t.doc.IsVisible(row));
  hl::Rect r;
  t.doc.Layout(400);
  EXPECT_FALSE(t.doc.ElementBox(row, r));
  EXPECT_EQ(DumpChildren(t.ById("list")), "");
  row->Release();
  EXPECT_EQ(hl::Element::FromHandle(rowHandle), nullptr);
  EXPECT_EQ(hl::Element::FromHandle(innerHandle), nullptr);
  EXPECT_FALSE(t.doc.DeleteElement(t.doc.root()));
}

TEST(Document, ReloadDropsUnheldElements) {
  TestDoc t("<p id=p>x</p>");
  uint32_t h = t.ById("p")->handle();
  t.Load("<p id=q>y</p>");
  EXPECT_EQ(hl::Element::FromHandle(h), nullptr);
  EXPECT_NE(t.ById("q"), nullptr);
}

TEST(Document, VisibilityFollowsDisplayOfAncestors) {
  TestDoc t(R"~(<style>#updates button.ud { display: none } #updates[showall] button.ud { display: inline-block }
               .h { visibility: hidden }</style>
               <div id=updates><button id=ud class=ud>a</button><button id=nw class=new>b</button>
               <span class=h id=h>h</span></div>)~");
  EXPECT_FALSE(t.doc.IsVisible(t.ById("ud")));
  EXPECT_TRUE(t.doc.IsVisible(t.ById("nw")));
  EXPECT_FALSE(t.doc.IsVisible(t.ById("h")));
  t.ById("updates")->SetAttr("showall", u"", 0);
  EXPECT_TRUE(t.doc.IsVisible(t.ById("ud")));
  t.ById("updates")->RemoveAttr("showall");
  EXPECT_FALSE(t.doc.IsVisible(t.ById("ud")));
}

struct Recorder : hl::PaintSink {
  std::vector<std::string> texts;
  std::vector<hl::Color> colors;
  std::vector<std::pair<hl::Rect, hl::Color>> fills;
  std::vector<bool> checks;
  int images = 0;
  void FillRect(const hl::Rect& r, hl::Color c) override { fills.emplace_back(r, c); }
  void Text(int, int, int, int, const std::u16string& text, hl::FontId, hl::Color color, bool) override {
    texts.push_back(hl::Utf16To8(text));
    colors.push_back(color);
  }
  void DrawImage(const hl::Rect&, hl::Image&) override { ++images; }
  void CheckBox(const hl::Rect&, bool checked) override { checks.push_back(checked); }
  void PushClip(const hl::Rect&) override {}
  void PopClip() override {}
};

TEST(Document, ErrorPartShowsOnlyWithTheAttribute) {
  TestDoc t(R"~(<style>.error { display: none; color: red } [error] .error { display: inline }</style>
               <div id=blk>Downloading [<span>3/9</span><span class=error>, <span>2 errors</span></span>]</div>)~");
  auto paint = [&]() {
    t.doc.Layout(400);
    Recorder rec;
    t.doc.Paint(hl::Rect{0, 0, 400, 400}, rec);
    return rec;
  };
  Recorder before = paint();
  for (const std::string& s : before.texts) EXPECT_EQ(s.find("errors"), std::string::npos);
  t.ById("blk")->SetAttr("error", u"", 0);
  Recorder after = paint();
  bool red = false;
  for (size_t i = 0; i < after.texts.size(); ++i)
    if (after.texts[i] == "2 errors") red = after.colors[i] == 0xFFFF0000u;
  EXPECT_TRUE(red);
}

TEST(Document, PaintsBackgroundsChecksAndPicturesInView) {
  TestDoc t;
  t.host.files["p.png"] = "10x10";
  t.Load(R"~(<style>body{margin:0} .bg { background-color: #00ff00; height: 50px }</style>
            <div class=bg></div><button type=checkbox checked>a</button><button type=checkbox>b</button>
            <img src=p.png><div style="height:2000px"></div><p>far below</p>)~");
  t.doc.Layout(400);
  Recorder top;
  t.doc.Paint(hl::Rect{0, 0, 400, 300}, top);
  ASSERT_FALSE(top.fills.empty());
  EXPECT_EQ(top.fills[0].second, 0xFF00FF00u);
  EXPECT_EQ(top.fills[0].first, (hl::Rect{0, 0, 400, 50}));
  EXPECT_EQ(top.checks, (std::vector<bool>{true, false}));
  EXPECT_EQ(top.images, 1);
  for (const std::string& s : top.texts) EXPECT_NE(s, "far below");
  Recorder bottom;
  t.doc.Paint(hl::Rect{0, 2000, 400, 300}, bottom);
  EXPECT_EQ(bottom.texts, (std::vector<std::string>{"far below"}));
  EXPECT_TRUE(bottom.checks.empty());
}

}  // namespace

namespace {

// A host that changes the document from inside a request, as a program's callback may.
struct MeddlingHost : hl::ResourceHost {
  hl::Document* doc = nullptr;
  std::string action;
  int requests = 0;
  void RequestData(const std::u16string&, DataType, hl::Element* principal) override {
    ++requests;
    if (action == "reload" && requests == 1) {
      const char page[] = "<p id=new>reloaded</p><img src=again.png>";
      doc->Load(page, sizeof(page) - 1);
    } else if (action == "delete" && principal) {
      doc->DeleteElement(principal);
    } else if (action == "append" && requests < 5) {
      const char more[] = "<img src=more.png>";
      doc->SetElementHtml(doc->body(), more, sizeof(more) - 1, 2);
    }
  }
  std::shared_ptr<hl::Image> DecodeImage(const uint8_t*, size_t) override { return nullptr; }
};

TEST(Document, HostsMayChangeTheDocumentInsideRequests) {
  for (const char* action : {"reload", "delete", "append"}) {
    FakeMetrics fonts;
    MeddlingHost host;
    host.action = action;
    hl::Document doc(fonts, &host);
    host.doc = &doc;
    const char page[] = "<style>@import url(a.css);</style><img id=i src=a.png><img src=b.png><p>text</p>";
    doc.Load(page, sizeof(page) - 1);
    doc.Layout(300);
    EXPECT_GT(host.requests, 0) << action;
    const std::string a = action;
    if (a == "reload") {
      EXPECT_EQ(hl::InnerText(doc.body()), u"reloaded");
    } else if (a == "delete") {
      EXPECT_EQ(DumpChildren(doc.body()), "<p>text</p>");
    } else {
      EXPECT_EQ(host.requests, 4) << "each new address asked for once";
    }
  }
}

TEST(Document, SelectionSurvivesCallbacksThatChangeTheTree) {
  TestDoc t("<div id=list><p id=a>a</p><p id=b>b</p><p id=c>c</p><p id=d>d</p></div>");
  std::vector<hl::Selector> sels;
  ASSERT_TRUE(hl::ParseSelectorList("p", sels));
  std::string seen;
  hl::SelectElements(t.doc.root(), sels, [&](hl::Element* e) {
    seen += hl::Utf16To8(*e->Id());
    if (seen == "a") t.doc.DeleteElement(t.ById("b"));  // a later match goes away
    if (seen == "ac") {
      const char extra[] = "<p id=e>e</p>";
      t.doc.SetElementHtml(t.ById("list"), extra, sizeof(extra) - 1, 2);
    }
    return false;
  });
  EXPECT_EQ(seen, "acde");

  // Depth-limited visits see only the levels asked for.
  std::string ids;
  hl::VisitElements(t.ById("list")->parent(), 1, [](hl::Element*) { return true; }, [&](hl::Element* e) {
    ids += e->Id() ? hl::Utf16To8(*e->Id()) : e->tag();
    return false;
  });
  EXPECT_EQ(ids, "list");
}

}  // namespace
