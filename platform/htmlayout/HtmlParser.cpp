// HTML tokenizer and tree builder. Input is untrusted (script-supplied introductions), so every
// construct has a defined outcome: unknown tags become generic elements, stray end tags are
// dropped, and text is never lost.
#include "HtmlParser.h"

#include <cstring>
#include <string>
#include <unordered_map>

#include "Utf.h"

namespace hl {
namespace {

struct NamedEntity { const char* name; char32_t cp; };
const NamedEntity kEntities[] = {
    {"amp", '&'}, {"lt", '<'}, {"gt", '>'}, {"quot", '"'}, {"apos", '\''}, {"nbsp", 0xA0},
    {"copy", 0xA9}, {"reg", 0xAE}, {"trade", 0x2122}, {"hellip", 0x2026}, {"mdash", 0x2014},
    {"ndash", 0x2013}, {"lsquo", 0x2018}, {"rsquo", 0x2019}, {"ldquo", 0x201C},
    {"rdquo", 0x201D}, {"laquo", 0xAB}, {"raquo", 0xBB}, {"middot", 0xB7}, {"bull", 0x2022},
    {"times", 0xD7}, {"divide", 0xF7}, {"deg", 0xB0}, {"plusmn", 0xB1}, {"para", 0xB6},
    {"sect", 0xA7}, {"cent", 0xA2}, {"pound", 0xA3}, {"yen", 0xA5}, {"euro", 0x20AC},
    {"iexcl", 0xA1}, {"iquest", 0xBF}, {"shy", 0xAD}, {"ensp", 0x2002}, {"emsp", 0x2003},
    {"thinsp", 0x2009}, {"zwnj", 0x200C}, {"zwj", 0x200D}, {"larr", 0x2190}, {"uarr", 0x2191},
    {"rarr", 0x2192}, {"darr", 0x2193}, {"hearts", 0x2665}, {"star", 0x2606}, {"micro", 0xB5},
    {"frac12", 0xBD}, {"sup2", 0xB2}, {"sup3", 0xB3}, {"acute", 0xB4}, {"uml", 0xA8},
};

bool IsAsciiAlpha(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool IsAsciiAlnum(char16_t c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}
bool IsWs(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f'; }
char LowerChar(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool InList(const std::string& s, std::initializer_list<const char*> list) {
  for (const char* x : list)
    if (s == x) return true;
  return false;
}

std::u16string CleanText(const char* s, size_t n, bool entities) {
  std::u16string t = Utf8To16(s, n);
  for (char16_t& c : t)
    if (c == 0) c = 0xFFFD;
  return entities ? DecodeEntities(t) : t;
}

enum TagFlag : uint32_t { kClosesP = 1, kHeading = 2, kRawText = 4, kHeadOnly = 8 };

// What the tree builder needs to know of a tag, looked up once per tag instead of by comparing
// the name against every list.
uint32_t TagFlags(const std::string& tag) {
  static const std::unordered_map<std::string, uint32_t>* table = [] {
    auto* t = new std::unordered_map<std::string, uint32_t>;
    for (const char* n : {"address", "article", "aside", "blockquote", "center", "details", "dir", "div", "dl",
                          "fieldset", "figcaption", "figure", "footer", "form", "header", "hr", "main", "menu",
                          "nav", "ol", "p", "pre", "section", "table", "ul", "li", "dd", "dt"})
      (*t)[n] |= kClosesP;
    for (const char* n : {"h1", "h2", "h3", "h4", "h5", "h6"}) (*t)[n] |= kClosesP | kHeading;
    for (const char* n : {"script", "style", "textarea", "title", "xmp", "iframe", "noembed", "noframes"})
      (*t)[n] |= kRawText;
    for (const char* n : {"title", "style", "link", "meta", "base", "script"}) (*t)[n] |= kHeadOnly;
    return t;
  }();
  auto it = table->find(tag);
  return it == table->end() ? 0 : it->second;
}

bool ClosesParagraph(const std::string& tag) { return TagFlags(tag) & kClosesP; }
bool IsHeading(const std::string& t) { return TagFlags(t) & kHeading; }
bool IsRawText(const std::string& t) { return TagFlags(t) & kRawText; }
bool IsHeadOnly(const std::string& t) { return TagFlags(t) & kHeadOnly; }

struct TagAttr {
  std::string name;
  std::u16string value;
};

class TreeBuilder {
 public:
  TreeBuilder(Element* base, int maxDepth, Element* head, Element* body)
      : maxDepth_(maxDepth), head_(head), body_(body) {
    stack_.push_back(head ? head : base);
  }

  void StartTag(const std::string& name, std::vector<TagAttr>& attrs) {
    if (name == "html" || name == "head" || name == "body") {
      Element* target = !body_ ? nullptr : name == "html" ? body_->parent() : name == "body" ? body_ : nullptr;
      if (name == "body") EnterBody();
      if (target) {
        for (TagAttr& a : attrs)
          if (!target->Attr(a.name)) target->SetAttr(a.name, a.value.data(), a.value.size());
      }
      return;
    }
    if (head_ && !inBody_ && !IsHeadOnly(name)) EnterBody();
    ImplyEnds(name);
    Element* e = new Element(name);
    for (TagAttr& a : attrs)
      if (!e->Attr(a.name)) e->SetAttr(a.name, a.value.data(), a.value.size());
    if ((name == "button" || name == "input") && e->Attr("checked"))
      e->SetState(kStateChecked, 0, false);
    Current()->AppendChild(e);
    // Past the nesting cap an element is still kept, but what follows goes beside it.
    if (!IsVoidElement(name) && static_cast<int>(stack_.size()) <= maxDepth_) stack_.push_back(e);
  }

  void EndTag(const std::string& name) {
    if (name == "html" || name == "head" || name == "body") return;
    if (name == "br") {
      std::vector<TagAttr> none;
      StartTag("br", none);
      return;
    }
    for (size_t i = stack_.size(); i-- > 1;) {
      if (stack_[i]->tag() == name) {
        stack_.resize(i);
        return;
      }
    }
  }

  void Text(std::u16string text) {
    if (text.empty()) return;
    if (head_ && !inBody_) {
      bool blank = true;
      for (char16_t c : text)
        if (!(c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f')) blank = false;
      if (blank && stack_.size() == 1) return;
      if (!blank && stack_.size() == 1) EnterBody();
    }
    Element* parent = Current();
    const auto& kids = parent->children();
    if (!kids.empty() && !kids.back()->IsElement()) {
      static_cast<TextNode*>(kids.back())->text += text;
      return;
    }
    parent->AppendChild(new TextNode(std::move(text)));
  }

  bool InRawTextOf(const std::string& name) const {
    return stack_.size() > 1 && stack_.back()->tag() == name;
  }

 private:
  Element* Current() const { return stack_.back(); }

  void EnterBody() {
    if (!head_ || inBody_) return;
    inBody_ = true;
    stack_.assign(1, body_);
  }

  // Finds an open element named tag above the nearest of the given boundaries.
  long FindOpen(const char* tag, std::initializer_list<const char*> boundaries) const {
    for (size_t i = stack_.size(); i-- > 1;) {
      const std::string& t = stack_[i]->tag();
      if (t == tag) return static_cast<long>(i);
      if (InList(t, boundaries)) return -1;
    }
    return -1;
  }
  void PopTo(long index) {
    if (index > 0) stack_.resize(static_cast<size_t>(index));
  }

  void ImplyEnds(const std::string& name) {
    if (ClosesParagraph(name)) PopTo(FindOpen("p", {"table", "td", "th", "button", "caption"}));
    if (name == "li") PopTo(FindOpen("li", {"ul", "ol", "table", "td", "th"}));
    if (name == "dt" || name == "dd") {
      long a = FindOpen("dt", {"dl", "table", "td", "th"});
      long b = FindOpen("dd", {"dl", "table", "td", "th"});
      PopTo(a > b ? a : b);
    }
    if (name == "tr") {
      PopTo(FindOpen("tr", {"table"}));
    }
    if (name == "td" || name == "th" || name == "tr") {
      long a = FindOpen("td", {"tr", "table"});
      long b = FindOpen("th", {"tr", "table"});
      PopTo(a > b ? a : b);
    }
    if (name == "option") PopTo(FindOpen("option", {"select"}));
    if (name == "a") PopTo(FindOpen("a", {"table", "td", "th"}));
    if (IsHeading(name) && stack_.size() > 1 && IsHeading(Current()->tag())) stack_.pop_back();
  }

  std::vector<Element*> stack_;
  int maxDepth_;
  Element* head_;
  Element* body_;
  bool inBody_ = false;
};

class Tokenizer {
 public:
  Tokenizer(const char* s, size_t n, TreeBuilder& tb) : s_(s), n_(n), tb_(tb) {
    if (n_ >= 3 && std::memcmp(s_, "\xEF\xBB\xBF", 3) == 0) i_ = 3;
  }

  void Run() {
    while (i_ < n_) {
      size_t lt = Find('<', i_);
      if (lt > i_) tb_.Text(CleanText(s_ + i_, lt - i_, true));
      i_ = lt;
      if (i_ >= n_) break;
      if (!Markup()) {
        tb_.Text(u"<");
        ++i_;
      }
    }
  }

 private:
  size_t Find(char c, size_t from) const {
    const void* p = from < n_ ? std::memchr(s_ + from, c, n_ - from) : nullptr;
    return p ? static_cast<size_t>(static_cast<const char*>(p) - s_) : n_;
  }
  size_t FindStr(const char* needle, size_t from) const {
    size_t len = std::strlen(needle);
    for (size_t i = from; i + len <= n_; ++i)
      if (std::memcmp(s_ + i, needle, len) == 0) return i;
    return n_;
  }
  char At(size_t i) const { return i < n_ ? s_[i] : '\0'; }

  // At '<': consumes a tag, comment or declaration; false when the '<' is plain text.
  bool Markup() {
    char c = At(i_ + 1);
    if (c == '!') {
      if (At(i_ + 2) == '-' && At(i_ + 3) == '-') {
        size_t end = FindStr("-->", i_ + 4);
        i_ = end >= n_ ? n_ : end + 3;
      } else {
        size_t gt = Find('>', i_);
        i_ = gt >= n_ ? n_ : gt + 1;
      }
      return true;
    }
    if (c == '?') {
      size_t gt = Find('>', i_);
      i_ = gt >= n_ ? n_ : gt + 1;
      return true;
    }
    if (c == '/') {
      if (IsAsciiAlpha(At(i_ + 2))) {
        size_t j = i_ + 2;
        std::string name = ReadName(j);
        size_t gt = Find('>', j);
        i_ = gt >= n_ ? n_ : gt + 1;
        tb_.EndTag(name);
      } else {
        size_t gt = Find('>', i_);
        i_ = gt >= n_ ? n_ : gt + 1;
      }
      return true;
    }
    if (!IsAsciiAlpha(c)) return false;
    size_t j = i_ + 1;
    std::string name = ReadName(j);
    std::vector<TagAttr> attrs;
    if (!ReadAttributes(j, attrs)) {
      i_ = n_;  // a tag cut off by the end of the text is dropped
      return true;
    }
    i_ = j;
    tb_.StartTag(name, attrs);
    if (IsRawText(name) && tb_.InRawTextOf(name)) RawText(name);
    return true;
  }

  std::string ReadName(size_t& j) const {
    std::string name;
    while (j < n_ && !IsWs(s_[j]) && s_[j] != '/' && s_[j] != '>') name.push_back(LowerChar(s_[j++]));
    return name;
  }

  bool ReadAttributes(size_t& j, std::vector<TagAttr>& attrs) const {
    for (;;) {
      while (j < n_ && (IsWs(s_[j]) || s_[j] == '/')) ++j;
      if (j >= n_) return false;
      if (s_[j] == '>') { ++j; return true; }
      TagAttr a;
      size_t start = j++;
      while (j < n_ && !IsWs(s_[j]) && s_[j] != '/' && s_[j] != '>' && s_[j] != '=') ++j;
      for (size_t k = start; k < j; ++k) a.name.push_back(LowerChar(s_[k]));
      while (j < n_ && IsWs(s_[j])) ++j;
      if (j < n_ && s_[j] == '=') {
        ++j;
        while (j < n_ && IsWs(s_[j])) ++j;
        if (j >= n_) return false;
        if (s_[j] == '"' || s_[j] == '\'') {
          char q = s_[j++];
          size_t end = Find(q, j);
          if (end >= n_) return false;
          a.value = CleanText(s_ + j, end - j, true);
          j = end + 1;
        } else {
          size_t vs = j;
          while (j < n_ && !IsWs(s_[j]) && s_[j] != '>') ++j;
          a.value = CleanText(s_ + vs, j - vs, true);
        }
      }
      attrs.push_back(std::move(a));
    }
  }

  // The content of script, style, title and the like runs to its own end tag.
  void RawText(const std::string& name) {
    size_t j = i_;
    for (;;) {
      size_t lt = FindStr("</", j);
      if (lt >= n_) { j = n_; break; }
      size_t k = 0;
      while (k < name.size() && lt + 2 + k < n_ && LowerChar(s_[lt + 2 + k]) == name[k]) ++k;
      char after = At(lt + 2 + name.size());
      if (k == name.size() && (IsWs(after) || after == '>' || after == '/' || after == '\0')) {
        j = lt;
        break;
      }
      j = lt + 2;
    }
    bool entities = name == "textarea" || name == "title";
    if (j > i_) tb_.Text(CleanText(s_ + i_, j - i_, entities));
    i_ = j;
    if (i_ < n_) {
      size_t gt = Find('>', i_);
      i_ = gt >= n_ ? n_ : gt + 1;
    }
    tb_.EndTag(name);
  }

  const char* s_;
  size_t n_;
  size_t i_ = 0;
  TreeBuilder& tb_;
};

}  // namespace

std::u16string DecodeEntities(const std::u16string& s) {
  if (s.find(u'&') == std::u16string::npos) return s;
  std::u16string out;
  out.reserve(s.size());
  size_t i = 0;
  while (i < s.size()) {
    if (s[i] != '&') { out.push_back(s[i++]); continue; }
    size_t semi = s.find(u';', i + 1);
    if (semi == std::u16string::npos || semi - i > 34) { out.push_back(s[i++]); continue; }
    std::u16string body = s.substr(i + 1, semi - i - 1);
    char32_t cp = 0;
    bool ok = false;
    if (!body.empty() && body[0] == '#') {
      bool hex = body.size() > 1 && (body[1] == 'x' || body[1] == 'X');
      size_t k = hex ? 2 : 1;
      if (k < body.size()) {
        ok = true;
        for (; k < body.size() && ok; ++k) {
          char16_t c = body[k];
          int d = c >= '0' && c <= '9' ? c - '0'
                  : hex && c >= 'a' && c <= 'f' ? c - 'a' + 10
                  : hex && c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
          if (d < 0) ok = false;
          else if (cp <= 0x10FFFF) cp = cp * (hex ? 16 : 10) + static_cast<char32_t>(d);
        }
        if (ok && (cp == 0 || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))) cp = 0xFFFD;
      }
    } else {
      bool alnum = !body.empty();
      for (char16_t c : body) alnum = alnum && IsAsciiAlnum(c);
      if (alnum) {
        std::string name(body.begin(), body.end());
        for (const NamedEntity& e : kEntities)
          if (name == e.name) { cp = e.cp; ok = true; break; }
      }
    }
    if (!ok) { out.push_back(s[i++]); continue; }
    AppendUtf16(out, cp);
    i = semi + 1;
  }
  return out;
}

Ref<Element> ParseHtmlDocument(const char* utf8, size_t len) {
  Ref<Element> html(new Element("html"));
  Element* head = new Element("head");
  Element* body = new Element("body");
  html->AppendChild(head);
  html->AppendChild(body);
  TreeBuilder tb(html.get(), kMaxDepth - 1, head, body);
  Tokenizer(utf8 ? utf8 : "", utf8 ? len : 0, tb).Run();
  return html;
}

std::vector<Ref<Node>> ParseHtmlFragment(const char* utf8, size_t len, int maxDepth) {
  Ref<Element> holder(new Element("#fragment"));
  TreeBuilder tb(holder.get(), maxDepth < 0 ? 0 : maxDepth, nullptr, nullptr);
  Tokenizer(utf8 ? utf8 : "", utf8 ? len : 0, tb).Run();
  std::vector<Ref<Node>> nodes;
  for (Node* n : holder->children()) nodes.emplace_back(n);
  holder->RemoveAllChildren();
  return nodes;
}

}  // namespace hl
