// run and last_error: a string of Lua code run in an engine, and the text of
// the engine's last reported error.
#include <string>

extern "C" {
#include <lauxlib.h>
#include <lua.h>
}

#include "extension/engine/engine_registry.h"
#include "extension/engine/last_error.h"
#include "extension/engine/lua_entry.h"
#include "extension/exports/text_result.h"
#include "extension/exports/varnel_exports.h"
#include "extension/lua/sandbox.h"
#include "host/export_scope.h"

namespace {

// [-0, +0, e] Compiles code as a chunk named by Lua's rule for a string
// ([string "first line..."]) and runs it with no arguments, dropping its
// results. A compile failure is raised with Lua's message as it is.
struct CodeJob {
    const char* code;
    bool sandboxed;  // a binary chunk is refused
};

int run_string(lua_State* L, void* data) {
    const auto* job = static_cast<CodeJob*>(data);
    if (job->sandboxed) refuse_binary_code(L, job->code);
    if (luaL_loadstring(L, job->code) != 0) return lua_error(L);  // raises the message
    lua_call(L, 0, 0);  // -1 chunk
    return 0;
}

VARNEL_EXPORT_WORK double run_chunk(double id, const char* code) {
    Engine* engine = engine_for("run", id);
    if (!engine) return 1.0;
    if (!code) {
        report_engine_failure(*engine, "run: null code for engine %.14g", id);
        return 1.0;
    }
    CodeJob job{code, engine->sandbox.on};
    LuaEntry entry(*engine);
    if (entry.run(run_string, &job, 0) != 0)  // +0 or +1 error
        entry.report_error();                  // -1 error
    return 1.0;
}

VARNEL_EXPORT_WORK const char* take_last(double id) {
    Engine* engine = find_state(id);
    std::string text;
    if (!engine || !take_last_error(engine->last_error, text)) return empty_text_result();
    return text_result(text.data(), text.size());
}

}  // namespace

// [-0, +0, -] on the engine: runs code; its results are dropped, and a failure
// is reported as load reports one.
VARNEL_ENTRY double VARNEL_CDECL run(double id, const char* code) {
    const ExportScope scope;
    return run_chunk(id, code);
}

// The text of the last error reported for the engine of id, which is forgotten:
// the empty text when there is none, and for an id with no engine (not
// reported, so that the host's error routine may call it).
VARNEL_ENTRY const char* VARNEL_CDECL last_error(double id) {
    const ExportScope scope;
    return take_last(id);
}
