#include "extension/engine/protected_call.h"

extern "C" {
#include <lauxlib.h>
#include <lua.h>
}

#include "extension/engine/engine_registry.h"
#include "extension/engine/error_trace.h"
#include "extension/engine/pending_cells.h"
#include "extension/limits/run_clock.h"

namespace {

// A script's debug hook, put aside while an export enters its runner.
struct SavedHook {
    lua_Hook hook;
    int mask;
    int count;
};

struct ProtectedJob {
    JobBody body;
    void* job;
    lua_State* L;      // the engine's main thread, the only one the job runs on
    SavedHook hook;    // hook.hook is null when none was put aside
};

// The job that the next runner call may take. Set just before lua_pcall, so a
// runner reached any other way (a script that found it in the registry or in a
// local of a running runner) finds nothing meant for it.
ProtectedJob* g_armed = nullptr;

// Takes away the engine's debug hook, when it has one that could run a script's
// function on the way into the runner (any but a count hook: no VM instruction
// runs between lua_pcall and the runner's first line). The runner puts it back.
void set_hook_aside(lua_State* L, ProtectedJob& call) noexcept {
    call.hook = SavedHook{nullptr, 0, 0};
    const int mask = lua_gethookmask(L);
    if ((mask & ~LUA_MASKCOUNT) == 0) return;
    call.hook = SavedHook{lua_gethook(L), mask, lua_gethookcount(L)};
    lua_sethook(L, nullptr, 0, 0);
}

void put_hook_back(ProtectedJob& call) noexcept {
    if (!call.hook.hook) return;
    lua_sethook(call.L, call.hook.hook, call.hook.mask, call.hook.count);
    call.hook.hook = nullptr;
}

// [-(nargs + 1), +n, e] The job runner: takes its job from the light userdata on
// top and returns the body's n results. The arguments below the job are the body's.
int run_job(lua_State* L) {
    const int top = lua_gettop(L);
    auto* call = top > 0 ? static_cast<ProtectedJob*>(lua_touserdata(L, top)) : nullptr;
    if (!call || call != g_armed || call->L != L) return luaL_error(L, "varnel: job runner called from Lua");
    g_armed = nullptr;
    put_hook_back(*call);
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

// [-0, +(0 | 1), -] Finds the engine's message handler for a protected call whose
// function or arguments start at slot below: slot 1, where state left it, when
// this is the outermost frame; otherwise one is pushed and moved to below. Sets
// *pushed when it did so (the caller removes it afterwards). On failure returns
// the status and leaves the error value on top instead.
int place_handler(lua_State* L, int below, int* handler, bool* pushed) noexcept {
    *handler = 1;
    *pushed = !is_error_handler(L, 1);
    if (!*pushed) return 0;
    const int status = push_error_handler(L);  // +1 handler or error
    if (status == 0) lua_insert(L, below);
    *handler = below;
    return status;
}

}  // namespace

int make_job_runner(lua_State* L) {
    lua_pushcfunction(L, run_job);             // +1
    return luaL_ref(L, LUA_REGISTRYINDEX);     // -1
}

bool is_job_runner(lua_State* L, int index) noexcept {
    return lua_tocfunction(L, index) == run_job;
}

int run_protected(Engine& engine, JobBody body, void* job, int nresults) noexcept {
    return run_protected_with(engine, body, job, 0, nresults);
}

int run_protected_with(Engine& engine, JobBody body, void* job, int nargs, int nresults) noexcept {
    lua_State* L = engine.L;
    const std::size_t mark = pending_cells_mark();
    ++engine.running;
    const int first = lua_gettop(L) - nargs + 1;  // the first argument's slot
    int handler;
    bool pushed;
    int status = place_handler(L, first, &handler, &pushed);  // +0, or +1 handler or error
    if (status == 0) status = push_runner(engine);  // +1 runner or error
    if (status == 0) {
        ProtectedJob call{body, job, L, {nullptr, 0, 0}};
        ProtectedJob* const outer = g_armed;
        lua_insert(L, pushed ? first + 1 : first);  // the runner below the arguments
        lua_pushlightuserdata(L, &call);                  // +1 the job above them
        // The clock first: it may install its own count hook, which stays.
        RunClock* const outer_clock = run_clock_enter(engine.clock, L);
        set_hook_aside(L, call);
        g_armed = &call;
        status = lua_pcall(L, nargs + 1, nresults, handler);  // -(nargs + 2), +nresults or +1 error
        g_armed = outer;
        put_hook_back(call);  // when the runner never started
        run_clock_leave(engine.clock, L, outer_clock);
        if (pushed) lua_remove(L, handler);  // -1 handler
    } else {
        lua_insert(L, first);  // the error value below the arguments (and a handler)
        lua_settop(L, first);  // -nargs
    }
    --engine.running;
    pending_cells_release_to(mark);
    return status;
}

int call_protected(Engine& engine, int nargs, int nresults) noexcept {
    lua_State* L = engine.L;
    const std::size_t mark = pending_cells_mark();
    ++engine.running;
    const int function = lua_gettop(L) - nargs;
    int handler;
    bool pushed;
    int status = place_handler(L, function, &handler, &pushed);  // +0, or +1 handler or error
    if (status == 0) {
        // Lua code runs here as it does inside the runner: with no job armed.
        ProtectedJob* const outer = g_armed;
        g_armed = nullptr;
        RunClock* const outer_clock = run_clock_enter(engine.clock, L);
        status = lua_pcall(L, nargs, nresults, handler);  // -(nargs + 1), +nresults or +1 error
        run_clock_leave(engine.clock, L, outer_clock);
        g_armed = outer;
        if (pushed) lua_remove(L, handler);  // -1 handler
    } else {
        lua_insert(L, function);  // the error value below the function and arguments
        lua_settop(L, function);  // -(nargs + 1)
    }
    --engine.running;
    pending_cells_release_to(mark);
    return status;
}
