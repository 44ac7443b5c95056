// state, load and destroy: an engine's life from creation to close.
#include <cmath>

extern "C" {
#include <lauxlib.h>
#include <lua.h>
#include <lualib.h>
}

#include "extension/draw_text.h"
#include "extension/engine_libraries.h"
#include "extension/engine_registry.h"
#include "extension/error_report.h"
#include "extension/pending_cells.h"
#include "extension/protected_call.h"
#include "extension/varnel_exports.h"

namespace {

// Room load asks for beyond kEntryRoom while still protected, so that keeping
// kEntryRoom free afterwards never needs the stack to grow.
constexpr int kLoadSpare = 2;

struct SetupJob {
    int runner_ref;
};

// [-1, +0, e] Run by lua_cpcall with the job at 1: opens the standard libraries,
// installs draw_text and caches the job runner.
int set_up_engine(lua_State* L) {
    auto* job = static_cast<SetupJob*>(lua_touserdata(L, 1));
    luaL_openlibs(L);
    adjust_engine_libraries(L);
    lua_pushcfunction(L, lua_draw_text);             // +1
    lua_setfield(L, LUA_GLOBALSINDEX, "draw_text");  // -1
    job->runner_ref = make_job_runner(L);
    return 0;
}

struct LoadJob {
    const char* path;
    int outer_height;  // the engine's stack height when load began
};

// [-0, +n, e] Loads the file and runs it with no arguments, returning all n of
// its results. A load failure is raised with luaL_loadfile's message as it is.
int run_file(lua_State* L, void* data) {
    const LoadJob& job = *static_cast<LoadJob*>(data);
    if (luaL_loadfile(L, job.path) != 0) return lua_error(L);  // raises the message on top
    lua_call(L, 0, LUA_MULTRET);  // -1 chunk, +n results
    const int n = lua_gettop(L);
    // The results stay on the engine's stack once load returns. Grow it now, where
    // running out of memory is only a Lua error, so that room is there afterwards.
    const int room = kEntryRoom + kLoadSpare;
    if (job.outer_height + n + room <= LUAI_MAXCSTACK && lua_checkstack(L, room)) return n;
    lua_settop(L, 0);  // -n results: they cannot be kept, and the error needs room
    return luaL_error(L, "load: %s returned too many values (%d)", job.path, n);
}

}  // namespace

// Makes the engine of id, unless id already has one. No stack of an existing
// engine is touched.
double VARNEL_CDECL state(double id) {
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
    if (!add_state(id, Engine{L, 0, false, job.runner_ref, {}, 0})) {
        report_failure("state: not enough memory to register engine %.14g", id);
        lua_close(L);
    }
    return 1.0;
}

// [-0, +n, -] on the engine: runs the file, whose n results stay on the stack
// (none when it fails; the failure is reported).
double VARNEL_CDECL load(double id, const char* path) {
    Engine* engine = engine_for("load", id);
    if (!engine) return 1.0;
    if (!path) {
        report_failure("load: null path for engine %.14g", id);
        return 1.0;
    }
    lua_State* L = engine->L;
    LoadJob job{path, lua_gettop(L)};
    ++engine->running;  // until any error is reported: the host may not close it meanwhile
    if (run_protected(*engine, run_file, &job, LUA_MULTRET) != 0) {  // +n results or +1 error
        report_and_remove_error(L);  // -1 error
        --engine->running;
        return 1.0;
    }
    --engine->running;
    // Never grows the stack (run_file made the room), so it cannot raise.
    static_cast<void>(lua_checkstack(L, kEntryRoom));
    return 1.0;
}

// Closes the engine of id and forgets the id, so that state may make it anew.
double VARNEL_CDECL destroy(double id) {
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
    lua_close(engine->L);  // swallows errors raised by finalizers
    pending_cells_release_to(mark);
    forget_state(id);
    return 1.0;
}
