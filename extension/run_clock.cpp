#include "extension/run_clock.h"

#include <chrono>

extern "C" {
#include <lua.h>
}

#include "extension/coroutine_watch.h"
#include "extension/engine_registry.h"
#include "host/host_call_hook.h"

namespace {

// VM instructions between two checks of the clock.
constexpr int kCheckEvery = 10000;
// Limits this long or longer are no limit (and keep the nanoseconds in range).
constexpr double kLongestLimit = 1e9;
// Host routine calls nested deeper than this are still counted, not remembered.
constexpr int kHostDepth = 64;

RunClock* g_current = nullptr;  // the clock Lua code is charged to now, or null
int64_t g_since = 0;            // when g_current was last charged
int g_limits = 0;               // engines with a limit
int g_host_depth = 0;           // host routine calls under way while the hook listens
RunClock* g_host_saved[kHostDepth];

int64_t now_ns() noexcept {
    using namespace std::chrono;
    return duration_cast<nanoseconds>(steady_clock::now().time_since_epoch()).count();
}

// Charges the time since the last charge to the current clock.
void charge() noexcept {
    const int64_t t = now_ns();
    if (g_current) g_current->used += t - g_since;
    g_since = t;
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
    RunClock* clock = g_current;
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

RunClock* run_clock_enter(Engine& engine) noexcept {
    RunClock& clock = engine.clock;
    RunClock* const outer = g_current;
    if (g_limits > 0) charge();
    g_current = &clock;
    if (clock.depth++ == 0) {
        clock.used = 0;
        clock.expired = false;
        if (clock.limit > 0.0) install_hook(engine.L, kCheckEvery);
    }
    return outer;
}

void run_clock_leave(Engine& engine, RunClock* outer) noexcept {
    RunClock& clock = engine.clock;
    if (g_limits > 0) charge();
    g_current = outer;
    if (--clock.depth == 0 && clock.expired) {
        clock.expired = false;
        if (clock.limit > 0.0) install_hook(engine.L, kCheckEvery);
    }
}

void run_clock_host_call(bool entering) {
    if (entering) {
        charge();
        if (g_host_depth < kHostDepth) g_host_saved[g_host_depth] = g_current;
        ++g_host_depth;
        g_current = nullptr;
        return;
    }
    if (g_host_depth == 0) return;  // the call began before anyone listened
    --g_host_depth;
    g_since = now_ns();
    if (g_host_depth < kHostDepth) g_current = g_host_saved[g_host_depth];
    update_host_hook();
}

void set_engine_limit(Engine& engine, double seconds) noexcept {
    RunClock& clock = engine.clock;
    lua_State* L = engine.L;
    clock.registry = registry_of(L);
    const bool had = clock.limit > 0.0;
    const bool has = seconds > 0.0 && seconds < kLongestLimit;
    if (!had && has && g_limits++ == 0) g_since = now_ns();
    if (had && !has) --g_limits;
    clock.limit = has ? seconds : 0.0;
    if (clock.depth > 0) {  // set from a host routine while the engine runs: its run starts now
        if (g_limits > 0) charge();
        clock.used = 0;
        clock.expired = false;
    }
    if (has) {
        install_hook(L, kCheckEvery);
        if (!had) hook_coroutines(L, check_clock, LUA_MASKCOUNT, kCheckEvery);
    } else if (had)
        lua_sethook(L, nullptr, 0, 0);
    update_host_hook();
}
