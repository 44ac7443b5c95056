#include "extension/script_forward.h"

#include <cstdint>
#include <cstdlib>
#include <new>

extern "C" {
#include <lauxlib.h>
#include <lua.h>
}

#include "extension/engine_registry.h"
#include "extension/error_report.h"
#include "extension/pending_cells.h"
#include "extension/protected_call.h"
#include "extension/script_registry.h"
#include "extension/varnel_exports.h"
#include "host/host_contract.h"

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

// Runs the script and returns its result, moved out of the result holder. Every
// other holder is gone by the time it returns.
HostValueParts run_with(lua_State* L, double index, int argc, HostValue* args,
                        HostCallArg* records) noexcept {
    convert_args(L, argc, args);
    const HostValue index_holder(false, index);
    HostValue result;
    call_script(index_holder, argc, args, result, records);
    return take_parts(result);
}

// As run_with, finding room for the holders and records first. False, with
// nothing acquired, when the heap has none.
bool run_script(lua_State* L, double index, int argc, HostValueParts* out) noexcept {
    if (argc <= kInlineArgs) {
        HostValue args[kInlineArgs];
        HostCallArg records[kInlineArgs + 1];
        *out = run_with(L, index, argc, args, records);
        return true;
    }
    const std::size_t count = static_cast<std::size_t>(argc);
    if (count > (SIZE_MAX - sizeof(HostCallArg)) / (sizeof(HostValue) + sizeof(HostCallArg)))
        return false;
    void* block = std::malloc(count * sizeof(HostValue) + (count + 1) * sizeof(HostCallArg));
    if (!block) return false;
    auto* args = static_cast<HostValue*>(block);
    for (std::size_t i = 0; i < count; ++i) new (&args[i]) HostValue();
    auto* records = reinterpret_cast<HostCallArg*>(args + count);
    *out = run_with(L, index, argc, args, records);
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
    if (result.cell) NexDeallocateString(result.cell);
    if (result.real == 0.0) return 0;  // 0 and -0 give no values
    lua_pushnumber(L, result.real);  // +1
    return 1;
}

struct RegisterJob {
    const char* name;
};

// [-0, +0, e] Installs the forwarder for the job's name as a global. A script's
// __newindex on the globals may run, and raise.
int install_forwarder(lua_State* L, void* data) {
    const char* name = static_cast<RegisterJob*>(data)->name;
    lua_pushstring(L, name);                      // +1 name
    lua_pushcclosure(L, forward_script_call, 1);  // -1 name, +1 forwarder
    lua_setfield(L, LUA_GLOBALSINDEX, name);      // -1 forwarder
    return 0;
}

}  // namespace

void call_script(const HostValue& index_holder, int argc, const HostValue* args,
                 HostValue& result, HostCallArg* records) noexcept {
    const int n = argc + 1;
    for (int i = 0; i < n; ++i) records[i] = HostCallArg{};
    to_call_arg(index_holder, &records[0]);
    for (int i = 1; i <= argc; ++i) to_call_arg(args[i - 1], &records[i]);
    HostCallArg result_record{};
    call_host(HOST_EXECUTE_SCRIPT, records, n, &result_record);
    assign_from_result(result, result_record);
    NexDeallocateResult(&result_record);
}

int forward_script_call(lua_State* L) {
    lua_pushvalue(L, lua_upvalueindex(1));  // +1 name
    const int top = lua_gettop(L);
    const int argc = top - 1;
    // Converts a number in place, which may raise: nothing is held yet.
    const char* name = lua_tolstring(L, top, nullptr);
    double index;
    if (!name || !find_script(name, &index)) return 0;
    HostValueParts result;
    if (!run_script(L, index, argc, &result)) return luaL_error(L, "not enough memory");
    return hand_result(L, result);  // the name and arguments below are dropped by Lua
}

// [-0, +0, -] on the engine: installs the forwarder as the global name, then
// binds name to index unless it is bound already.
double VARNEL_CDECL script_register(double id, const char* name, double index) {
    Engine* engine = engine_for("script_register", id);
    if (!engine) return 1.0;
    if (!name) {
        report_failure("script_register: null name for engine %.14g", id);
        return 1.0;
    }
    RegisterJob job{name};
    if (run_protected(*engine, install_forwarder, &job, 0) != 0) {  // +0 or +1 error
        report_and_remove_error(engine->L);  // -1 error
        return 1.0;
    }
    if (!record_script(name, index))
        report_failure("script_register: not enough memory to record a name for engine %.14g", id);
    return 1.0;
}
