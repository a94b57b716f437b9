// Lua-side helpers shared by the script object, the host module and the JavaScript object.
// Lua raises errors with longjmp: a function that may raise must have no C++ object with a
// destructor alive in its frame. The helpers here that do C++ work return instead of raising.
#pragma once

#include <lua.hpp>

#include <string>

namespace Vellix {

class VxScriptImpl;

// Pushes the host table (looked up without metamethods) and returns true; pushes nothing and returns
// false when the global is not a table.
bool PushHostTable(lua_State* L);
// Pushes host[key] (nil when absent or without a host table).
void PushHostField(lua_State* L, const char* key);
// The script object that owns the state, or null; never what host["Object"] says.
VxScriptImpl* ScriptOf(lua_State* L);
// host["CodePage"], else the global "VxCP", else defaultPage.
unsigned GetScriptCodePage(lua_State* L, unsigned defaultPage);

// Pushes a copy of the bytes without raising: false when Lua refused, with its error value pushed
// in place of the string, for the caller to raise once its C++ objects are gone.
bool PushStringProtected(lua_State* L, const char* text, size_t length);
inline bool PushStringProtected(lua_State* L, const std::string& text)
{
    return PushStringProtected(L, text.data(), text.size());
}

// The string form of the value at index, or a text that names its type.
std::string ErrorText(lua_State* L, int index);

int OpenVxApi2(lua_State* L);

// The JavaScript interpreter object: its metatable (made by the module opener) and its factory.
extern const char kJsMetatable[];
void CreateJsMetatable(lua_State* L);
int NewJsInterpreter(lua_State* L);

}  // namespace Vellix
