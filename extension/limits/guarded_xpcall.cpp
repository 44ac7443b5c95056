#include "extension/limits/guarded_xpcall.h"

extern "C" {
#include <lauxlib.h>
#include <lua.h>
}

#include "extension/limits/run_clock.h"

namespace {

bool expired() noexcept { return g_run_clock && g_run_clock->expired; }

// [-n, +1, e] The message handler xpcall installs under a limit: the script's
// handler (upvalue 1), unless the clock has expired, when the error value goes
// on as it is.
int guarded_handler(lua_State* L) {
    if (expired()) {
        lua_settop(L, 1);
        return 1;
    }
    lua_pushvalue(L, lua_upvalueindex(1));  // +1 the script's handler
    lua_insert(L, 1);
    lua_call(L, lua_gettop(L) - 1, 1);  // -(n + 1), +1
    return 1;
}

// [-2, +n, e] Lua: xpcall(f, handler), as the standard one; under a limit the
// handler is called through guarded_handler.
int guarded_xpcall(lua_State* L) {
    luaL_checkany(L, 2);
    lua_settop(L, 2);
    if (has_limit(g_run_clock)) lua_pushcclosure(L, guarded_handler, 1);  // -1 handler, +1
    lua_insert(L, 1);  // the handler under the function
    const int status = lua_pcall(L, 0, LUA_MULTRET, 1);
    lua_pushboolean(L, status == 0);  // +1
    lua_replace(L, 1);                // -1
    return lua_gettop(L);
}

}  // namespace

void guard_xpcall(lua_State* L) {
    lua_pushcfunction(L, guarded_xpcall);         // +1
    lua_setfield(L, LUA_GLOBALSINDEX, "xpcall");  // -1
}
