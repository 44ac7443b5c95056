#include "extension/lua/draw_text.h"

extern "C" {
#include <lauxlib.h>
#include <lua.h>
}

#include "extension/engine/error_report.h"
#include "host/host_contract.h"
#include "host/host_value.h"

namespace {

// Fills record 2 with text (null: the empty text) and calls host_draw_text. The
// holder's cell lives until the routine has returned. Touches no Lua state.
// Returns 0, or the code of an exception the routine raised; there is no call
// when a cell routine raised while the text was made.
uint32_t draw_on_host(HostCallArg (&records)[3], const char* text) noexcept {
    HostValue holder(true, 0.0);
    if (text) set_text(holder, text);
    if (g_cell_raised != 0) return 0;
    to_call_arg(holder, &records[2]);
    HostCallArg result{};
    return call_host(HOST_DRAW_TEXT, records, 3, &result);
}

}  // namespace

int lua_draw_text(lua_State* L) {
    HostCallArg records[3] = {};
    records[0].kind = HOST_KIND_NUMBER;
    records[0].real = lua_tonumber(L, 1);
    records[1].kind = HOST_KIND_NUMBER;
    records[1].real = lua_tonumber(L, 2);
    // A number is turned into a string here, which may raise: before any cell exists.
    const char* text = lua_tolstring(L, 3, nullptr);
    // The routine's exception, or one of a cell routine; no holder is left.
    const uint32_t raised = with_cell_exception(draw_on_host(records, text));
    if (raised != 0) return raise_host_exception(L, raised);
    return 0;
}
