// The run clock: how long an engine's export has spent running Lua code, checked
// against the engine's time limit by a count hook. Time spent inside host
// routines is left off; exports of the same engine nested inside host routines
// share the outermost one's clock.
//
// The clock is charged to whichever engine is running Lua code at the moment: an
// export entering an engine makes that engine current, a host routine call makes
// none current until it returns. No clock is read while no engine has a limit.
#pragma once
#include <cstdint>

struct lua_State;
struct Engine;

struct RunClock {
    double limit = 0.0;       // seconds; 0: no limit, and no hook
    int64_t used = 0;         // nanoseconds charged since the outermost export entered
    int depth = 0;            // the engine's exports under way, nested
    bool expired = false;     // the limit was passed: every check raises until depth is 0
    const void* registry = nullptr;  // the engine's registry, which the hook knows it by
};

// Entering and leaving an engine's Lua work, once per protected call: the
// outermost one restarts the engine's clock. enter returns the clock that was
// current, which leave is given back.
RunClock* run_clock_enter(Engine& engine) noexcept;
void run_clock_leave(Engine& engine, RunClock* outer) noexcept;

// The hook installed in host/ while any engine has a limit: host routine time is
// charged to nobody.
void run_clock_host_call(bool entering);

// [-0, +0, -] The one place a limit is set on an engine (0, or 1e9 seconds and
// more: none). Installs the count hook on the engine's main thread and its
// coroutines (those made later inherit it), or removes it from the main thread
// (a coroutine drops it at its next check). Needs no memory; takes three free
// stack slots.
void set_engine_limit(Engine& engine, double seconds) noexcept;
