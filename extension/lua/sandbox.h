// The sandbox: what an engine keeps when it runs scripts the game did not write
// (mods, downloaded levels). The game turns it on with the sandbox export after
// state, before loading such scripts; it cannot be undone. What changes is one
// set of tables in sandbox.cpp.
#pragma once

#include "extension/limits/sandbox_mark.h"

struct lua_State;


// [-0, +0, e] Cuts the engine's libraries down to the sandbox's: run in
// protected mode on the engine's main thread.
void apply_sandbox(lua_State* L);

// [-0, +0, e] Raises an error when the file at path holds a binary chunk (after
// a first line starting with '#', as luaL_loadfile skips it): what the load
// export checks for a sandboxed engine. A file that cannot be read passes, and
// luaL_loadfile reports it.
void refuse_binary_file(lua_State* L, const char* path);

// [-0, +0, e] Raises an error when code is a binary chunk (its first byte is the
// one every compiled chunk starts with): what the run export checks for a
// sandboxed engine.
void refuse_binary_code(lua_State* L, const char* code);
