// Dictionaries: order by the 28-bit key hash, ties in insertion order, replacement in place, and a
// randomized run against a simple model.
#include "JsonTestUtil.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

namespace {

// The order every stored dictionary was written in: the ELF hash over signed bytes.
uint32_t elfHash(const std::string& key) {
    uint32_t h = 0;
    for (char ch : key) {
        h = (h << 4) + (uint32_t)(int32_t)(signed char)ch;
        uint32_t g = h & 0xF0000000u;
        if (g) h ^= g >> 24;
        h &= ~g;
    }
    return h;
}

// Members are integers numbering their keys, so the serialization shows keys and values.
JsonValue* dictOf(const std::vector<std::string>& keys) {
    JsonValue* d = newDictionaryValue();
    int n = 0;
    for (const std::string& k : keys) setDictionaryMember(d, k.c_str(), newIntegerValue(n++));
    return d;
}

TEST(JsonDict, OrderedByHashNotInsertion) {
    struct { std::vector<std::string> keys; const char* expected; } cases[] = {
        {{"n", "c"}, "{\"c\":1,\"n\":0}"},
        {{"u", "t"}, "{\"t\":1,\"u\":0}"},
        // C3 A9 hashes to 0x0FFFF229 as signed bytes (0xCD9 if they were unsigned): after "abcd" (0x67894)
        {{"\xC3\xA9", "abcd", "a"}, "{\"a\":2,\"abcd\":1,\"\xC3\xA9\":0}"},
    };
    for (auto& c : cases) {
        Owned d(dictOf(c.keys));
        EXPECT_EQ(serialize(d.get()), c.expected);
    }
    EXPECT_EQ(elfHash("\xC3\xA9"), 0x0FFFF229u);
}

// "ab", "`r", "bR", "cB" and "d2" all hash to 0x672.
const std::vector<std::string> kColliding = {"ab", "`r", "bR", "cB", "d2"};

TEST(JsonDict, EqualHashesKeepInsertionOrderAndStayFindable) {
    for (const std::string& k : kColliding) ASSERT_EQ(elfHash(k), 0x672u) << k;
    Owned d(dictOf(kColliding));
    EXPECT_EQ(serialize(d.get()), "{\"ab\":0,\"`r\":1,\"bR\":2,\"cB\":3,\"d2\":4}");
    for (size_t i = 0; i < kColliding.size(); ++i) {
        JsonValue* out = nullptr;
        ASSERT_TRUE(lookupDictionaryMember(d.get(), kColliding[i].c_str(), &out)) << kColliding[i];
        EXPECT_EQ(toInteger(out), (int)i);
    }
    JsonValue* out;
    EXPECT_FALSE(lookupDictionaryMember(d.get(), "eR", &out));  // 0x6A2: a neighbour, not a member
    ASSERT_TRUE(removeDictionaryMember(d.get(), "bR"));
    EXPECT_EQ(serialize(d.get()), "{\"ab\":0,\"`r\":1,\"cB\":3,\"d2\":4}");
    ASSERT_TRUE(setDictionaryMember(d.get(), "ab", newIntegerValue(9)));
    EXPECT_EQ(serialize(d.get()), "{\"ab\":9,\"`r\":1,\"cB\":3,\"d2\":4}");
    EXPECT_EQ(getDictionarySize(d.get()), 4u);
}

TEST(JsonDict, ReplacingKeepsPlaceAndSize) {
    Owned d(dictOf({"b", "a", "c"}));
    JsonValue* old;
    ASSERT_TRUE(lookupDictionaryMember(d.get(), "b", &old));
    void* oldInfo[2];
    ASSERT_TRUE(valueGetParentInfo(old, oldInfo));
    JsonValue* fresh = newStringValue("new", 0);
    ASSERT_TRUE(setDictionaryMember(d.get(), "b", fresh));
    EXPECT_EQ(getDictionarySize(d.get()), 3u);
    EXPECT_EQ(serialize(d.get()), "{\"a\":1,\"b\":\"new\",\"c\":2}");
    void* info[2];
    ASSERT_TRUE(valueGetParentInfo(fresh, info));
    EXPECT_EQ(info[0], d.get());
    EXPECT_EQ(info[1], oldInfo[1]);  // the same entry
}

TEST(JsonDict, Failures) {
    Owned d(dictOf({"a"}));
    JsonValue* v = newIntegerValue(1);
    EXPECT_FALSE(setDictionaryMember(d.get(), "", v));
    EXPECT_FALSE(setDictionaryMember(d.get(), nullptr, v));
    EXPECT_FALSE(setDictionaryMember(d.get(), "x", nullptr));
    EXPECT_FALSE(setDictionaryMember(nullptr, "x", v));
    void* info[2];
    EXPECT_FALSE(valueGetParentInfo(v, info));
    deleteValue(&v);
    JsonValue* out = reinterpret_cast<JsonValue*>(1);
    EXPECT_FALSE(lookupDictionaryMember(d.get(), "", &out));
    EXPECT_EQ(out, nullptr);
    EXPECT_FALSE(lookupDictionaryMember(d.get(), nullptr, &out));
    EXPECT_FALSE(lookupDictionaryMember(d.get(), "A", &out));  // case-sensitive
    EXPECT_FALSE(removeDictionaryMember(d.get(), "b"));
    EXPECT_FALSE(removeDictionaryMember(d.get(), ""));
    EXPECT_EQ(serialize(d.get()), "{\"a\":0}");
}

// A few thousand sets, replacements and removals over a small key space full of hash ties, checked
// against a list ordered by (hash, first insertion).
TEST(JsonDict, RandomOperationsMatchModel) {
    std::mt19937 rng(12345);
    std::vector<std::string> space;
    for (int i = 0; i < 60; ++i) space.push_back(std::string(1, (char)('a' + i % 26)) + (char)('A' + i / 26));
    for (const std::string& k : kColliding) space.push_back(k);
    for (int i = 0; i < 20; ++i) space.push_back("key" + std::to_string(i * 7919));

    struct Entry { std::string key; uint32_t hash; long seq; int value; };
    std::vector<Entry> model;
    long seq = 0;
    Owned d(newDictionaryValue());
    for (int step = 0; step < 4000; ++step) {
        const std::string& key = space[rng() % space.size()];
        auto it = std::find_if(model.begin(), model.end(), [&](const Entry& e) { return e.key == key; });
        if (rng() % 3 == 0) {
            EXPECT_EQ(removeDictionaryMember(d.get(), key.c_str()), it != model.end());
            if (it != model.end()) model.erase(it);
        } else {
            ASSERT_TRUE(setDictionaryMember(d.get(), key.c_str(), newIntegerValue(step)));
            if (it != model.end())
                it->value = step;
            else
                model.push_back({key, elfHash(key), seq++, step});
        }
        if (step % 97 != 0) continue;
        std::stable_sort(model.begin(), model.end(), [](const Entry& a, const Entry& b) {
            return a.hash != b.hash ? a.hash < b.hash : a.seq < b.seq;
        });
        std::string expected = "{";
        for (const Entry& e : model) {
            if (expected.size() > 1) expected += ",";
            expected += "\"" + e.key + "\":" + std::to_string(e.value);
        }
        expected += "}";
        ASSERT_EQ(serialize(d.get()), expected) << step;
        ASSERT_EQ(getDictionarySize(d.get()), model.size());
        for (const Entry& e : model) {
            JsonValue* out;
            ASSERT_TRUE(lookupDictionaryMember(d.get(), e.key.c_str(), &out)) << e.key;
            void* info[2];
            ASSERT_TRUE(valueGetParentInfo(out, info));
            EXPECT_EQ(info[0], d.get());
        }
    }
}

}  // namespace
