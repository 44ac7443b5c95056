// Host scripts exposed to Lua: the forwarder that script_register installs
// (exports/script_register.cpp).
#pragma once

struct lua_State;

// [-0, +(0 | 1), e] The forwarder, a closure whose one upvalue is the registered
// name. Runs the script registered under that name with the call's arguments and
// returns its result: a text, a non-zero number, or nothing for 0. A name that is
// not registered, or an upvalue with no text, gives nothing and calls no script.
// An exception raised by the script becomes a Lua error naming its code.
int forward_script_call(lua_State* L);
