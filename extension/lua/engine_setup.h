// What every engine gets, installed once when state makes it: one table in
// engine_setup.cpp, in the order it is installed.
#pragma once

#include "extension/engine/engine_registry.h"

struct lua_State;

// [-0, +(0 | 1), -] Runs every installer of the table on L, a new state, under
// lua_cpcall, and stores in engine what they keep of it. Returns lua_cpcall's
// status; on failure the error value is on top.
int set_up_engine(lua_State* L, Engine& engine) noexcept;
