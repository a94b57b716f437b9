// Digest bytes to hexadecimal digits.
#include "Hex.h"

#include "Tessara.h"

void DigestToHex(const unsigned char digest[16], char out[33])
{
    static const char kDigits[] = "0123456789ABCDEF";
    for (int i = 0; i < 16; ++i) {
        out[2 * i] = kDigits[digest[i] >> 4];
        out[2 * i + 1] = kDigits[digest[i] & 0x0F];
    }
    out[32] = '\0';
}

std::string Md5HexString(const MD5Context& context, bool upper)
{
    char hex[33];
    DigestToHex(context.digest, hex);
    std::string text(hex, 32);
    if (!upper)
        for (char& c : text)
            if (c >= 'A' && c <= 'F')
                c = static_cast<char>(c - 'A' + 'a');
    return text;
}

std::wstring Md5HexW(const unsigned char digest[16])
{
    char hex[33];
    DigestToHex(digest, hex);
    std::wstring text;
    for (int i = 0; i < 32; ++i)
        text += static_cast<wchar_t>(hex[i] >= 'A' ? hex[i] - 'A' + 'a' : hex[i]);
    return text;
}
