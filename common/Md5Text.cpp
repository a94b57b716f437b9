// The MD5 of a text as the cover cache names its files; the digest itself comes from Tessara.
#include "Hex.h"

#include "Tessara.h"

std::wstring Md5OfText(const std::string& text)
{
    MD5Context context;
    MD5Init(&context);
    MD5Update(&context, reinterpret_cast<const unsigned char*>(text.data()),
              static_cast<unsigned int>(text.size()));
    MD5Final(&context);
    return Md5HexW(context.digest);
}
