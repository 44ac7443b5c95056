#include "extension/limits/hook_aside.h"

extern "C" {
#include <lua.h>
}

HookAside put_hook_aside(lua_State* L) noexcept {
    HookAside aside;
    const int mask = lua_gethookmask(L);
    if ((mask & ~LUA_MASKCOUNT) == 0) return aside;
    aside.hook = lua_gethook(L);
    aside.mask = mask;
    aside.count = lua_gethookcount(L);
    lua_sethook(L, nullptr, 0, 0);
    return aside;
}

void put_hook_back(lua_State* L, HookAside& aside) noexcept {
    if (!aside.hook) return;
    lua_sethook(L, aside.hook, aside.mask, aside.count);
    aside.hook = nullptr;
}
