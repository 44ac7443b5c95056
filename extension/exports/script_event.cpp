// script_event: calls a global Lua function with the entries of a host list and
// turns its first result into a verdict.
extern "C" {
#include <lua.h>
}

#include "extension/exports/list_call.h"
#include "extension/exports/varnel_exports.h"
#include "host/export_scope.h"

namespace {

// [-1, +0, -] The verdict of the function's first result, which it takes off
// the stack: 1.0 when it counts as 0, 0.0 otherwise.
void take_verdict(lua_State* L, void* out) noexcept {
    const lua_Integer v = lua_tointeger(L, -1);
    lua_settop(L, -2);  // -1 result
    *static_cast<double*>(out) = v == 0 ? 1.0 : 0.0;
}

VARNEL_EXPORT_WORK double dispatch_to_lua(double id, const char* name, double list) {
    double verdict = 1.0;
    return call_with_list("script_event", id, name, list, take_verdict, &verdict) ? verdict : 1.0;
}

}  // namespace

// [-0, +0, -] on the engine. Returns 1.0 when the function's first result counts
// as 0, 0.0 otherwise, and 1.0 on every failure, each reported once.
VARNEL_ENTRY double VARNEL_CDECL script_event(double id, const char* name, double list) {
    const ExportScope scope;
    return dispatch_to_lua(id, name, list);
}
