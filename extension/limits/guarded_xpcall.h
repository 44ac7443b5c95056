// xpcall that a time limit cannot be kept from: once an export's run clock has
// expired, a script's message handler is no longer called (Lua calls a handler
// for an error raised by a hook with hooks off, so a handler that loops would
// never be stopped). Otherwise it is the engine's own: on LuaJIT it passes the
// arguments after the handler on and lets a coroutine yield inside it.
#pragma once

struct lua_State;

// [-0, +0, m] Replaces the engine's xpcall. Runs while the engine is set up, in
// protected mode, after the libraries are open.
void guard_xpcall(lua_State* L);
