#include "extension/limits/run_clock.h"

#include <chrono>

extern "C" {
#include <lua.h>
}

#include "extension/limits/coroutine_watch.h"
#include "extension/limits/engine_jit.h"
#include "host/host_call_hook.h"

namespace {

// VM instructions between two checks of the clock.
constexpr int kCheckEvery = 10000;
// Limits this long or longer are no limit (and keep the nanoseconds in range).
constexpr double kLongestLimit = 1e9;
// Host routine calls nested deeper than this are still counted, not remembered.
constexpr int kHostDepth = 64;

int64_t g_since = 0;            // when g_run_clock was made current; kept only while it has a limit
int g_limits = 0;               // engines with a limit
int g_host_depth = 0;           // host routine calls under way while the hook listens
RunClock* g_host_saved[kHostDepth];

int64_t now_ns() noexcept {
    using namespace std::chrono;
    return duration_cast<nanoseconds>(steady_clock::now().time_since_epoch()).count();
}

// Makes next the current clock, charging the time since it became current to the
// one that was. Reads the time only when one of the two has a limit.
void switch_to(RunClock* next) noexcept {
    RunClock* const was = g_run_clock;
    if (has_limit(was) || has_limit(next)) {
        const int64_t t = now_ns();
        if (has_limit(was)) was->used += t - g_since;
        g_since = t;
    }
    g_run_clock = next;
}

int64_t limit_ns(const RunClock& clock) noexcept {
    return static_cast<int64_t>(clock.limit * 1e9);
}

// [-0, +0, -] The address of the registry of L's engine, the same for all its
// threads: what tells one engine from another, whatever its scripts do.
const void* registry_of(lua_State* L) noexcept {
    lua_pushvalue(L, LUA_REGISTRYINDEX);  // +1
    const void* registry = lua_topointer(L, -1);
    lua_settop(L, -2);  // -1
    return registry;
}

void check_clock(lua_State* L, lua_Debug*);

void install_hook(lua_State* L, int every) noexcept {
    lua_sethook(L, check_clock, LUA_MASKCOUNT, every);
}

// [-0, +0, e] The count hook. Lua code runs only inside an export's protected
// call (finalizers run with hooks off), so the clock is the current one; the
// registry check is for safety's sake. Once the limit is passed the hook raises
// at every instruction until the export returns, so that a script's pcall
// cannot hold on.
void check_clock(lua_State* L, lua_Debug*) {
    RunClock* clock = g_run_clock;
    if (!clock || clock->registry != registry_of(L)) return;
    if (clock->limit <= 0.0) {
        lua_sethook(L, nullptr, 0, 0);  // the limit was lifted: this thread's hook goes
        return;
    }
    if (!clock->expired) {
        if (clock->used + (now_ns() - g_since) <= limit_ns(*clock)) {
            if (lua_gethookcount(L) != kCheckEvery) install_hook(L, kCheckEvery);
            return;
        }
        clock->expired = true;
    }
    if (clock->depth == 0) return;
    install_hook(L, 1);
    lua_pushfstring(L, "script ran longer than %f seconds", clock->limit);  // +1
    lua_error(L);
}

void update_host_hook() noexcept {
    g_host_call_hook = g_limits > 0 || g_host_depth > 0 ? run_clock_host_call : nullptr;
}

}  // namespace

RunClock* g_run_clock = nullptr;

RunClock* run_clock_enter_timed(RunClock& clock, lua_State* L) noexcept {
    RunClock* const outer = g_run_clock;
    switch_to(&clock);
    if (clock.depth++ == 0) {
        clock.used = 0;
        clock.expired = false;
        if (clock.compile_off_pending) {  // no Lua code of the engine runs yet
            clock.compile_off_pending = false;
            stop_compiling(L);
        }
        if (clock.limit > 0.0) install_hook(L, kCheckEvery);
    }
    return outer;
}

void run_clock_leave_timed(RunClock& clock, lua_State* L, RunClock* outer) noexcept {
    switch_to(outer);
    if (--clock.depth == 0 && clock.expired) {
        clock.expired = false;
        if (clock.limit > 0.0) install_hook(L, kCheckEvery);
    }
}

void run_clock_host_call(bool entering) {
    if (entering) {
        if (g_host_depth < kHostDepth) g_host_saved[g_host_depth] = g_run_clock;
        ++g_host_depth;
        switch_to(nullptr);
        return;
    }
    if (g_host_depth == 0) return;  // the call began before anyone listened
    --g_host_depth;
    switch_to(g_host_depth < kHostDepth ? g_host_saved[g_host_depth] : nullptr);
    update_host_hook();
}

void set_engine_limit(RunClock& clock, lua_State* L, double seconds) noexcept {
    clock.registry = registry_of(L);
    const bool had = clock.limit > 0.0;
    const bool has = seconds > 0.0 && seconds < kLongestLimit;
    if (!had && has) ++g_limits;
    if (had && !has) --g_limits;
    clock.limit = has ? seconds : 0.0;
    if (clock.depth > 0) {  // set from a host routine while the engine runs: its run starts now
        clock.used = 0;
        clock.expired = false;
        if (&clock == g_run_clock && has) g_since = now_ns();
    }
    if (has) {
        // Hooks do not fire inside code a JIT compiler made: a limited engine
        // runs interpreted from now on (nothing happens on Lua 5.1.5).
        // LuaJIT refuses to change its compiler inside a finalizer, which may be
        // running while the engine runs Lua code: then the next export does it.
        if (!had && clock.depth == 0) stop_compiling(L);
        if (!had && clock.depth > 0) clock.compile_off_pending = true;
        install_hook(L, kCheckEvery);
        if (!had) hook_coroutines(L, check_clock, LUA_MASKCOUNT, kCheckEvery);
    } else if (had)
        lua_sethook(L, nullptr, 0, 0);
    update_host_hook();
}
