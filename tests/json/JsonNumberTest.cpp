// Number texts: correct rounding in both directions and the same results under any C locale.
#include "JsonTestUtil.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstring>
#include <random>

namespace {

uint64_t bitsOf(double d) {
    uint64_t b;
    std::memcpy(&b, &d, sizeof b);
    return b;
}

double fromBits(uint64_t b) {
    double d;
    std::memcpy(&d, &b, sizeof d);
    return d;
}

// Parses the text as the only member of an array; false when the parse fails.
bool parseNumberText(const std::string& text, double* out) {
    Owned a(parseText("[" + text + "]"));
    JsonValue* n = nullptr;
    if (!getArrayMember(a.get(), 0, &n)) return false;
    *out = toNumber(n);
    return true;
}

std::string write(double d) {
    Owned v(newNumberValue(d));
    return serialize(v.get());
}

TEST(JsonNumber, ParsesToTheNearestDouble) {
    struct { const char* text; uint64_t bits; } cases[] = {
        {"0.1", 0x3FB999999999999Aull},
        {"-2.5", 0xC004000000000000ull},
        {"1.7976931348623157e308", 0x7FEFFFFFFFFFFFFFull},
        {"2.2250738585072011e-308", 0x000FFFFFFFFFFFFFull},
        {"2.2250738585072012e-308", 0x0010000000000000ull},
        {"4.9406564584124654e-324", 0x0000000000000001ull},
        {"2.4703282292062327e-324", 0x0000000000000000ull},  // just below half the smallest: zero
        {"2.4703282292062328e-324", 0x0000000000000001ull},
        {"9007199254740993", 0x4340000000000000ull},          // a tie: to even
        {"9007199254740993.0000000000000000001", 0x4340000000000001ull},
        {"9007199254740995", 0x4340000000000002ull},
        {"0.000000000000000000000000000000000000000000000001e48", 0x3FF0000000000000ull},
        {"100000000000000000000000000000000000000000000000000e-50", 0x3FF0000000000000ull},
        {"123456789012345678901234567890.5e-10", 0x43E56A95319D63E1ull},
        {"1e23", 0x44B52D02C7E14AF6ull},
        {"8.7", 0x4021666666666666ull},
        {"1.00000000000000011102230246251565404236316680908203125", 0x3FF0000000000000ull},  // exact tie
        {"1.00000000000000011102230246251565404236316680908203126", 0x3FF0000000000001ull},
    };
    for (auto& c : cases) {
        double d = 0;
        ASSERT_TRUE(parseNumberText(c.text, &d)) << c.text;
        EXPECT_EQ(bitsOf(d), c.bits) << c.text << " gave " << std::hexfloat << d;
    }
    double d;
    EXPECT_FALSE(parseNumberText("1.7976931348623159e308", &d));
    EXPECT_FALSE(parseNumberText("-1e309", &d));
    EXPECT_FALSE(parseNumberText("1" + std::string(400, '0'), &d));
    ASSERT_TRUE(parseNumberText("1" + std::string(300, '0'), &d));
    EXPECT_EQ(d, 1e300);
    ASSERT_TRUE(parseNumberText("0." + std::string(2000, '0') + "1e2010", &d));
    EXPECT_EQ(d, 1e9);
}

// Serializing, parsing and serializing again settles after the first pass for any double.
TEST(JsonNumber, WrittenTextReadsBackToTheSameText) {
    std::mt19937_64 rng(99);
    for (int i = 0; i < 20000; ++i) {
        double d = fromBits(rng());
        if (std::isnan(d) || std::isinf(d)) continue;
        std::string first = write(d);
        double back = 0;
        ASSERT_TRUE(parseNumberText(first, &back)) << first;
        ASSERT_EQ(write(back), first) << std::hexfloat << d;
        if (std::fabs(d) >= 8589934592.0) {
            EXPECT_EQ(back, d) << first;  // above 2^33 the six decimals pin the double
        }
    }
}

#ifndef _WIN32
// glibc's strtod and printf in the C locale round correctly; they serve as the reference here.
TEST(JsonNumber, AgreesWithTheCLibraryInTheCLocale) {
    std::mt19937_64 rng(7);
    char text[400];
    for (int i = 0; i < 20000; ++i) {
        double d = fromBits(rng());
        if (std::isnan(d) || std::isinf(d)) continue;
        snprintf(text, sizeof text, "%f", d);
        EXPECT_EQ(write(d), text);
        const char* formats[] = {"%.17g", "%.3g", "%.25e", "%.12f"};
        snprintf(text, sizeof text, formats[i % 4], d);
        double parsed = 0;
        ASSERT_TRUE(parseNumberText(std::string(text) + " ", &parsed) || std::strchr(text, 'e') == nullptr) << text;
        if (std::strchr(text, '.') || std::strchr(text, 'e')) {
            EXPECT_EQ(bitsOf(parsed), bitsOf(strtod(text, nullptr))) << text;
        }
    }
    // short decimal texts, the common case in documents
    std::mt19937 small(3);
    for (int i = 0; i < 20000; ++i) {
        snprintf(text, sizeof text, "%u.%0*u", (unsigned)(small() % 100000), 1 + (int)(small() % 9),
                 (unsigned)(small() % 1000000000));
        double parsed = 0;
        ASSERT_TRUE(parseNumberText(text, &parsed));
        EXPECT_EQ(bitsOf(parsed), bitsOf(strtod(text, nullptr))) << text;
    }
}
#endif

// A host program may switch the C locale to one whose decimal point is ','; JSON text still uses '.'.
TEST(JsonNumber, DecimalPointIgnoresTheLocale) {
    const char* names[] = {"de_DE.UTF-8", "de_DE.utf8", "de_DE", "German_Germany.1252", "German", "deu"};
    std::string saved = setlocale(LC_ALL, nullptr);
    const char* used = nullptr;
    for (const char* name : names) {
        char probe[16] = "";
        if (setlocale(LC_ALL, name)) snprintf(probe, sizeof probe, "%.1f", 1.5);
        if (std::strcmp(probe, "1,5") == 0) {  // the C library itself now writes a decimal comma
            used = name;
            break;
        }
    }
    if (!used) {
        setlocale(LC_ALL, saved.c_str());
        GTEST_SKIP() << "no locale with a decimal comma on this machine";
    }
    double d = 0;
    bool parsed = parseNumberText("1.5", &d);
    std::string written = write(2.25);
    Owned tree(parseText("{\"a\":[0.5,-1.25e2,3]}"));
    std::string round = serialize(tree.get());
    setlocale(LC_ALL, saved.c_str());
    EXPECT_TRUE(parsed) << used;
    EXPECT_EQ(d, 1.5) << used;
    EXPECT_EQ(written, "2.250000") << used;
    EXPECT_EQ(round, "{\"a\":[0.500000,-125.000000,3]}") << used;
}

}  // namespace
