#include "extension/lua/sandbox.h"

#include <cstdio>
#include <cstring>

extern "C" {
#include <lauxlib.h>
#include <lua.h>
}

#include "extension/limits/engine_jit.h"
#include "extension/lua/file_chunk.h"

namespace {

constexpr char kBinaryRefused[] = "binary chunks are not loaded in a sandboxed engine";

// What a sandboxed engine loses and keeps: the whole of the change.

// Globals removed: loading code from files, the module system, the engine's
// own libraries on LuaJIT, and the libraries that reach files and the process.
const char* const kRemovedGlobals[] = {"dofile", "loadfile", "require", "module", "io", "package", "jit", "bit"};

// Fields removed from a library that stays.
struct Removed {
    const char* library;
    const char* name;
};
const Removed kRemovedFields[] = {{"string", "dump"}};

// Libraries cut down to the names listed.
struct KeptOnly {
    const char* library;
    const char* names[5];  // null-terminated
};
const KeptOnly kKeptOnly[] = {
    {"os", {"clock", "date", "difftime", "time", nullptr}},
    {"debug", {"traceback", nullptr}},
};

int sandbox_load(lua_State* L);
int sandbox_loadstring(lua_State* L);
int checked_date(lua_State* L);

// Functions replaced by ones that check what they are given; each new one gets
// the function it replaces as upvalue 1. (LuaJIT's load also takes a text, a
// mode and an environment: there the standard one is called with the mode "t".)
struct Replaced {
    const char* library;  // null: a global
    const char* name;
    lua_CFunction function;
};
const Replaced kReplaced[] = {
    {nullptr, "load", sandbox_load},
    {nullptr, "loadstring", sandbox_loadstring},
    {"os", "date", checked_date},
};

// [-1, +(1 | 2), -] What load and loadstring return for lua_load's status: the
// chunk, or nil and the message.
int load_result(lua_State* L, int status) {
    if (status == 0) return 1;
    lua_pushnil(L);     // +1
    lua_insert(L, -2);  // nil below the message
    return 2;
}

// [-0, +2, m] nil and the refusal, as load reports a failure.
int refuse_binary(lua_State* L) {
    lua_pushnil(L);                   // +1
    lua_pushstring(L, kBinaryRefused);  // +1
    return 2;
}

// [-n, +(1 | 2), m] Lua: loadstring(s [, chunkname]), refusing a binary chunk.
int sandbox_loadstring(lua_State* L) {
    std::size_t length;
    const char* s = luaL_checklstring(L, 1, &length);
    const char* chunkname = luaL_optstring(L, 2, s);
    if (length > 0 && s[0] == LUA_SIGNATURE[0]) return refuse_binary(L);
    return load_result(L, luaL_loadbuffer(L, s, length, chunkname));  // +1
}

struct ReaderState {
    bool seen;    // a piece with bytes came already
    bool binary;  // the first such piece started a binary chunk
};

// [-0, +(0 | 1), e] lua_load's reader for load: the pieces the script's function
// (slot 1) returns, kept in slot 3, as Lua 5.1.5's load reads them; ends at a
// binary chunk's first byte.
const char* checked_reader(lua_State* L, void* data, std::size_t* size) {
    auto* state = static_cast<ReaderState*>(data);
    luaL_checkstack(L, 2, "too many nested functions");
    lua_pushvalue(L, 1);  // +1
    lua_call(L, 0, 1);    // -1, +1 piece
    if (lua_isnil(L, -1)) {
        *size = 0;
        return nullptr;
    }
    if (!lua_isstring(L, -1)) luaL_error(L, "reader function must return a string");
    lua_replace(L, 3);  // -1
    const char* piece = lua_tolstring(L, 3, size);
    if (!state->seen && *size > 0) {
        state->seen = true;
        if (piece[0] == LUA_SIGNATURE[0]) {
            state->binary = true;
            *size = 0;
            return nullptr;
        }
    }
    return piece;
}

// [-n, +(1 | 2), e] LuaJIT's load(chunk [, chunkname [, mode [, env]]]), the
// standard one (upvalue 1) with its mode always "t": text only.
int luajit_text_load(lua_State* L) {
    std::size_t length = 0;
    const char* s = lua_type(L, 1) == LUA_TSTRING ? lua_tolstring(L, 1, &length) : nullptr;
    if (s && length > 0 && s[0] == LUA_SIGNATURE[0]) return refuse_binary(L);
    lua_settop(L, 4);
    lua_pushliteral(L, "t");  // +1
    lua_replace(L, 3);        // -1
    lua_pushvalue(L, lua_upvalueindex(1));  // +1
    lua_insert(L, 1);
    lua_call(L, 4, LUA_MULTRET);  // -5, +results
    if (lua_gettop(L) == 2 && lua_isnil(L, 1) && lua_isstring(L, 2) &&
        std::strcmp(lua_tostring(L, 2), "attempt to load chunk with wrong mode") == 0)
        return refuse_binary(L);  // the words of Lua 5.1.5's engines
    return lua_gettop(L);
}

// [-n, +(1 | 2), e] Lua: load(f [, chunkname]), refusing a binary chunk; on
// LuaJIT, its own load with the text mode.
int sandbox_load(lua_State* L) {
    if (engine_runs_luajit()) return luajit_text_load(L);
    luaL_checktype(L, 1, LUA_TFUNCTION);
    const char* chunkname = luaL_optstring(L, 2, "=(load)");
    lua_settop(L, 3);
    ReaderState state{false, false};
    const int status = lua_load(L, checked_reader, &state, chunkname);  // +1 chunk or message
    if (state.binary) return refuse_binary(L);
    return load_result(L, status);
}

// Conversions every C runtime's strftime knows (C89); others may end the process
// on Windows.
constexpr char kDateConversions[] = "aAbBcdHIjmMpSUwWxXyYZ%";

// [-n, +1, e] Lua: os.date([format [, time]]), the standard one (upvalue 1) once
// the format holds only conversions every runtime knows.
int checked_date(lua_State* L) {
    const char* format = luaL_optstring(L, 1, "%c");
    const char* s = format + (*format == '!' ? 1 : 0);
    if (std::strncmp(s, "*t", 2) != 0) {
        for (; *s; ++s) {
            if (*s != '%' || s[1] == '\0') continue;
            ++s;
            if (!std::strchr(kDateConversions, *s))
                return luaL_error(L, "bad argument #1 to 'date' (invalid conversion specifier '%%%c')", *s);
        }
    }
    lua_pushvalue(L, lua_upvalueindex(1));  // +1
    lua_insert(L, 1);
    lua_call(L, lua_gettop(L) - 1, 1);  // -(n + 1), +1
    return 1;
}

// [-0, +1, e] Pushes the library named name as the engine opened it (from the
// loaded-libraries table), or nil.
void push_library(lua_State* L, const char* name) {
    lua_getfield(L, LUA_REGISTRYINDEX, "_LOADED");  // +1
    if (lua_istable(L, -1))
        lua_getfield(L, -1, name);  // +1
    else
        lua_pushnil(L);  // +1
    lua_remove(L, -2);   // -1 loaded
}

bool listed(const char* const* names, const char* name) {
    for (; *names; ++names)
        if (std::strcmp(*names, name) == 0) return true;
    return false;
}

// [-0, +0, e] Removes from the table on top every string key not in names.
void keep_only(lua_State* L, const char* const* names) {
    lua_pushnil(L);  // +1 first key
    while (lua_next(L, -2)) {  // -1 key, +2 key and value
        lua_settop(L, -2);     // -1 value
        if (lua_type(L, -1) == LUA_TSTRING && listed(names, lua_tostring(L, -1))) continue;
        lua_pushvalue(L, -1);  // +1 key
        lua_pushnil(L);        // +1
        lua_rawset(L, -4);     // -2: clearing a field during the traversal is allowed
    }
}

// [-0, +0, e] Replaces one function by its checking version.
void replace(lua_State* L, const Replaced& r) {
    if (r.library)
        push_library(L, r.library);  // +1 library
    else
        lua_pushvalue(L, LUA_GLOBALSINDEX);  // +1 globals
    if (!lua_istable(L, -1)) {
        lua_settop(L, -2);  // -1
        return;
    }
    lua_getfield(L, -1, r.name);           // +1 the standard one
    lua_pushcclosure(L, r.function, 1);    // -1, +1
    lua_setfield(L, -2, r.name);           // -1
    lua_settop(L, -2);                     // -1 library
}

}  // namespace

void apply_sandbox(lua_State* L) {
    for (const Replaced& r : kReplaced) replace(L, r);  // first: os.date is kept below
    for (const char* name : kRemovedGlobals) {
        lua_pushnil(L);                            // +1
        lua_setfield(L, LUA_GLOBALSINDEX, name);   // -1
    }
    for (const Removed& r : kRemovedFields) {
        push_library(L, r.library);  // +1
        if (lua_istable(L, -1)) {
            lua_pushnil(L);               // +1
            lua_setfield(L, -2, r.name);  // -1
        }
        lua_settop(L, -2);  // -1
    }
    for (const KeptOnly& k : kKeptOnly) {
        push_library(L, k.library);  // +1
        if (lua_istable(L, -1)) keep_only(L, k.names);
        lua_settop(L, -2);  // -1
    }
}

void refuse_binary_file(lua_State* L, const char* path) {
    std::FILE* file = open_chunk_file(path);
    if (!file) return;
    int c = std::getc(file);
    if (c == '#') {
        while ((c = std::getc(file)) != EOF && c != '\n') {
        }
        if (c == '\n') c = std::getc(file);
    }
    std::fclose(file);
    if (c == LUA_SIGNATURE[0]) luaL_error(L, "%s: %s", path, kBinaryRefused);
}

void refuse_binary_code(lua_State* L, const char* code) {
    if (code[0] == LUA_SIGNATURE[0]) luaL_error(L, "%s", kBinaryRefused);
}
