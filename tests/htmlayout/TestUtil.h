// Helpers for the core tests: a resource host answering from a map, a picture of fixed size, a
// compact dump of a tree, and a document with fake metrics.
#pragma once
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "Document.h"
#include "FakeMetrics.h"
#include "Utf.h"

struct FakeImage : hl::Image {
  int w, h;
  FakeImage(int w_, int h_) : w(w_), h(h_) {}
  int Width() const override { return w; }
  int Height() const override { return h; }
};

// Answers requests from a map, synchronously unless deferred; pictures are "WxH" texts.
struct FakeHost : hl::ResourceHost {
  std::map<std::string, std::string> files;
  std::vector<std::pair<std::string, DataType>> requests;
  hl::Document* doc = nullptr;
  bool deferred = false;

  void RequestData(const std::u16string& uri, DataType type, hl::Element*) override {
    std::string u = hl::Utf16To8(uri);
    requests.emplace_back(u, type);
    if (deferred || !doc) return;
    Answer(u);
  }
  bool Answer(const std::string& u) {
    auto it = files.find(u);
    if (it == files.end()) return false;
    return doc->DataReady(hl::Utf8To16(u), reinterpret_cast<const uint8_t*>(it->second.data()), it->second.size());
  }
  std::shared_ptr<hl::Image> DecodeImage(const uint8_t* data, size_t size) override {
    std::string s(reinterpret_cast<const char*>(data), size);
    int w = 0, h = 0;
    if (sscanf(s.c_str(), "%dx%d", &w, &h) != 2) return nullptr;
    return std::make_shared<FakeImage>(w, h);
  }
};

struct TestDoc {
  FakeMetrics fonts;
  FakeHost host;
  hl::Document doc{fonts, &host};
  TestDoc() { host.doc = &doc; }
  explicit TestDoc(const std::string& html, int width = 400) : TestDoc() { Load(html, width); }
  void Load(const std::string& html, int width = 400) {
    doc.Load(html.data(), html.size());
    doc.Layout(width);
  }
  hl::Element* ById(const std::string& id) { return Find(doc.root(), hl::Utf8To16(id)); }
  static hl::Element* Find(hl::Element* e, const std::u16string& id) {
    if (!e) return nullptr;
    if (const std::u16string* v = e->Id(); v && *v == id) return e;
    for (hl::Node* n : e->children())
      if (hl::Element* c = n->AsElement())
        if (hl::Element* r = Find(c, id)) return r;
    return nullptr;
  }
  hl::Rect RectOf(const std::string& id) {
    hl::Rect r{-1, -1, -1, -1};
    doc.ElementBox(ById(id), r);
    return r;
  }
};

// <tag a="v">text</tag> with attributes in source order and text as it is.
inline void Dump(const hl::Node* n, std::string& out) {
  if (!n->IsElement()) {
    out += hl::Utf16To8(static_cast<const hl::TextNode*>(n)->text);
    return;
  }
  const hl::Element* e = n->AsElement();
  out += "<" + e->tag();
  for (const hl::Attribute& a : e->attrs()) out += " " + a.name + "=\"" + hl::Utf16To8(a.value) + "\"";
  out += ">";
  if (hl::IsVoidElement(e->tag())) return;
  for (const hl::Node* c : e->children()) Dump(c, out);
  out += "</" + e->tag() + ">";
}
inline std::string DumpChildren(const hl::Element* e) {
  std::string out;
  if (e)
    for (const hl::Node* c : e->children()) Dump(c, out);
  return out;
}
