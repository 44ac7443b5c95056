#include "extension/lua/script_forward.h"

#include <cstdint>
#include <cstdlib>
#include <new>

extern "C" {
#include <lauxlib.h>
#include <lua.h>
}

#include "extension/engine/error_report.h"
#include "extension/engine/pending_cells.h"
#include "extension/engine/script_registry.h"
#include "extension/limits/run_clock.h"
#include "host/host_routines.h"

namespace {

// Calls with up to this many arguments keep their holders and records on the C stack.
constexpr int kInlineArgs = 8;

// Reads Lua arguments 1..argc into args, which are new holders. A string becomes
// a text, a number a number, anything else stays the number 0.0: no coercion.
// Reads only values that need no conversion, so nothing here can raise.
void convert_args(lua_State* L, int argc, HostValue* args) noexcept {
    for (int i = 1; i <= argc; ++i) {
        HostValue& holder = args[i - 1];
        switch (lua_type(L, i)) {
        case LUA_TSTRING:
            holder.is_string = true;
            set_text(holder, lua_tolstring(L, i, nullptr));
            break;
        case LUA_TNUMBER:
            holder.real = lua_tonumber(L, i);
            break;
        default:
            break;
        }
    }
}

// Runs the script and returns its result, moved out of the result holder, and in
// raised the code of an exception it raised, or 0. Every other holder is gone by
// the time it returns. A cell routine that raises meanwhile leaves its exception
// pending (host/host_call.h).
HostValueParts run_with(lua_State* L, double index, int argc, HostValue* args,
                        HostCallArg* records, uint32_t* raised) noexcept {
    convert_args(L, argc, args);
    const HostValue index_holder(false, index);
    HostValue result;
    // A cell routine that raised while the arguments were made: no call.
    *raised = g_cell_raised != 0 ? 0 : host_execute_script(index_holder, argc, args, result, records);
    return take_parts(result);
}

// One block from the heap for count holders and count + 1 records, or null.
void* heap_room(std::size_t count) noexcept {
    if (count > (SIZE_MAX - sizeof(HostCallArg)) / (sizeof(HostValue) + sizeof(HostCallArg)))
        return nullptr;
    return std::malloc(count * sizeof(HostValue) + (count + 1) * sizeof(HostCallArg));
}

// As run_with, finding room for the holders and records first: on the C stack for
// up to kInlineArgs arguments, else on the heap. False, with nothing acquired, when
// the heap has none. Only the argc holders in use are made.
bool run_script(lua_State* L, double index, int argc, HostValueParts* out, uint32_t* raised) noexcept {
    const std::size_t count = static_cast<std::size_t>(argc);
    alignas(HostValue) unsigned char inline_holders[kInlineArgs * sizeof(HostValue)];
    HostCallArg inline_records[kInlineArgs + 1];
    void* room = inline_holders;
    HostCallArg* records = inline_records;
    void* block = nullptr;
    if (argc > kInlineArgs) {
        block = heap_room(count);
        if (!block) return false;
        room = block;
        records = reinterpret_cast<HostCallArg*>(static_cast<HostValue*>(block) + count);
    }
    auto* args = static_cast<HostValue*>(room);
    for (std::size_t i = 0; i < count; ++i) new (&args[i]) HostValue();
    *out = run_with(L, index, argc, args, records, raised);
    // The holders go in the order they always have: on the stack the last first,
    // as an array's do, from the heap the first first.
    if (!block) {
        for (std::size_t i = count; i-- > 0;) args[i].~HostValue();
        return true;
    }
    for (std::size_t i = 0; i < count; ++i) args[i].~HostValue();
    std::free(block);
    return true;
}

// [-0, +(0 | 1), m] Hands the script's result to Lua and returns the count.
int hand_result(lua_State* L, const HostValueParts& result) {
    if (result.is_string) {
        push_host_text(L, result.cell);  // +1, disposes the cell
        return 1;
    }
    if (result.cell) host_dispose_cell(result.cell);
    if (result.real == 0.0) return 0;  // 0 and -0 give no values
    lua_pushnumber(L, result.real);  // +1
    return 1;
}

}  // namespace

int forward_script_call(lua_State* L) {
    const int argc = lua_gettop(L);
    int at = lua_upvalueindex(1);
    if (lua_type(L, at) != LUA_TSTRING) {
        // A name that is not a string is converted in a copy, which may raise
        // (nothing is held yet) and leaves the upvalue as it is.
        lua_pushvalue(L, at);  // +1 name
        at = argc + 1;
    }
    std::size_t length;
    const char* name = lua_tolstring(L, at, &length);
    double index;
    if (!name || !find_script(name, length, &index)) return 0;
    HostValueParts result;
    uint32_t raised = 0;
    if (!run_script(L, index, argc, &result, &raised)) {
        take_cell_exception();  // no memory came first
        return luaL_error(L, "not enough memory");
    }
    raised = with_cell_exception(raised);  // the script's, or a cell routine's
    if (raised != 0) {
        if (result.cell) host_dispose_cell(result.cell);
        take_cell_exception();  // one exception per call is raised
        return raise_host_exception(L, raised);
    }
    const int results = hand_result(L, result);  // what lies below is dropped by Lua
    if (const uint32_t code = take_cell_exception()) return raise_host_exception(L, code);
    run_clock_check(L);  // the time limit is checked at every host routine's return, nothing held
    return results;
}
