// script_register: a host script made callable from Lua under a global name.
extern "C" {
#include <lua.h>
}

#include "extension/engine/engine_registry.h"
#include "extension/engine/error_report.h"
#include "extension/engine/last_error.h"
#include "extension/engine/lua_entry.h"
#include "extension/engine/script_registry.h"
#include "extension/exports/varnel_exports.h"
#include "extension/lua/script_forward.h"
#include "host/export_scope.h"

namespace {

struct RegisterJob {
    const char* name;
};

// [-0, +0, e] Installs the forwarder for the job's name as a global. A script's
// __newindex on the globals may run, and raise.
int install_forwarder(lua_State* L, void* data) {
    const char* name = static_cast<RegisterJob*>(data)->name;
    lua_pushstring(L, name);                      // +1 name
    lua_pushcclosure(L, forward_script_call, 1);  // -1 name, +1 forwarder
    lua_setfield(L, LUA_GLOBALSINDEX, name);      // -1 forwarder
    return 0;
}

VARNEL_EXPORT_WORK double register_script(double id, const char* name, double index) {
    Engine* engine = engine_for("script_register", id);
    if (!engine) return 1.0;
    if (!name) {
        report_engine_failure(*engine, "script_register: null name for engine %.14g", id);
        return 1.0;
    }
    RegisterJob job{name};
    {
        LuaEntry entry(*engine);
        if (entry.run(install_forwarder, &job, 0) != 0) {  // +0 or +1 error
            entry.report_error();                           // -1 error
            return 1.0;
        }
    }
    if (!record_script(name, index))
        report_engine_failure(*engine, "script_register: not enough memory to record a name for engine %.14g",
                              id);
    return 1.0;
}

}  // namespace

// [-0, +0, -] on the engine: installs the forwarder as the global name, then
// binds name to index unless it is bound already.
VARNEL_ENTRY double VARNEL_CDECL script_register(double id, const char* name, double index) {
    const ExportScope scope;
    return register_script(id, name, index);
}
