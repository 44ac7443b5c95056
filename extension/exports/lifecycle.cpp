// state, load and destroy: an engine's life from creation to close.
#include <cmath>

extern "C" {
#include <lauxlib.h>
#include <lua.h>
#include <lualib.h>
}

#include "extension/limits/coroutine_watch.h"
#include "extension/lua/draw_text.h"
#include "extension/lua/engine_libraries.h"
#include "extension/engine/engine_registry.h"
#include "extension/engine/error_trace.h"
#include "extension/limits/guarded_xpcall.h"
#include "extension/engine/error_report.h"
#include "host/export_scope.h"
#include "extension/engine/pending_cells.h"
#include "extension/engine/protected_call.h"
#include "extension/limits/run_clock.h"
#include "extension/exports/varnel_exports.h"

namespace {

// Collector steps taken before an engine is closed, at most, to end a cycle that a
// raising finalizer cut short. Each step either moves the collector on or uses up
// a finalizer that raised (each runs once), so only finalizers that keep making
// new raising finalizers can reach the cap.
constexpr int kClosingSteps = 1 << 17;

struct SetupJob {
    int runner_ref;
};

// [-1, +0, e] Run by lua_cpcall with the job at 1: opens the standard libraries,
// installs draw_text, watches coroutines, guards xpcall and caches the job runner and the
// message handler.
int set_up_engine(lua_State* L) {
    auto* job = static_cast<SetupJob*>(lua_touserdata(L, 1));
    luaL_openlibs(L);
    adjust_engine_libraries(L);
    lua_pushcfunction(L, lua_draw_text);             // +1
    lua_setfield(L, LUA_GLOBALSINDEX, "draw_text");  // -1
    watch_coroutines(L);
    guard_xpcall(L);
    job->runner_ref = make_job_runner(L);
    install_error_handler(L);
    return 0;
}

// [-0, +0, e] Loads the file at path and runs it with no arguments, dropping
// its results. A load failure is raised with luaL_loadfile's message as it is.
int run_file(lua_State* L, void* path) {
    if (luaL_loadfile(L, static_cast<const char*>(path)) != 0) return lua_error(L);  // raises the message on top
    lua_call(L, 0, 0);  // -1 chunk
    return 0;
}

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

VARNEL_EXPORT_WORK double make_state(double id) {
    if (std::isnan(id)) {
        report_failure("state: id is NaN");
        return 1.0;
    }
    if (const Engine* engine = find_state(id)) {
        if (engine->closing) report_failure("state: engine %.14g is being closed", id);
        return 1.0;
    }
    lua_State* L = luaL_newstate();
    if (!L) {
        report_failure("state: not enough memory for engine %.14g", id);
        return 1.0;
    }
    SetupJob job{LUA_NOREF};
    if (lua_cpcall(L, set_up_engine, &job) != 0) {  // +0 or +1 error
        report_error_value(L, -1);
        lua_close(L);
        return 1.0;
    }
    if (!add_state(id, Engine{L, 0, false, job.runner_ref, {}, 0, RunClock{}})) {
        report_failure("state: not enough memory to register engine %.14g", id);
        lua_close(L);
        return 1.0;
    }
    // The message handler stays in slot 1, below everything an export pushes, where
    // every protected call finds it without a lookup; no script can reach it there.
    if (push_error_handler(L) != 0) lua_settop(L, 0);  // +1, or nothing: each call brings one
    return 1.0;
}

VARNEL_EXPORT_WORK double load_file(double id, const char* path) {
    Engine* engine = engine_for("load", id);
    if (!engine) return 1.0;
    if (!path) {
        report_failure("load: null path for engine %.14g", id);
        return 1.0;
    }
    ++engine->running;  // until any error is reported: the host may not close it meanwhile
    if (run_protected(*engine, run_file, const_cast<char*>(path), 0) != 0)  // +0 or +1 error
        report_and_remove_error(engine->L);                                // -1 error
    --engine->running;
    return 1.0;
}

VARNEL_EXPORT_WORK double close_state(double id) {
    Engine* engine = engine_for("destroy", id);
    if (!engine) return 1.0;
    if (engine->running > 0) {
        report_failure("destroy: engine %.14g is running Lua code", id);
        return 1.0;
    }
    // lua_close may run a script's __gc finalizers, and with them varnel's
    // functions; exports given this id meanwhile leave the engine alone.
    const std::size_t mark = pending_cells_mark();
    engine->closing = true;
    ++engine->running;
    set_engine_limit(*engine, 0.0);  // lifting a limit needs no memory
    lua_sethook(engine->L, nullptr, 0, 0);  // a script's hook has nothing left to watch
    rest_collector(engine->L);
    lua_close(engine->L);  // swallows errors raised by finalizers
    pending_cells_release_to(mark);
    forget_state(id);
    return 1.0;
}

}  // namespace

// Makes the engine of id, unless id already has one; the new engine's stack holds
// its message handler in slot 1. No stack of an existing engine is touched.
VARNEL_ENTRY double VARNEL_CDECL state(double id) {
    const ExportScope scope;
    return make_state(id);
}

// [-0, +0, -] on the engine: runs the file; its results are dropped, and a
// failure is reported.
VARNEL_ENTRY double VARNEL_CDECL load(double id, const char* path) {
    const ExportScope scope;
    return load_file(id, path);
}

// Closes the engine of id and forgets the id, so that state may make it anew.
VARNEL_ENTRY double VARNEL_CDECL destroy(double id) {
    const ExportScope scope;
    return close_state(id);
}
