// Running an export's Lua work in protected mode.
//
// Every engine caches one C function, the job runner, in its registry when it is
// made, so entering protected mode costs no allocation: the runner is pushed
// from the registry and called with lua_pcall, and it runs the job it is handed.
// The message handler (error_trace.h) waits in slot 1 of the engine's stack; an
// export called from inside a C function of the same engine, whose frame hides
// that slot, pushes its own copy below the call. Each call is counted on the
// engine's run clock (run_clock.h).
#pragma once

struct lua_State;
struct Engine;

// Free stack slots every export leaves for the next one: entering protected mode
// pushes (a message handler,) the runner and its argument, and when the call
// fails, turning a number error value into text pushes two more above the error
// value (any pushed handler is gone by then). One slot more is
// for script_event, which holds the function it found while the host reads the
// list's size, before it enters protected mode; only one such call does so at a
// time, so an export called meanwhile still finds the other three.
constexpr int kEntryRoom = 4;

// Work done inside the runner; a run-time error raised there is reported with a
// stack traceback (see error_trace.h). The job's slots start with the values handed to it
// (none from run_protected); it returns the number of results it leaves on top,
// as a lua_CFunction does. It may raise.
using JobBody = int (*)(lua_State* L, void* job);

// [-0, +0, m] Makes the engine's job runner and returns its registry slot. Runs
// while the engine is set up, in protected mode.
int make_job_runner(lua_State* L);

// [-0, +0, -] Whether the value at index is the job runner.
bool is_job_runner(lua_State* L, int index) noexcept;

// [-0, +(nresults | 1), -] Runs body(L, job) in protected mode on engine's main
// thread, counting the engine as running meanwhile. Returns lua_pcall's status:
// on 0 the body's results are on top (adjusted to nresults), otherwise the error
// value is. Host cells orphaned by raises inside are disposed before it returns.
int run_protected(Engine& engine, JobBody body, void* job, int nresults) noexcept;

// [-nargs, +(nresults | 1), -] As run_protected, handing the nargs values on top
// to the body, which finds them at 1..nargs.
int run_protected_with(Engine& engine, JobBody body, void* job, int nargs, int nresults) noexcept;

// [-(nargs + 1), +(nresults | 1), -] Calls the function below the nargs values on
// top with them, in protected mode and with the same bookkeeping as run_protected.
int call_protected(Engine& engine, int nargs, int nresults) noexcept;
