// Value tree: creation, scalar access, arrays and slots, detaching, traversal order and freeing.
#include "JsonTestUtil.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstring>
#include <utility>

namespace {

int slotOf(JsonValue* v) {
    void* info[2] = {nullptr, nullptr};
    if (!valueGetParentInfo(v, info)) return -1;
    return (int)(intptr_t)info[1];
}

JsonValue* member(JsonValue* array, unsigned i) {
    JsonValue* m = nullptr;
    getArrayMember(array, i, &m);
    return m;
}

// An array of the integers given, in order.
JsonValue* intArray(std::initializer_list<int> values) {
    JsonValue* a = newArrayValue();
    for (int i : values) insertArrayMember(a, -1, newIntegerValue(i));
    return a;
}

void expectSlotsCurrent(JsonValue* array) {
    for (unsigned i = 0; i < getArraySize(array); ++i) {
        JsonValue* m = member(array, i);
        void* info[2];
        ASSERT_TRUE(valueGetParentInfo(m, info));
        EXPECT_EQ(info[0], array);
        EXPECT_EQ((int)(intptr_t)info[1], (int)i);
    }
}

TEST(JsonScalar, BooleanKeepsLowByte) {
    struct { int given; bool truth; } cases[] = {{0, false}, {1, true}, {2, true}, {256, false}, {257, true}, {-1, true}};
    for (auto& c : cases) {
        Owned v(newBooleanValue(c.given));
        EXPECT_EQ(getValueType(v.get()), JSON_BOOLEAN);
        EXPECT_EQ(toBoolean(v.get()), c.truth) << c.given;
    }
}

TEST(JsonScalar, IntegerFlagIsTheBooleanPlace) {
    Owned i(newIntegerValue(0)), d(newNumberValue(1.0));
    EXPECT_TRUE(isInteger(i.get()));
    EXPECT_TRUE(toBoolean(i.get()));  // one operation under two names reads the same byte
    EXPECT_FALSE(isInteger(d.get()));
    EXPECT_FALSE(toBoolean(d.get()));
}

TEST(JsonScalar, ToIntegerTruncatesAndSaturatesToMinimum) {
    struct { double d; int expected; } cases[] = {
        {-2.7, -2}, {2.7, 2}, {3e10, INT_MIN}, {-3e10, INT_MIN}, {2147483647.9, INT_MAX},
        {-2147483648.9, INT_MIN}, {2147483648.0, INT_MIN}, {NAN, INT_MIN}, {INFINITY, INT_MIN}};
    for (auto& c : cases) {
        Owned v(newNumberValue(c.d));
        EXPECT_EQ(toInteger(v.get()), c.expected) << c.d;
    }
    Owned i(newIntegerValue(-7));
    EXPECT_EQ(toInteger(i.get()), -7);
    EXPECT_EQ(toNumber(i.get()), -7.0);
}

TEST(JsonScalar, NullValueQueriesNeverFail) {
    JsonValue* out = reinterpret_cast<JsonValue*>(1);
    EXPECT_EQ(getValueType(nullptr), 0);
    EXPECT_FALSE(toBoolean(nullptr));
    EXPECT_FALSE(isInteger(nullptr));
    EXPECT_EQ(toInteger(nullptr), 0);
    EXPECT_EQ(toNumber(nullptr), 0.0);
    EXPECT_STREQ(getCString(nullptr), "");
    EXPECT_EQ(getStringLength(nullptr), 0);
    EXPECT_EQ(getArraySize(nullptr), 0u);
    EXPECT_EQ(getDictionarySize(nullptr), 0u);
    EXPECT_FALSE(getArrayMember(nullptr, 0, &out));
    EXPECT_EQ(out, nullptr);
    EXPECT_FALSE(lookupDictionaryMember(nullptr, "a", &out));
    EXPECT_FALSE(assignString(nullptr, "x", 0));
    EXPECT_FALSE(valueDetachFromParent(nullptr));
    EXPECT_FALSE(valueTraverse(nullptr, [](int, JsonValue*, void*) { return 0; }, nullptr));
    deleteValue(nullptr);
    JsonValue* none = nullptr;
    deleteValue(&none);
    EXPECT_EQ(startParseFile("file.json"), nullptr);
    EXPECT_EQ(copyValue(nullptr), nullptr);
}

TEST(JsonScalar, TypeTestsMatchOnlyTheirType) {
    Owned values[] = {Owned(newNullValue()),          Owned(newBooleanValue(1)),  Owned(newNumberValue(1.5)),
                      Owned(newStringValue("s", 0)),  Owned(newArrayValue()),     Owned(newDictionaryValue())};
    bool (*tests[])(JsonValue*, JsonValue**) = {nullptr, getAsBoolean, getAsNumber, getAsString, getAsArray,
                                                getAsDictionary};
    for (int type = 0; type < 6; ++type) {
        EXPECT_EQ(getValueType(values[type].get()), type);
        for (int t = 1; t < 6; ++t) {
            JsonValue* out = reinterpret_cast<JsonValue*>(1);
            bool match = tests[t](values[type].get(), &out);
            EXPECT_EQ(match, t == type) << type << " as " << t;
            EXPECT_EQ(out, match ? values[type].get() : nullptr);
        }
    }
}

TEST(JsonString, Creation) {
    Owned plain(newStringValue("hello", 0));
    EXPECT_STREQ(getCString(plain.get()), "hello");
    EXPECT_EQ(getStringLength(plain.get()), 5);

    Owned cut(newStringValue("hello", 2));
    EXPECT_STREQ(getCString(cut.get()), "he");

    Owned withNul(newStringValue("a\0b", 3));
    EXPECT_EQ(getStringLength(withNul.get()), 3);
    EXPECT_EQ(std::memcmp(getCString(withNul.get()), "a\0b", 4), 0);

    Owned room(newStringValue(nullptr, 40));
    EXPECT_STREQ(getCString(room.get()), "");
    EXPECT_EQ(getStringLength(room.get()), 0);

    EXPECT_EQ(newStringValue("abc", -1), nullptr);
    EXPECT_EQ(newStringValue(nullptr, -5), nullptr);
}

TEST(JsonString, AssignReplacesAndGrows) {
    Owned v(newStringValue("ab", 0));
    ASSERT_TRUE(assignString(v.get(), "a much longer text than before", 0));
    EXPECT_STREQ(getCString(v.get()), "a much longer text than before");
    ASSERT_TRUE(assignString(v.get(), "xyz", 2));
    EXPECT_STREQ(getCString(v.get()), "xy");
    EXPECT_EQ(getStringLength(v.get()), 2);
    Owned room(newStringValue(nullptr, 8));
    ASSERT_TRUE(assignString(room.get(), "12345678", 0));
    EXPECT_STREQ(getCString(room.get()), "12345678");
    EXPECT_FALSE(assignString(v.get(), "x", -1));
    EXPECT_STREQ(getCString(v.get()), "xy");
}

TEST(JsonString, AssignFromItsOwnText) {
    struct { const char* start; int offset, len; const char* expected; } cases[] = {
        {"hello world", 6, 0, "world"}, {"hello world", 2, 3, "llo"}, {"hello world", 0, 5, "hello"},
        {"abcdef", 1, 0, "bcdef"}};
    for (auto& c : cases) {
        Owned v(newStringValue(c.start, 0));
        ASSERT_TRUE(assignString(v.get(), getCString(v.get()) + c.offset, c.len));
        EXPECT_STREQ(getCString(v.get()), c.expected);
        EXPECT_EQ(getStringLength(v.get()), (int)std::strlen(c.expected));
    }
}

TEST(JsonArray, InsertPositionsAndSlots) {
    struct { int index; const char* expected; } cases[] = {
        {0, "[9,1,2]"}, {1, "[1,9,2]"}, {2, "[1,2,9]"}, {7, "[1,2,9]"}, {-1, "[1,2,9]"}, {-5, "[1,2,9]"}};
    for (auto& c : cases) {
        Owned a(intArray({1, 2}));
        JsonValue* m = newIntegerValue(9);
        ASSERT_TRUE(insertArrayMember(a.get(), c.index, m)) << c.index;
        EXPECT_EQ(serialize(a.get()), c.expected) << c.index;
        expectSlotsCurrent(a.get());
    }
}

TEST(JsonArray, GrowsPastSixteenKeepingOrder) {
    Owned a(newArrayValue());
    for (int i = 0; i < 50; ++i) ASSERT_TRUE(insertArrayMember(a.get(), 0, newIntegerValue(i)));
    ASSERT_EQ(getArraySize(a.get()), 50u);
    for (unsigned i = 0; i < 50; ++i) EXPECT_EQ(toInteger(member(a.get(), i)), 49 - (int)i);
    expectSlotsCurrent(a.get());
}

TEST(JsonArray, MemberAccessFailures) {
    Owned a(intArray({1, 2}));
    JsonValue* out = reinterpret_cast<JsonValue*>(1);
    EXPECT_FALSE(getArrayMember(a.get(), (unsigned)-1, &out));
    EXPECT_EQ(out, nullptr);
    EXPECT_FALSE(getArrayMember(a.get(), 2, &out));
    EXPECT_FALSE(removeArrayMember(a.get(), 2));
    EXPECT_FALSE(insertArrayMember(a.get(), 0, nullptr));
    EXPECT_FALSE(insertArrayMember(nullptr, 0, a.get()));
    EXPECT_EQ(serialize(a.get()), "[1,2]");
}

TEST(JsonArray, RemoveShiftsSlots) {
    struct { unsigned index; const char* expected; } cases[] = {{0, "[2,3]"}, {1, "[1,3]"}, {2, "[1,2]"}};
    for (auto& c : cases) {
        Owned a(intArray({1, 2, 3}));
        ASSERT_TRUE(removeArrayMember(a.get(), c.index));
        EXPECT_EQ(serialize(a.get()), c.expected);
        expectSlotsCurrent(a.get());
    }
}

TEST(JsonTree, MemberWithParentCannotBeInsertedElsewhere) {
    Owned a(intArray({1})), b(newArrayValue()), d(newDictionaryValue());
    JsonValue* one = member(a.get(), 0);
    EXPECT_FALSE(insertArrayMember(b.get(), 0, one));
    EXPECT_FALSE(setDictionaryMember(d.get(), "k", one));
    EXPECT_EQ(getArraySize(b.get()), 0u);
    EXPECT_EQ(getDictionarySize(d.get()), 0u);
    ASSERT_TRUE(valueDetachFromParent(one));
    EXPECT_EQ(slotOf(one), -1);
    EXPECT_TRUE(setDictionaryMember(d.get(), "k", one));
    EXPECT_EQ(serialize(d.get()), "{\"k\":1}");
}

// Each case builds root -> child -> grandchild and tries to put `moved` below `target`.
TEST(JsonTree, ContainerCannotGoBelowItself) {
    for (int targetDepth = 0; targetDepth < 3; ++targetDepth) {
        for (bool intoDict : {false, true}) {
            Owned root(newArrayValue());
            JsonValue* child = newDictionaryValue();
            JsonValue* grandchild = intoDict ? newDictionaryValue() : newArrayValue();
            ASSERT_TRUE(insertArrayMember(root.get(), -1, child));
            ASSERT_TRUE(setDictionaryMember(child, "g", grandchild));
            JsonValue* chain[] = {root.get(), child, grandchild};
            JsonValue* target = chain[targetDepth];
            std::string before = serialize(root.get());
            bool ok = getValueType(target) == JSON_ARRAY ? insertArrayMember(target, 0, root.get())
                                                          : setDictionaryMember(target, "self", root.get());
            EXPECT_FALSE(ok) << targetDepth;
            EXPECT_EQ(serialize(root.get()), before);
        }
    }
}

TEST(JsonTree, DetachFromArrayAndDictionary) {
    Owned a(intArray({1, 2, 3}));
    JsonValue* two = member(a.get(), 1);
    ASSERT_TRUE(valueDetachFromParent(two));
    Owned freed(two);
    EXPECT_EQ(serialize(a.get()), "[1,3]");
    expectSlotsCurrent(a.get());
    EXPECT_FALSE(valueDetachFromParent(two));

    Owned d(newDictionaryValue());
    JsonValue* x = newIntegerValue(5);
    ASSERT_TRUE(setDictionaryMember(d.get(), "x", x));
    void* info[2];
    ASSERT_TRUE(valueGetParentInfo(x, info));
    EXPECT_EQ(info[0], d.get());
    EXPECT_NE(info[1], nullptr);
    ASSERT_TRUE(valueDetachFromParent(x));
    Owned x2(x);
    EXPECT_EQ(getDictionarySize(d.get()), 0u);
    JsonValue* out;
    EXPECT_FALSE(lookupDictionaryMember(d.get(), "x", &out));
    EXPECT_FALSE(valueGetParentInfo(x, info));
}

TEST(JsonTree, DeleteMemberLeavesParentConsistent) {
    Owned a(intArray({1, 2, 3}));
    JsonValue* two = member(a.get(), 1);
    deleteValue(&two);
    EXPECT_EQ(two, nullptr);
    EXPECT_EQ(serialize(a.get()), "[1,3]");
    expectSlotsCurrent(a.get());

    Owned d(newDictionaryValue());
    setDictionaryMember(d.get(), "a", newIntegerValue(1));
    setDictionaryMember(d.get(), "b", intArray({7}));
    JsonValue* b;
    ASSERT_TRUE(lookupDictionaryMember(d.get(), "b", &b));
    deleteValue(&b);
    EXPECT_EQ(serialize(d.get()), "{\"a\":1}");
}

struct Event {
    int event;
    JsonValue* value;
    bool operator==(const Event& o) const { return event == o.event && value == o.value; }
};

int TESSARA_CALL record(int event, JsonValue* value, void* user) {
    static_cast<std::vector<Event>*>(user)->push_back({event, value});
    return 1;
}

TEST(JsonTraverse, EventOrder) {
    Owned a(newArrayValue());
    JsonValue* num = newIntegerValue(1);
    JsonValue* dict = newDictionaryValue();
    insertArrayMember(a.get(), -1, num);
    insertArrayMember(a.get(), -1, dict);
    std::vector<Event> events;
    ASSERT_TRUE(valueTraverse(a.get(), record, &events));
    std::vector<Event> expected = {{0, a.get()}, {0, num}, {2, num}, {0, dict}, {1, dict}, {2, dict},
                                   {1, a.get()}, {2, a.get()}};
    EXPECT_EQ(events, expected);
}

TEST(JsonTraverse, MemberSubtreeOnlyAndDictionaryOrder) {
    Owned root(newArrayValue());
    JsonValue* before = newIntegerValue(0);
    JsonValue* d = newDictionaryValue();
    JsonValue* after = newIntegerValue(2);
    insertArrayMember(root.get(), -1, before);
    insertArrayMember(root.get(), -1, d);
    insertArrayMember(root.get(), -1, after);
    JsonValue* n = newNullValue();
    JsonValue* c = newBooleanValue(1);
    setDictionaryMember(d, "n", n);
    setDictionaryMember(d, "c", c);
    std::vector<Event> events;
    ASSERT_TRUE(valueTraverse(d, record, &events));
    std::vector<Event> expected = {{0, d}, {0, c}, {2, c}, {0, n}, {2, n}, {1, d}, {2, d}};
    EXPECT_EQ(events, expected);
}

// Freeing runs on the same walk; a chain this deep would exhaust the stack of a recursive walk.
TEST(JsonTraverse, DeepTreesWalkAndFreeWithoutRecursion) {
    const int depth = 200000;
    JsonValue* root = newArrayValue();
    JsonValue* cur = root;
    for (int i = 0; i < depth; ++i) {
        JsonValue* next = (i % 2) ? newArrayValue() : newDictionaryValue();
        ASSERT_TRUE(getValueType(cur) == JSON_ARRAY ? insertArrayMember(cur, -1, next)
                                                     : setDictionaryMember(cur, "k", next));
        cur = next;
    }
    int entered = 0;
    valueTraverse(root, [](int event, JsonValue*, void* user) {
        if (event == 0) ++*static_cast<int*>(user);
        return 0;
    }, &entered);
    EXPECT_EQ(entered, depth + 1);
    deleteValue(&root);
    EXPECT_EQ(root, nullptr);
}

}  // namespace
