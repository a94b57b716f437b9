// A lenient HTML parser for the engine: never fails, keeps all text, caps the nesting depth.
#pragma once
#include <cstddef>
#include <vector>

#include "Dom.h"

namespace hl {

constexpr int kMaxDepth = 160;

// A whole document: html holding head and body, whatever the text says.
Ref<Element> ParseHtmlDocument(const char* utf8, size_t len);

// Content for an existing element; html, head and body tags are ignored. maxDepth limits how deep
// the fragment itself may nest.
std::vector<Ref<Node>> ParseHtmlFragment(const char* utf8, size_t len, int maxDepth);

// Decodes character references that end with ';'; everything else stays as written.
std::u16string DecodeEntities(const std::u16string& s);

}  // namespace hl
