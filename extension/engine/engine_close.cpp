#include "extension/engine/engine_close.h"

extern "C" {
#include <lua.h>
}

#include "extension/engine/pending_cells.h"
#include "extension/limits/memory_cap.h"
#include "extension/limits/run_clock.h"

namespace {

// Collector steps taken before an engine is closed, at most, to end a cycle that a
// raising finalizer cut short. Each step either moves the collector on or uses up
// a finalizer that raised (each runs once), so only finalizers that keep making
// new raising finalizers can reach the cap.
constexpr int kClosingSteps = 1 << 17;

// [-0, +0, e] Run by lua_cpcall: one full collection.
int collect_all(lua_State* L) {
    lua_gc(L, LUA_GCCOLLECT, 0);
    return 0;
}

// [-0, +0, e] Run by lua_cpcall: one collector step; sets *ended when the step
// ended a cycle, leaving the collector at rest.
int step_collector(lua_State* L) {
    bool* ended = static_cast<bool*>(lua_touserdata(L, 1));
    *ended = lua_gc(L, LUA_GCSTEP, 0) == 1;
    return 0;
}

// Brings the collector to rest between two cycles before the engine is closed.
// lua_close sets aside every object that has a finalizer before it runs them; if
// the collector is then part-way through sweeping, its sweep position may sit in
// an object set aside, on a list that loops, and the next collection a finalizer
// asks for sweeps that list for ever. So the engine is closed only once a cycle
// has ended with nothing after it: a full collection that completes, or, when a
// raising finalizer cut it short (perhaps after stepping the collector into a new
// sweep), steps until one ends. Errors are dropped, as lua_close drops those of
// the finalizers it runs.
void rest_collector(lua_State* L) noexcept {
    if (lua_cpcall(L, collect_all, nullptr) == 0) return;  // +0 or +1 error
    lua_settop(L, -2);                                      // -1 error
    for (int i = 0; i < kClosingSteps; ++i) {
        bool ended = false;
        if (lua_cpcall(L, step_collector, &ended) != 0) {  // +0 or +1 error
            lua_settop(L, -2);                              // -1 error
            continue;
        }
        if (ended) return;
    }
}

}  // namespace

void close_engine(Engine& engine) noexcept {
    const std::size_t mark = pending_cells_mark();
    engine.closing = true;
    set_engine_limit(engine.clock, engine.L, 0.0);  // lifting a limit needs no memory
    lua_sethook(engine.L, nullptr, 0, 0);  // a script's hook has nothing left to watch
    ++engine.memory->lifted;  // closing is never refused memory
    rest_collector(engine.L);
    lua_close(engine.L);  // swallows errors raised by finalizers
    free_memory_cap(engine.memory);
    engine.memory = nullptr;
    pending_cells_release_to(mark);
}
