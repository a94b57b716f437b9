// Text helpers of the script host that need no system calls: the Base64 decoder of scripts and the
// comparison of dotted version texts.
#pragma once

#include <cstddef>
#include <string>

namespace Vellix {

// Decodes the standard alphabet, skipping every other byte ('=' and line breaks included), up to a
// zero byte or the end. out must hold length bytes; returns the decoded length.
size_t DecodeBase64(const char* data, size_t length, char* out);

// Compares at most four dotted fields, each read as a decimal number from its leading digits; a
// missing field counts as 0. Negative, zero or positive as a is older, equal or newer than b.
int CompareVersions(const std::string& a, const std::string& b);

}  // namespace Vellix
