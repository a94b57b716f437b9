// The document tree: reference-counted nodes, elements with attributes, state bits, and the
// style and layout data the engine keeps on them.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "Box.h"
#include "Css.h"
#include "Style.h"

namespace hl {

class Element;
class Document;

// Decoded picture; the window side implements it.
class Image {
 public:
  virtual ~Image() = default;
  virtual int Width() const = 0;
  virtual int Height() const = 0;
};

// Keeps a node alive for a scope.
template <class T>
class Ref {
 public:
  Ref() = default;
  explicit Ref(T* p) : p_(p) { if (p_) p_->AddRef(); }
  Ref(const Ref& o) : Ref(o.p_) {}
  Ref& operator=(const Ref& o) { Ref(o).Swap(*this); return *this; }
  ~Ref() { if (p_) p_->Release(); }
  void Swap(Ref& o) { std::swap(p_, o.p_); }
  T* get() const { return p_; }
  T* operator->() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }

 private:
  T* p_ = nullptr;
};

class Node {
 public:
  enum class Kind : uint8_t { Text, Element };
  Node(const Node&) = delete;
  Node& operator=(const Node&) = delete;
  virtual ~Node() = default;

  Kind kind() const { return kind_; }
  bool IsElement() const { return kind_ == Kind::Element; }
  Element* AsElement();
  const Element* AsElement() const;
  Element* parent() const { return parent_; }

  void AddRef() { ++refs_; }
  void Release() {
    if (--refs_ <= 0) delete this;
  }
  int refs() const { return refs_; }

 protected:
  explicit Node(Kind k) : kind_(k) {}
  friend class Element;
  Kind kind_;
  int refs_ = 0;
  Element* parent_ = nullptr;
};

class TextNode : public Node {
 public:
  explicit TextNode(std::u16string t) : Node(Kind::Text), text(std::move(t)) {}
  std::u16string text;
};

struct Attribute {
  std::string name;  // lower case
  std::u16string value;
};

struct EventHandler {
  void* proc;
  void* tag;
  uint32_t subscription;
};

class Element : public Node {
 public:
  explicit Element(std::string tag);
  ~Element() override;

  const std::string& tag() const { return tag_; }
  uint32_t handle() const { return handle_; }
  // Null for an id that is unknown or whose element has gone.
  static Element* FromHandle(uint32_t id);

  // Attributes; names compare without regard to case.
  const std::u16string* Attr(std::string_view name) const;
  void SetAttr(std::string_view name, const char16_t* value, size_t len);  // null value removes
  void RemoveAttr(std::string_view name) { SetAttr(name, nullptr, 0); }
  const std::vector<Attribute>& attrs() const { return attrs_; }
  const std::u16string* Id() const { return Attr("id"); }
  const std::vector<std::u16string>& classes() const { return classes_; }
  const DeclarationList& inlineStyle() const { return inlineStyle_; }
  const DeclarationList& runtimeStyle() const { return runtimeStyle_; }
  void SetRuntimeStyle(std::string_view name, std::string_view value);  // empty value removes

  uint32_t state() const { return state_; }
  // Returns whether any bit changed; with restyle the element's subtree is styled again.
  bool SetState(uint32_t set, uint32_t clear, bool restyle = true);

  const std::vector<Node*>& children() const { return children_; }
  void AppendChild(Node* n) { InsertChild(children_.size(), n); }
  void InsertChild(size_t index, Node* n);  // n must have no parent
  void RemoveChildAt(size_t index);
  void RemoveAllChildren();
  void Detach();  // from its parent; the caller keeps a reference if it still needs the element
  int Depth() const;
  Element* Root();
  bool IsAncestorOf(const Node* n) const;

  // The document whose tree holds this element, or null once it is detached or replaced.
  Document* document();
  void SetOwnerDocument(Document* d) { ownerDoc_ = d; }

  void MarkStyleDirty();
  void MarkLayoutDirty();
  void ClearStyleDirty() { styleDirty_ = false; }
  bool styleDirty() const { return styleDirty_; }
  // Elements marked since the last restyle, kept on the root of their tree so a restyle visits
  // only them and not every sibling of a long list.
  std::vector<Ref<Element>> TakeStyleQueue() { return std::move(styleQueue_); }
  bool HasStyleQueue() const { return !styleQueue_.empty(); }
  bool layoutDirty() const { return layoutDirty_; }
  void SetLayoutDirty(bool d) { layoutDirty_ = d; }

  int apiRefs = 0;  // references taken through the flat API, so a stray release cannot free a live element
  ComputedStyle style;
  bool styled = false;
  LayoutBox box;
  std::vector<EventHandler> handlers;
  std::shared_ptr<Image> image;
  std::u16string imageUri;  // the src the image was requested for
  bool imageReload = false;  // src was set again by the program: ask for it anew, even when unchanged

 private:
  void OnAttrChanged(std::string_view name);

  std::string tag_;
  uint32_t handle_;
  std::vector<Attribute> attrs_;
  std::vector<std::u16string> classes_;
  DeclarationList inlineStyle_;
  std::vector<std::pair<std::string, std::string>> runtimeProps_;
  DeclarationList runtimeStyle_;
  std::vector<Node*> children_;
  uint32_t state_ = 0;
  Document* ownerDoc_ = nullptr;  // set on the root element only
  bool styleDirty_ = true;
  std::vector<Ref<Element>> styleQueue_;  // on the root element only
  bool layoutDirty_ = true;
};

inline Element* Node::AsElement() { return IsElement() ? static_cast<Element*>(this) : nullptr; }
inline const Element* Node::AsElement() const {
  return IsElement() ? static_cast<const Element*>(this) : nullptr;
}

// Counts every change of any tree's structure, so a walk can tell whether a callback changed it.
uint64_t TreeMutations();

// Text of all descendant text nodes in order.
std::u16string InnerText(const Element* e);
bool IsVoidElement(std::string_view tag);

}  // namespace hl
