// call_real and call_text: a global Lua function called with the entries of a
// host list, as script_event calls it, for its first result.
extern "C" {
#include <lua.h>
}

#include "extension/exports/list_call.h"
#include "extension/exports/text_result.h"
#include "extension/exports/varnel_exports.h"
#include "host/export_scope.h"

namespace {

// [-1, +0, -] The first result as a real.
void take_real(lua_State* L, void* out) noexcept {
    *static_cast<double*>(out) = real_result_of(L, -1);
    lua_settop(L, -2);  // -1 result
}

// [-1, +0, -] The first result as a text result. Runs after the last host
// routine of the call, so no nested export writes the buffer after it.
void take_text(lua_State* L, void* out) noexcept {
    *static_cast<const char**>(out) = text_result_of(L, -1);
    lua_settop(L, -2);  // -1 result
}

VARNEL_EXPORT_WORK double call_for_real(double id, const char* name, double list) {
    double result = 0.0;
    return call_with_list("call_real", id, name, list, take_real, &result) ? result : 0.0;
}

VARNEL_EXPORT_WORK const char* call_for_text(double id, const char* name, double list) {
    const char* result = empty_text_result();
    return call_with_list("call_text", id, name, list, take_text, &result) ? result : empty_text_result();
}

}  // namespace

// [-0, +0, -] on the engine. The first result as a real: a number as it is,
// true 1, false 0, a string Lua reads as a number that number, anything else 0;
// 0 on every failure, each reported once.
VARNEL_ENTRY double VARNEL_CDECL call_real(double id, const char* name, double list) {
    const ExportScope scope;
    return call_for_real(id, name, list);
}

// [-0, +0, -] on the engine. The first result as a text (text_result.h); the
// empty text on every failure, each reported once.
VARNEL_ENTRY const char* VARNEL_CDECL call_text(double id, const char* name, double list) {
    const ExportScope scope;
    return call_for_text(id, name, list);
}
