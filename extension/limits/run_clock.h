// The run clock: how long an engine's export has run, checked against the
// engine's time limit. The time is wall time from the outermost export of the
// engine entering until it returns, host routines included; exports of the same
// engine nested inside host routines share the outermost one's clock.
//
// The clock is checked by the engine's hook (script_hooks.h) every few thousand
// VM instructions, and by the functions that call host routines once each
// routine has returned. Engines without a limit never read the time.
#pragma once
#include <cstdint>

struct lua_State;

struct RunClock {
    double limit = 0.0;       // seconds; 0: no limit
    int64_t started = 0;      // nanoseconds: when the outermost export entered (kept while there is a limit)
    int ticks = 0;            // VM instructions counted since the time was last read
    int depth = 0;            // the engine's exports under way, nested
    bool expired = false;     // the limit was passed: every check raises until depth is 0
    unsigned fired = 0;       // how often the limit was passed, ever: an export compares before and after
    bool compile_off_pending = false;  // stop_compiling waits for the next outermost export
    const void* registry = nullptr;  // the engine's registry, which the hook knows it by
};

// The clock of the engine whose Lua code runs now (or whose host routine does), or null.
extern RunClock* g_run_clock;

inline bool has_limit(const RunClock* clock) noexcept { return clock && clock->limit > 0.0; }

// The outermost export's way in and out when the clock has a limit, has expired,
// or waits to turn a compiler off.
void run_clock_start(RunClock& clock, lua_State* L) noexcept;
void run_clock_stop(RunClock& clock, lua_State* L) noexcept;

// Entering and leaving the Lua work of the engine whose main thread is L, once
// per protected call: the outermost one restarts the engine's clock. enter
// returns the clock that was current, which leave is given back.
inline RunClock* run_clock_enter(RunClock& clock, lua_State* L) noexcept {
    RunClock* const outer = g_run_clock;
    g_run_clock = &clock;
    if (clock.depth++ == 0 && (has_limit(&clock) || clock.compile_off_pending)) run_clock_start(clock, L);
    return outer;
}

inline void run_clock_leave(RunClock& clock, lua_State* L, RunClock* outer) noexcept {
    g_run_clock = outer;
    if (--clock.depth == 0 && clock.expired) run_clock_stop(clock, L);
}

// [-0, +(0 | 1), v] The count hook's part (script_hooks.h): counts the count
// instructions since the last event on L and, every few thousand, reads the
// clock. Raises the limit's error once the time is up. Returns the count the
// limit wants on L's hook now (0: no limit).
int run_clock_tick(lua_State* L, int count);

// [-0, +(0 | 1), v] The check at a host routine's return, and after a script's
// own hook function: reads the clock (when L's engine has a limit) and raises
// the limit's error once the time is up.
void run_clock_check(lua_State* L);

// The count the limit wants on the hook of L (0: none): what script_hooks.h
// combines with a script's own hook.
int run_clock_hook_count(lua_State* L) noexcept;

// The limit's message for clock, "script ran longer than N second(s)".
void run_clock_message(const RunClock& clock, char* text, int size) noexcept;

// [-0, +0, -] The one place a limit is set on an engine, whose clock is clock and
// main thread L (0, or 1e9 seconds and more: none). Puts the limit's count beside
// any script hook on the engine's main thread and its noted coroutines (those
// made later inherit it), or takes it off the main thread (a coroutine drops it
// at its next event). Needs no memory; takes four free stack slots.
void set_engine_limit(RunClock& clock, lua_State* L, double seconds) noexcept;
