// stop_compiling and engine_runs_luajit: LuaJIT's luaJIT_setmode, looked up in the
// engine library.
#include "extension/limits/engine_jit.h"

extern "C" {
#include <lua.h>
}

#include "extension/limits/hook_aside.h"
#include "extension/limits/memory_cap.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace {

// From LuaJIT's luajit.h, which varnel is not compiled against.
constexpr int kModeEngine = 0;      // LUAJIT_MODE_ENGINE: the whole compiler of one state
constexpr int kModeOff = 0x0000;    // LUAJIT_MODE_OFF
constexpr int kModeFlush = 0x0200;  // LUAJIT_MODE_FLUSH: drop every compiled trace

using SetMode = int (*)(lua_State*, int, int);

// luaJIT_setmode from the library that holds the Lua API varnel calls, or null.
SetMode find_set_mode() {
#if defined(_WIN32)
    // varnel imports the API from lua5.1.dll, whichever engine that is.
    HMODULE engine = GetModuleHandleA("lua5.1.dll");
    if (!engine) return nullptr;
    return reinterpret_cast<SetMode>(reinterpret_cast<void*>(GetProcAddress(engine, "luaJIT_setmode")));
#else
    // The object that defines lua_gettop, and what it depends on.
    Dl_info info{};
    if (!dladdr(reinterpret_cast<void*>(&lua_gettop), &info) || !info.dli_fname) return nullptr;
    void* engine = dlopen(info.dli_fname, RTLD_LAZY | RTLD_NOLOAD);
    if (!engine) return nullptr;
    auto set_mode = reinterpret_cast<SetMode>(dlsym(engine, "luaJIT_setmode"));
    dlclose(engine);  // only the reference NOLOAD took: the library stays loaded
    return set_mode;
#endif
}

// Looked up once: the engine library stays for the life of the process.
SetMode set_mode_once() {
    static const SetMode set_mode = find_set_mode();
    return set_mode;
}

// [-0, +0, e] Run by lua_cpcall: no new traces, and none of the old ones entered.
// LuaJIT raises when a finalizer is running.
int set_modes(lua_State* L) {
    const SetMode set_mode = set_mode_once();
    set_mode(L, 0, kModeEngine | kModeOff);
    set_mode(L, 0, kModeEngine | kModeFlush);
    return 0;
}

}  // namespace

bool engine_runs_luajit() { return set_mode_once() != nullptr; }

bool stop_compiling(lua_State* L, bool* refused) {
    if (refused) *refused = false;
    if (!set_mode_once()) return false;
    MemoryCap* cap = memory_cap_of(L);  // varnel's own work: the cap does not apply,
    if (cap) ++cap->lifted;
    HookAside aside = put_hook_aside(L);  // and a script's hook does not see it
    const int status = lua_checkstack(L, 2) ? lua_cpcall(L, set_modes, nullptr) : -1;
    if (status > 0) lua_settop(L, -2);  // -1 error
    put_hook_back(L, aside);
    if (cap) --cap->lifted;
    if (status != 0 && refused) *refused = true;
    return true;
}
