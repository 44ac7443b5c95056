// The message handler under every export's protected call: it turns the error
// value into the text the host is given, Lua's message followed by a stack
// traceback, while the stack that raised is still there to be read.
#pragma once

struct lua_State;

// [-0, +0, m] Stores the message handler and its helpers in the registry. Runs
// while the engine is set up, in protected mode.
void install_error_handler(lua_State* L);

// [-0, +0, -] Whether the value at index is the message handler.
bool is_error_handler(lua_State* L, int index) noexcept;

// [-0, +1, -] Pushes the engine's message handler from the registry, putting it
// back first if a script replaced it. On failure returns the status and leaves
// the error value instead.
int push_error_handler(lua_State* L) noexcept;
