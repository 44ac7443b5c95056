#include "extension/limits/guarded_xpcall.h"

extern "C" {
#include <lauxlib.h>
#include <lua.h>
}

#include "extension/limits/engine_jit.h"
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

// [-2, +n, e] Lua: xpcall(f, handler), as Lua 5.1.5's; under a limit the handler
// is called through guarded_handler.
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

// [-n, +n, m] On LuaJIT: xpcall's arguments, returned as they came but for the
// handler (2), which a limit puts under guarded_handler. A handler that is not a
// function goes on unchanged, for the standard xpcall to refuse.
int guard_handler_argument(lua_State* L) {
    if (lua_isfunction(L, 2) && has_limit(g_run_clock)) {
        lua_pushvalue(L, 2);                      // +1 the script's handler
        lua_pushcclosure(L, guarded_handler, 1);  // -1, +1
        lua_replace(L, 2);                        // -1
    }
    return lua_gettop(L);
}

// LuaJIT's xpcall passes its arguments after the handler on to the function,
// and a coroutine may yield inside it: it runs on Lua's stack, not the C one.
// A C function around it would end both, so this one is Lua, and tail-calls it.
const char kLuaJitXpcall[] =
    "local xpcall, guard = ...\n"
    "return function(...) return xpcall(guard(...)) end";

// [-0, +0, m] Replaces xpcall with kLuaJitXpcall around the standard one.
void guard_luajit_xpcall(lua_State* L) {
    if (luaL_loadbuffer(L, kLuaJitXpcall, sizeof kLuaJitXpcall - 1, "=xpcall"))  // +1
        lua_error(L);  // -1
    lua_getfield(L, LUA_GLOBALSINDEX, "xpcall");    // +1 standard
    lua_pushcfunction(L, guard_handler_argument);  // +1
    lua_call(L, 2, 1);                             // -3, +1
    lua_setfield(L, LUA_GLOBALSINDEX, "xpcall");   // -1
}

}  // namespace

void guard_xpcall(lua_State* L) {
    if (engine_runs_luajit()) {
        guard_luajit_xpcall(L);
        return;
    }
    lua_pushcfunction(L, guarded_xpcall);         // +1
    lua_setfield(L, LUA_GLOBALSINDEX, "xpcall");  // -1
}
