// Digests as hexadecimal text.
#include <gtest/gtest.h>

#include "common/Hex.h"
#include "Tessara.h"

namespace {

TEST(Hex, DigestDigits)
{
    const unsigned char d[16] = {0x00, 0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD,
                                 0xEF, 0xF0, 0x0F, 0x10, 0x9A, 0xBC, 0xDE, 0xFF};
    char out[34];
    out[33] = 'X';
    DigestToHex(d, out);
    EXPECT_STREQ("000123456789ABCDEFF00F109ABCDEFF", out);
    EXPECT_EQ('X', out[33]);
    EXPECT_EQ(L"000123456789abcdeff00f109abcdeff", Md5HexW(d));
}

TEST(Hex, Md5OfKnownTexts)
{
    // RFC 1321 test suite.
    EXPECT_EQ(L"d41d8cd98f00b204e9800998ecf8427e", Md5OfText(""));
    EXPECT_EQ(L"900150983cd24fb0d6963f7d28e17f72", Md5OfText("abc"));
    EXPECT_EQ(L"57edf4a22be3c955ac49da2e2107b67a",
              Md5OfText("12345678901234567890123456789012345678901234567890123456789012345678901234567890"));

    MD5Context ctx;
    MD5Init(&ctx);
    MD5Update(&ctx, reinterpret_cast<const unsigned char*>("abc"), 3);
    MD5Final(&ctx);
    EXPECT_EQ("900150983cd24fb0d6963f7d28e17f72", Md5HexString(ctx, false));
    EXPECT_EQ("900150983CD24FB0D6963F7D28E17F72", Md5HexString(ctx, true));
}

}  // namespace
