#include "extension/engine/lua_entry.h"

#include <cstddef>
#include <cstring>

extern "C" {
#include <lua.h>
}

#include "extension/engine/error_report.h"
#include "extension/engine/error_trace.h"
#include "extension/engine/last_error.h"
#include "extension/engine/pending_cells.h"
#include "extension/limits/run_clock.h"
#include "extension/limits/memory_cap.h"
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

void report_limit(Engine& engine) noexcept {
    char text[64];
    run_clock_message(engine.clock, text, sizeof text);
    report_engine_text(engine, text);
}

// [-0, +0, -] Whether the value at index is the limit's error: a string that
// holds its message (after a position that coroutine.wrap adds, before the
// traceback).
bool is_limit_error(lua_State* L, int index, const RunClock& clock) noexcept {
    char text[64];
    run_clock_message(clock, text, sizeof text);
    const char* value = lua_type(L, index) == LUA_TSTRING ? lua_tostring(L, index) : nullptr;
    return value && std::strstr(value, text) != nullptr;
}

}  // namespace

LuaEntry::~LuaEntry() {
    if (!reported_ && limit_fired_) {
        report_limit(engine_);
    } else if (!reported_ && memory_refused_ && engine_.memory->told != engine_.memory->refused) {
        engine_.memory->told = engine_.memory->refused;  // a nested export's report covers it
        report_engine_text(engine_, "not enough memory");
    }
    --engine_.busy;
}

void LuaEntry::settle(unsigned fired, unsigned refused) noexcept {
    if (engine_.clock.fired != fired) limit_fired_ = true;
    if (engine_.memory->refused != refused) {
        memory_refused_ = true;
        collect_with_cap_lifted(engine_.L, *engine_.memory);  // the engine is back to what it holds
    }
    if (engine_.clock.depth == 0) engine_.memory->reserve = 0;
}

int LuaEntry::frame(JobBody body, void* job, int nargs, int nresults) noexcept {
    lua_State* L = engine_.L;
    const std::size_t mark = pending_cells_mark();
    const unsigned fired = engine_.clock.fired;
    const unsigned refused = engine_.memory->refused;
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
    settle(fired, refused);
    return status;
}

void LuaEntry::report_error(void (*release)(void* held), void* held) noexcept {
    lua_State* L = engine_.L;
    const bool limit_instead = limit_fired_ && !is_limit_error(L, -1, engine_.clock);
    reported_ = true;
    engine_.memory->told = engine_.memory->refused;
    ++engine_.memory->lifted;  // wording the error is never refused memory
    HostValue message(true, 0.0);
    take_error_value(L, message);  // -1 error
    --engine_.memory->lifted;
    if (release) release(held);
    if (limit_instead) {
        report_limit(engine_);
        return;
    }
    keep_last_error(engine_.last_error, text_of(message));
    report_holder(message);
}
