#include "extension/protected_call.h"

extern "C" {
#include <lauxlib.h>
#include <lua.h>
}

#include "extension/engine_registry.h"
#include "extension/pending_cells.h"

namespace {

struct ProtectedJob {
    JobBody body;
    void* job;
};

// The job that the next runner call may take. Set just before lua_pcall, so a
// runner reached any other way (a script that found it in the registry, or a
// call hook run before the runner starts) finds nothing meant for it.
ProtectedJob* g_armed = nullptr;

// [-(nargs + 1), +n, e] The job runner: takes its job from the light userdata on
// top and returns the body's n results. The arguments below the job are the body's.
int run_job(lua_State* L) {
    const int top = lua_gettop(L);
    auto* call = top > 0 ? static_cast<ProtectedJob*>(lua_touserdata(L, top)) : nullptr;
    if (!call || call != g_armed) return luaL_error(L, "varnel: job runner called from Lua");
    g_armed = nullptr;
    lua_settop(L, -2);  // -1
    return call->body(L, call->job);
}

// [-0, +0, m] Restores the runner in the slot that a script overwrote.
int restore_runner(lua_State* L) {
    const int ref = *static_cast<int*>(lua_touserdata(L, 1));
    lua_pushcfunction(L, run_job);        // +1
    lua_rawseti(L, LUA_REGISTRYINDEX, ref);  // -1
    return 0;
}

// [-0, +1, -] Pushes the engine's runner. On failure returns the status and
// leaves the error value instead.
int push_runner(Engine& engine) noexcept {
    lua_State* L = engine.L;
    lua_rawgeti(L, LUA_REGISTRYINDEX, engine.runner_ref);  // +1
    if (lua_tocfunction(L, -1) == run_job) return 0;
    lua_settop(L, -2);  // -1
    const int status = lua_cpcall(L, restore_runner, &engine.runner_ref);  // +0 or +1 error
    if (status != 0) return status;
    lua_rawgeti(L, LUA_REGISTRYINDEX, engine.runner_ref);  // +1
    return 0;
}

}  // namespace

int make_job_runner(lua_State* L) {
    lua_pushcfunction(L, run_job);             // +1
    return luaL_ref(L, LUA_REGISTRYINDEX);     // -1
}

int run_protected(Engine& engine, JobBody body, void* job, int nresults) noexcept {
    return run_protected_with(engine, body, job, 0, nresults);
}

int run_protected_with(Engine& engine, JobBody body, void* job, int nargs, int nresults) noexcept {
    lua_State* L = engine.L;
    const std::size_t mark = pending_cells_mark();
    ++engine.running;
    int status = push_runner(engine);  // +1
    if (status == 0) {
        ProtectedJob call{body, job};
        ProtectedJob* const outer = g_armed;
        if (nargs > 0) lua_insert(L, -(nargs + 1));  // the runner below the arguments
        lua_pushlightuserdata(L, &call);              // +1 the job above them
        g_armed = &call;
        status = lua_pcall(L, nargs + 1, nresults, 0);  // -(nargs + 2), +nresults or +1 error
        g_armed = outer;
    } else if (nargs > 0) {
        lua_insert(L, -(nargs + 1));   // the error value below the arguments
        lua_settop(L, -(nargs + 1));   // -nargs
    }
    --engine.running;
    pending_cells_release_to(mark);
    return status;
}

int call_protected(Engine& engine, int nargs, int nresults) noexcept {
    lua_State* L = engine.L;
    const std::size_t mark = pending_cells_mark();
    ++engine.running;
    // Lua code runs here as it does inside the runner: with no job armed.
    ProtectedJob* const outer = g_armed;
    g_armed = nullptr;
    const int status = lua_pcall(L, nargs, nresults, 0);  // -(nargs + 1), +nresults or +1 error
    g_armed = outer;
    --engine.running;
    pending_cells_release_to(mark);
    return status;
}
