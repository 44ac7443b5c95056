// Host scripts exposed to Lua: the forwarder that script_register installs and
// call_script, the one place that runs host_execute_script.
#pragma once

#include "host/host_value.h"

struct lua_State;

// [-0, +(0 | 1), m] The forwarder, a closure whose one upvalue is the registered
// name. Runs the script registered under that name with the call's arguments and
// returns its result: a text, a non-zero number, or nothing for 0. A name that is
// not registered, or an upvalue with no text, gives nothing and calls no script.
int forward_script_call(lua_State* L);

// Runs the host script whose index is index_holder.real with the argc values in
// args, and stores its result in result. records is room for argc + 1 records,
// which are zero-filled here; their texts are borrowed from the holders.
void call_script(const HostValue& index_holder, int argc, const HostValue* args,
                 HostValue& result, HostCallArg* records) noexcept;
