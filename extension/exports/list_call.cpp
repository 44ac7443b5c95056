#include "extension/exports/list_call.h"

#include <cstdint>

extern "C" {
#include <lauxlib.h>
#include <lua.h>
}

#include "extension/engine/engine_registry.h"
#include "extension/engine/error_report.h"
#include "extension/engine/last_error.h"
#include "extension/engine/lua_entry.h"
#include "extension/engine/pending_cells.h"
#include "host/host_routines.h"

namespace {

struct ListJob {
    const char* name;
    Engine* engine;
    int32_t h;
    TakeResult take;
    void* out;
    int32_t count;        // what host_list_size answered
    bool looked_up;       // the function was found by name inside protected mode
    bool list_released;   // host_list_done has been called
    int32_t too_long;     // entries the stack had no room for, 0 when they fitted
    uint32_t raised;      // an exception a list routine raised outside protected mode, or 0
    bool took;            // take stored the first result
};

// The way for names the engine knows (engine/event_names.h): the function found by
// raw reads before protected mode is entered, and called directly when the list
// is empty. It pays: script_event on an empty list takes 2,701 instructions this
// way and 3,265 when every call looks the name up inside the runner (callgrind,
// linux build).
//
// Set while a call holds its function on the stack outside protected mode, around
// the host's list routines, where it takes the one slot of the room beyond what
// other exports need. Calls made meanwhile take the protected way.
bool g_holding = false;

// [-?, +0, -] Brings the stack back to height, dropping what a nested export left.
// Nothing is left almost always, and asking is cheaper than setting.
void drop_to(lua_State* L, int height) noexcept {
    if (lua_gettop(L) != height) lua_settop(L, height);
}

// Reads the entry at position i, with holders that are gone when it returns.
// raised gets 0, or the code of an exception the routine raised.
HostValueParts take_entry(int32_t h, int32_t i, uint32_t* raised) noexcept {
    const HostValue position(false, i);
    HostValue value;
    *raised = host_list_get(h, position, value);
    return take_parts(value);
}

// [-0, +1, e] Reads entry i and pushes it at height + 1: a number, a text, or nil
// for the empty text. The entry's cell is disposed before the next one is read.
void push_entry(lua_State* L, int height, int32_t h, int32_t i) {
    uint32_t raised;
    const HostValueParts entry = take_entry(h, i, &raised);
    drop_to(L, height);
    raised = with_cell_exception(raised);  // the routine's, or a cell routine's
    if (raised != 0) {
        if (entry.cell) host_dispose_cell(entry.cell);
        take_cell_exception();  // one exception per entry is raised
        raise_host_exception(L, raised);
    }
    if (entry.is_string) {
        push_host_text(L, entry.cell);  // +1
    } else {
        if (entry.cell) host_dispose_cell(entry.cell);
        lua_pushnumber(L, entry.real);  // +1
    }
    if (const uint32_t code = take_cell_exception()) raise_host_exception(L, code);
}

// [-0, +0, e] Lets the list go, inside protected mode.
void release_list(lua_State* L, ListJob& job) {
    job.list_released = true;
    const uint32_t raised = host_list_done(job.h);
    if (raised != 0) raise_host_exception(L, raised);
}

// Lets the list go where no Lua code runs: an exception is reported (for engine,
// when there is one).
void release_list_outside(int32_t h, Engine* engine) noexcept {
    const uint32_t raised = host_list_done(h);
    if (raised == 0) return;
    if (engine)
        report_engine_exception(*engine, raised);
    else
        report_host_exception(raised);
}

// [-0, +0, v] Raises Lua's own error for a call of the global name when the
// value at function cannot be called: neither a function nor with __call.
void check_callable(lua_State* L, int function, const char* name) {
    if (lua_type(L, function) == LUA_TFUNCTION) return;
    if (luaL_getmetafield(L, function, "__call")) {  // +1 metamethod, or +0
        lua_settop(L, -2);  // -1
        return;
    }
    luaL_error(L, "attempt to call global '%s' (a %s value)", name, luaL_typename(L, function));
}

// [-1, +0, e] Calls the function at 1, the only slot below, with the list's
// job.count entries; takes its first result. The list routines are host code,
// which may reach back into this engine through an export: whatever such a call
// leaves on the stack is dropped before the next push, so the function and its
// entries stay together.
int call_with_entries(lua_State* L, void* data) {
    ListJob& job = *static_cast<ListJob*>(data);
    const int function = 1;
    const int32_t count = job.count;
    drop_to(L, function);
    // Room for the entries, and for an export that the list routines call meanwhile.
    if (count > 0 && (count >= LUAI_MAXCSTACK || !lua_checkstack(L, count + 1 + kEntryRoom))) {
        job.too_long = count;
        release_list(L, job);
        lua_settop(L, function - 1);  // -1 function
        return 0;
    }
    for (int32_t i = 0; i < count; ++i) push_entry(L, function + i, job.h, i);  // +count entries
    const int n = count > 0 ? count : 0;
    release_list(L, job);
    drop_to(L, function + n);
    check_callable(L, function, job.name);
    lua_call(L, n, 1);  // -(n + 1) function and entries, +1 result
    // Only now, so that no collection step can come between finding the
    // function and the list routines.
    if (job.looked_up) remember_name(L, job.engine->events, job.name);
    job.take(L, job.out);  // -1 result
    job.took = true;
    return 0;
}

// [-0, +0, e] Looks up the named global and reads the list's size, then calls it
// as call_with_entries does, and remembers the name once the call succeeded.
int dispatch_call(lua_State* L, void* data) {
    ListJob& job = *static_cast<ListJob*>(data);
    lua_getfield(L, LUA_GLOBALSINDEX, job.name);  // +1 function
    job.looked_up = true;
    uint32_t raised = host_list_size(job.h, &job.count);
    if (raised != 0) return raise_host_exception(L, raised);
    return call_with_entries(L, data);
}

// [-1, +0, -] Calls the function on top, found by push_known_function, holding it
// outside protected mode while the host reads the list's size. An empty list
// needs nothing that can raise, so the function is then called directly.
// Returns the status of the protected call; when a list routine raised before
// it, the function is dropped, the list let go and job.raised set.
int call_known(LuaEntry& entry, ListJob& job) noexcept {
    lua_State* L = entry.engine().L;
    const int function = lua_gettop(L);
    g_holding = true;
    uint32_t raised = host_list_size(job.h, &job.count);
    drop_to(L, function);
    if (raised == 0 && job.count > 0) {
        g_holding = false;
        return entry.run_with(call_with_entries, &job, 1, 0);  // -1, +0 or +1 error
    }
    if (raised != 0) {
        release_list_outside(job.h, job.engine);  // reported before the exception below
    } else {
        raised = host_list_done(job.h);
        drop_to(L, function);
    }
    job.list_released = true;
    g_holding = false;
    if (raised != 0) {
        lua_settop(L, function - 1);  // -1 function and whatever lies above it
        job.raised = raised;
        return 0;
    }
    const int status = entry.call(0, 1);  // -1 function, +1 result or error
    if (status == 0) {
        job.take(L, job.out);  // -1 result
        job.took = true;
    }
    return status;
}

// Lets the job's list go, unless that was done: after the call, outside
// protected mode.
void let_list_go(void* data) noexcept {
    auto& job = *static_cast<ListJob*>(data);
    if (!job.list_released) release_list_outside(job.h, job.engine);
    job.list_released = true;
}

}  // namespace

bool call_with_list(const char* export_name, double id, const char* name, double list, TakeResult take,
                    void* out) noexcept {
    int32_t h;
    if (!list_handle_of(list, &h)) {
        report_failure("%s: list handle %.14g has no 32-bit value", export_name, list);
        return false;
    }
    Engine* engine = engine_for(export_name, id);
    if (engine && !name) {
        report_engine_failure(*engine, "%s: null name for engine %.14g", export_name, id);
        engine = nullptr;
    }
    if (!engine) {
        release_list_outside(h, nullptr);
        return false;
    }
    ListJob job{name, engine, h, take, out, 0, false, false, 0, 0, false};
    LuaEntry entry(*engine);  // until the list is let go and any failure reported
    const int status = !g_holding && push_known_function(engine->L, engine->events, name)  // +1 function
                           ? call_known(entry, job)              // -1, +0 or +1 error
                           : entry.run(dispatch_call, &job, 0);  // +0 or +1 error
    if (status != 0) {
        entry.report_error(let_list_go, &job);  // -1 error
        return false;
    }
    let_list_go(&job);
    if (job.raised != 0)
        report_engine_exception(*engine, job.raised);
    else if (job.too_long != 0)
        report_engine_failure(*engine, "%s: list of %d entries is too long", export_name,
                              static_cast<int>(job.too_long));
    return job.raised == 0 && job.too_long == 0 && job.took;
}
