# The Lua value bridge, tested on real Lua states.
vx_add_test(luabridge_test SOURCES luabridge_test.cpp LIBS Tessara dep::lua)
