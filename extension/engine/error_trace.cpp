#include "extension/engine/error_trace.h"

extern "C" {
#include <lauxlib.h>
#include <lua.h>
}

#include "extension/engine/error_words.h"
#include "extension/engine/job_runner.h"
#include "extension/limits/memory_cap.h"

namespace {

// The traceback shows the first levels and the last ones, as Lua's own does.
constexpr int kFirstLevel = 2;  // 0 is the builder, 1 the handler
constexpr int kLevelsBefore = 12;
constexpr int kLevelsAfter = 10;

// Registry keys of the handler and its helpers: the addresses of these bytes.
// Not integer slots: those stay few, so that the ones looked up on every call
// are found quickly.
char g_handler_key;
char g_describe_key;
char g_traceback_key;

// [-0, +1, m] The text an error value is reported as: a table or userdata with
// __tostring as what that returns when it is a string, anything else as
// error_value_words words it.
int describe_value(lua_State* L) {
    const int t = lua_type(L, 1);
    if (t == LUA_TSTRING) {
        lua_settop(L, 1);
        return 1;
    }
    if ((t == LUA_TTABLE || t == LUA_TUSERDATA) && luaL_getmetafield(L, 1, "__tostring")) {  // +1
        lua_pushvalue(L, 1);  // +1
        if (lua_pcall(L, 1, 1, 0) == 0 && lua_type(L, -1) == LUA_TSTRING) return 1;  // -2, +1
        lua_settop(L, 1);
    }
    ErrorWords words;
    lua_pushstring(L, error_value_words(L, 1, words));  // +1
    return 1;
}

// Whether level exists and is not an export's job runner, below which the stack
// belongs to whoever called the export.
bool shown_level(lua_State* L, int level, lua_Debug* ar) {
    if (!lua_getstack(L, level, ar)) return false;
    lua_getinfo(L, "f", ar);  // +1 function
    const bool runner = is_job_runner(L, -1);
    lua_settop(L, -2);  // -1
    return !runner;
}

// [-0, +0, m] Adds one traceback line for the level in ar.
void add_level(lua_State* L, luaL_Buffer& b, lua_Debug& ar) {
    lua_getinfo(L, "Snl", &ar);
    luaL_addstring(&b, "\n\t");
    lua_pushfstring(L, "%s:", ar.short_src);  // +1
    luaL_addvalue(&b);                        // -1
    if (ar.currentline > 0) {
        lua_pushfstring(L, "%d:", ar.currentline);  // +1
        luaL_addvalue(&b);                          // -1
    }
    if (*ar.namewhat != '\0') {
        lua_pushfstring(L, " in function '%s'", ar.name);  // +1
        luaL_addvalue(&b);                                 // -1
    } else if (*ar.what == 'm') {
        luaL_addstring(&b, " in main chunk");
    } else if (*ar.what == 'C' || *ar.what == 't') {
        luaL_addstring(&b, " ?");
    } else {
        lua_pushfstring(L, " in function <%s:%d>", ar.short_src, ar.linedefined);  // +1
        luaL_addvalue(&b);                                                         // -1
    }
}

// [-0, +1, m] The message at 1 followed by the traceback of the levels that raised
// it; the message alone when none of them runs Lua code.
int add_traceback(lua_State* L) {
    lua_settop(L, 1);
    lua_Debug ar;
    int end = kFirstLevel;  // the first level not shown
    bool lua_code = false;
    while (shown_level(L, end, &ar)) {
        if (!lua_code) {
            lua_getinfo(L, "S", &ar);
            lua_code = *ar.what != 'C';
        }
        ++end;
    }
    if (!lua_code) return 1;
    luaL_Buffer b;
    luaL_buffinit(L, &b);
    lua_pushvalue(L, 1);  // +1
    luaL_addvalue(&b);    // -1
    luaL_addstring(&b, "\nstack traceback:");
    for (int level = kFirstLevel; level < end; ++level) {
        if (level == kLevelsBefore && level + kLevelsAfter < end - 1) {
            luaL_addstring(&b, "\n\t...");
            level = end - kLevelsAfter;
        }
        lua_getstack(L, level, &ar);
        add_level(L, b, ar);
    }
    luaL_pushresult(&b);  // +1
    return 1;
}

// [-0, +(0 | 1), -] Pushes the C function stored under key and returns true;
// pushes nothing and returns false when a script replaced it.
bool push_helper(lua_State* L, void* key, lua_CFunction f) noexcept {
    lua_pushlightuserdata(L, key);        // +1
    lua_rawget(L, LUA_REGISTRYINDEX);     // -1, +1
    if (lua_tocfunction(L, -1) == f) return true;
    lua_settop(L, -2);  // -1
    return false;
}

// [-0, +0, -] Calls the helper under key with the value on top, which it replaces
// by its result when it succeeds.
void apply(lua_State* L, void* key, lua_CFunction f) noexcept {
    if (!push_helper(L, key, f)) return;  // +1 helper
    lua_pushvalue(L, -2);                 // +1
    if (lua_pcall(L, 1, 1, 0) == 0)       // -2, +1
        lua_replace(L, -2);               // -1
    else
        lua_settop(L, -2);  // -1 error
}

// [-1, +1, -] The message handler. Runs the value through describe_value, then
// add_traceback, each in protected mode: when one fails (out of memory, say) the
// value is handed on as it stands, so the message is not lost. The traceback is
// varnel's own work, built with the engine's memory cap lifted; a script's
// __tostring is not.
int handle_error(lua_State* L) {
    lua_settop(L, 1);
    apply(L, &g_describe_key, describe_value);
    if (lua_type(L, 1) != LUA_TSTRING) return 1;
    MemoryCap* cap = memory_cap_of(L);
    if (cap) ++cap->lifted;
    apply(L, &g_traceback_key, add_traceback);
    if (cap) --cap->lifted;
    return 1;
}

// [-0, +0, m] Stores f in the registry under key.
void store(lua_State* L, void* key, lua_CFunction f) {
    lua_pushlightuserdata(L, key);           // +1
    lua_pushcfunction(L, f);                 // +1
    lua_rawset(L, LUA_REGISTRYINDEX);        // -2
}

// [-0, +0, m] Run by lua_cpcall: stores the handler and its helpers again.
int restore_handlers(lua_State* L) {
    install_error_handler(L);
    return 0;
}

}  // namespace

void install_error_handler(lua_State* L) {
    store(L, &g_handler_key, handle_error);
    store(L, &g_describe_key, describe_value);
    store(L, &g_traceback_key, add_traceback);
}

bool is_error_handler(lua_State* L, int index) noexcept {
    return lua_tocfunction(L, index) == handle_error;
}

int push_error_handler(lua_State* L) noexcept {
    if (push_helper(L, &g_handler_key, handle_error)) return 0;   // +1
    const int status = lua_cpcall(L, restore_handlers, nullptr);  // +0 or +1 error
    if (status != 0) return status;
    push_helper(L, &g_handler_key, handle_error);  // +1
    return 0;
}
