#include "extension/limits/run_clock.h"

#include <chrono>
#include <cstdio>

extern "C" {
#include <lua.h>
}

#include "extension/limits/coroutine_watch.h"
#include "extension/limits/engine_jit.h"
#include "extension/limits/script_hooks.h"
#include "host/fp_words.h"

namespace {

// VM instructions between two readings of the clock.
constexpr int kCheckEvery = 10000;
// Limits this long or longer are no limit (and keep the nanoseconds in range).
constexpr double kLongestLimit = 1e9;

int64_t now_ns() noexcept {
    using namespace std::chrono;
    return duration_cast<nanoseconds>(steady_clock::now().time_since_epoch()).count();
}

// [-0, +0, -] The address of the registry of L's engine, the same for all its
// threads: what tells one engine from another, whatever its scripts do.
const void* registry_of(lua_State* L) noexcept {
    lua_pushvalue(L, LUA_REGISTRYINDEX);  // +1
    const void* registry = lua_topointer(L, -1);
    lua_settop(L, -2);  // -1
    return registry;
}

// L's engine's clock while its Lua code runs, when it has a limit, or null. Lua
// code runs only inside an export's protected call, so the clock is the current
// one; the registry check is for safety's sake.
RunClock* clock_of(lua_State* L) noexcept {
    RunClock* clock = g_run_clock;
    return has_limit(clock) && clock->registry == registry_of(L) ? clock : nullptr;
}

// [-0, +1, v] Raises the limit's error on L.
int raise_limit(lua_State* L, const RunClock& clock) {
    char text[64];
    run_clock_message(clock, text, sizeof text);
    lua_pushstring(L, text);  // +1
    return lua_error(L);
}

// Marks the clock expired when its time is up; true when it is (or was).
bool time_is_up(RunClock& clock) noexcept {
    if (clock.expired) return true;
    if (now_ns() - clock.started <= static_cast<int64_t>(clock.limit * 1e9)) return false;
    clock.expired = true;
    ++clock.fired;
    return true;
}

// Puts the limit's count beside the script's hook on every thread of the engine.
void refresh_all(lua_State* L, int limit_count) noexcept {
    refresh_hook(L, L, limit_count);
    each_coroutine(L, [](lua_State* main, lua_State* co, void* count) {
        refresh_hook(main, co, *static_cast<int*>(count));
    }, &limit_count);
}

}  // namespace

RunClock* g_run_clock = nullptr;

void run_clock_message(const RunClock& clock, char* text, int size) noexcept {
    ensure_runtime_x87();  // the runtime formats numbers with x87 code
    std::snprintf(text, static_cast<std::size_t>(size), "script ran longer than %.14g second%s", clock.limit,
                  clock.limit == 1.0 ? "" : "s");
}

void run_clock_start(RunClock& clock, lua_State* L) noexcept {
    clock.expired = false;
    clock.ticks = 0;
    if (clock.compile_off_pending) {  // no Lua code of the engine runs yet
        bool refused = false;              // unless the export was called from a finalizer
        stop_compiling(L, &refused);
        clock.compile_off_pending = refused;
    }
    if (clock.limit > 0.0) clock.started = now_ns();
}

void run_clock_stop(RunClock& clock, lua_State* L) noexcept {
    clock.expired = false;
    refresh_hook(L, L, clock.limit > 0.0 ? kCheckEvery : 0);
}

int run_clock_hook_count(lua_State* L) noexcept {
    const RunClock* clock = clock_of(L);
    if (!clock) return 0;
    return clock->expired ? 1 : kCheckEvery;
}

int run_clock_tick(lua_State* L, int count) {
    RunClock* clock = clock_of(L);
    if (!clock) return 0;
    if (!clock->expired) {
        clock->ticks += count;
        if (clock->ticks < kCheckEvery) return kCheckEvery;
        clock->ticks = 0;
        if (!time_is_up(*clock)) return kCheckEvery;
    }
    if (clock->depth == 0) return kCheckEvery;
    refresh_hook(L, L, 1);  // raises at every instruction until the export returns
    return raise_limit(L, *clock);
}

void run_clock_check(lua_State* L) {
    RunClock* clock = clock_of(L);
    if (!clock || clock->depth == 0 || !time_is_up(*clock)) return;
    refresh_hook(L, L, 1);
    raise_limit(L, *clock);
}

void set_engine_limit(RunClock& clock, lua_State* L, double seconds) noexcept {
    clock.registry = registry_of(L);
    const bool had = clock.limit > 0.0;
    const bool has = seconds > 0.0 && seconds < kLongestLimit;
    clock.limit = has ? seconds : 0.0;
    if (clock.depth > 0) {  // set from a host routine while the engine runs: its run starts now
        clock.expired = false;
        clock.ticks = 0;
        if (has) clock.started = now_ns();
    }
    if (has && !had) {
        // Hooks do not fire inside code a JIT compiler made: a limited engine
        // runs interpreted from now on (nothing happens on Lua 5.1.5).
        // LuaJIT refuses to change its compiler inside a finalizer, which may be
        // running while the engine runs Lua code or during varnel's own work (a
        // collection it makes): then the next export does it.
        bool refused = false;
        if (clock.depth == 0) stop_compiling(L, &refused);
        if (clock.depth > 0 || refused) clock.compile_off_pending = true;
    }
    if (!lua_checkstack(L, 6)) return;  // no room: the hooks stay as they are until the next event
    if (has) refresh_all(L, kCheckEvery);
    else if (had)
        refresh_hook(L, L, 0);
}
