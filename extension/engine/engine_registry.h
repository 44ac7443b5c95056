// StateRegistry: the engines by state id, and the lookups every export starts with.
#pragma once
#include <map>

#include "extension/engine/job_runner.h"
#include "extension/engine/event_names.h"
#include "extension/engine/last_error.h"
#include "extension/limits/memory_cap.h"
#include "extension/limits/run_clock.h"
#include "extension/limits/sandbox_mark.h"

struct lua_State;

// One engine: what every engine needs, then the small per-engine state each
// feature keeps, declared in that feature's own header.
struct Engine {
    lua_State* L;
    int busy;         // LuaEntry objects held on the engine (lua_entry.h): exports at work
                      // in it, from before their Lua code runs until the host routines
                      // they call afterwards return
    bool closing;     // lua_close is under way; no export may touch the engine
    RunnerSlot runner;      // the cached job runner (job_runner.h)
    RunClock clock;         // the time limit and the running exports' time (run_clock.h)
    EventNames events;      // the names calls by name found functions for (event_names.h)
    LastError last_error;   // the last report, until the host reads it (last_error.h)
    MemoryCap* memory;      // the counting allocator's counters and cap, at a fixed address (memory_cap.h)
    SandboxMark sandbox;    // whether the engine runs scripts the game did not write (sandbox_mark.h)
};

// Keyed by the id as the host gave it, ordered by < on doubles: 0 and -0 are one
// key. Never holds NaN. Holds the only reference to each engine.
using StateRegistry = std::map<double, Engine>;

// The engine registered under id, or null (NaN is never registered).
Engine* find_state(double id) noexcept;

// The engine an export named export_name may work on. When there is none (unknown
// id, or an engine being closed) reports that once and returns null.
Engine* engine_for(const char* export_name, double id) noexcept;

// Registers engine under id, which must not be present. False when memory ran out.
bool add_state(double id, const Engine& engine) noexcept;

// Forgets id. The engine must already be closed.
void forget_state(double id) noexcept;
