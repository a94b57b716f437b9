// The document tree and the table that turns element handles into elements.
#include "Dom.h"

#include <unordered_map>

#include "Utf.h"

namespace hl {
namespace {

// Handles are numbers, never reused, so a stale handle finds nothing instead of freed memory.
struct HandleTable {
  std::unordered_map<uint32_t, Element*> map;
  uint32_t next = 1;
};
HandleTable& Handles() {
  static HandleTable* table = new HandleTable;  // never destroyed: elements may outlive statics
  return *table;
}

std::string LowerAscii(std::string_view s) {
  std::string r(s);
  for (char& c : r)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return r;
}

bool IsSpace16(char16_t c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f'; }

uint64_t g_mutations = 0;

}  // namespace

uint64_t TreeMutations() { return g_mutations; }

Element::Element(std::string tag) : Node(Kind::Element), tag_(std::move(tag)) {
  HandleTable& t = Handles();
  handle_ = t.next++;
  if (t.next == 0) t.next = 1;
  t.map[handle_] = this;
}

Element::~Element() {
  Handles().map.erase(handle_);
  for (Node* c : children_) {
    c->parent_ = nullptr;
    c->Release();
  }
}

Element* Element::FromHandle(uint32_t id) {
  if (id == 0) return nullptr;
  auto& m = Handles().map;
  auto it = m.find(id);
  return it == m.end() ? nullptr : it->second;
}

const std::u16string* Element::Attr(std::string_view name) const {
  for (const Attribute& a : attrs_) {
    if (a.name.size() != name.size()) continue;
    bool same = true;
    for (size_t i = 0; i < name.size() && same; ++i) {
      char c = name[i];
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
      same = a.name[i] == c;
    }
    if (same) return &a.value;
  }
  return nullptr;
}

void Element::SetAttr(std::string_view name, const char16_t* value, size_t len) {
  std::string n = LowerAscii(name);
  if (n.empty()) return;
  for (size_t i = 0; i < attrs_.size(); ++i) {
    if (attrs_[i].name != n) continue;
    if (value) attrs_[i].value.assign(value, len);
    else attrs_.erase(attrs_.begin() + static_cast<long>(i));
    OnAttrChanged(n);
    return;
  }
  if (!value) return;
  attrs_.push_back(Attribute{n, std::u16string(value, len)});
  OnAttrChanged(n);
}

void Element::OnAttrChanged(std::string_view name) {
  if (name == "class") {
    classes_.clear();
    if (const std::u16string* v = Attr("class")) {
      size_t i = 0;
      while (i < v->size()) {
        while (i < v->size() && IsSpace16((*v)[i])) ++i;
        size_t j = i;
        while (j < v->size() && !IsSpace16((*v)[j])) ++j;
        if (j > i) classes_.push_back(v->substr(i, j - i));
        i = j;
      }
    }
  } else if (name == "style") {
    inlineStyle_.clear();
    if (const std::u16string* v = Attr("style")) ParseDeclarations(Utf16To8(*v), inlineStyle_);
  }
  MarkStyleDirty();
}

void Element::SetRuntimeStyle(std::string_view name, std::string_view value) {
  std::string n = LowerAscii(name);
  for (size_t i = 0; i < runtimeProps_.size(); ++i) {
    if (runtimeProps_[i].first == n) {
      runtimeProps_.erase(runtimeProps_.begin() + static_cast<long>(i));
      break;
    }
  }
  if (!value.empty()) runtimeProps_.emplace_back(n, std::string(value));
  runtimeStyle_.clear();
  for (const auto& p : runtimeProps_) ParseProperty(p.first, p.second, runtimeStyle_);
  MarkStyleDirty();
}

bool Element::SetState(uint32_t set, uint32_t clear, bool restyle) {
  uint32_t s = (state_ | set) & ~(clear & ~set);
  if (s == state_) return false;
  state_ = s;
  if (restyle) MarkStyleDirty();
  return true;
}

void Element::InsertChild(size_t index, Node* n) {
  if (!n || n->parent_ || n == this) return;
  if (index > children_.size()) index = children_.size();
  ++g_mutations;
  n->AddRef();
  n->parent_ = this;
  children_.insert(children_.begin() + static_cast<long>(index), n);
  if (Element* e = n->AsElement()) {
    e->MarkStyleDirty();
    e->MarkLayoutDirty();
  }
  MarkLayoutDirty();
}

void Element::RemoveChildAt(size_t index) {
  if (index >= children_.size()) return;
  ++g_mutations;
  Node* n = children_[index];
  children_.erase(children_.begin() + static_cast<long>(index));
  n->parent_ = nullptr;
  MarkLayoutDirty();
  n->Release();
}

void Element::RemoveAllChildren() {
  ++g_mutations;
  std::vector<Node*> old;
  old.swap(children_);
  for (Node* n : old) {
    n->parent_ = nullptr;
    n->Release();
  }
  MarkLayoutDirty();
}

void Element::Detach() {
  Element* p = parent_;
  if (!p) return;
  for (size_t i = 0; i < p->children_.size(); ++i) {
    if (p->children_[i] == this) {
      p->RemoveChildAt(i);
      return;
    }
  }
}

int Element::Depth() const {
  int d = 0;
  for (const Element* p = parent_; p; p = p->parent_) ++d;
  return d;
}

Element* Element::Root() {
  Element* e = this;
  while (e->parent_) e = e->parent_;
  return e;
}

bool Element::IsAncestorOf(const Node* n) const {
  for (const Element* p = n ? n->parent() : nullptr; p; p = p->parent_)
    if (p == this) return true;
  return false;
}

Document* Element::document() { return Root()->ownerDoc_; }

// Every ancestor is marked on each call: an element skipped by layout (display: none) may keep
// its own flag, so a set flag says nothing about the ancestors.
void Element::MarkStyleDirty() {
  styleDirty_ = true;
  // The root itself is not queued: its own flag says it, and a root holding a reference to
  // itself would never be freed.
  if (parent_) Root()->styleQueue_.emplace_back(this);
}

void Element::MarkLayoutDirty() {
  for (Element* e = this; e; e = e->parent_) e->layoutDirty_ = true;
}

namespace {
void AppendText(const Element* e, std::u16string& out) {
  for (const Node* c : e->children()) {
    if (c->IsElement()) AppendText(c->AsElement(), out);
    else out += static_cast<const TextNode*>(c)->text;
  }
}
}  // namespace

std::u16string InnerText(const Element* e) {
  std::u16string out;
  if (e) AppendText(e, out);
  return out;
}

bool IsVoidElement(std::string_view tag) {
  static const char* const kVoid[] = {"area", "base", "br", "col", "embed", "hr", "img", "input",
                                      "link", "meta", "param", "source", "track", "wbr"};
  for (const char* v : kVoid)
    if (tag == v) return true;
  return false;
}

}  // namespace hl
