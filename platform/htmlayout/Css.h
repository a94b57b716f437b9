// CSS text: declarations, selectors and style sheets as the engine's pages and scripts write them.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace hl {

using Color = uint32_t;  // 0xAARRGGBB; alpha 0 is transparent
using FontFamilies = std::vector<std::u16string>;

enum class Prop : uint8_t {
  Display, Float, Clear, Overflow, Visibility, Color, BackgroundColor, FontFamily, FontSize,
  FontWeight, FontStyle, TextDecoration, TextAlign, LineHeight, WhiteSpace, Cursor, Width, Height,
  MarginTop, MarginRight, MarginBottom, MarginLeft,
  PaddingTop, PaddingRight, PaddingBottom, PaddingLeft,
  BorderTopWidth, BorderRightWidth, BorderBottomWidth, BorderLeftWidth,
  BorderTopStyle, BorderRightStyle, BorderBottomStyle, BorderLeftStyle,
  BorderTopColor, BorderRightColor, BorderBottomColor, BorderLeftColor,
  Count
};

enum class Unit : uint8_t { None, Px, Em, Ex, Percent, Pt };

struct CssValue {
  enum Kind : uint8_t { Keyword, Length, ColorValue, Families, Number, Inherit };
  Kind kind = Keyword;
  Unit unit = Unit::None;
  float num = 0;
  Color color = 0;
  std::string keyword;  // lower case
  std::shared_ptr<const FontFamilies> families;
};

struct Declaration {
  Prop prop;
  bool important = false;
  CssValue value;
};
using DeclarationList = std::vector<Declaration>;

// Appends the declarations of a style attribute or rule body; unknown properties and bad values are
// dropped one by one, as browsers do.
void ParseDeclarations(std::string_view text, DeclarationList& out);
// One property by name (used for runtime style changes); false when the name or value is not known.
bool ParseProperty(std::string_view name, std::string_view value, DeclarationList& out);
bool ParseColor(std::string_view text, Color& out);

// Selectors: type, *, .class, #id, [a], [a=v], :hover, :checked, descendant and child combinators.
enum StateBits : uint32_t { kStateHover = 0x02, kStateChecked = 0x40 };

struct AttrCondition {
  std::string name;
  bool hasValue = false;
  std::u16string value;
};
struct Compound {
  std::string tag;  // empty matches any
  std::u16string id;
  std::vector<std::u16string> classes;
  std::vector<AttrCondition> attrs;
  uint32_t states = 0;
};
struct Selector {
  std::vector<Compound> parts;  // left to right
  std::vector<char> combinators;  // between parts[i] and parts[i+1]: ' ' or '>'
  uint32_t specificity = 0;
  uint32_t states = 0;  // union of the state bits any part tests
};
// False for an empty or malformed list; a single bad selector spoils the whole list.
bool ParseSelectorList(std::string_view text, std::vector<Selector>& out);

struct StyleSheet;
struct SheetItem {
  enum Kind : uint8_t { Rule, Import } kind = Rule;
  std::vector<std::string> media;  // empty: every medium
  std::vector<Selector> selectors;
  std::shared_ptr<const DeclarationList> decls;
  std::string importUri;
  std::shared_ptr<StyleSheet> imported;  // null while the import is pending or failed
};
struct StyleSheet {
  std::vector<SheetItem> items;
};
void ParseStyleSheet(std::string_view css, StyleSheet& out);
bool MediaMatches(const std::vector<std::string>& media, const std::string& type);

}  // namespace hl
