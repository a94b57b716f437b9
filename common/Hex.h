// Digests as hexadecimal text.
#pragma once

#include <string>

struct MD5Context;

// 32 upper-case digits and a terminating zero into out.
void DigestToHex(const unsigned char digest[16], char out[33]);
// The digest of a context after MD5Final; lower case unless upper is set.
std::string Md5HexString(const MD5Context& context, bool upper);
std::wstring Md5HexW(const unsigned char digest[16]);
// MD5 of the text's bytes, in lower case.
std::wstring Md5OfText(const std::string& text);
