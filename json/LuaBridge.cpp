// Lua values to JSON trees and back. Both directions walk without recursion and run inside a
// protected call, so a Lua memory error never jumps over the walk's C++ state nor reaches the
// caller; the walk asks the Lua state for room at every value, and a refusal is a failure.
#include <lua.hpp>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <new>
#include <unordered_set>
#include <vector>

#include "JsonValue.h"
#include "TessaraLua.h"

namespace {

// Stack slots one open table needs: the table, its iteration key, the member in hand and a spare.
const int kLevelSlots = 4;

struct Frame {
    JsonValue* container;
    int table;  // stack index of the Lua table
    const void* identity;
    bool array;
    bool byKeys;  // arrays: still going through the numeric keys in ascending order
    size_t next;
    std::vector<lua_Number> keys;
};

class ToValueWalk {
public:
    JsonValue* root = nullptr;
    bool failed = false;

    // The value to convert is at index 1 of the protected call.
    void Run(lua_State* L)
    {
        Take(L, nullptr, nullptr);
        while (!failed && !frames_.empty())
            Step(L);
    }

    ~ToValueWalk() { deleteValue(&root); }

private:
    static bool IsInt32(lua_Number d) { return d >= INT_MIN && d <= INT_MAX && d == static_cast<int>(d); }

    static JsonValue* Scalar(lua_State* L, int type)
    {
        switch (type) {
        case LUA_TNIL:
            return newNullValue();
        case LUA_TBOOLEAN:
            return newBooleanValue(lua_toboolean(L, -1));
        case LUA_TNUMBER: {
            lua_Number d = lua_tonumberx(L, -1, nullptr);
            return IsInt32(d) ? newIntegerValue(static_cast<int>(d)) : newNumberValue(d);
        }
        case LUA_TSTRING: {
            size_t n = 0;
            const char* s = lua_tolstring(L, -1, &n);
            return n > INT_MAX ? nullptr : newStringValue(s, static_cast<int>(n));
        }
        default:
            return nullptr;  // functions, userdata and threads are left out
        }
    }

    // A dictionary key as text: strings unchanged, numbers in Lua's own form, others none.
    static const char* KeyText(lua_State* L, int index, char (&buffer)[40])
    {
        int type = lua_type(L, index);
        if (type == LUA_TSTRING) {
            const char* key = lua_tolstring(L, index, nullptr);
            return *key ? key : nullptr;
        }
        if (type == LUA_TNUMBER) {
            snprintf(buffer, sizeof buffer, LUA_NUMBER_FMT, lua_tonumberx(L, index, nullptr));
            return buffer;
        }
        return nullptr;
    }

    bool Attach(JsonValue* parent, const char* key, JsonValue* v)
    {
        if (!parent) {
            root = v;
            return true;
        }
        if (parent->type == JSON_ARRAY)
            return jsonArrayAppend(parent, v);
        return jsonDictSet(parent, key, strlen(key), v);
    }

    // Converts the value on top into a member of parent (or the root) and pops it, except a
    // non-empty table, which stays on the stack as the table of a new frame.
    void Take(lua_State* L, JsonValue* parent, const char* key)
    {
        int type = lua_type(L, -1);
        if (type != LUA_TTABLE) {
            JsonValue* v = Scalar(L, type);
            if (v && !Attach(parent, key, v))
                deleteValue(&v);
            lua_pop(L, 1);
            return;
        }
        if (!lua_checkstack(L, kLevelSlots)) {
            failed = true;
            return;
        }
        const void* identity = lua_topointer(L, -1);
        lua_pushnil(L);
        if (!lua_next(L, -2)) {  // an empty table is an empty dictionary
            JsonValue* v = newDictionaryValue();
            if (v && !Attach(parent, key, v))
                deleteValue(&v);
            lua_pop(L, 1);
            return;
        }
        bool array = lua_type(L, -2) == LUA_TNUMBER;
        lua_pop(L, 2);
        // A table inside itself is left out where it recurs, or the walk would never end.
        if (open_.count(identity)) {
            lua_pop(L, 1);
            return;
        }
        JsonValue* v = array ? newArrayValue() : newDictionaryValue();
        if (!v || !Attach(parent, key, v)) {
            deleteValue(&v);
            lua_pop(L, 1);
            return;
        }
        Frame f{v, lua_gettop(L), identity, array, array, 0, {}};
        if (array) {
            // Members go in ascending key order, not in the table's own iteration order.
            lua_pushnil(L);
            while (lua_next(L, f.table)) {
                if (lua_type(L, -2) == LUA_TNUMBER)
                    f.keys.push_back(lua_tonumberx(L, -2, nullptr));
                lua_pop(L, 1);
            }
            std::sort(f.keys.begin(), f.keys.end());
        } else {
            lua_pushnil(L);
        }
        open_.insert(identity);
        frames_.push_back(std::move(f));
    }

    void Step(lua_State* L)
    {
        Frame& f = frames_.back();
        if (f.byKeys) {
            if (f.next < f.keys.size()) {
                lua_pushnumber(L, f.keys[f.next++]);
                lua_rawget(L, f.table);
                Take(L, f.container, nullptr);
                return;
            }
            f.byKeys = false;
            lua_pushnil(L);
        }
        if (!lua_next(L, f.table)) {
            open_.erase(f.identity);
            frames_.pop_back();
            lua_pop(L, 1);  // the finished table; its parent's key stays for the parent's iteration
            return;
        }
        if (f.array) {
            if (lua_type(L, -2) == LUA_TNUMBER)
                lua_pop(L, 1);  // taken in key order already
            else
                Take(L, f.container, nullptr);
            return;
        }
        char buffer[40];
        const char* key = KeyText(L, -2, buffer);
        if (key)
            Take(L, f.container, key);
        else
            lua_pop(L, 1);
    }

    std::vector<Frame> frames_;
    std::unordered_set<const void*> open_;
};

int ToValueProtected(lua_State* L)
{
    ToValueWalk* walk = static_cast<ToValueWalk*>(lua_touserdata(L, 2));
    lua_settop(L, 1);
    try {
        walk->Run(L);
    } catch (...) {  // no C++ exception may cross Lua's C frames
        walk->failed = true;
    }
    return 0;
}

struct PushWalk {
    lua_State* L;
    JsonValue* root;
    bool failed;
};

void PushScalar(lua_State* L, JsonValue* v)
{
    switch (v->type) {
    case JSON_BOOLEAN:
        lua_pushboolean(L, toBoolean(v));
        break;
    case JSON_NUMBER:
        if (isInteger(v))
            lua_pushinteger(L, toInteger(v));
        else
            lua_pushnumber(L, toNumber(v));
        break;
    case JSON_STRING:
        lua_pushlstring(L, getCString(v), static_cast<size_t>(getStringLength(v)));
        break;
    case JSON_ARRAY:
    case JSON_DICTIONARY:
        lua_createtable(L, 0, 0);
        break;
    default:
        lua_pushnil(L);
    }
}

// A member is pushed as key and value; a container stays open on the stack above its key until
// its members are stored, and is stored into its parent when left.
int TESSARA_CALL PushVisit(int event, JsonValue* v, void* user)
{
    PushWalk* walk = static_cast<PushWalk*>(user);
    lua_State* L = walk->L;
    if (walk->failed)
        return 0;
    bool member = v != walk->root;
    if (event == JSON_ENTER) {
        if (!lua_checkstack(L, kLevelSlots)) {
            walk->failed = true;
            return 0;
        }
        if (member) {
            if (v->parent->type == JSON_ARRAY)
                lua_pushinteger(L, v->slot.index + 1);
            else
                lua_pushstring(L, v->slot.entry->key);
        }
        PushScalar(L, v);
        if (member && !jsonIsContainer(v))
            lua_rawset(L, -3);
    } else if (event == JSON_LEAVE && member) {
        lua_rawset(L, -3);
    }
    return 0;
}

int PushProtected(lua_State* L)
{
    PushWalk* walk = static_cast<PushWalk*>(lua_touserdata(L, 1));
    lua_settop(L, 0);
    walk->L = L;
    valueTraverse(walk->root, PushVisit, walk);
    if (walk->failed)
        return 0;
    return 1;
}

}  // namespace

extern "C" {

JsonValue* TESSARA_CALL luaH_tovalue(lua_State* L, int index)
{
    if (!L)
        return nullptr;
    int top = lua_gettop(L);
    if (index > LUA_REGISTRYINDEX) {
        if (index < 0)
            index = top + index + 1;
        if (index <= 0 || index > top)
            return nullptr;
    }
    if (!lua_checkstack(L, 3))
        return nullptr;
    ToValueWalk walk;
    lua_pushcfunction(L, ToValueProtected);
    lua_pushvalue(L, index);
    lua_pushlightuserdata(L, &walk);
    int status = lua_pcall(L, 2, 0, 0);
    lua_settop(L, top);
    if (status != LUA_OK || walk.failed)
        return nullptr;
    JsonValue* root = walk.root;
    walk.root = nullptr;
    return root;
}

bool TESSARA_CALL luaH_pushvalue(lua_State* L, JsonValue* v)
{
    if (!L || !v || !lua_checkstack(L, 2))
        return false;
    int top = lua_gettop(L);
    PushWalk walk{L, v, false};
    lua_pushcfunction(L, PushProtected);
    lua_pushlightuserdata(L, &walk);
    int status = lua_pcall(L, 1, 1, 0);
    if (status != LUA_OK || walk.failed) {
        lua_settop(L, top);
        return false;
    }
    return true;
}

}  // extern "C"
