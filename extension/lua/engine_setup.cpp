#include "extension/lua/engine_setup.h"

extern "C" {
#include <lauxlib.h>
#include <lua.h>
#include <lualib.h>
}

#include "extension/engine/error_trace.h"
#include "extension/engine/job_runner.h"
#include "extension/limits/coroutine_watch.h"
#include "extension/limits/guarded_xpcall.h"
#include "extension/limits/script_hooks.h"
#include "extension/lua/draw_text.h"
#include "extension/lua/engine_libraries.h"

namespace {

// [-0, +0, m] One thing an engine gets. Runs in protected mode on the new
// engine, which is not registered yet.
using Installer = void (*)(lua_State* L, Engine& engine);

struct EngineInstaller {
    const char* what;
    Installer install;
};

void open_libraries(lua_State* L, Engine&) { luaL_openlibs(L); }
void adjust_libraries(lua_State* L, Engine&) { adjust_engine_libraries(L); }
void install_draw_text(lua_State* L, Engine&) {
    lua_pushcfunction(L, lua_draw_text);             // +1
    lua_setfield(L, LUA_GLOBALSINDEX, "draw_text");  // -1
}
void watch(lua_State* L, Engine&) { watch_coroutines(L); }
void guard(lua_State* L, Engine&) { guard_xpcall(L); }
void share_hooks(lua_State* L, Engine&) { install_script_hooks(L); }
void make_runner(lua_State* L, Engine& engine) { make_job_runner(L, engine.runner); }
void install_handler(lua_State* L, Engine&) { install_error_handler(L); }

// Every engine's, in order: the libraries come before what replaces parts of them.
const EngineInstaller kEngineSetup[] = {
    {"the standard libraries", open_libraries},
    {"debug.getupvalue and debug.setupvalue that refuse C functions", adjust_libraries},
    {"the global draw_text", install_draw_text},
    {"coroutine.create and coroutine.wrap noting coroutines for a time limit", watch},
    {"xpcall that a time limit cannot be kept from", guard},
    {"debug.sethook and debug.gethook beside a time limit's hook", share_hooks},
    {"the job runner every export enters through", make_runner},
    {"the message handler under every export's protected call", install_handler},
};

// [-1, +0, e] Run by lua_cpcall with the engine at 1.
int install_all(lua_State* L) {
    auto* engine = static_cast<Engine*>(lua_touserdata(L, 1));
    for (const EngineInstaller& installer : kEngineSetup) installer.install(L, *engine);
    return 0;
}

}  // namespace

int set_up_engine(lua_State* L, Engine& engine) noexcept {
    return lua_cpcall(L, install_all, &engine);  // +0 or +1 error
}
