// C++ over the engine's element calls: an element handle that holds its use reference and drops
// it when it goes, and the lookups the views make (first match, all matches, by id).
#ifndef VELLIX_HTMLAYOUT_DOM_H
#define VELLIX_HTMLAYOUT_DOM_H

#include <cstdarg>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "htmlayout.h"

namespace htmlayout {
namespace dom {

class element {
public:
  element() = default;
  explicit element(HELEMENT he) : he_(he) {
    if (he_) HTMLayout_UseElement(he_);
  }
  element(const element& o) : element(o.he_) {}
  element(element&& o) noexcept : he_(o.he_) { o.he_ = nullptr; }
  element& operator=(element o) noexcept {
    std::swap(he_, o.he_);
    return *this;
  }
  ~element() {
    if (he_) HTMLayout_UnuseElement(he_);
  }

  static element root_element(HWND hwnd) {
    HELEMENT root = nullptr;
    HTMLayoutGetRootElement(hwnd, &root);
    return element(root);
  }

  HELEMENT get() const { return he_; }
  explicit operator bool() const { return he_ != nullptr; }
  bool operator==(const element& o) const { return he_ == o.he_; }
  bool operator!=(const element& o) const { return he_ != o.he_; }

  element parent() const {
    HELEMENT p = nullptr;
    HTMLayoutGetParentElement(he_, &p);
    return element(p);
  }

  // Null when absent; the text stays valid until the attribute changes or the element goes.
  const wchar_t* get_attribute(const char* name) const {
    LPCWSTR value = nullptr;
    HTMLayoutGetAttributeByName(he_, name, &value);
    return value;
  }
  bool has_attribute(const char* name) const { return get_attribute(name) != nullptr; }
  // Null removes the attribute, "" sets it without a value.
  bool set_attribute(const char* name, const wchar_t* value) {
    return HTMLayoutSetAttributeByName(he_, name, value) == HL_OK;
  }
  bool set_style_attribute(const char* name, const wchar_t* value) {
    return HTMLayoutSetStyleAttribute(he_, name, value) == HL_OK;
  }

  bool set_html(const std::string& utf8, UINT where = HL_REPLACE_CONTENT) {
    return HTMLayoutSetElementHtml(he_, reinterpret_cast<const BYTE*>(utf8.data()), static_cast<DWORD>(utf8.size()),
                                   where) == HL_OK;
  }
  bool set_text(const std::wstring& text) {
    return HTMLayoutSetElementInnerText16(he_, text.c_str(), static_cast<UINT>(text.size())) == HL_OK;
  }
  // UTF-8.
  std::string text() const {
    std::string out;
    HTMLayoutGetElementInnerTextCB(he_, &receive_text, &out);
    return out;
  }

  UINT get_state() const {
    UINT state = 0;
    HTMLayoutGetElementState(he_, &state);
    return state;
  }
  bool is_checked() const { return (get_state() & HL_STATE_CHECKED) != 0; }
  bool set_checked(bool checked) {
    return HTMLayoutSetElementState(he_, checked ? HL_STATE_CHECKED : 0, checked ? 0 : HL_STATE_CHECKED, TRUE) == HL_OK;
  }
  bool visible() const {
    BOOL v = FALSE;
    HTMLayoutIsElementVisible(he_, &v);
    return v != FALSE;
  }
  bool update(bool remeasure = false) { return HTMLayoutUpdateElement(he_, remeasure ? TRUE : FALSE) == HL_OK; }
  bool scroll_to_view(UINT flags = 0) { return HTMLayoutScrollToView(he_, flags) == HL_OK; }
  // Takes the element out of its document; this handle stays usable until it goes.
  bool destroy() { return HTMLayoutDeleteElement(he_) == HL_OK; }

  // The first element under this one that matches a CSS selector made like printf's format.
  element find_first(const char* format, ...) const __attribute__((format(printf, 2, 3))) {
    char selector[2048];
    va_list args;
    va_start(args, format);
    bool fits = print_selector(selector, format, args);
    va_end(args);
    HELEMENT found = nullptr;
    if (fits) HTMLayoutSelectElements(he_, selector, &take_first, &found);
    return element(found);
  }
  std::vector<element> find_all(const char* format, ...) const __attribute__((format(printf, 2, 3))) {
    char selector[2048];
    va_list args;
    va_start(args, format);
    bool fits = print_selector(selector, format, args);
    va_end(args);
    std::vector<element> found;
    if (fits) HTMLayoutSelectElements(he_, selector, &take_all, &found);
    return found;
  }
  element find_by_id(const wchar_t* id) const {
    HELEMENT found = nullptr;
    if (id) HTMLayoutVisitElements(he_, nullptr, "id", id, &take_first, &found, 0);
    return element(found);
  }

private:
  // A selector cut short could match what it was never meant to: one that does not fit matches nothing.
  static bool print_selector(char (&out)[2048], const char* format, va_list args) {
    if (!format) return false;
    int n = std::vsnprintf(out, sizeof(out), format, args);
    return n >= 0 && static_cast<size_t>(n) < sizeof(out);
  }
  static BOOL CALLBACK take_first(HELEMENT he, LPVOID param) {
    *static_cast<HELEMENT*>(param) = he;
    return TRUE;
  }
  static BOOL CALLBACK take_all(HELEMENT he, LPVOID param) {
    static_cast<std::vector<element>*>(param)->emplace_back(he);
    return FALSE;
  }
  static VOID CALLBACK receive_text(LPCSTR text, UINT length, LPVOID param) {
    static_cast<std::string*>(param)->assign(text ? text : "", text ? length : 0);
  }

  HELEMENT he_ = nullptr;
};

}  // namespace dom
}  // namespace htmlayout

#endif
