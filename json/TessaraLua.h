/* Tessara's bridge between JSON value trees and the Lua 5.2 stack of a caller's state. */
#ifndef TESSARA_LUA_H
#define TESSARA_LUA_H

#include "Tessara.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct lua_State lua_State;

/* The value at index as a new tree owned by the caller; null for a value that is not converted, a
   nesting deeper than the Lua stack allows, or no memory. The stack is left as it was. */
TESSARA_API JsonValue* TESSARA_CALL luaH_tovalue(lua_State* L, int index);

/* Pushes the tree at v (as a root, even when it is a member) as one Lua value and returns true;
   false with nothing pushed for a null value, no stack room or no memory. */
TESSARA_API bool TESSARA_CALL luaH_pushvalue(lua_State* L, JsonValue* v);

#ifdef __cplusplus
}
#endif

#endif
