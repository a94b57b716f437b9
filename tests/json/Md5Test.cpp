// MD5: the RFC 1321 test suite, piecewise feeding, and the context left behind.
#include "Tessara.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>

namespace {

std::string hexDigest(const MD5Context& ctx) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char b : ctx.digest) {
        out += digits[b >> 4];
        out += digits[b & 15];
    }
    return out;
}

std::string md5(const std::string& message) {
    MD5Context ctx;
    MD5Init(&ctx);
    MD5Update(&ctx, (const unsigned char*)message.data(), (unsigned)message.size());
    MD5Final(&ctx);
    return hexDigest(ctx);
}

TEST(Md5, Rfc1321Suite) {
    struct { const char* message; const char* digest; } cases[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"a", "0cc175b9c0f1b6a831c399e269772661"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", "d174ab98d277d9f5a5611c2c9f419d9f"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "57edf4a22be3c955ac49da2e2107b67a"},
    };
    for (auto& c : cases) EXPECT_EQ(md5(c.message), c.digest) << c.message;
}

// Lengths around the 56- and 64-byte padding edges, fed in random pieces, match feeding at once.
TEST(Md5, PiecewiseFeedingGivesTheSameDigest) {
    std::mt19937 rng(5);
    for (size_t len : {0, 1, 55, 56, 57, 63, 64, 65, 119, 120, 127, 128, 129, 1000, 4097}) {
        std::string message;
        for (size_t i = 0; i < len; ++i) message += (char)(rng() & 0xFF);
        std::string whole = md5(message);
        for (int round = 0; round < 20; ++round) {
            MD5Context ctx;
            MD5Init(&ctx);
            size_t pos = 0;
            while (pos < len) {
                size_t piece = std::min(len - pos, (size_t)(rng() % 80));
                MD5Update(&ctx, (const unsigned char*)message.data() + pos, (unsigned)piece);
                pos += piece;
            }
            MD5Final(&ctx);
            ASSERT_EQ(hexDigest(ctx), whole) << len;
        }
    }
}

TEST(Md5, MillionA) {
    MD5Context ctx;
    MD5Init(&ctx);
    std::string block(1000, 'a');
    for (int i = 0; i < 1000; ++i) MD5Update(&ctx, (const unsigned char*)block.data(), 1000);
    EXPECT_EQ(ctx.bits[0], 8000000u);
    EXPECT_EQ(ctx.bits[1], 0u);
    MD5Final(&ctx);
    EXPECT_EQ(hexDigest(ctx), "7707d6ae4e027c70eea2a935c2296f21");
}

// The bit count is 64 bits wide: the low word carries into the high one.
TEST(Md5, BitCountCarries) {
    MD5Context ctx;
    MD5Init(&ctx);
    ctx.bits[0] = 0xFFFFFFF8u;
    unsigned char byte = 'x';
    MD5Update(&ctx, &byte, 1);
    EXPECT_EQ(ctx.bits[0], 0u);
    EXPECT_EQ(ctx.bits[1], 1u);
    MD5Update(&ctx, &byte, 0);
    EXPECT_EQ(ctx.bits[0], 0u);
}

TEST(Md5, InitZeroesTheWholeContext) {
    MD5Context ctx;
    std::memset(&ctx, 0xAB, sizeof ctx);
    MD5Init(&ctx);
    EXPECT_EQ(ctx.bits[0], 0u);
    EXPECT_EQ(ctx.bits[1], 0u);
    EXPECT_EQ(ctx.state[0], 0x67452301u);
    EXPECT_EQ(ctx.state[1], 0xefcdab89u);
    EXPECT_EQ(ctx.state[2], 0x98badcfeu);
    EXPECT_EQ(ctx.state[3], 0x10325476u);
    for (unsigned char b : ctx.buffer) ASSERT_EQ(b, 0);
    for (unsigned char b : ctx.digest) ASSERT_EQ(b, 0);
}

}  // namespace
