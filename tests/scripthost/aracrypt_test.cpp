// The script cipher: known answers, its own inverse, key seeding, and agreement with the
// enciphering tool that produced the sample files.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "ARACrypt.h"

namespace {

std::string Bytes(std::initializer_list<unsigned> list)
{
    std::string s;
    for (unsigned b : list)
        s += static_cast<char>(b);
    return s;
}

std::string Keystream(const char* key, size_t n)
{
    ARACrypt c;
    std::string zeros(n, '\0');  // a zero byte comes out as the keystream byte
    c.Transform(key, zeros);
    return zeros;
}

TEST(ARACrypt, KnownAnswersWithTheScriptKey)
{
    ARACrypt c;
    c.SetKey(ARACrypt::kScriptKey);
    EXPECT_EQ((std::array<uint32_t, 3>{0xFFFFFFB5u, 0xFFFFFFD3u, 0xFFFFFFB5u}), c.Registers());

    EXPECT_EQ(Bytes({0x0c, 0x13, 0x8a, 0x3a, 0x93, 0x2b, 0x93, 0x0d, 0x89, 0x0c, 0xe5, 0xd6, 0xb6, 0xe7,
                     0xd8, 0x26}),
              Keystream(ARACrypt::kScriptKey, 16));

    std::string block = "return 1 -- demo";
    TransformScriptBlock(c, block);
    EXPECT_EQ(Bytes({0x7e, 0x76, 0xfe, 0x4f, 0xe1, 0x45, 0xb3, 0x3c, 0xa9, 0x21, 0xc8, 0xf6, 0xd2, 0x82,
                     0xb5, 0x49}),
              block);
}

TEST(ARACrypt, ConstructorRegisters)
{
    ARACrypt c;
    EXPECT_EQ((std::array<uint32_t, 3>{0x13579BDFu, 0x2468ACE0u, 0xFDB97531u}), c.Registers());
    std::string key = "x";
    c.GetKey(key);
    EXPECT_EQ("", key);
}

TEST(ARACrypt, EveryNonZeroByteComesBack)
{
    std::string plain;
    for (int round = 0; round < 4; ++round)
        for (int b = 1; b < 256; ++b)
            plain += static_cast<char>(b);
    for (const char* key : {ARACrypt::kScriptKey, "", "k", "a much longer key than twelve"}) {
        SCOPED_TRACE(key);
        ARACrypt c;
        std::string text = plain;
        c.Transform(key, text);
        EXPECT_NE(plain, text);
        c.Transform(key, text);
        EXPECT_EQ(plain, text);
        // A block continued on the same object without a new key would not come back.
        std::string again = plain;
        TransformScriptBlock(c, again);
        TransformScriptBlock(c, again);
        EXPECT_EQ(plain, again);
    }
}

TEST(ARACrypt, ZeroAndKeystreamEqualBytes)
{
    std::string ks = Keystream(ARACrypt::kScriptKey, 4);
    ARACrypt c;
    // Position 0 holds its own keystream byte: unchanged both ways. A zero becomes the keystream
    // byte and stays it on the way back.
    std::string text = std::string(1, ks[0]) + std::string(1, '\0') + "ab";
    std::string enc = text;
    c.Transform(ARACrypt::kScriptKey, enc);
    EXPECT_EQ(ks[0], enc[0]);
    EXPECT_EQ(ks[1], enc[1]);
    std::string dec = enc;
    c.Transform(ARACrypt::kScriptKey, dec);
    EXPECT_EQ(ks[0], dec[0]);
    EXPECT_EQ(ks[1], dec[1]);
    EXPECT_EQ("ab", dec.substr(2));
}

TEST(ARACrypt, KeySeeding)
{
    auto registers = [](const char* key) {
        ARACrypt c;
        c.SetKey(key);
        return c.Registers();
    };
    EXPECT_EQ(registers("m\xb4#\xc6\xd2\xe1*+?\xa7/w"), registers(""));
    EXPECT_EQ(registers(""), registers(nullptr));
    EXPECT_EQ(registers("abcabcabcabc"), registers("abc"));
    EXPECT_EQ((std::array<uint32_t, 3>{0x61626361u, 0x62636162u, 0x63616263u}), registers("abc"));
    EXPECT_EQ(registers("abcdefghijkl"), registers("abcdefghijklm"));

    ARACrypt c;
    c.SetKey("abcdefghijklm");
    std::string key;
    c.GetKey(key);
    EXPECT_EQ("abcdefghijklm", key);

    // High bytes widen with their sign: ones from position 1 survive the remaining shifts.
    EXPECT_EQ(0xFF800203u, registers("\x01\x80\x02\x03")[0]);
    EXPECT_EQ(0x80010203u, registers("\x80\x01\x02\x03")[0]);
    EXPECT_EQ(0xFFFFFF80u, registers("\x01\x02\x03\x80")[0]);
}

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

TEST(ARACrypt, AgreesWithTheEncipheringTool)
{
    std::string plain = ReadFile(ARACRYPT_SAMPLE_DIR "/aracrypt_sample.lua");
    ASSERT_GT(plain.size(), 100u);
    std::string byTool = ReadFile(ARACRYPT_SAMPLE_BIN "/aracrypt_sample.lua.enc");
    std::string byToolAbc = ReadFile(ARACRYPT_SAMPLE_BIN "/aracrypt_sample.lua.abc");

    ARACrypt c;
    std::string mine = plain;
    TransformScriptBlock(c, mine);
    EXPECT_EQ(byTool, mine);
    std::string back = byTool;
    TransformScriptBlock(c, back);
    EXPECT_EQ(plain, back);

    std::string abc = plain;
    c.Transform("abc", abc);
    EXPECT_EQ(byToolAbc, abc);
}

}  // namespace
