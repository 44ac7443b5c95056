// The job runner: the one C function through which an export runs its Lua work.
//
// Every engine caches the runner in its registry when it is made, so entering
// protected mode costs no allocation: the runner is pushed from the registry and
// called with lua_pcall, and it runs the job armed for that call. A runner
// reached any other way (a script that found it in the registry, or in a local
// of a running runner) finds nothing armed and raises.
//
// The message handler's traceback stops at the runner (error_trace.h), and the
// entry (lua_entry.h) calls it: both lean on this file, which leans on neither.
#pragma once

#include "extension/limits/hook_aside.h"

// Work done inside the runner. The job's slots start with the values handed to
// it; it returns the number of results it leaves on top, as a lua_CFunction
// does. It may raise.
using JobBody = int (*)(lua_State* L, void* job);

// What an engine keeps of its runner: the registry slot it is cached in.
struct RunnerSlot {
    int ref;
};

// [-0, +0, m] Makes the engine's job runner and stores its registry slot. Runs
// while the engine is set up, in protected mode.
void make_job_runner(lua_State* L, RunnerSlot& slot);

// [-0, +0, -] Whether the value at index is the job runner.
bool is_job_runner(lua_State* L, int index) noexcept;

// [-0, +1, -] Pushes the engine's runner, restoring it first if a script
// overwrote its slot. On failure returns the status and leaves the error value
// instead.
int push_job_runner(lua_State* L, RunnerSlot& slot) noexcept;

// One call's job, armed for the runner just around lua_pcall.
struct ArmedJob {
    JobBody body;       // null: no runner is called, Lua code runs with nothing armed
    void* job;
    lua_State* L;       // the engine's main thread, the only one the job runs on
    HookAside saved;    // a script's debug hook, put aside while the runner is entered
};

// Makes call the job the next runner call may take (null: none), returning the
// one armed before, which the caller arms again once lua_pcall returned. With a
// body, also puts aside the engine's debug hook when it could run a script's
// function on the way into the runner (hook_aside.h); the runner puts it back.
ArmedJob* arm_job(ArmedJob* call) noexcept;

// Disarms call's job, arming outer again, and puts back a hook the runner did
// not get to.
void disarm_job(ArmedJob& call, ArmedJob* outer) noexcept;
