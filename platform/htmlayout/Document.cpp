// Document: loading, style sheets with imports, pictures, and keeping style and layout current.
#include "Document.h"

#include <algorithm>

#include "HtmlParser.h"
#include "Utf.h"

namespace hl {
namespace {

constexpr int kMaxImportDepth = 8;
constexpr int kMaxImports = 64;

std::string Lower(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

std::vector<std::string> MediaAttr(const Element* e) {
  std::vector<std::string> media;
  const std::u16string* m = e->Attr("media");
  if (!m) return media;
  std::string all = Lower(Utf16To8(*m));
  size_t i = 0;
  while (i <= all.size()) {
    size_t comma = all.find(',', i);
    if (comma == std::string::npos) comma = all.size();
    std::string one = all.substr(i, comma - i);
    one.erase(0, one.find_first_not_of(" \t\r\n"));
    one.erase(one.find_last_not_of(" \t\r\n") + 1);
    if (!one.empty()) media.push_back(one);
    i = comma + 1;
  }
  return media;
}

}  // namespace

Document::Document(FontMetrics& fonts, ResourceHost* host) : fonts_(fonts), host_(host), tm_(fonts) {
  resolver_.Build({}, media_);
  Load("", 0);
}

Document::~Document() {
  if (root_) root_->SetOwnerDocument(nullptr);
}

Element* Document::body() const {
  if (!root_) return nullptr;
  for (Node* n : root_->children())
    if (n->IsElement() && n->AsElement()->tag() == "body") return n->AsElement();
  return nullptr;
}

void Document::SetMediaType(const std::string& media) {
  std::string m = Lower(media);
  if (m.empty()) m = "screen";
  if (m == media_) return;
  media_ = m;
  sheetsChanged_ = true;
  Flush();
}

void Document::Load(const char* utf8, size_t len) {
  ++busy_;
  if (root_) root_->SetOwnerDocument(nullptr);
  root_ = ParseHtmlDocument(utf8, len);
  root_->SetOwnerDocument(this);
  sheets_.clear();
  pendingImports_.clear();
  pendingImages_.clear();
  images_.clear();
  hoverChain_.clear();
  imports_ = 0;
  lastWidth_ = -1;
  CollectSheets(root_.get());
  for (auto& s : sheets_) RequestImports(*s, 0);
  sheetsChanged_ = true;
  --busy_;
  Flush();
}

void Document::CollectSheets(Element* e) {
  for (Node* n : e->children()) {
    Element* c = n->AsElement();
    if (!c) continue;
    if (c->tag() == "style") {
      auto sheet = std::make_shared<StyleSheet>();
      ParseStyleSheet(Utf16To8(InnerText(c)), *sheet);
      std::vector<std::string> media = MediaAttr(c);
      for (SheetItem& item : sheet->items)
        if (item.media.empty()) item.media = media;
      sheets_.push_back(sheet);
    } else if (c->tag() == "link") {
      const std::u16string* rel = c->Attr("rel");
      const std::u16string* href = c->Attr("href");
      if (rel && href && !href->empty() && Lower(Utf16To8(*rel)).find("stylesheet") != std::string::npos) {
        auto sheet = std::make_shared<StyleSheet>();
        SheetItem item;
        item.kind = SheetItem::Import;
        item.importUri = Utf16To8(*href);
        item.media = MediaAttr(c);
        sheet->items.push_back(std::move(item));
        sheets_.push_back(sheet);
      }
    }
    CollectSheets(c);
  }
}

void Document::RequestImports(StyleSheet& sheet, int depth) {
  for (SheetItem& item : sheet.items) {
    if (item.kind != SheetItem::Import || item.imported) continue;
    if (depth >= kMaxImportDepth || imports_ >= kMaxImports) continue;
    ++imports_;
    std::u16string uri = Utf8To16(item.importUri);
    auto& waiting = pendingImports_[uri];
    if (waiting.empty()) {
      toRequest_.emplace_back(uri, ResourceHost::DataType::Style);
      toRequestFor_.emplace_back(nullptr);
    }
    waiting.push_back(PendingImport{&item, depth});
  }
}

bool Document::DataReady(const std::u16string& uri, const uint8_t* data, size_t size) {
  bool wanted = pendingImports_.count(uri) || pendingImages_.count(uri);
  if (!wanted) return false;
  received_.emplace_back(uri, std::vector<uint8_t>(data, data + (data ? size : 0)));
  Flush();
  return true;
}

void Document::ApplyData(const std::u16string& uri, const std::vector<uint8_t>& bytes) {
  auto imp = pendingImports_.find(uri);
  if (imp != pendingImports_.end()) {
    std::vector<PendingImport> waiting = std::move(imp->second);
    pendingImports_.erase(imp);
    auto sheet = std::make_shared<StyleSheet>();
    const char* text = reinterpret_cast<const char*>(bytes.data());
    size_t n = bytes.size();
    if (n >= 3 && static_cast<unsigned char>(text[0]) == 0xEF && static_cast<unsigned char>(text[1]) == 0xBB &&
        static_cast<unsigned char>(text[2]) == 0xBF) {
      text += 3;
      n -= 3;
    }
    ParseStyleSheet(std::string_view(text, n), *sheet);
    int depth = kMaxImportDepth;
    for (PendingImport& p : waiting) {
      p.item->imported = sheet;
      depth = std::min(depth, p.depth);
    }
    RequestImports(*sheet, depth + 1);
    sheetsChanged_ = true;
  }
  auto img = pendingImages_.find(uri);
  if (img != pendingImages_.end()) {
    std::vector<Ref<Element>> waiting = std::move(img->second);
    pendingImages_.erase(img);
    std::shared_ptr<Image> picture = host_ && !bytes.empty() ? host_->DecodeImage(bytes.data(), bytes.size()) : nullptr;
    if (picture) images_[uri] = picture;
    for (Ref<Element>& e : waiting) {
      if (e->imageUri != uri) continue;
      e->image = picture;
      e->MarkLayoutDirty();
    }
  }
}

void Document::Restyle(Element* e, const ComputedStyle* parent, bool force) {
  if (force || e->styleDirty()) {
    ComputedStyle s;
    resolver_.Compute(e, parent, fonts_, s);
    if (!e->styled || !s.SameLayout(e->style)) e->MarkLayoutDirty();
    e->style = std::move(s);
    e->styled = true;
    force = true;
    if (e->tag() == "img") {
      const std::u16string* src = e->Attr("src");
      std::u16string uri = src ? *src : std::u16string();
      bool reload = e->imageReload && !uri.empty();
      e->imageReload = false;
      if (uri != e->imageUri || reload) {
        // A picture asked for again keeps showing the old one until the new bytes arrive.
        if (uri != e->imageUri) {
          e->imageUri = uri;
          e->image = nullptr;
          e->MarkLayoutDirty();
        }
        if (reload) images_.erase(uri);
        auto cached = images_.find(uri);
        if (cached != images_.end()) {
          e->image = cached->second;
        } else if (!uri.empty()) {
          auto& waiting = pendingImages_[uri];
          if (waiting.empty()) {
            toRequest_.emplace_back(uri, ResourceHost::DataType::Image);
            toRequestFor_.emplace_back(e);
          }
          waiting.emplace_back(e);
        }
      }
    }
  }
  if (force) {
    for (Node* n : e->children())
      if (Element* c = n->AsElement()) Restyle(c, &e->style, true);
  }
  e->ClearStyleDirty();
}

// Restyles the subtree of each marked element from its highest marked ancestor down; the parent
// of that one is clean, so its style is the one to inherit from.
void Document::RestyleQueued() {
  if (!root_) return;
  std::vector<Ref<Element>> queue = root_->TakeStyleQueue();
  if (root_->styleDirty()) {
    Restyle(root_.get(), nullptr, true);
    return;
  }
  for (Ref<Element>& e : queue) {
    if (!e->styleDirty() || e->Root() != root_.get()) continue;
    Element* top = e.get();
    for (Element* a = top->parent(); a; a = a->parent())
      if (a->styleDirty()) top = a;
    Restyle(top, top->parent() ? &top->parent()->style : nullptr, true);
  }
}

// Applies what arrived, rebuilds the rules when sheets changed, restyles, and sends the requests
// that restyling found. Hosts answer from inside a request, so answers are queued while busy and
// picked up by the loop.
void Document::Flush() {
  if (busy_ > 0 || flushing_) return;
  flushing_ = true;
  for (int round = 0; round < 64; ++round) {
    ++busy_;
    while (!received_.empty()) {
      auto r = std::move(received_.front());
      received_.erase(received_.begin());
      ApplyData(r.first, r.second);
    }
    if (sheetsChanged_) {
      sheetsChanged_ = false;
      std::vector<std::shared_ptr<const StyleSheet>> sheets(sheets_.begin(), sheets_.end());
      resolver_.Build(sheets, media_);
      if (root_) root_->MarkStyleDirty();
    }
    RestyleQueued();
    auto requests = std::move(toRequest_);
    auto principals = std::move(toRequestFor_);
    toRequest_.clear();
    toRequestFor_.clear();
    for (size_t i = 0; i < requests.size() && host_; ++i)
      host_->RequestData(requests[i].first, requests[i].second, principals[i].get());
    --busy_;
    if (received_.empty() && !sheetsChanged_ && toRequest_.empty() &&
        !(root_ && (root_->styleDirty() || root_->HasStyleQueue())))
      break;
  }
  flushing_ = false;
}

void Document::UpdateStyles() { Flush(); }

bool ReplaceContent(Element* e, const char* utf8, size_t len, int where) {
  if (!e || where < 0 || where > 2) return false;
  Ref<Element> keep(e);
  std::vector<Ref<Node>> nodes = ParseHtmlFragment(utf8, len, kMaxDepth - e->Depth() - 2);
  if (where == 0) e->RemoveAllChildren();
  size_t at = where == 1 ? 0 : e->children().size();
  for (Ref<Node>& n : nodes) e->InsertChild(at++, n.get());
  e->MarkLayoutDirty();
  return true;
}

void ReplaceText(Element* e, const char16_t* text, size_t len) {
  if (!e) return;
  e->RemoveAllChildren();
  if (text && len > 0) {
    std::u16string t(text, len);
    std::replace(t.begin(), t.end(), u'\0', u'\xFFFD');
    e->AppendChild(new TextNode(std::move(t)));
  }
}

bool Document::SetElementHtml(Element* e, const char* utf8, size_t len, int where) {
  if (!ReplaceContent(e, utf8, len, where)) return false;
  Flush();
  return true;
}

void Document::SetInnerText(Element* e, const char16_t* text, size_t len) {
  ReplaceText(e, text, len);
  Flush();
}

bool Document::DeleteElement(Element* e) {
  if (!e || e == root_.get() || !e->parent()) return false;
  e->Detach();
  Flush();
  return true;
}

bool Document::SetState(Element* e, uint32_t set, uint32_t clear) {
  if (!e) return false;
  uint32_t before = e->state();
  if (!e->SetState(set, clear, false)) return false;
  if (resolver_.StateMayMatter(e, before ^ e->state())) e->MarkStyleDirty();
  Flush();
  return true;
}

bool Document::SetHover(Element* target) {
  std::vector<Ref<Element>> chain;
  if (Contains(target))
    for (Element* a = target; a; a = a->parent()) chain.emplace_back(a);
  auto in = [](const std::vector<Ref<Element>>& v, Element* e) {
    for (const Ref<Element>& r : v)
      if (r.get() == e) return true;
    return false;
  };
  bool restyle = false;
  for (Ref<Element>& old : hoverChain_) {
    if (in(chain, old.get())) continue;
    if (old->SetState(0, kStateHover, false) && resolver_.StateMayMatter(old.get(), kStateHover)) {
      old->MarkStyleDirty();
      restyle = true;
    }
  }
  for (Ref<Element>& now : chain) {
    if (in(hoverChain_, now.get())) continue;
    if (now->SetState(kStateHover, 0, false) && resolver_.StateMayMatter(now.get(), kStateHover)) {
      now->MarkStyleDirty();
      restyle = true;
    }
  }
  hoverChain_ = std::move(chain);
  Flush();
  return restyle;
}

bool Document::NeedsLayout(int width) const {
  return root_ && (root_->layoutDirty() || width != lastWidth_);
}

void Document::Layout(int width) {
  Flush();
  if (!NeedsLayout(width)) return;
  LayoutTree(root_.get(), width, tm_, stats_);
  lastWidth_ = width;
}

bool Document::IsVisible(Element* e) {
  Flush();
  if (!Contains(e) || !e->styled || e->style.hidden) return false;
  for (Element* a = e; a; a = a->parent())
    if (a->style.display == Display::None) return false;
  return true;
}

namespace {
void CollectMatches(Element* e, int depth, int maxDepth, const std::function<bool(Element*)>& match,
                    std::vector<Ref<Element>>& out) {
  for (Node* n : e->children()) {
    Element* c = n->AsElement();
    if (!c) continue;
    if (match(c)) out.emplace_back(c);
    if (maxDepth == 0 || depth < maxDepth) CollectMatches(c, depth + 1, maxDepth, match, out);
  }
}
}  // namespace

void VisitElements(Element* scope, int maxDepth, const std::function<bool(Element*)>& match,
                   const std::function<bool(Element*)>& cb) {
  if (!scope) return;
  Ref<Element> keep(scope);
  std::vector<Ref<Element>> delivered;
  const uint64_t before = TreeMutations();
  std::vector<std::pair<Element*, size_t>> stack{{scope, 0}};
  while (!stack.empty()) {
    Element* parent = stack.back().first;
    size_t i = stack.back().second++;
    if (i >= parent->children().size()) {
      stack.pop_back();
      continue;
    }
    Element* c = parent->children()[i]->AsElement();
    if (!c) continue;
    if (match(c)) {
      delivered.emplace_back(c);
      if (cb(c)) return;
      if (TreeMutations() != before) break;
    }
    if (maxDepth == 0 || static_cast<int>(stack.size()) < maxDepth) stack.emplace_back(c, 0);
  }
  if (stack.empty()) return;
  // The tree changed under the walk: match again, as often as a call changes it.
  for (;;) {
    const uint64_t now = TreeMutations();
    std::vector<Ref<Element>> rest;
    CollectMatches(scope, 1, maxDepth, match, rest);
    bool changed = false;
    for (Ref<Element>& r : rest) {
      bool seen = false;
      for (Ref<Element>& d : delivered) seen = seen || d.get() == r.get();
      if (seen || !scope->IsAncestorOf(r.get())) continue;
      delivered.push_back(r);
      if (cb(r.get())) return;
      if (TreeMutations() != now) {
        changed = true;
        break;
      }
    }
    if (!changed) return;
  }
}

void SelectElements(Element* scope, const std::vector<Selector>& selectors,
                    const std::function<bool(Element*)>& cb) {
  VisitElements(scope, 0, [&](Element* e) {
    for (const Selector& s : selectors)
      if (MatchesSelector(s, e)) return true;
    return false;
  }, cb);
}

}  // namespace hl
