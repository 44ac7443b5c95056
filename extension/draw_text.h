// The global draw_text(x, y, text) that every engine gets.
#pragma once

struct lua_State;

// [-0, +0, m] Asks the host to draw text at x, y. Yields no values.
int lua_draw_text(lua_State* L);
