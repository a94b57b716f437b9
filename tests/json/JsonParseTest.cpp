// Parser: what texts are accepted and what trees they give, read at once and one byte per refill.
#include "JsonTestUtil.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

struct Case {
    std::string text;
    const char* expected;  // the serialized result; null when the parse fails
};

std::string S(const char* p, size_t n) { return std::string(p, n); }

const Case kCases[] = {
    // empty and unfinished texts
    {"", nullptr}, {"  \r\n\t ", nullptr}, {"[", nullptr}, {"[1,", nullptr}, {"{\"a\":", nullptr},
    {"{\"a\":1", nullptr}, {"{\"a\"", nullptr}, {"\"abc", nullptr}, {"[\"abc", nullptr},
    // a number needs something after it
    {"5", nullptr}, {"5 ", "5"}, {"[5]", "[5]"}, {"-7\n", "-7"},
    // doubles and integers
    {"0.0 ", "0.000000"}, {"-0.0 ", "-0.000000"}, {"0.000000 ", "0.000000"},
    {"2147483647 ", "2147483647"}, {"-2147483648 ", "-2147483648"},
    {"[1.5e3]", "[1500.000000]"}, {"[1.0e400]", nullptr}, {"[-1.0e400]", nullptr}, {"[1e-400]", "[0.000000]"},
    {"[1-2]", "[1]"}, {"[-]", "[0]"}, {"[+5]", nullptr}, {"[1.2.3]", "[1.200000]"}, {"[.5]", nullptr},
    {"[1E2]", "[100.000000]"}, {"[1e]", "[1.000000]"},
    // out-of-range integers become doubles; an exponent makes a double
    {"2147483648 ", "2147483648.000000"}, {"-2147483649 ", "-2147483649.000000"},
    {"[1700000000123]", "[1700000000123.000000]"}, {"[12345678901234567890]", "[12345678901234567168.000000]"},
    {"[1e5]", "[100000.000000]"}, {"[2E-1]", "[0.200000]"},
    // separators
    {"[1,]", "[1]"}, {"{\"a\":1,}", "{\"a\":1}"}, {"[,1]", nullptr}, {"[1 2]", "[1]"}, {"[1}", nullptr},
    {"{\"a\":1]", nullptr}, {"]", nullptr}, {"[]", "[]"}, {"{}", "{}"}, {"[[],{}]", "[[],{}]"},
    {"{ x \"a\":1}", "{\"a\":1}"}, {"{\"a\" 1}", nullptr}, {"[1] trailing text", "[1]"},
    {"1 x", nullptr}, {"1 , 2 ", "2"},
    // keys
    {"{\"\":1}", nullptr}, {"{\"a\":1,\"a\":2}", "{\"a\":2}"},
    {"{\"ab\":1,\"`r\":2,\"ab\":3}", "{\"ab\":3,\"`r\":2}"},  // equal hashes: the first place stays
    {"{\"a\":1,\"b\":}", "{\"a\":1}"},
    {"{\"n\":\"x\",\"c\":[1,2.5,true,null]}", "{\"c\":[1,2.500000,true,null],\"n\":\"x\"}"},
    // literals
    {"true", "true"}, {"false", "false"}, {"null", "null"}, {"truex", nullptr}, {"[truex]", "[true]"},
    {"tru", nullptr}, {"nul", nullptr}, {"[nulx]", nullptr}, {"[True]", nullptr},
    // strings and escapes
    {"\"plain\"", "\"plain\""}, {"[\"\\u00e9\"]", "[\"\xC3\xA9\"]"}, {"[\"\\u0041\"]", "[\"A\"]"},
    {"[\"\\x\"]", "[\"x\"]"}, {"[\"\\\"\\\\\\/\"]", "[\"\\\"\\\\/\"]"}, {"[\"\\b\\f\\n\\r\\t\"]", "[\"\\b\\f\\n\\r\\t\"]"},
    {"[\"\\u20AC\"]", "[\"\xE2\x82\xAC\"]"}, {"[\"\\u0000x\"]", "[\"x\"]"}, {"[\"\\u0x41\"]", "[\"A\"]"},
    {"[\"\\u-001\"]", "[\"\xEF\xBF\xBF\"]"}, {"[\"\\u 41x\"]", "[\"A\"]"}, {"[\"\\u4g..\"]", "[\"\x04\"]"},
    {"[\"\\u12\"]\"]", "[\"\x12\"]"},  // the quote is one of the four escape characters
    // surrogates: a pair is one code point, a lone half stays three bytes
    {"[\"\\ud83d\\ude00\"]", "[\"\xF0\x9F\x98\x80\"]"}, {"[\"\\uD800\\uDC00\"]", "[\"\xF0\x90\x80\x80\"]"},
    {"[\"\\ud83dx\"]", "[\"\xED\xA0\xBDx\"]"}, {"[\"\\ude00\"]", "[\"\xED\xB8\x80\"]"},
    {"[\"\\ud83d\\ud83d\\ude00\"]", "[\"\xED\xA0\xBD\xF0\x9F\x98\x80\"]"},
    {"[\"\\ud83d\\n\"]", "[\"\xED\xA0\xBD\\n\"]"},
    // NUL bytes: white space between tokens, ignored after a backslash, cutting a staging piece
    {S("[1,\0 2]", 7), "[1,2]"}, {S("[\"a\\\0n\"]", 8), "[\"a\\n\"]"}, {S("[\"ab\0cd\"]", 9), "[\"ab\"]"},
    // a byte 0xFF reads as the end of the text
    {"[1,\xFF 2]", nullptr}, {"[\"a\xFF\"]", nullptr}, {"[\"\xC3\xA9\"]", "[\"\xC3\xA9\"]"},
};

int TESSARA_CALL readOneByte(char* buffer, int size, void* context) {
    JsonMemoryCursor* m = static_cast<JsonMemoryCursor*>(context);
    if (m->remaining == 0) return 0;
    *buffer = *m->text++;
    m->remaining--;
    return 1;
}

std::string describe(const std::string& text) {
    std::string out;
    for (unsigned char c : text) {
        if (c >= 0x20 && c < 0x7F) {
            out += (char)c;
        } else {
            char hex[8];
            snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        }
    }
    return out;
}

void expectResult(JsonValue* v, const Case& c, const char* how) {
    if (!c.expected) {
        EXPECT_EQ(v, nullptr) << how << ": " << describe(c.text) << " gave " << describe(serialize(v));
    } else {
        ASSERT_NE(v, nullptr) << how << ": " << describe(c.text);
        EXPECT_EQ(serialize(v), c.expected) << how << ": " << describe(c.text);
    }
}

TEST(JsonParse, AcceptanceTable) {
    for (const Case& c : kCases) {
        Owned v(parseText(c.text));
        expectResult(v.get(), c, "whole");
    }
}

TEST(JsonParse, SameResultsWhenTheSourceDeliversOneByteAtATime) {
    for (const Case& c : kCases) {
        JsonParseSource* src = startParseMemory(c.text.data(), (int)c.text.size());
        ASSERT_NE(src, nullptr);
        src->read = readOneByte;
        Owned v(jsonParse(src));
        finishParsing(&src);
        EXPECT_EQ(src, nullptr);
        expectResult(v.get(), c, "trickle");
    }
}

TEST(JsonParse, TypesOfNumbers) {
    struct { const char* text; bool integer; double value; } cases[] = {
        {"[0]", true, 0}, {"[0.0]", false, 0}, {"[1e5]", false, 100000}, {"[2147483648]", false, 2147483648.0},
        {"[-2147483648]", true, -2147483648.0}, {"[1.5]", false, 1.5}};
    for (auto& c : cases) {
        Owned a(parseText(c.text));
        JsonValue* n = nullptr;
        ASSERT_TRUE(getArrayMember(a.get(), 0, &n)) << c.text;
        EXPECT_EQ(isInteger(n), c.integer) << c.text;
        EXPECT_EQ(toNumber(n), c.value) << c.text;
    }
}

TEST(JsonParse, TextLengthZeroMeansNulTerminated) {
    const char* text = "[1,2] and more";
    JsonParseSource* src = startParseMemory(text, 0);
    ASSERT_EQ(src->memory.remaining, (int)std::strlen(text));
    Owned v(jsonParse(src));
    finishParsing(&src);
    EXPECT_EQ(serialize(v.get()), "[1,2]");

    src = startParseMemory("[1,2]", 3);  // "[1," only
    Owned cut(jsonParse(src));
    finishParsing(&src);
    EXPECT_EQ(cut.get(), nullptr);
    EXPECT_EQ(jsonParse(nullptr), nullptr);
    EXPECT_EQ(startParseMemory(nullptr, 0), nullptr);
    finishParsing(nullptr);
}

int closed;
void TESSARA_CALL countClose(void*) { ++closed; }

TEST(JsonParse, FinishCallsTheCloseCallback) {
    closed = 0;
    JsonParseSource* src = startParseMemory("[]", 0);
    src->close = countClose;
    finishParsing(&src);
    EXPECT_EQ(closed, 1);
    EXPECT_EQ(src, nullptr);
    finishParsing(&src);
    EXPECT_EQ(closed, 1);
}

// Strings longer than the staging piece and texts longer than one source buffer.
TEST(JsonParse, LongStringsAndTexts) {
    std::string big;
    for (int i = 0; i < 1000; ++i) big += (char)('a' + i % 26);
    Owned s(parseText("[\"" + big + "\"]"));
    JsonValue* str = nullptr;
    ASSERT_TRUE(getArrayMember(s.get(), 0, &str));
    EXPECT_EQ(getCString(str), big);
    EXPECT_EQ(getStringLength(str), 1000);

    // a NUL in the second 255-byte piece drops only the rest of that piece
    std::string withNul = big;
    withNul[300] = '\0';
    Owned cut(parseText("[\"" + withNul + "\"]"));
    ASSERT_TRUE(getArrayMember(cut.get(), 0, &str));
    EXPECT_EQ(getCString(str), big.substr(0, 300) + big.substr(510));

    std::string text = "[";
    for (int i = 0; i < 3000; ++i) text += std::to_string(i * 37 - 5000) + (i % 3 ? ", " : ",\n");
    text += "{\"k\": \"" + big + "\"}]";
    Owned many(parseText(text));
    ASSERT_EQ(getArraySize(many.get()), 3001u);
    JsonValue* m = nullptr;
    getArrayMember(many.get(), 2999, &m);
    EXPECT_EQ(toInteger(m), 2999 * 37 - 5000);
}

TEST(JsonParse, DeepNestingParsesAndFrees) {
    const int depth = 100000;
    std::string text(depth, '[');
    text += std::string(depth, ']');
    Owned v(parseText(text));
    ASSERT_NE(v.get(), nullptr);
    Owned unfinished(parseText(text.substr(0, text.size() - 1)));
    EXPECT_EQ(unfinished.get(), nullptr);
}

}  // namespace
