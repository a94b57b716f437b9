// Host-table access and safe string pushes for code that runs inside or next to a script state.
#include "LuaSupport.h"

#include "ScriptImpl.h"

namespace Vellix {

namespace {

struct Bytes {
    const char* text;
    size_t length;
};

int PushBytes(lua_State* L)
{
    const Bytes* bytes = static_cast<const Bytes*>(lua_touserdata(L, 1));
    lua_pushlstring(L, bytes->text, bytes->length);
    return 1;
}

}  // namespace

bool PushHostTable(lua_State* L)
{
    lua_rawgeti(L, LUA_REGISTRYINDEX, LUA_RIDX_GLOBALS);
    lua_pushstring(L, HostTableName());
    lua_rawget(L, -2);
    lua_remove(L, -2);
    if (lua_istable(L, -1))
        return true;
    lua_pop(L, 1);
    return false;
}

void PushHostField(lua_State* L, const char* key)
{
    if (!PushHostTable(L)) {
        lua_pushnil(L);
        return;
    }
    lua_pushstring(L, key);
    lua_rawget(L, -2);
    lua_remove(L, -2);
}

VxScriptImpl* ScriptOf(lua_State* L)
{
    return VxScriptImpl::FromState(L);
}

unsigned GetScriptCodePage(lua_State* L, unsigned defaultPage)
{
    unsigned page = defaultPage;
    PushHostField(L, "CodePage");
    if (lua_type(L, -1) == LUA_TNUMBER) {
        page = static_cast<unsigned>(lua_tointeger(L, -1));
    } else {
        lua_rawgeti(L, LUA_REGISTRYINDEX, LUA_RIDX_GLOBALS);
        lua_pushstring(L, "VxCP");
        lua_rawget(L, -2);
        if (lua_type(L, -1) == LUA_TNUMBER)
            page = static_cast<unsigned>(lua_tointeger(L, -1));
        lua_pop(L, 2);
    }
    lua_pop(L, 1);
    return page;
}

bool PushStringProtected(lua_State* L, const char* text, size_t length)
{
    Bytes bytes = {text, length};
    lua_pushcfunction(L, PushBytes);
    lua_pushlightuserdata(L, &bytes);
    return lua_pcall(L, 1, 1, 0) == 0;
}

std::string ErrorText(lua_State* L, int index)
{
    size_t length = 0;
    const char* text = lua_tolstring(L, index, &length);
    if (text)
        return std::string(text, length);
    return std::string("(error object is a ") + luaL_typename(L, index) + " value)";
}

}  // namespace Vellix
