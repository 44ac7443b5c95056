#include "extension/limits/coroutine_watch.h"

extern "C" {
#include <lauxlib.h>
}

#include "extension/limits/engine_jit.h"
#include "extension/limits/weak_table.h"

namespace {

// Registry key of the weak-keyed table of coroutines: the address of this byte.
char g_coroutines_key;

// [-0, +0, m] Notes the coroutine at index (negative: from the top).
void note(lua_State* L, int index) {
    lua_pushvalue(L, index);                      // +1 coroutine
    lua_pushlightuserdata(L, &g_coroutines_key);  // +1
    lua_rawget(L, LUA_REGISTRYINDEX);             // -1, +1 table
    if (lua_type(L, -1) != LUA_TTABLE) {
        lua_settop(L, -3);  // -2: a script replaced it, and nothing is noted
        return;
    }
    lua_insert(L, -2);              // the table below the coroutine
    lua_pushboolean(L, 1);          // +1
    lua_rawset(L, -3);              // -2
    lua_settop(L, -2);              // -1 table
}

// The check the standard create and wrap make, made here so that its message
// names the function the script called. LuaJIT runs a C function as a coroutine
// too; Lua 5.1.5 wants a Lua one.
void check_body(lua_State* L) {
    if (engine_runs_luajit())
        luaL_checktype(L, 1, LUA_TFUNCTION);
    else
        luaL_argcheck(L, lua_isfunction(L, 1) && !lua_iscfunction(L, 1), 1, "Lua function expected");
}

// [-n, +1, e] Lua: coroutine.create(f), the standard one (upvalue 1) noting its result.
int watched_create(lua_State* L) {
    check_body(L);
    lua_pushvalue(L, lua_upvalueindex(1));  // +1
    lua_insert(L, 1);
    lua_call(L, lua_gettop(L) - 1, 1);  // -n, +1 coroutine
    note(L, -1);
    return 1;
}

// [-n, +1, e] Lua: coroutine.wrap(f), the standard one (upvalue 1) noting the
// coroutine its result resumes (that function's upvalue).
int watched_wrap(lua_State* L) {
    check_body(L);
    lua_pushvalue(L, lua_upvalueindex(1));  // +1
    lua_insert(L, 1);
    lua_call(L, lua_gettop(L) - 1, 1);  // -n, +1 function
    if (lua_getupvalue(L, -1, 1)) {     // +1
        if (lua_type(L, -1) == LUA_TTHREAD) note(L, -1);
        lua_settop(L, -2);  // -1
    }
    return 1;
}

// [-0, +0, m] Replaces coroutine[name] with f, which keeps the standard one.
void replace(lua_State* L, int library, const char* name, lua_CFunction f) {
    lua_getfield(L, library, name);  // +1 standard
    lua_pushcclosure(L, f, 1);       // -1, +1
    lua_setfield(L, library, name);  // -1
}

}  // namespace

void watch_coroutines(lua_State* L) {
    store_weak_keyed_table(L, &g_coroutines_key);
    lua_getfield(L, LUA_GLOBALSINDEX, "coroutine");  // +1
    if (lua_type(L, -1) == LUA_TTABLE) {
        const int library = lua_gettop(L);
        replace(L, library, "create", watched_create);
        replace(L, library, "wrap", watched_wrap);
    }
    lua_settop(L, -2);  // -1
}

void each_coroutine(lua_State* L, void (*visit)(lua_State* L, lua_State* co, void* data), void* data) noexcept {
    lua_pushlightuserdata(L, &g_coroutines_key);  // +1
    lua_rawget(L, LUA_REGISTRYINDEX);             // -1, +1 table
    if (lua_type(L, -1) == LUA_TTABLE) {
        lua_pushnil(L);  // +1 first key
        while (lua_next(L, -2)) {  // -1 key, +2 key and value
            lua_State* co = lua_tothread(L, -2);
            if (co && co != L) visit(L, co, data);
            lua_settop(L, -2);  // -1 value
        }
    }
    lua_settop(L, -2);  // -1 table
}
