// Helpers of the script host that need no system calls: the Base64 decoder of scripts, the
// comparison of dotted version texts and the length of a script's sleep.
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

// The milliseconds a script's Sleep waits for seconds; whole is Lua's integer for the same number.
// Nothing for negative or NaN, ten minutes at most.
unsigned SleepMilliseconds(double seconds, long long whole);

}  // namespace Vellix
