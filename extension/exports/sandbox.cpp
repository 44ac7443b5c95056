// sandbox: turns an engine into one for scripts the game did not write.
#include <cmath>

extern "C" {
#include <lua.h>
}

#include "extension/engine/engine_registry.h"
#include "extension/engine/lua_entry.h"
#include "extension/exports/varnel_exports.h"
#include "extension/lua/sandbox.h"
#include "host/export_scope.h"

namespace {

// [-0, +0, e] The job: the engine's libraries cut down.
int cut_libraries(lua_State* L, void*) {
    apply_sandbox(L);
    return 0;
}

VARNEL_EXPORT_WORK double make_sandbox(double id) {
    Engine* engine = engine_for("sandbox", id);
    if (!engine) return 1.0;
    engine->sandbox.on = true;  // the load export refuses binary files from now on, whatever happens below
    LuaEntry entry(*engine);
    if (entry.run(cut_libraries, nullptr, 0) != 0)  // +0 or +1 error
        entry.report_error();                       // -1 error
    return 1.0;
}

}  // namespace

// [-0, +0, -] on the engine. Sandboxes the engine, for good.
VARNEL_ENTRY double VARNEL_CDECL sandbox(double id) {
    const ExportScope scope;
    return make_sandbox(id);
}
