// The script host's pure helpers: Base64 decoding of untrusted script data, dotted version order and
// the cap on a script's sleep.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>

#include <string>
#include <vector>

#include "ScriptText.h"

namespace {

std::string Decode(const std::string& text)
{
    std::string out(text.size(), '\x7f');
    out.resize(Vellix::DecodeBase64(text.data(), text.size(), &out[0]));
    return out;
}

TEST(DecodeBase64, Table)
{
    struct Case {
        std::string in;
        std::string out;
    };
    const Case cases[] = {
        {"aGk=", "hi"},
        {"aGk", "hi"},
        {"aA==", "h"},
        {"aA", "h"},
        {"a", ""},
        {"", ""},
        {"====", ""},
        {"SGVsbG8sIFdvcmxkIQ==", "Hello, World!"},
        {"SGVs\r\nbG8s IFdv\tcmxk IQ", "Hello, World!"},
        {"+/+/", "\xfb\xff\xbf"},
        {"AAAA", std::string(3, '\0')},
        {std::string("aGk=\0aGk=", 9), "hi"},  // a zero byte ends the data
        {"a=G=k", "hi"},                     // '=' inside counts for nothing
        {"\x80\xff*aGk", "hi"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.out, Decode(c.in)) << c.in;
}

TEST(DecodeBase64, OutputNeverLongerThanInput)
{
    std::string all;
    for (int b = 0; b < 256; ++b)
        all += static_cast<char>(b);
    for (size_t n = 0; n <= all.size(); ++n) {
        std::string in = all.substr(1, n);  // no zero byte
        std::vector<char> out(in.size() + 1, '\x55');
        size_t written = Vellix::DecodeBase64(in.data(), in.size(), out.data());
        EXPECT_LE(written, in.size());
        EXPECT_EQ('\x55', out[in.size()]);
    }
}

TEST(CompareVersions, Table)
{
    struct Case {
        const char* a;
        const char* b;
        int order;
    };
    const Case cases[] = {
        {"1.5.1.13", "1.5.1.12", 1},
        {"1.5.1.12", "1.5.1.12", 0},
        {"1.5.0.99", "1.5.1.12", -1},
        {"1.6.0.0", "1.5.1.12", 1},
        {"1.6", "1.5.1.12", 1},
        {"1.5.1", "1.5.1.12", -1},
        {"1.5.1.12.7", "1.5.1.12", 0},
        {" 1 . 5 . 1 . 13 ", "1.5.1.12", 1},
        {"1..5.1.13", "1.5.1.12", 1},
        {"1.5.1.12abc", "1.5.1.12", 0},
        {"1.5.1.x", "1.5.1.0", 0},
        {"1.5.1.-1", "1.5.1.0", -1},
        {"1.5.1.+13", "1.5.1.12", 1},
        {"99999999999999999999", "2147483647", 0},  // saturates, never overflows
        {"", "0.0.0.0", 0},
        {"2", "1.9.9.9", 1},
    };
    for (const Case& c : cases) {
        int order = Vellix::CompareVersions(c.a, c.b);
        EXPECT_EQ(c.order, order > 0 ? 1 : order < 0 ? -1 : 0) << c.a << " vs " << c.b;
    }
}

// whole stands for Lua's own integer of the number: within range Sleep goes by it (Lua may round
// where a cast would truncate); out of range Lua's value is meaningless and must not matter.
TEST(SleepMilliseconds, Table)
{
    struct Case {
        double seconds;
        long long whole;
        unsigned ms;
    };
    const Case cases[] = {
        {1, 1, 1000},
        {0.4, 0, 0},
        {2.6, 3, 3000},
        {0, 0, 0},
        {-5, -5, 0},
        {NAN, INT_MIN, 0},
        {-INFINITY, INT_MIN, 0},
        {599, 599, 599000},
        {599.7, 600, 600000},
        {600, 600, 600000},
        {601, 601, 600000},
        {4294968, 4294968, 600000},  // times 1000 would wrap to 32 ms
        {1e12, INT_MIN, 600000},
        {INFINITY, INT_MIN, 600000},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.ms, Vellix::SleepMilliseconds(c.seconds, c.whole)) << c.seconds;
}

}  // namespace
