#include "extension/engine/lua_entry.h"

#include <cstddef>

extern "C" {
#include <lua.h>
}

#include "extension/engine/error_report.h"
#include "extension/engine/error_trace.h"
#include "extension/engine/pending_cells.h"
#include "extension/limits/run_clock.h"
#include "host/host_value.h"

namespace {

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

int LuaEntry::frame(JobBody body, void* job, int nargs, int nresults) noexcept {
    lua_State* L = engine_.L;
    const std::size_t mark = pending_cells_mark();
    const int below = lua_gettop(L) - nargs + (body ? 1 : 0);  // the first argument's slot, or the function's
    int handler;
    bool pushed;
    int status = place_handler(L, below, &handler, &pushed);  // +0, or +1 handler or error
    if (status == 0 && body) status = push_job_runner(L, engine_.runner);  // +1 runner or error
    if (status == 0) {
        ArmedJob call{body, job, L, {nullptr, 0, 0}};
        int n = nargs;
        if (body) {
            lua_insert(L, pushed ? below + 1 : below);  // the runner below the arguments
            lua_pushlightuserdata(L, &call);            // +1 the job above them
            ++n;
        }
        // The clock first: it may install its own count hook, which stays.
        RunClock* const outer_clock = run_clock_enter(engine_.clock, L);
        ArmedJob* const outer = arm_job(body ? &call : nullptr);
        status = lua_pcall(L, n, nresults, handler);  // -(n + 1), +nresults or +1 error
        disarm_job(call, outer);  // puts back a hook the runner never got to
        run_clock_leave(engine_.clock, L, outer_clock);
        if (pushed) lua_remove(L, handler);  // -1 handler
    } else {
        lua_insert(L, below);  // the error value below the arguments (and a handler)
        lua_settop(L, below);  // -(nargs, and the function)
    }
    pending_cells_release_to(mark);
    return status;
}

void LuaEntry::report_error(void (*release)(void* held), void* held) noexcept {
    HostValue message(true, 0.0);
    take_error_value(engine_.L, message);  // -1 error
    keep_last_error(engine_.last_error, text_of(message));
    if (release) release(held);
    report_holder(message);
}
