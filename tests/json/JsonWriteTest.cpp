// Serializer: compact text, escapes, number forms, chunking, and parse/serialize round trips.
#include "JsonTestUtil.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstring>

namespace {

TEST(JsonWrite, ScalarsAndContainers) {
    struct { JsonValue* v; const char* expected; } cases[] = {
        {newNullValue(), "null"},
        {newBooleanValue(0), "false"},
        {newBooleanValue(2), "true"},
        {newIntegerValue(-2147483647 - 1), "-2147483648"},
        {newIntegerValue(2147483647), "2147483647"},
        {newNumberValue(2.5), "2.500000"},
        {newNumberValue(-0.0), "-0.000000"},
        {newStringValue("tab\there \"quoted\" a/b back\\slash", 0), "\"tab\\there \\\"quoted\\\" a/b back\\\\slash\""},
        {newStringValue("\b\f\n\r\x01\x7F\xC3\xA9", 0), "\"\\b\\f\\n\\r\x01\x7F\xC3\xA9\""},
        {newStringValue("up to\0 the NUL", 14), "\"up to\""},
        {newArrayValue(), "[]"},
        {newDictionaryValue(), "{}"},
    };
    for (auto& c : cases) {
        EXPECT_EQ(serialize(c.v), c.expected);
        deleteValue(&c.v);
    }
}

TEST(JsonWrite, DictionaryInHashOrderWithoutWhiteSpace) {
    Owned d(newDictionaryValue());
    setDictionaryMember(d.get(), "n", newStringValue("x y", 0));
    JsonValue* c = newArrayValue();
    insertArrayMember(c, -1, newIntegerValue(1));
    insertArrayMember(c, -1, newNumberValue(2.5));
    insertArrayMember(c, -1, newBooleanValue(1));
    insertArrayMember(c, -1, newNullValue());
    setDictionaryMember(d.get(), "c", c);
    EXPECT_EQ(serialize(d.get()), "{\"c\":[1,2.500000,true,null],\"n\":\"x y\"}");
    // a member is written as a root of its own: no key, no comma
    EXPECT_EQ(serialize(c), "[1,2.500000,true,null]");
    JsonValue* last = nullptr;
    getArrayMember(c, 3, &last);
    EXPECT_EQ(serialize(last), "null");
}

TEST(JsonWrite, NonFiniteDoublesAreNull) {
    for (double d : {NAN, INFINITY, -INFINITY}) {
        Owned a(newArrayValue());
        insertArrayMember(a.get(), -1, newNumberValue(d));
        insertArrayMember(a.get(), -1, newIntegerValue(1));
        EXPECT_EQ(serialize(a.get()), "[null,1]");
    }
}

TEST(JsonWrite, DoublesInFullFixedForm) {
    struct { double d; const char* expected; } cases[] = {
        {0.0, "0.000000"},
        {1.0, "1.000000"},
        {-1.5, "-1.500000"},
        {0.1, "0.100000"},
        {123456.789, "123456.789000"},
        {0.0000004, "0.000000"},
        {-0.0000004, "-0.000000"},
        {0.0000006, "0.000001"},
        {0.0078125, "0.007812"},  // exactly halfway: to even
        {0.0234375, "0.023438"},
        {2.5e-6, "0.000003"},     // the double lies just above the half
        {1e15, "1000000000000000.000000"},
        {9007199254740993.0, "9007199254740992.000000"},
        {1e23, "99999999999999991611392.000000"},
        {-1e30, "-1000000000000000019884624838656.000000"},
        {DBL_MIN, "0.000000"},
        {DBL_MAX,
         "179769313486231570814527423731704356798070567525844996598917476803157260780028538760589558632766878171540"
         "458953514382464234321326889464182768467546703537516986049910576551282076245490090389328944075868508455133"
         "942304583236903222948165808559332123348274797826204144723168738177180919299881250404026184124858368.000000"},
    };
    for (auto& c : cases) {
        Owned v(newNumberValue(c.d));
        EXPECT_EQ(serialize(v.get()), c.expected) << c.d;
    }
}

TEST(JsonWrite, ChunksOf255) {
    struct { size_t total; std::vector<size_t> sizes; } cases[] = {
        {600, {255, 255, 90}}, {510, {255, 255}}, {255, {255}}, {256, {255, 1}}, {3, {3}}};
    for (auto& c : cases) {
        // a string value of total - 2 characters serializes to total characters with its quotes
        Owned v(newStringValue(std::string(c.total - 2, 'x').c_str(), 0));
        std::vector<std::string> chunks = serializeChunks(v.get());
        std::vector<size_t> sizes;
        for (const std::string& s : chunks) sizes.push_back(s.size());
        EXPECT_EQ(sizes, c.sizes) << c.total;
    }
    // chunk edges fall inside literals and escapes as well
    Owned a(newArrayValue());
    for (int i = 0; i < 200; ++i) insertArrayMember(a.get(), -1, i % 2 ? newBooleanValue(0) : newStringValue("\"\t", 0));
    std::string whole = serialize(a.get());
    std::vector<std::string> chunks = serializeChunks(a.get());
    std::string joined;
    for (size_t i = 0; i < chunks.size(); ++i) {
        if (i + 1 < chunks.size()) {
            EXPECT_EQ(chunks[i].size(), 255u);
        }
        joined += chunks[i];
    }
    EXPECT_EQ(joined, whole);
    EXPECT_EQ(whole.size(), 1 + 100 * 6 + 100 * 5 + 199 + 1);
}

TEST(JsonWrite, NothingForNullArguments) {
    std::vector<std::string> chunks;
    EXPECT_FALSE(jsonSerialize(nullptr, collectChunks, &chunks));
    Owned v(newNullValue());
    EXPECT_FALSE(jsonSerialize(v.get(), nullptr, &chunks));
    EXPECT_TRUE(chunks.empty());
}

// Builds a tree with every kind of value at several depths.
JsonValue* sampleTree() {
    JsonValue* root = newDictionaryValue();
    JsonValue* hosts = newArrayValue();
    for (int i = 0; i < 40; ++i) {
        JsonValue* h = newDictionaryValue();
        std::string name = "host" + std::to_string(i) + ".example";
        setDictionaryMember(h, "host", newStringValue(name.c_str(), 0));
        setDictionaryMember(h, "version", newIntegerValue(i * 3 - 20));
        setDictionaryMember(h, "ratio", newNumberValue(i / 7.0));
        setDictionaryMember(h, "enabled", newBooleanValue(i % 2));
        setDictionaryMember(h, "note", i % 5 ? newNullValue() : newStringValue("a \"note\"\n\\ \xE4\xB8\xAD", 0));
        JsonValue* tags = newArrayValue();
        for (int t = 0; t < i % 4; ++t) insertArrayMember(tags, -1, newStringValue("t", 0));
        setDictionaryMember(h, "tags", tags);
        insertArrayMember(hosts, -1, h);
    }
    setDictionaryMember(root, "hosts", hosts);
    setDictionaryMember(root, "empty", newDictionaryValue());
    setDictionaryMember(root, "big", newNumberValue(1e21));
    return root;
}

TEST(JsonWrite, RoundTripKeepsStructure) {
    Owned tree(sampleTree());
    std::string first = serialize(tree.get());
    Owned again(parseText(first));
    ASSERT_NE(again.get(), nullptr);
    EXPECT_EQ(serialize(again.get()), first);
    JsonValue* hosts = nullptr;
    ASSERT_TRUE(lookupDictionaryMember(again.get(), "hosts", &hosts));
    JsonValue* h = nullptr;
    ASSERT_TRUE(getArrayMember(hosts, 7, &h));
    JsonValue* ratio = nullptr;
    ASSERT_TRUE(lookupDictionaryMember(h, "ratio", &ratio));
    EXPECT_FALSE(isInteger(ratio));
    EXPECT_EQ(toNumber(ratio), 1.0);
    JsonValue* note = nullptr;
    ASSERT_TRUE(getArrayMember(hosts, 5, &h));
    ASSERT_TRUE(lookupDictionaryMember(h, "note", &note));
    EXPECT_STREQ(getCString(note), "a \"note\"\n\\ \xE4\xB8\xAD");
}

}  // namespace
