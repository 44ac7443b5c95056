// Adjustments to the standard libraries of every engine, made once when it is set up.
#pragma once

struct lua_State;

// [-0, +0, m] Replaces debug.getupvalue and debug.setupvalue with versions that
// refuse C functions as Lua 5.1.5's do (no results), whatever the engine: LuaJIT's
// reach a C function's upvalues, and with them a built-in's internals and a
// forwarder's name. Does nothing when the debug library is not open.
void adjust_engine_libraries(lua_State* L);
