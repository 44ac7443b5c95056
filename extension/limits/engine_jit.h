// What varnel does about a JIT compiler in the engine library, found at run time:
// the same varnel loads Lua 5.1.5 or LuaJIT unchanged.
#pragma once

struct lua_State;

// [-0, +0, -] Turns the JIT compiler off for this engine alone and drops the code
// it compiled, so that hooks (a count hook, say) fire everywhere again: they do
// not inside compiled code. True when the engine library is LuaJIT (whether or
// not it was built with a compiler); false, and nothing done, on Lua 5.1.5.
// LuaJIT refuses while a finalizer of the engine runs (a collection step made
// from anywhere, varnel's own work included): then nothing is done, and
// *refused, when given, is set; it is cleared otherwise. The engine's call and
// return hooks are put aside meanwhile (hook_aside.h): no script's hook function
// runs, so neither does any Lua code.
bool stop_compiling(lua_State* L, bool* refused = nullptr);

// [-0, +0, -] True when the engine library is LuaJIT: where the standard functions
// varnel replaces behave as LuaJIT's own, not Lua 5.1.5's, and a hook is one for
// all of an engine's threads.
bool engine_runs_luajit();
