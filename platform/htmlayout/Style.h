// Computed styles and the cascade: which rules match an element, in what order they apply, and
// what is inherited.
#pragma once
#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "Css.h"
#include "FontMetrics.h"

namespace hl {

class Element;

enum class Display : uint8_t { None, Block, Inline, InlineBlock };
enum class FloatSide : uint8_t { None, Left, Right };
enum class ClearSide : uint8_t { None, Left, Right, Both };
enum class TextAlign : uint8_t { Left, Center, Right };
enum class WhiteSpace : uint8_t { Normal, NoWrap, Pre };
enum class BorderStyle : uint8_t { None, Solid, Dotted, Dashed };
enum class CursorKind : uint8_t { Auto, Default, Pointer, Text };

struct Len {
  enum Kind : uint8_t { Px, Percent, Auto };
  float v = 0;
  Kind kind = Px;
  bool operator==(const Len& o) const { return v == o.v && kind == o.kind; }
  int Resolve(int base, int autoValue = 0) const {
    return kind == Auto ? autoValue : kind == Percent ? static_cast<int>(v * base / 100) : static_cast<int>(v);
  }
};

struct ComputedStyle {
  Display display = Display::Inline;
  FloatSide floating = FloatSide::None;
  ClearSide clear = ClearSide::None;
  bool overflowHidden = false;
  bool hidden = false;  // visibility: hidden
  Color color = 0xFF000000;
  Color background = 0;
  std::shared_ptr<const FontFamilies> families;
  int fontSize = 16;
  int fontWeight = 400;
  bool italic = false;
  bool underline = false;
  TextAlign align = TextAlign::Left;
  enum class LineHeightKind : uint8_t { Normal, Px, Factor } lineHeightKind = LineHeightKind::Normal;
  float lineHeight = 0;
  WhiteSpace whiteSpace = WhiteSpace::Normal;
  CursorKind cursor = CursorKind::Auto;
  Len width{0, Len::Auto}, height{0, Len::Auto};
  Len margin[4];   // top right bottom left
  Len padding[4];
  int borderWidth[4] = {0, 0, 0, 0};
  BorderStyle borderStyle[4] = {BorderStyle::None, BorderStyle::None, BorderStyle::None, BorderStyle::None};
  Color borderColor[4] = {0, 0, 0, 0};
  FontId font = 0;

  // Differences that need a new layout; the rest (colours, underline, cursor) only a repaint.
  bool SameLayout(const ComputedStyle& o) const;
};

struct MatchedRule {
  const Selector* selector;
  const DeclarationList* decls;
  uint32_t order;
  uint8_t origin;  // 0 engine defaults, 1 page
};

// Holds the flattened rules of a document's style sheets, indexed by the rightmost compound.
class StyleResolver {
 public:
  void Build(const std::vector<std::shared_ptr<const StyleSheet>>& pageSheets, const std::string& media);
  void Compute(Element* e, const ComputedStyle* parent, FontMetrics& fonts, ComputedStyle& out) const;
  // Whether a change of the given state bits on e may change any element's style.
  bool StateMayMatter(const Element* e, uint32_t bits) const;

 private:
  void AddSheet(const std::shared_ptr<const StyleSheet>& sheet, uint8_t origin, const std::string& media, int depth);
  void Collect(const Element* e, std::vector<MatchedRule>& out) const;

  std::vector<std::shared_ptr<const StyleSheet>> keep_;
  std::vector<MatchedRule> rules_;
  std::unordered_map<std::u16string, std::vector<uint32_t>> byId_, byClass_;
  std::unordered_map<std::string, std::vector<uint32_t>> byTag_;
  std::vector<uint32_t> universal_;
  std::vector<const Compound*> stateCompounds_;
  uint32_t order_ = 0;
};

bool MatchesSelector(const Selector& s, const Element* e);
const StyleSheet& EngineDefaultSheet();

}  // namespace hl
