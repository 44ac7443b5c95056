// The engine's coroutines, kept track of so that a time limit set later reaches
// them too: a coroutine inherits its creator's hook only when it is made.
#pragma once

extern "C" {
#include <lua.h>
}

// [-0, +0, m] Replaces coroutine.create and coroutine.wrap with functions that do
// the same and note the new coroutine (weakly: noting keeps none alive). Runs
// while the engine is set up, in protected mode, after the libraries are open.
void watch_coroutines(lua_State* L);

// [-0, +0, -] Sets hook on every noted coroutine that is still alive. Takes three
// free stack slots.
void hook_coroutines(lua_State* L, lua_Hook hook, int mask, int count) noexcept;
