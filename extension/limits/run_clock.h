// The run clock: how long an engine's export has spent running Lua code, checked
// against the engine's time limit by a count hook. Time spent inside host
// routines is left off; exports of the same engine nested inside host routines
// share the outermost one's clock.
//
// The clock is charged to whichever engine is running Lua code at the moment: an
// export entering an engine makes that engine current, a host routine call makes
// none current until it returns. The time is read only when the clock that stops
// or starts being charged has a limit: engines without one never read it.
#pragma once
#include <cstdint>

struct lua_State;

struct RunClock {
    double limit = 0.0;       // seconds; 0: no limit, and no hook
    int64_t used = 0;         // nanoseconds charged since the outermost export entered
    int depth = 0;            // the engine's exports under way, nested
    bool expired = false;     // the limit was passed: every check raises until depth is 0
    bool compile_off_pending = false;  // stop_compiling waits for the next outermost export
    const void* registry = nullptr;  // the engine's registry, which the hook knows it by
};

// The clock Lua code is charged to now, or null.
extern RunClock* g_run_clock;

// The ways in and out below when a clock involved has a limit (or has expired).
RunClock* run_clock_enter_timed(RunClock& clock, lua_State* L) noexcept;
void run_clock_leave_timed(RunClock& clock, lua_State* L, RunClock* outer) noexcept;

inline bool has_limit(const RunClock* clock) noexcept { return clock && clock->limit > 0.0; }

// Entering and leaving the Lua work of the engine whose main thread is L, once
// per protected call: the outermost one restarts the engine's clock. enter
// returns the clock that was current, which leave is given back. Without limits
// they only note which clock is current.
inline RunClock* run_clock_enter(RunClock& clock, lua_State* L) noexcept {
    RunClock* const outer = g_run_clock;
    if (has_limit(&clock) || has_limit(outer)) return run_clock_enter_timed(clock, L);
    g_run_clock = &clock;
    ++clock.depth;
    return outer;
}

inline void run_clock_leave(RunClock& clock, lua_State* L, RunClock* outer) noexcept {
    if (has_limit(&clock) || has_limit(outer) || clock.expired) {
        run_clock_leave_timed(clock, L, outer);
        return;
    }
    g_run_clock = outer;
    --clock.depth;
}

// The hook installed in host/ while any engine has a limit: host routine time is
// charged to nobody.
void run_clock_host_call(bool entering);

// [-0, +0, -] The one place a limit is set on an engine, whose clock is clock and
// main thread L (0, or 1e9 seconds and more: none). Installs the count hook on the engine's main thread and its
// coroutines (those made later inherit it), or removes it from the main thread
// (a coroutine drops it at its next check). Needs no memory; takes three free
// stack slots.
void set_engine_limit(RunClock& clock, lua_State* L, double seconds) noexcept;
