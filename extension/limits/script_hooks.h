// The engine's one debug hook, shared by the time limit and a script's own hook.
//
// Every engine's debug.sethook and debug.gethook are replaced: a script's hook
// is kept in the registry and called by the engine's hook, which also runs the
// time limit's count (run_clock.h) beside it. So a script that sets, changes or
// removes its hook, on any thread, never takes the limit's away, and
// debug.gethook returns what the script set. On LuaJIT, where one hook serves
// all of an engine's threads, the script's hook is one for all threads too, as
// LuaJIT's own debug library keeps it.
#pragma once

extern "C" {
#include <lua.h>
}

// [-0, +0, m] Replaces debug.sethook and debug.gethook and makes the registry
// table of the scripts' hooks. Runs while the engine is set up, in protected
// mode, after the libraries are open.
void install_script_hooks(lua_State* L);

// [-0, +0, -] Sets the hook of thread (a thread of L's engine) to the script's
// hook on it beside the limit's count limit_count (0: no limit). Takes three
// free stack slots on L.
void refresh_hook(lua_State* L, lua_State* thread, int limit_count) noexcept;
