// The counting allocator's cost on the game-like frame's Lua parts, against the
// engine library's own allocator.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

extern "C" {
#include <lauxlib.h>
#include <lua.h>
#include <lualib.h>
}

#include "bench/game.h"
#include "extension/limits/memory_cap.h"

namespace {

using Clock = std::chrono::steady_clock;

// [-0, +0, -] A state with the game's functions, or null.
lua_State* game_state(lua_State* L) {
    if (!L) return nullptr;
    luaL_openlibs(L);
    if (luaL_dostring(L, kGameSource) != 0) {
        std::printf("allocator: %s\n", lua_tostring(L, -1));
        lua_close(L);
        return nullptr;
    }
    return L;
}

// One frame without its host calls: what the allocator takes part in.
double frame_ms(lua_State* L) {
    const Clock::time_point start = Clock::now();
    for (const char* part : {"game_entities", "game_sorts", "game_strings"}) {
        lua_getfield(L, LUA_GLOBALSINDEX, part);  // +1
        lua_call(L, 0, 1);                        // -1, +1
        lua_settop(L, -2);                        // -1
    }
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace

bool run_allocator_cost(int frames) {
    MemoryCap* cap = new_memory_cap();
    lua_State* plain = game_state(luaL_newstate());
    lua_State* counted = cap ? game_state(lua_newstate(counting_alloc, cap)) : nullptr;
    const bool ok = plain && counted;
    if (ok) {
        for (int i = 0; i < 3; ++i) frame_ms(plain), frame_ms(counted);  // warm-up
        std::vector<double> a, b, ratios;
        for (int i = 0; i < frames; ++i) {  // in turns, so that both see the same machine
            a.push_back(frame_ms(plain));
            b.push_back(frame_ms(counted));
            ratios.push_back(b.back() / a.back());
        }
        std::printf("allocator on the frame's Lua parts: ms, median of %d frames\n", frames);
        std::printf("game %-10s %10.3f\n", "alloc-own", median(a));
        std::printf("game %-10s %10.3f\n", "alloc-count", median(b));
        std::printf("game %-10s %10.3f  (target 1.030)\n", "alloc-ratio", median(ratios));
    }
    if (plain) lua_close(plain);
    if (counted) lua_close(counted);
    free_memory_cap(cap);
    return ok;
}
