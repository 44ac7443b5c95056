#include "extension/engine/job_runner.h"

extern "C" {
#include <lauxlib.h>
#include <lua.h>
}

namespace {

// The job that the next runner call may take. Set just before lua_pcall, so a
// runner reached any other way finds nothing meant for it.
ArmedJob* g_armed = nullptr;

// [-(nargs + 1), +n, e] The job runner: takes its job from the light userdata on
// top and returns the body's n results. The arguments below the job are the body's.
int run_job(lua_State* L) {
    const int top = lua_gettop(L);
    auto* call = top > 0 ? static_cast<ArmedJob*>(lua_touserdata(L, top)) : nullptr;
    if (!call || call != g_armed || call->L != L) return luaL_error(L, "varnel: job runner called from Lua");
    g_armed = nullptr;
    put_hook_back(L, call->saved);
    lua_settop(L, -2);  // -1
    return call->body(L, call->job);
}

// [-0, +0, m] Restores the runner in the slot that a script overwrote.
int restore_runner(lua_State* L) {
    const int ref = *static_cast<int*>(lua_touserdata(L, 1));
    lua_pushcfunction(L, run_job);           // +1
    lua_rawseti(L, LUA_REGISTRYINDEX, ref);  // -1
    return 0;
}

}  // namespace

void make_job_runner(lua_State* L, RunnerSlot& slot) {
    lua_pushcfunction(L, run_job);              // +1
    slot.ref = luaL_ref(L, LUA_REGISTRYINDEX);  // -1
}

bool is_job_runner(lua_State* L, int index) noexcept {
    return lua_tocfunction(L, index) == run_job;
}

int push_job_runner(lua_State* L, RunnerSlot& slot) noexcept {
    lua_rawgeti(L, LUA_REGISTRYINDEX, slot.ref);  // +1
    if (lua_tocfunction(L, -1) == run_job) return 0;
    lua_settop(L, -2);  // -1
    const int status = lua_cpcall(L, restore_runner, &slot.ref);  // +0 or +1 error
    if (status != 0) return status;
    lua_rawgeti(L, LUA_REGISTRYINDEX, slot.ref);  // +1
    return 0;
}

ArmedJob* arm_job(ArmedJob* call) noexcept {
    ArmedJob* const outer = g_armed;
    if (call) call->saved = put_hook_aside(call->L);
    g_armed = call;
    return outer;
}

void disarm_job(ArmedJob& call, ArmedJob* outer) noexcept {
    g_armed = outer;
    put_hook_back(call.L, call.saved);
}
