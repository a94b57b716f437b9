// The Lua value bridge on a real Lua state: type mapping both ways, key order, cycles, deep nesting
// against the Lua stack limit, and Lua memory errors kept away from the caller.
#include <gtest/gtest.h>
#include <lua.hpp>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

#include "Tessara.h"
#include "TessaraLua.h"

namespace {

struct Tree {
    JsonValue* v;
    explicit Tree(JsonValue* value) : v(value) {}
    Tree(const Tree&) = delete;
    ~Tree() { deleteValue(&v); }
};

int TESSARA_CALL Append(const char* chunk, void* user)
{
    *static_cast<std::string*>(user) += chunk;
    return 0;
}

std::string Text(JsonValue* v)
{
    std::string s;
    if (!v)
        return "<none>";
    jsonSerialize(v, Append, &s);
    return s;
}

JsonValue* Parse(const std::string& text)
{
    JsonParseSource* src = startParseMemory(text.data(), static_cast<int>(text.size()));
    JsonValue* v = jsonParse(src);
    finishParsing(&src);
    return v;
}

// The serializer's own form of a JSON text, so expected dictionaries come out in the same order.
std::string Canonical(const std::string& text)
{
    Tree t(Parse(text));
    EXPECT_NE(nullptr, t.v) << text;
    return Text(t.v);
}

// Wraps depth arrays around an empty one, innermost first so no insert has to look far up.
JsonValue* NestedArrays(int depth)
{
    JsonValue* v = newArrayValue();
    for (int i = 0; i < depth; ++i) {
        JsonValue* outer = newArrayValue();
        insertArrayMember(outer, -1, v);
        v = outer;
    }
    return v;
}

int Depth(JsonValue* v)
{
    int depth = 0;
    JsonValue* member;
    while (getArrayMember(v, 0, &member)) {
        v = member;
        ++depth;
    }
    return depth;
}

class LuaBridge : public ::testing::Test {
protected:
    void SetUp() override { Open(luaL_newstate()); }
    void TearDown() override { lua_close(L); }

    void Open(lua_State* state)
    {
        L = state;
        ASSERT_NE(nullptr, L);
        luaL_openlibs(L);
    }

    // Runs a chunk and leaves its one result on the stack.
    void Eval(const std::string& code)
    {
        ASSERT_EQ(LUA_OK, luaL_loadstring(L, code.c_str())) << lua_tostring(L, -1);
        ASSERT_EQ(LUA_OK, lua_pcall(L, 0, 1, 0)) << lua_tostring(L, -1);
    }

    // Calls a Lua function of one argument (the value on top) and returns its boolean answer.
    bool Check(const std::string& body)
    {
        std::string code = "local v = ... " + body;
        if (luaL_loadstring(L, code.c_str()) != LUA_OK) {
            ADD_FAILURE() << lua_tostring(L, -1);
            return false;
        }
        lua_insert(L, -2);
        if (lua_pcall(L, 1, 1, 0) != LUA_OK) {
            ADD_FAILURE() << lua_tostring(L, -1);
            lua_pop(L, 1);
            return false;
        }
        bool ok = lua_toboolean(L, -1);
        lua_pop(L, 1);
        return ok;
    }

    std::string Convert(const std::string& code)
    {
        int top = lua_gettop(L);
        Eval(code);
        Tree t(luaH_tovalue(L, -1));
        EXPECT_EQ(top + 1, lua_gettop(L)) << code;
        lua_settop(L, top);
        return Text(t.v);
    }

    lua_State* L = nullptr;
};

TEST_F(LuaBridge, LuaToJsonTable)
{
    const struct {
        const char* code;
        const char* json;
    } cases[] = {
        {"return {10, 20, 30}", "[10,20,30]"},
        {"return {name = 'comic'}", "{\"name\":\"comic\"}"},
        {"return {}", "{}"},
        {"return {{}, {x = {}}}", "[{},{\"x\":{}}]"},
        {"return {3, 2.5, -2147483648}", "[3,2.5,-2147483648]"},
        {"return {true, false, 'text', ''}", "[true,false,\"text\",\"\"]"},
        {"return {1, nil, 3}", "[1,3]"},
        {"return {1, print, 3}", "[1,3]"},
        {"return {a = print, b = 1, c = coroutine.create(print)}", "{\"b\":1}"},
        {"return {[1] = 'a', [2] = 'b', x = 'c'}", "[\"a\",\"b\",\"c\"]"},
        {"return {x = {y = {z = {1, {w = false}}}}}", "{\"x\":{\"y\":{\"z\":[1,{\"w\":false}]}}}"},
        {"return {name = 'n', vols = {{t = 'v1', u = 'a'}, {t = 'v2', u = 'b'}}}",
         "{\"name\":\"n\",\"vols\":[{\"t\":\"v1\",\"u\":\"a\"},{\"t\":\"v2\",\"u\":\"b\"}]}"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Canonical(c.json), Convert(c.code)) << c.code;

    lua_pushnil(L);
    Tree null(luaH_tovalue(L, -1));
    lua_pop(L, 1);
    ASSERT_NE(nullptr, null.v);
    EXPECT_EQ(JSON_NULL, getValueType(null.v));
    lua_pushboolean(L, 1);
    Tree yes(luaH_tovalue(L, -1));
    lua_pop(L, 1);
    EXPECT_EQ(JSON_BOOLEAN, getValueType(yes.v));
    EXPECT_TRUE(toBoolean(yes.v));
}

TEST_F(LuaBridge, NumbersIntegerOnlyWithin32Bits)
{
    const struct {
        const char* code;
        bool integer;
        double value;
    } cases[] = {
        {"return 3", true, 3},       {"return 2.5", false, 2.5},       {"return 3e10", false, 3e10},
        {"return 2^31", false, 2147483648.0}, {"return -2^31", true, -2147483648.0},
        {"return 2^31 - 1", true, 2147483647.0}, {"return -0.0", true, 0},
        {"return 1/0", false, HUGE_VAL},
    };
    for (const auto& c : cases) {
        Eval(c.code);
        Tree t(luaH_tovalue(L, -1));
        lua_pop(L, 1);
        ASSERT_EQ(JSON_NUMBER, getValueType(t.v)) << c.code;
        EXPECT_EQ(c.integer, isInteger(t.v)) << c.code;
        EXPECT_EQ(c.value, c.integer ? toInteger(t.v) : toNumber(t.v)) << c.code;
    }
}

TEST_F(LuaBridge, DictionaryKeys)
{
    // A table whose first key is a string is a dictionary; its number keys become Lua's text of them.
    std::string got = Convert(
        "for i = 1, 500 do local t = {['k' .. i] = i, [5] = 'five', [1.5] = 'half'}"
        " if type(next(t)) == 'string' then found = i return t end end");
    lua_getglobal(L, "found");
    ASSERT_TRUE(lua_isnumber(L, -1)) << "no table with a string key first";
    std::string i = std::to_string(lua_tointeger(L, -1));
    lua_pop(L, 1);
    EXPECT_EQ(Canonical("{\"k" + i + "\":" + i + ",\"5\":\"five\",\"1.5\":\"half\"}"), got);
    // Keys that are no text or number, and the empty key, leave their member out.
    EXPECT_EQ(Canonical("{\"a\":1}"), Convert("return {a = 1, [true] = 2, [{}] = 3, [''] = 4, [print] = 5}"));
}

TEST_F(LuaBridge, ArrayMembersInAscendingKeyOrder)
{
    // Keys far apart live in the hash part, where next() visits them in no useful order.
    Eval("local t = {} for _, k in ipairs({7, 3, 10, 1, 8, 2, 9, 4, 6, 5}) do t[k * 1000] = k end return t");
    EXPECT_TRUE(Check("local last, sorted = 0, true for k in pairs(v) do sorted = sorted and k > last last = k end"
                      " return not sorted"))
        << "the fixture's table iterates in order; the test would prove nothing";
    Eval("local t = {} for _, k in ipairs({7, 3, 10, 1, 8, 2, 9, 4, 6, 5}) do t[k * 1000] = k end return t");
    Tree t(luaH_tovalue(L, -1));
    lua_pop(L, 1);
    EXPECT_EQ("[1,2,3,4,5,6,7,8,9,10]", Text(t.v));

    EXPECT_EQ("[\"a\",\"b\",\"c\",\"d\"]", Convert("return {[-1] = 'a', [0.5] = 'b', [1] = 'c', [1e9] = 'd'}"));
}

TEST_F(LuaBridge, CyclesAreNotWalkedAgain)
{
    EXPECT_EQ(Canonical("{\"a\":1}"), Convert("local t = {a = 1} t.self = t return t"));
    EXPECT_EQ(Canonical("{\"b\":{\"n\":2}}"), Convert("local a, b = {}, {n = 2} a.b = b b.a = a return a"));
    EXPECT_EQ("[1,[2]]", Convert("local t = {1} t[2] = {2, t} return t"));
    // The same table twice, side by side, is no cycle.
    EXPECT_EQ(Canonical("{\"p\":[1],\"q\":[1]}"), Convert("local x = {1} return {p = x, q = x}"));
}

TEST_F(LuaBridge, StringsKeepEmbeddedNul)
{
    Eval("return 'a\\0b\\0'");
    Tree t(luaH_tovalue(L, -1));
    lua_pop(L, 1);
    ASSERT_EQ(JSON_STRING, getValueType(t.v));
    EXPECT_EQ(4, getStringLength(t.v));
    EXPECT_EQ(0, memcmp("a\0b\0", getCString(t.v), 4));

    JsonValue* s = newStringValue("x\0y", 3);
    Tree owned(s);
    ASSERT_TRUE(luaH_pushvalue(L, s));
    size_t n = 0;
    const char* p = lua_tolstring(L, -1, &n);
    ASSERT_EQ(3u, n);
    EXPECT_EQ(0, memcmp("x\0y", p, 3));
    lua_pop(L, 1);
}

TEST_F(LuaBridge, IndexesAndStack)
{
    lua_pushinteger(L, 7);
    Eval("return {1}");
    lua_pushboolean(L, 1);
    int top = lua_gettop(L);
    const struct {
        int index;
        const char* json;
    } cases[] = {{1, "7"}, {2, "[1]"}, {-1, "true"}, {-2, "[1]"}, {-3, "7"},
                 {0, "<none>"}, {4, "<none>"}, {-4, "<none>"}};
    for (const auto& c : cases) {
        Tree t(luaH_tovalue(L, c.index));
        EXPECT_EQ(c.json, Text(t.v)) << c.index;
        EXPECT_EQ(top, lua_gettop(L));
    }
    lua_pushcfunction(L, [](lua_State*) { return 0; });
    EXPECT_EQ(nullptr, luaH_tovalue(L, -1));
    EXPECT_EQ(nullptr, luaH_tovalue(nullptr, 1));
    EXPECT_EQ(top + 1, lua_gettop(L));
}

TEST_F(LuaBridge, JsonToLua)
{
    Tree t(Parse("{\"name\":\"n\",\"a\":[1,2.5,\"s\",true,false,{\"b\":{}}],\"neg\":-3,\"z\":null}"));
    ASSERT_NE(nullptr, t.v);
    std::string before = Text(t.v);
    int top = lua_gettop(L);
    ASSERT_TRUE(luaH_pushvalue(L, t.v));
    ASSERT_EQ(top + 1, lua_gettop(L));
    EXPECT_TRUE(Check("return type(v) == 'table' and v.name == 'n' and v.neg == -3 and v.z == nil"
                      " and #v.a == 6 and v.a[1] == 1 and v.a[2] == 2.5 and v.a[3] == 's'"
                      " and v.a[4] == true and v.a[5] == false and type(v.a[6].b) == 'table'"
                      " and next(v.a[6].b) == nil"));
    EXPECT_EQ(top, lua_gettop(L));
    EXPECT_EQ(before, Text(t.v));

    Tree holes(Parse("[null,1]"));
    ASSERT_TRUE(luaH_pushvalue(L, holes.v));
    EXPECT_TRUE(Check("return v[1] == nil and v[2] == 1"));

    EXPECT_FALSE(luaH_pushvalue(L, nullptr));
    EXPECT_FALSE(luaH_pushvalue(nullptr, holes.v));
    EXPECT_EQ(top, lua_gettop(L));
}

TEST_F(LuaBridge, MemberPushedAsRoot)
{
    Tree t(Parse("[{\"x\":1},[2,3],\"s\"]"));
    JsonValue* member;
    ASSERT_TRUE(getArrayMember(t.v, 1, &member));
    ASSERT_TRUE(luaH_pushvalue(L, member));
    EXPECT_TRUE(Check("return #v == 2 and v[1] == 2 and v[2] == 3"));
    ASSERT_TRUE(getArrayMember(t.v, 2, &member));
    ASSERT_TRUE(luaH_pushvalue(L, member));
    EXPECT_TRUE(Check("return v == 's'"));
    EXPECT_EQ(3u, getArraySize(t.v));
}

TEST_F(LuaBridge, RoundTrip)
{
    const char* texts[] = {
        "{\"name\":\"comic\",\"author\":\"a\",\"vols\":[{\"t\":\"1\",\"u\":\"http://h/1\"},{\"t\":\"2\",\"u\":\"x\"}]}",
        "[1,-2,3.25,\"\\u4e2d\",true,{}]",
        "{\"deep\":{\"er\":{\"est\":[[[[1]]]]}}}",
    };
    for (const char* text : texts) {
        Tree t(Parse(text));
        ASSERT_TRUE(luaH_pushvalue(L, t.v)) << text;
        Tree back(luaH_tovalue(L, -1));
        lua_pop(L, 1);
        EXPECT_EQ(Text(t.v), Text(back.v)) << text;
    }
}

// Each open level keeps a slot or two on the Lua stack. With the stack nearly full (a million slots
// is Lua's limit) a nesting that fits elsewhere must be refused, not overrun the stack.
TEST_F(LuaBridge, DeepNestingAgainstTheStackLimit)
{
    const int kDepth = 20000;
    const std::string nest = "local t = {} for i = 1, " + std::to_string(kDepth) + " do t = {t} end return t";
    const std::string dictNest =
        "local t = {} for i = 1, " + std::to_string(kDepth) + " do t = {k = t} end return t";
    const std::string depthOf = "local d = 0 while v[1] do v = v[1] d = d + 1 end return d == " +
                                std::to_string(kDepth);
    int top = lua_gettop(L);

    Eval(nest);
    Tree within(luaH_tovalue(L, -1));
    ASSERT_NE(nullptr, within.v);
    EXPECT_EQ(kDepth, Depth(within.v));
    Eval(dictNest);
    Tree dictWithin(luaH_tovalue(L, -1));
    ASSERT_NE(nullptr, dictWithin.v);
    EXPECT_EQ(top + 2, lua_gettop(L));

    Tree deep(NestedArrays(kDepth));
    ASSERT_TRUE(luaH_pushvalue(L, deep.v));
    EXPECT_TRUE(Check(depthOf));
    EXPECT_EQ(top + 2, lua_gettop(L));

    // Leave fewer free slots than levels.
    const int kFill = 1000000 - kDepth / 2 - lua_gettop(L);
    ASSERT_TRUE(lua_checkstack(L, kFill));
    for (int i = 0; i < kFill; ++i)
        lua_pushnil(L);
    int full = lua_gettop(L);
    lua_pushvalue(L, top + 1);
    EXPECT_EQ(nullptr, Tree(luaH_tovalue(L, -1)).v);
    lua_pushvalue(L, top + 2);
    EXPECT_EQ(nullptr, Tree(luaH_tovalue(L, -1)).v);
    EXPECT_FALSE(luaH_pushvalue(L, deep.v));
    EXPECT_EQ(full + 2, lua_gettop(L));
    lua_settop(L, top);

    // The state is sound after the refusals.
    ASSERT_TRUE(luaH_pushvalue(L, deep.v));
    EXPECT_TRUE(Check(depthOf));
}

// An allocator with a ceiling, to make Lua run out of memory on purpose.
struct Budget {
    size_t used = 0;
    size_t limit = static_cast<size_t>(-1);
};

void* LimitedAlloc(void* ud, void* ptr, size_t osize, size_t nsize)
{
    Budget* b = static_cast<Budget*>(ud);
    size_t old = ptr ? osize : 0;
    if (nsize == 0) {
        b->used -= old;
        free(ptr);
        return nullptr;
    }
    if (nsize > old && b->used + (nsize - old) > b->limit)
        return nullptr;
    void* p = realloc(ptr, nsize);
    if (p)
        b->used = b->used - old + nsize;
    return p;
}

// The budget is the allocator's context, so it must outlive the state that TearDown closes.
class LimitedLuaBridge : public LuaBridge {
protected:
    void SetUp() override { Open(lua_newstate(LimitedAlloc, &budget)); }

    Budget budget;
};

TEST_F(LimitedLuaBridge, LuaMemoryErrorsStayInside)
{
    int top = lua_gettop(L);

    Tree big(newArrayValue());
    for (int i = 0; i < 20000; ++i)
        insertArrayMember(big.v, -1, newStringValue(("member number " + std::to_string(i)).c_str(), 0));
    budget.limit = budget.used + 64 * 1024;
    EXPECT_FALSE(luaH_pushvalue(L, big.v));
    EXPECT_EQ(top, lua_gettop(L));

    budget.limit = static_cast<size_t>(-1);
    Eval("local t = {} for i = 1, 50000 do t = {t} end return t");
    lua_gc(L, LUA_GCCOLLECT, 0);
    budget.limit = budget.used + 16 * 1024;  // too little for the stack this depth needs
    EXPECT_EQ(nullptr, luaH_tovalue(L, -1));
    EXPECT_EQ(top + 1, lua_gettop(L));
    lua_pop(L, 1);

    budget.limit = static_cast<size_t>(-1);
    ASSERT_TRUE(luaH_pushvalue(L, big.v));
    EXPECT_TRUE(Check("return #v == 20000 and v[20000] == 'member number 19999'"));
}

}  // namespace
