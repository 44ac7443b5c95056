// The global draw_text(x, y, text) that every engine gets.
#pragma once

struct lua_State;

// [-0, +0, e] Asks the host to draw text at x, y. Yields no values. An exception
// raised by the host's routine becomes a Lua error naming its code.
int lua_draw_text(lua_State* L);
