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

// [-0, +0, -] Calls visit(L, co, data) for every noted coroutine co that is
// still alive, with three slots of L in use meanwhile.
void each_coroutine(lua_State* L, void (*visit)(lua_State* L, lua_State* co, void* data), void* data) noexcept;
