// script_event: calls a global Lua function with the entries of a host list and
// turns its first result into a verdict.
#include <cstdint>

extern "C" {
#include <lua.h>
}

#include "extension/engine_registry.h"
#include "extension/error_report.h"
#include "extension/host_list.h"
#include "extension/pending_cells.h"
#include "extension/protected_call.h"
#include "extension/varnel_exports.h"

namespace {

struct EventJob {
    const char* name;
    int32_t h;
    bool list_released;   // host_list_done has been called
    int32_t too_long;     // entries the stack had no room for, 0 when they fitted
    double verdict;
};

// [-?, +0, -] Brings the stack back to height, dropping what a nested export left.
// Nothing is left almost always, and asking is cheaper than setting.
void drop_to(lua_State* L, int height) noexcept {
    if (lua_gettop(L) != height) lua_settop(L, height);
}

// Reads the entry at position i, with holders that are gone when it returns.
HostValueParts take_entry(int32_t h, int32_t i) noexcept {
    const HostValue position(false, i);
    HostValue value;
    read_list_entry(h, position, value);
    return take_parts(value);
}

// [-0, +1, m] Reads entry i and pushes it at height + 1: a number, a text, or nil
// for the empty text. The entry's cell is disposed before the next one is read.
void push_entry(lua_State* L, int height, int32_t h, int32_t i) {
    const HostValueParts entry = take_entry(h, i);
    drop_to(L, height);
    if (entry.is_string) {
        push_host_text(L, entry.cell);  // +1
        return;
    }
    if (entry.cell) NexDeallocateString(entry.cell);
    lua_pushnumber(L, entry.real);  // +1
}

void release_list(EventJob& job) noexcept {
    job.list_released = true;
    list_done(job.h);
}

// [-0, +0, e] Calls the named global with the list's entries; stores the verdict.
// The list routines are host code, which may reach back into this engine through
// an export: whatever such a call leaves on the stack is dropped before the next
// push, so the function and its entries stay together.
int dispatch_event(lua_State* L, void* data) {
    EventJob& job = *static_cast<EventJob*>(data);
    lua_getfield(L, LUA_GLOBALSINDEX, job.name);  // +1 function
    const int function = lua_gettop(L);
    const int32_t count = read_list_size(job.h);
    drop_to(L, function);
    // Room for the entries, and for an export that the list routines call meanwhile.
    if (count > 0 && (count >= LUAI_MAXCSTACK || !lua_checkstack(L, count + 1 + kEntryRoom))) {
        job.too_long = count;
        release_list(job);
        lua_settop(L, function - 1);  // -1 function
        return 0;
    }
    for (int32_t i = 0; i < count; ++i) push_entry(L, function + i, job.h, i);  // +count entries
    const int n = count > 0 ? count : 0;
    release_list(job);
    drop_to(L, function + n);
    lua_call(L, n, 1);  // -(n + 1) function and entries, +1 result
    const lua_Integer v = lua_tointeger(L, -1);
    lua_settop(L, -2);  // -1 result
    job.verdict = v == 0 ? 1.0 : 0.0;
    return 0;
}

}  // namespace

// [-0, +0, -] on the engine. Returns 1.0 when the function's first result counts
// as 0, 0.0 otherwise, and 1.0 on every failure, each reported once.
double VARNEL_CDECL script_event(double id, const char* name, double list) {
    int32_t h;
    if (!list_handle_of(list, &h)) {
        report_failure("script_event: list handle %.14g has no 32-bit value", list);
        return 1.0;
    }
    Engine* engine = engine_for("script_event", id);
    if (engine && !name) {
        report_failure("script_event: null name for engine %.14g", id);
        engine = nullptr;
    }
    if (!engine) {
        list_done(h);
        return 1.0;
    }
    EventJob job{name, h, false, 0, 1.0};
    lua_State* L = engine->L;
    ++engine->running;  // until the list is let go and any failure reported
    const int status = run_protected(*engine, dispatch_event, &job, 0);  // +0 or +1 error
    if (status != 0) {
        HostValue message(true, 0.0);
        take_error_value(L, message);  // -1 error
        if (!job.list_released) list_done(h);
        report_holder(message);
        --engine->running;
        return 1.0;
    }
    if (!job.list_released) list_done(h);
    if (job.too_long != 0)
        report_failure("script_event: list of %d entries is too long", static_cast<int>(job.too_long));
    --engine->running;
    return job.too_long != 0 ? 1.0 : job.verdict;
}
