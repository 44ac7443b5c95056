// A debug hook put aside while varnel calls into an engine on its own account.
//
// A call hook or a return hook fires on every call of a C function, varnel's
// own included (lua_cpcall, lua_pcall of the job runner): left in place it would
// run a script's hook function, with whatever host routines that calls, where
// the script's code has no part. A count hook alone is left: no VM instruction
// runs on the way into a C function. On LuaJIT one hook serves all of an
// engine's threads; on Lua 5.1.5 the hook of the thread given is the one that
// fires.
#pragma once

struct lua_State;
struct lua_Debug;

struct HookAside {
    void (*hook)(lua_State*, lua_Debug*) = nullptr;  // a lua_Hook; null: nothing put aside
    int mask = 0;
    int count = 0;
};

// [-0, +0, -] Puts aside L's hook when it could run a script's function on a
// call into C (any but a count hook alone), and tells what was put aside.
HookAside put_hook_aside(lua_State* L) noexcept;

// [-0, +0, -] Puts back on L the hook put aside in aside, once: aside is empty after.
void put_hook_back(lua_State* L, HookAside& aside) noexcept;
