#include "extension/lua/draw_text.h"

extern "C" {
#include <lauxlib.h>
#include <lua.h>
}

#include "extension/engine/error_report.h"
#include "extension/limits/run_clock.h"
#include "host/host_routines.h"

int lua_draw_text(lua_State* L) {
    const double x = lua_tonumber(L, 1);
    const double y = lua_tonumber(L, 2);
    // A number is turned into a string here, which may raise: before any cell exists.
    const char* text = lua_tolstring(L, 3, nullptr);
    // The routine's exception, or one of a cell routine; no holder is left.
    const uint32_t raised = with_cell_exception(host_draw_text(x, y, text));
    if (raised != 0) return raise_host_exception(L, raised);
    run_clock_check(L);  // the time limit is checked at every host routine's return
    return 0;
}
