// Fuzz target for the parser, the selector and style sheet parsers, and what the views do with
// the result: the input is split at NUL bytes into a page, a selector and a fragment (which also
// serves as every style sheet and picture the page asks for).
#include <cstddef>
#include <cstdint>
#include <string>

#include "TestUtil.h"

namespace {

struct FuzzHost : hl::ResourceHost {
  hl::Document* doc = nullptr;
  std::string answer;
  int answered = 0;
  void RequestData(const std::u16string& uri, DataType, hl::Element*) override {
    if (doc && answered++ < 8)
      doc->DataReady(uri, reinterpret_cast<const uint8_t*>(answer.data()), answer.size());
  }
  std::shared_ptr<hl::Image> DecodeImage(const uint8_t*, size_t size) override {
    return std::make_shared<FakeImage>(static_cast<int>(size % 300), static_cast<int>(size % 200));
  }
};

struct NullSink : hl::PaintSink {
  void FillRect(const hl::Rect&, hl::Color) override {}
  void Text(int, int, int, int, const std::u16string&, hl::FontId, hl::Color, bool) override {}
  void DrawImage(const hl::Rect&, hl::Image&) override {}
  void CheckBox(const hl::Rect&, bool) override {}
  void PushClip(const hl::Rect&) override {}
  void PopClip() override {}
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string in(reinterpret_cast<const char*>(data), size);
  size_t a = in.find('\0');
  std::string page = in.substr(0, a);
  std::string rest = a == std::string::npos ? std::string() : in.substr(a + 1);
  size_t b = rest.find('\0');
  std::string selector = rest.substr(0, b);
  std::string fragment = b == std::string::npos ? std::string() : rest.substr(b + 1);
  int width = size ? 50 + data[0] * 3 : 300;

  hl::StyleSheet sheet;
  hl::ParseStyleSheet(selector, sheet);
  hl::DeclarationList decls;
  hl::ParseDeclarations(selector, decls);

  FakeMetrics fonts;
  FuzzHost host;
  host.answer = fragment;
  hl::Document doc(fonts, &host);
  host.doc = &doc;
  doc.Load(page.data(), page.size());
  doc.Layout(width);

  std::vector<hl::Selector> sels;
  if (hl::ParseSelectorList(selector, sels)) {
    int n = 0;
    hl::SelectElements(doc.root(), sels, [&](hl::Element* e) {
      switch (n++ % 4) {
        case 0: doc.SetElementHtml(e, fragment.data(), fragment.size(), 2); break;
        case 1: e->SetAttr("status", u"downloading", 11); break;
        case 2: doc.SetHover(e); break;
        case 3: doc.DeleteElement(e); break;
      }
      return n > 16;
    });
  }
  if (hl::Element* body = doc.body()) doc.SetElementHtml(body, fragment.data(), fragment.size(), 0);
  doc.Layout(width / 2 + 1);
  NullSink sink;
  doc.Paint(hl::Rect{0, 0, width, 100000}, sink);
  for (int y = 0; y < 400; y += 37) doc.HitTest(width / 3, y);
  return 0;
}
