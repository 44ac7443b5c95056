// debug.getupvalue and debug.setupvalue that never touch a C function's upvalues.
#include "extension/lua/engine_libraries.h"

extern "C" {
#include <lauxlib.h>
#include <lua.h>
}

namespace {

// [-0, +(0|1|2), v] debug.getupvalue (get) or debug.setupvalue: f, n [, value].
// Lua functions as in Lua 5.1.5's debug library; C functions give no results.
int upvalue_access(lua_State* L, bool get) {
    if (!get) luaL_checkany(L, 3);  // the arguments are checked in Lua 5.1.5's order
    const int n = luaL_checkint(L, 2);
    luaL_checktype(L, 1, LUA_TFUNCTION);
    if (lua_iscfunction(L, 1)) return 0;
    const char* name = get ? lua_getupvalue(L, 1, n)   // +1 value or +0
                           : lua_setupvalue(L, 1, n);  // -1 value or -0
    if (!name) return 0;
    lua_pushstring(L, name);                      // +1 name
    if (get) lua_insert(L, -2);                   // name, value
    return get ? 2 : 1;
}

// [-0, +(0|2), v]
int debug_getupvalue(lua_State* L) { return upvalue_access(L, true); }
// [-0, +(0|1), v]
int debug_setupvalue(lua_State* L) { return upvalue_access(L, false); }

}  // namespace

void adjust_engine_libraries(lua_State* L) {
    lua_getfield(L, LUA_GLOBALSINDEX, "debug");  // +1 debug library
    if (lua_istable(L, -1)) {
        lua_pushcfunction(L, debug_getupvalue);  // +1
        lua_setfield(L, -2, "getupvalue");       // -1
        lua_pushcfunction(L, debug_setupvalue);  // +1
        lua_setfield(L, -2, "setupvalue");       // -1
    }
    lua_pop(L, 1);  // -1 debug library
}
