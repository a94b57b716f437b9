// Trimming, splitting and escaping of narrow (UTF-8 or ANSI) text, shared by the program and the script host.
#pragma once

#include <string>
#include <vector>

// Strips ASCII white space (space, tab, line feed, vertical tab, form feed, carriage return) and NUL
// from both ends. Bytes of 0x80 and above are never white space, so UTF-8 text stays whole.
void TrimString(std::string& text);

// Strips space, tab, carriage return and line feed from both ends.
void TrimSpaces(std::string& text);

// Cuts at every separator, trims each piece with TrimString and drops the empty ones.
std::vector<std::string> SplitTrimmed(const std::string& text, char separator);

std::string HtmlEscape(const std::string& text);
