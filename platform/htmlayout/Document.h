// One loaded page: its tree, style sheets, pictures and the resources it waits for, with the
// restyle and relayout of what changed.
#pragma once
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "Dom.h"
#include "Layout.h"
#include "Paint.h"
#include "Style.h"

namespace hl {

// Where the document's style sheets and pictures come from. The host may answer a request at once,
// from inside RequestData, by calling Document::DataReady.
class ResourceHost {
 public:
  enum class DataType : int { Html = 0, Image = 1, Style = 2 };
  virtual ~ResourceHost() = default;
  virtual void RequestData(const std::u16string& uri, DataType type, Element* principal) = 0;
  virtual std::shared_ptr<Image> DecodeImage(const uint8_t* data, size_t size) = 0;
};

class Document {
 public:
  Document(FontMetrics& fonts, ResourceHost* host);
  ~Document();
  Document(const Document&) = delete;
  Document& operator=(const Document&) = delete;

  void SetMediaType(const std::string& media);
  const std::string& mediaType() const { return media_; }

  void Load(const char* utf8, size_t len);
  Element* root() const { return root_.get(); }
  Element* body() const;
  bool Contains(Element* e) const { return e && root_ && e->document() == this; }

  // Bytes for an address asked for earlier; false when nothing waited for it.
  bool DataReady(const std::u16string& uri, const uint8_t* data, size_t size);
  bool IsPending(const std::u16string& uri) const { return pendingImports_.count(uri) || pendingImages_.count(uri); }

  // The window that shows the document.
  void SetOwner(void* owner) { owner_ = owner; }
  void* owner() const { return owner_; }

  // where: 0 replaces the content, 1 inserts before the first child, 2 appends after the last.
  bool SetElementHtml(Element* e, const char* utf8, size_t len, int where);
  void SetInnerText(Element* e, const char16_t* text, size_t len);
  bool DeleteElement(Element* e);
  bool SetState(Element* e, uint32_t set, uint32_t clear);
  // Returns whether any style changed, so the caller knows whether to repaint.
  bool SetHover(Element* target);
  Element* hover() const { return hoverChain_.empty() ? nullptr : hoverChain_.front().get(); }

  // Restyles what changed and asks for the pictures and style sheets that are new.
  void UpdateStyles();
  void Layout(int width);
  bool NeedsLayout(int width) const;
  int Height() const { return ContentHeight(root_.get()); }
  bool IsVisible(Element* e);
  bool ElementBox(Element* e, Rect& out) const { return Contains(e) && ElementRect(e, out); }
  Element* HitTest(int x, int y) const { return hl::HitTest(root_.get(), x, y); }
  void Paint(const Rect& clip, PaintSink& sink) const { PaintTree(root_.get(), clip, sink); }
  Color Canvas() const { return CanvasColor(root_.get()); }

  LayoutStats& stats() { return stats_; }
  TextMeasurer& measurer() { return tm_; }

 private:
  struct PendingImport {
    SheetItem* item;
    int depth;
  };
  void CollectSheets(Element* e);
  void RequestImports(StyleSheet& sheet, int depth);
  void ApplyData(const std::u16string& uri, const std::vector<uint8_t>& bytes);
  void Restyle(Element* e, const ComputedStyle* parent, bool force);
  void RestyleQueued();
  void Flush();

  FontMetrics& fonts_;
  ResourceHost* host_;
  TextMeasurer tm_;
  LayoutStats stats_;
  std::string media_ = "screen";
  Ref<Element> root_;
  StyleResolver resolver_;
  std::vector<std::shared_ptr<StyleSheet>> sheets_;
  std::unordered_map<std::u16string, std::vector<PendingImport>> pendingImports_;
  std::unordered_map<std::u16string, std::vector<Ref<Element>>> pendingImages_;
  std::unordered_map<std::u16string, std::shared_ptr<Image>> images_;
  std::vector<std::pair<std::u16string, ResourceHost::DataType>> toRequest_;
  std::vector<Ref<Element>> toRequestFor_;
  std::vector<std::pair<std::u16string, std::vector<uint8_t>>> received_;
  std::vector<Ref<Element>> hoverChain_;
  int busy_ = 0;
  bool flushing_ = false;
  bool sheetsChanged_ = false;
  int imports_ = 0;
  int lastWidth_ = -1;
  void* owner_ = nullptr;
};

// The same edits for an element that belongs to no document (deleted but still held).
bool ReplaceContent(Element* e, const char* utf8, size_t len, int where);
void ReplaceText(Element* e, const char16_t* text, size_t len);

// Calls cb for each element under scope (not scope itself, at most maxDepth levels down, 0 for
// any) that matches, in document order, until cb returns true. When a call changes the tree, the
// walk goes on over what matches then, skipping what was delivered and what left scope.
void VisitElements(Element* scope, int maxDepth, const std::function<bool(Element*)>& match,
                   const std::function<bool(Element*)>& cb);
void SelectElements(Element* scope, const std::vector<Selector>& selectors,
                    const std::function<bool(Element*)>& cb);

}  // namespace hl
