// Entering an engine's Lua code from an export: the one way in and out.
//
// An export's work function holds a LuaEntry on its engine from before its Lua
// code runs until the host routines it calls afterwards (letting a list go,
// reporting an error) have returned: meanwhile the engine counts as busy, and
// destroy leaves it alone. The entry lives in the work function, outside every
// protected call, so no raise skips its destructor.
//
// Each protected call goes through one frame: the message handler placed under
// the call (error_trace.h), the job runner (job_runner.h) when the work is a
// C job, the engine's run clock (run_clock.h), and the host cells orphaned by
// raises inside disposed once it returns (pending_cells.h).
#pragma once

#include "extension/engine/engine_registry.h"
#include "extension/engine/job_runner.h"

// Free stack slots every export leaves for the next one: entering protected mode
// pushes (a message handler,) the runner and its argument, and when the call
// fails, turning a number error value into text pushes two more above the error
// value (any pushed handler is gone by then). One slot more is for a call by
// name with a list (script_event, call_real, call_text: list_call.h), which
// holds the function it found while the host reads the list's size, before it
// enters protected mode; only one such call does so at a time, so an export
// called meanwhile still finds the other three.
constexpr int kEntryRoom = 4;

// Once the time limit fired or the memory cap refused memory during an entry's
// Lua code, the export reports it once: with its error when the call failed
// (the limit's message in place of an error value that is not its own), or when
// the entry ends if the script caught the error and returned.
class LuaEntry {
public:
    explicit LuaEntry(Engine& engine) noexcept : engine_(engine) { ++engine.busy; }
    ~LuaEntry();

    LuaEntry(const LuaEntry&) = delete;
    LuaEntry& operator=(const LuaEntry&) = delete;

    Engine& engine() const noexcept { return engine_; }

    // [-0, +(nresults | 1), -] Runs body(L, job) in protected mode on the
    // engine's main thread. Returns lua_pcall's status: on 0 the body's results
    // are on top (adjusted to nresults), otherwise the error value is. A
    // run-time error raised inside is worded with a stack traceback.
    int run(JobBody body, void* job, int nresults) noexcept { return frame(body, job, 0, nresults); }

    // [-nargs, +(nresults | 1), -] As run, handing the nargs values on top to
    // the body, which finds them at 1..nargs.
    int run_with(JobBody body, void* job, int nargs, int nresults) noexcept {
        return frame(body, job, nargs, nresults);
    }

    // [-(nargs + 1), +(nresults | 1), -] Calls the function below the nargs
    // values on top with them, through the same frame but with no runner.
    int call(int nargs, int nresults) noexcept { return frame(nullptr, nullptr, nargs, nresults); }

    // [-1, +0, -] After a failed call: takes the error value on top off the
    // stack, lets go of what the export still holds (release(held), when
    // given), then reports the error. The stack is back to the room the export
    // found before any host routine runs: one may call an export of this engine.
    void report_error(void (*release)(void* held) = nullptr, void* held = nullptr) noexcept;

private:
    // The one frame behind run, run_with and call: body null calls a function.
    int frame(JobBody body, void* job, int nargs, int nresults) noexcept;

    // After a frame: notes what fired in it, and collects after a refusal.
    void settle(unsigned fired, unsigned refused) noexcept;

    Engine& engine_;
    bool limit_fired_ = false;    // the time limit fired during this entry's Lua code
    bool memory_refused_ = false;  // the memory cap refused an allocation in it
    bool reported_ = false;        // report_error has reported this entry's failure
};
