// StateRegistry: the engines by state id, and the lookups every export starts with.
#pragma once
#include <map>

#include "extension/limits/run_clock.h"

struct lua_State;

// A name script_event found a global function for: its bytes, and the registry
// slot holding it as a Lua string, the key to look the global up again with.
struct KnownEvent {
    int ref;
    char name[28];  // with the ending zero; longer names are not kept
};
constexpr int kKnownEvents = 8;

struct Engine {
    lua_State* L;
    int running;      // how many exports are at work in the engine: from before their Lua
                      // code runs until the host routines they call afterwards return
    bool closing;     // lua_close is under way; no export may touch the engine
    int runner_ref;   // registry slot of the engine's cached job runner
    KnownEvent known_events[kKnownEvents];  // the first names script_event called
    int known_count;
    RunClock clock;   // the time limit and how long the running exports have taken
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
