// The "JsInterpreter" object of the host module: a Lua userdata that owns one Duktape heap, so site
// scripts can run the JavaScript that some pages carry.
#include <cstdlib>

#include <duktape.h>

#include "LuaSupport.h"
#include "common/Log.h"

namespace Vellix {

const char kJsMetatable[] = "vxapi2.js";

namespace {

struct JsObject {
    duk_context* heap;  // null when creating the heap failed
};

void* JsAlloc(void*, duk_size_t size)
{
    return std::malloc(size);
}

void* JsRealloc(void*, void* block, duk_size_t size)
{
    return std::realloc(block, size);
}

void JsFree(void*, void* block)
{
    std::free(block);
}

[[noreturn]] void JsFatal(void*, const char* message)
{
    Brimholt::Log << "JavaScript engine failed: " << (message ? message : "") << std::endl;
    std::abort();
}

duk_context* CreateHeap()
{
    return duk_create_heap(JsAlloc, JsRealloc, JsFree, nullptr, JsFatal);
}

void DestroyHeap(JsObject* object)
{
    if (object->heap) {
        duk_destroy_heap(object->heap);
        object->heap = nullptr;  // a script may call __gc itself and go on using the object
    }
}

int Eval(lua_State* L)
{
    JsObject* object = static_cast<JsObject*>(luaL_checkudata(L, 1, kJsMetatable));
    if (!lua_isstring(L, 2) || !object->heap) {
        lua_pushnil(L);
        return 1;
    }
    size_t length = 0;
    const char* code = lua_tolstring(L, 2, &length);
    duk_context* heap = object->heap;
    if (duk_peval_lstring(heap, code, length) != 0) {
        duk_pop(heap);
        lua_pushnil(L);
        return 1;
    }
    switch (duk_get_type(heap, -1)) {
    case DUK_TYPE_NUMBER:
        lua_pushinteger(L, duk_to_int(heap, -1));
        break;
    case DUK_TYPE_STRING: {
        duk_size_t size = 0;
        const char* text = duk_get_lstring(heap, -1, &size);
        lua_pushlstring(L, text, size);
        break;
    }
    default:
        lua_pushnil(L);
        break;
    }
    duk_pop(heap);
    return 1;
}

int Run(lua_State* L)
{
    JsObject* object = static_cast<JsObject*>(luaL_checkudata(L, 1, kJsMetatable));
    if (!lua_isstring(L, 2)) {
        lua_pushboolean(L, 0);
        return 1;
    }
    size_t length = 0;
    const char* code = lua_tolstring(L, 2, &length);
    if (lua_type(L, 3) == LUA_TBOOLEAN && lua_toboolean(L, 3)) {
        DestroyHeap(object);
        object->heap = CreateHeap();
    }
    bool ok = object->heap && duk_peval_lstring_noresult(object->heap, code, length) == 0;
    lua_pushboolean(L, ok);
    return 1;
}

int Collect(lua_State* L)
{
    DestroyHeap(static_cast<JsObject*>(luaL_checkudata(L, 1, kJsMetatable)));
    return 0;
}

const luaL_Reg kMethods[] = {
    {"__gc", Collect},
    {"Eval", Eval},
    {"Run", Run},
    {nullptr, nullptr},
};

}  // namespace

void CreateJsMetatable(lua_State* L)
{
    luaL_newmetatable(L, kJsMetatable);
    lua_pushvalue(L, -1);
    lua_setfield(L, -2, "__index");
    luaL_setfuncs(L, kMethods, 0);
    lua_pop(L, 1);
}

int NewJsInterpreter(lua_State* L)
{
    JsObject* object = static_cast<JsObject*>(lua_newuserdata(L, sizeof(JsObject)));
    object->heap = nullptr;
    luaL_setmetatable(L, kJsMetatable);
    object->heap = CreateHeap();
    return 1;
}

}  // namespace Vellix
