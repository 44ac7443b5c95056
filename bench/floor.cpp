#include "bench/floor.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

extern "C" {
#include <lauxlib.h>
#include <lua.h>
#include <lualib.h>
}

#include "bridge/nexlink.h"
#include "host/host_call_arg.h"
#include "host/host_contract.h"

namespace {

constexpr int kMaxArgs = 8;
constexpr std::size_t kBlock = 64;

[[noreturn]] void give_up(const char* what) {
    std::fprintf(stderr, "floor: %s\n", what);
    std::abort();
}

// Assigns text to cell from a block laid out as a host string on the C stack.
void assign(HostStringCell* cell, const char* text) {
    alignas(int32_t) char block[kBlock];
    const std::size_t n = std::strlen(text);
    if (n + HOST_STRING_HEADER + 1 > kBlock) give_up("text too long");
    const int32_t head[2] = {HOST_STRING_LITERAL_REFCOUNT, static_cast<int32_t>(n)};
    std::memcpy(block, head, sizeof head);
    std::memcpy(block + HOST_STRING_HEADER, text, n + 1);
    NexSetString(block + HOST_STRING_HEADER, cell);
}

// A new cell holding a copy of text.
HostStringCell* cell_of(const char* text) {
    HostStringCell* cell = NexAllocateString();
    assign(cell, text);
    return cell;
}

}  // namespace

int floor_forward(lua_State* L) {
    const int argc = lua_gettop(L);
    if (argc > kMaxArgs) give_up("too many arguments");
    HostCallArg records[kMaxArgs + 1];
    HostStringCell* cells[kMaxArgs];
    std::memset(records, 0, (argc + 1) * sizeof *records);
    records[0].real = lua_tonumber(L, lua_upvalueindex(1));
    for (int i = 1; i <= argc; ++i) {
        cells[i - 1] = nullptr;
        switch (lua_type(L, i)) {
        case LUA_TSTRING:
            cells[i - 1] = cell_of(lua_tolstring(L, i, nullptr));
            records[i].kind = HOST_KIND_TEXT;
            records[i].text = *cells[i - 1];
            break;
        case LUA_TNUMBER:
            records[i].real = lua_tonumber(L, i);
            break;
        default:
            break;
        }
    }
    HostCallArg result;
    std::memset(&result, 0, sizeof result);
    NexCallFunction(HOST_EXECUTE_SCRIPT, records, argc + 1, &result);
    const bool is_text = result.kind == HOST_KIND_TEXT;
    const double real = result.real;
    HostStringCell* text = is_text && result.text ? cell_of(result.text) : nullptr;
    NexDeallocateResult(&result);
    for (int i = argc; i > 0; --i)
        if (cells[i - 1]) NexDeallocateString(cells[i - 1]);
    if (is_text) {
        if (text && *text)
            lua_pushstring(L, *text);  // +1
        else
            lua_pushnil(L);  // +1
        if (text) NexDeallocateString(text);
        return 1;
    }
    if (real == 0.0) return 0;
    lua_pushnumber(L, real);  // +1
    return 1;
}

int floor_draw_text(lua_State* L) {
    HostCallArg records[3];
    std::memset(records, 0, sizeof records);
    records[0].real = lua_tonumber(L, 1);
    records[1].real = lua_tonumber(L, 2);
    records[2].kind = HOST_KIND_TEXT;
    const char* t = lua_tolstring(L, 3, nullptr);
    HostStringCell* cell = t ? cell_of(t) : nullptr;
    if (cell) records[2].text = *cell;
    HostCallArg result;
    std::memset(&result, 0, sizeof result);
    NexCallFunction(HOST_DRAW_TEXT, records, 3, &result);
    if (cell) NexDeallocateString(cell);
    return 0;
}

double floor_global(lua_State* L, const char* a, const char* b, const char* c) {
    lua_getfield(L, LUA_GLOBALSINDEX, a);  // +1
    lua_getfield(L, -1, b);                // +1
    lua_getfield(L, -1, c);                // +1
    const double v = lua_tonumber(L, -1);
    lua_settop(L, -4);  // -3
    return v;
}

double floor_event(lua_State* L, const char* name, double list, bool protect) {
    const int32_t h = static_cast<int32_t>(list);
    lua_getfield(L, LUA_GLOBALSINDEX, name);  // +1 function
    HostCallArg records[2];
    HostCallArg result;
    std::memset(records, 0, sizeof records);
    std::memset(&result, 0, sizeof result);
    records[0].real = h;
    NexCallFunction(HOST_LIST_SIZE, records, 1, &result);
    const int32_t count = static_cast<int32_t>(result.real);
    if (count > 0 && !lua_checkstack(L, count + 1)) give_up("no room on the stack");
    for (int32_t i = 0; i < count; ++i) {
        records[1].real = i;
        std::memset(&result, 0, sizeof result);
        NexCallFunction(HOST_LIST_GET, records, 2, &result);
        if (result.kind != HOST_KIND_TEXT) {
            const double real = result.real;
            NexDeallocateResult(&result);
            lua_pushnumber(L, real);  // +1
            continue;
        }
        HostStringCell* cell = result.text ? cell_of(result.text) : nullptr;
        NexDeallocateResult(&result);
        if (cell && *cell)
            lua_pushstring(L, *cell);  // +1
        else
            lua_pushnil(L);  // +1
        if (cell) NexDeallocateString(cell);
    }
    std::memset(&result, 0, sizeof result);
    NexCallFunction(HOST_LIST_DONE, records, 1, &result);
    const int n = count > 0 ? count : 0;
    if (!protect)
        lua_call(L, n, 1);  // -(n + 1), +1 result
    else if (lua_pcall(L, n, 1, 0) != 0)  // -(n + 1), +1 result or error
        give_up(lua_tolstring(L, -1, nullptr));
    const lua_Integer v = lua_tointeger(L, -1);
    lua_settop(L, -2);  // -1 result
    return v == 0 ? 1.0 : 0.0;
}

double floor_loop(lua_State* L, const char* loop, int n) {
    lua_getfield(L, LUA_GLOBALSINDEX, loop);  // +1
    lua_pushnumber(L, n);                      // +1
    if (lua_pcall(L, 1, 1, 0) != 0) give_up(lua_tolstring(L, -1, nullptr));  // -2, +1
    const lua_Integer v = lua_tointeger(L, -1);
    lua_settop(L, -2);  // -1
    return v == 0 ? 1.0 : 0.0;
}

lua_State* open_floor_state(const char* source, const FloorScript* scripts, int count) {
    lua_State* L = luaL_newstate();
    if (!L) give_up("no memory for a state");
    luaL_openlibs(L);
    if (luaL_loadstring(L, source) != 0 || lua_pcall(L, 0, 0, 0) != 0)  // +1 chunk, -1
        give_up(lua_tolstring(L, -1, nullptr));
    for (int i = 0; i < count; ++i) {
        lua_pushnumber(L, scripts[i].index);              // +1
        lua_pushcclosure(L, floor_forward, 1);            // -1, +1
        lua_setfield(L, LUA_GLOBALSINDEX, scripts[i].name);  // -1
    }
    lua_pushcfunction(L, floor_draw_text);               // +1
    lua_setfield(L, LUA_GLOBALSINDEX, "draw_text");      // -1
    return L;
}
