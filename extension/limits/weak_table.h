// A registry table whose keys do not keep their values alive: what the limits
// note per coroutine, so that noting one keeps none from being collected.
#pragma once

extern "C" {
#include <lua.h>
}

// [-0, +0, m] Stores a new table with weak keys in the registry under the light
// userdata key.
inline void store_weak_keyed_table(lua_State* L, void* key) {
    lua_pushlightuserdata(L, key);     // +1
    lua_newtable(L);                   // +1 the table
    lua_newtable(L);                   // +1 its metatable
    lua_pushliteral(L, "k");           // +1
    lua_setfield(L, -2, "__mode");     // -1
    lua_setmetatable(L, -2);           // -1
    lua_rawset(L, LUA_REGISTRYINDEX);  // -2
}
