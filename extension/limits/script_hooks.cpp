#include "extension/limits/script_hooks.h"

#include <cstring>

extern "C" {
#include <lauxlib.h>
}

#include "extension/limits/engine_jit.h"
#include "extension/limits/run_clock.h"
#include "extension/limits/weak_table.h"

namespace {

// Registry key of the weak-keyed table of the scripts' hooks: the address of
// this byte. A thread (on LuaJIT: true, for all threads) maps to its record.
char g_hooks_key;

// A record's fields: the function, the mask, the count, and the VM instructions
// counted towards the script's next count event.
enum Field { kFunction = 1, kMask = 2, kCount = 3, kCounted = 4 };

const char* const kEventNames[] = {"call", "return", "line", "count", "tail return"};

// [-0, +1, -] Pushes the key thread's record is kept under.
void push_owner(lua_State* L, lua_State* thread) noexcept {
    static const bool shared = engine_runs_luajit();
    if (shared) {
        lua_pushboolean(L, 1);  // +1
        return;
    }
    lua_pushthread(thread);   // +1 on thread
    lua_xmove(thread, L, 1);  // -1 there, +1 here
}

// [-0, +(0 | 1), -] Pushes thread's record and returns true, or pushes nothing.
bool push_record(lua_State* L, lua_State* thread) noexcept {
    lua_pushlightuserdata(L, &g_hooks_key);  // +1
    lua_rawget(L, LUA_REGISTRYINDEX);        // -1, +1 hooks
    if (!lua_istable(L, -1)) {
        lua_settop(L, -2);  // -1
        return false;
    }
    push_owner(L, thread);  // +1
    lua_rawget(L, -2);      // -1, +1 record
    lua_remove(L, -2);      // -1 hooks
    if (lua_istable(L, -1)) return true;
    lua_settop(L, -2);  // -1
    return false;
}

int field(lua_State* L, int record, Field f) noexcept {
    lua_rawgeti(L, record, f);  // +1
    const int value = static_cast<int>(lua_tointeger(L, -1));
    lua_settop(L, -2);  // -1
    return value;
}

void engine_hook(lua_State* L, lua_Debug* ar);

// Sets thread's hook for a script's mask and count beside the limit's count.
void set_combined(lua_State* thread, int mask, int count, int limit_count) noexcept {
    if (!(mask & LUA_MASKCOUNT)) count = 0;
    if (limit_count > 0) {
        mask |= LUA_MASKCOUNT;
        count = count > 0 && count < limit_count ? count : limit_count;
    }
    if (mask == 0) {
        lua_sethook(thread, nullptr, 0, 0);
        return;
    }
    if (lua_gethook(thread) != engine_hook || lua_gethookmask(thread) != mask || lua_gethookcount(thread) != count)
        lua_sethook(thread, engine_hook, mask, count);
}

int mask_of(const char* s, int count) noexcept {
    int mask = 0;
    if (strchr(s, 'c')) mask |= LUA_MASKCALL;
    if (strchr(s, 'r')) mask |= LUA_MASKRET;
    if (strchr(s, 'l')) mask |= LUA_MASKLINE;
    if (count > 0) mask |= LUA_MASKCOUNT;
    return mask;
}

// [-0, +0, e] Calls the script's hook of record (at index) for ar's event, as
// Lua's debug library does: the event's name and the line, or nil.
void call_script_hook(lua_State* L, int record, lua_Debug* ar, int count) {
    const int mask = field(L, record, kMask);
    if (ar->event == LUA_HOOKCOUNT) {
        const int every = field(L, record, kCount);
        if (!(mask & LUA_MASKCOUNT) || every <= 0) return;
        const int counted = field(L, record, kCounted) + count;
        lua_pushinteger(L, counted % every);  // +1
        lua_rawseti(L, record, kCounted);     // -1
        if (counted < every) return;
    } else if (!(mask & (1 << (ar->event == LUA_HOOKTAILRET ? LUA_HOOKRET : ar->event)))) {
        return;
    }
    lua_rawgeti(L, record, kFunction);  // +1
    lua_pushstring(L, kEventNames[ar->event]);  // +1
    if (ar->currentline >= 0)
        lua_pushinteger(L, ar->currentline);  // +1
    else
        lua_pushnil(L);  // +1
    lua_call(L, 2, 0);   // -3
    run_clock_check(L);  // a slow hook function is stopped once it returns
}

// [-0, +0, e] The hook of every engine thread that has one.
void engine_hook(lua_State* L, lua_Debug* ar) {
    const int count = lua_gethookcount(L);
    const int limit_count = ar->event == LUA_HOOKCOUNT ? run_clock_tick(L, count) : run_clock_hook_count(L);
    if (!push_record(L, L)) {  // +1 record, or +0
        set_combined(L, 0, 0, limit_count);
        return;
    }
    const int record = lua_gettop(L);
    if (ar->event == LUA_HOOKCOUNT)
        set_combined(L, field(L, record, kMask), field(L, record, kCount), limit_count);
    call_script_hook(L, record, ar, count);
    lua_settop(L, record - 1);  // -1 record
}

// [-0, +0, e] Stores the script's hook record for thread, or none (nil on top).
void store_record(lua_State* L, lua_State* thread) {
    lua_pushlightuserdata(L, &g_hooks_key);  // +1
    lua_rawget(L, LUA_REGISTRYINDEX);        // -1, +1 hooks
    if (!lua_istable(L, -1)) luaL_error(L, "the engine's hook table is gone");
    push_owner(L, thread);  // +1
    lua_pushvalue(L, -3);   // +1 record or nil
    lua_rawset(L, -3);      // -2
    lua_settop(L, -3);      // -2 hooks and record
}

// The thread a debug function was given as its first argument, or L; *arg is 1
// when one was given.
lua_State* thread_arg(lua_State* L, int* arg) {
    *arg = lua_isthread(L, 1) ? 1 : 0;
    return *arg ? lua_tothread(L, 1) : L;
}

// [-n, +0, e] Lua: debug.sethook([thread,] f, mask [, count]), as Lua 5.1.5's.
int script_sethook(lua_State* L) {
    int arg;
    lua_State* thread = thread_arg(L, &arg);
    if (lua_isnoneornil(L, arg + 1)) {
        lua_pushnil(L);  // +1 no record
    } else {
        const char* smask = luaL_checkstring(L, arg + 2);
        luaL_checktype(L, arg + 1, LUA_TFUNCTION);
        const int count = luaL_optint(L, arg + 3, 0);
        lua_createtable(L, 4, 0);      // +1 record
        lua_pushvalue(L, arg + 1);     // +1
        lua_rawseti(L, -2, kFunction);  // -1
        lua_pushinteger(L, mask_of(smask, count));  // +1
        lua_rawseti(L, -2, kMask);                  // -1
        lua_pushinteger(L, count);                  // +1
        lua_rawseti(L, -2, kCount);                 // -1
        lua_pushinteger(L, 0);                      // +1
        lua_rawseti(L, -2, kCounted);               // -1
    }
    store_record(L, thread);  // -1
    refresh_hook(L, thread, run_clock_hook_count(L));
    return 0;
}

// [-n, +3, e] Lua: debug.gethook([thread]): the script's hook, its mask and count.
int script_gethook(lua_State* L) {
    int arg;
    lua_State* thread = thread_arg(L, &arg);
    if (!push_record(L, thread)) {  // +1 record, or +0
        lua_pushnil(L);             // +1
        lua_pushliteral(L, "");     // +1
        lua_pushinteger(L, 0);      // +1
        return 3;
    }
    const int record = lua_gettop(L);
    const int mask = field(L, record, kMask);
    char smask[4];
    int n = 0;
    if (mask & LUA_MASKCALL) smask[n++] = 'c';
    if (mask & LUA_MASKRET) smask[n++] = 'r';
    if (mask & LUA_MASKLINE) smask[n++] = 'l';
    lua_rawgeti(L, record, kFunction);   // +1
    lua_pushlstring(L, smask, n);        // +1
    lua_rawgeti(L, record, kCount);      // +1
    return 3;
}

}  // namespace

void install_script_hooks(lua_State* L) {
    store_weak_keyed_table(L, &g_hooks_key);  // the scripts' hooks, by thread
    lua_getfield(L, LUA_GLOBALSINDEX, "debug");  // +1
    if (lua_istable(L, -1)) {
        lua_pushcfunction(L, script_sethook);  // +1
        lua_setfield(L, -2, "sethook");        // -1
        lua_pushcfunction(L, script_gethook);  // +1
        lua_setfield(L, -2, "gethook");        // -1
    }
    lua_settop(L, -2);  // -1
}

void refresh_hook(lua_State* L, lua_State* thread, int limit_count) noexcept {
    if (!push_record(L, thread)) {  // +1 record, or +0
        set_combined(thread, 0, 0, limit_count);
        return;
    }
    set_combined(thread, field(L, -1, kMask), field(L, -1, kCount), limit_count);
    lua_settop(L, -2);  // -1 record
}
