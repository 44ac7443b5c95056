// state, load and destroy: an engine's life from creation to close.
#include <cmath>
#include <cstdio>

extern "C" {
#include <lauxlib.h>
#include <lua.h>
}

#include "extension/engine/engine_close.h"
#include "extension/engine/engine_registry.h"
#include "extension/engine/error_report.h"
#include "extension/engine/error_trace.h"
#include "extension/engine/lua_entry.h"
#include "extension/exports/varnel_exports.h"
#include "extension/limits/memory_cap.h"
#include "extension/lua/engine_setup.h"
#include "extension/lua/file_chunk.h"
#include "extension/lua/sandbox.h"
#include "host/export_scope.h"

namespace {

struct FileJob {
    const char* path;
    bool sandboxed;  // a binary chunk is refused
};

// [-0, +0, e] Loads the file at path and runs it with no arguments, dropping
// its results. A load failure is raised with luaL_loadfile's message as it is.
int run_file(lua_State* L, void* data) {
    const auto* job = static_cast<FileJob*>(data);
    if (job->sandboxed) refuse_binary_file(L, job->path);
    if (load_file_chunk(L, job->path) != 0) return lua_error(L);  // raises the message on top
    lua_call(L, 0, 0);  // -1 chunk
    return 0;
}

// What an engine made without a host to hear of it does when an error escapes
// every protected call: as luaL_newstate's engines do, says so and lets the
// engine end the process.
int at_panic(lua_State* L) {
    std::fprintf(stderr, "PANIC: unprotected error in call to Lua API (%s)\n", lua_tostring(L, -1));
    return 0;
}

// A new engine with its own counting allocator (memory_cap.h), or null with
// nothing kept.
lua_State* new_engine(MemoryCap** memory) {
    *memory = new_memory_cap();
    if (!*memory) return nullptr;
    lua_State* L = lua_newstate(counting_alloc, *memory);
    if (!L) {
        free_memory_cap(*memory);
        return nullptr;
    }
    lua_atpanic(L, at_panic);
    return L;
}

// Closes an engine that was never registered.
void drop_engine(lua_State* L, MemoryCap* memory) {
    lua_close(L);
    free_memory_cap(memory);
}

VARNEL_EXPORT_WORK double make_state(double id) {
    if (std::isnan(id)) {
        report_failure("state: id is NaN");
        return 1.0;
    }
    if (const Engine* engine = find_state(id)) {
        if (engine->closing) report_failure("state: engine %.14g is being closed", id);
        return 1.0;
    }
    MemoryCap* memory = nullptr;
    lua_State* L = new_engine(&memory);
    if (!L) {
        report_failure("state: not enough memory for engine %.14g", id);
        return 1.0;
    }
    Engine engine{L, 0, false, RunnerSlot{LUA_NOREF}, RunClock{}, EventNames{}, LastError{}, memory, SandboxMark{}};
    if (set_up_engine(L, engine) != 0) {  // +0 or +1 error
        report_error_value(L, -1);
        drop_engine(L, memory);
        return 1.0;
    }
    if (!add_state(id, engine)) {
        report_failure("state: not enough memory to register engine %.14g", id);
        drop_engine(L, memory);
        return 1.0;
    }
    // The message handler stays in slot 1, below everything an export pushes, where
    // every protected call finds it without a lookup; no script can reach it there.
    if (push_error_handler(L) != 0) lua_settop(L, 0);  // +1, or nothing: each call brings one
    return 1.0;
}

VARNEL_EXPORT_WORK double load_file(double id, const char* path) {
    Engine* engine = engine_for("load", id);
    if (!engine) return 1.0;
    if (!path) {
        report_engine_failure(*engine, "load: null path for engine %.14g", id);
        return 1.0;
    }
    FileJob job{path, engine->sandbox.on};
    LuaEntry entry(*engine);
    if (entry.run(run_file, &job, 0) != 0)  // +0 or +1 error
        entry.report_error();                                   // -1 error
    return 1.0;
}

VARNEL_EXPORT_WORK double close_state(double id) {
    Engine* engine = engine_for("destroy", id);
    if (!engine) return 1.0;
    if (engine->busy > 0) {
        report_engine_failure(*engine, "destroy: engine %.14g is running Lua code", id);
        return 1.0;
    }
    close_engine(*engine);
    forget_state(id);
    return 1.0;
}

}  // namespace

// Makes the engine of id, unless id already has one; the new engine's stack holds
// its message handler in slot 1. No stack of an existing engine is touched.
VARNEL_ENTRY double VARNEL_CDECL state(double id) {
    const ExportScope scope;
    return make_state(id);
}

// [-0, +0, -] on the engine: runs the file; its results are dropped, and a
// failure is reported.
VARNEL_ENTRY double VARNEL_CDECL load(double id, const char* path) {
    const ExportScope scope;
    return load_file(id, path);
}

// Closes the engine of id and forgets the id, so that state may make it anew.
VARNEL_ENTRY double VARNEL_CDECL destroy(double id) {
    const ExportScope scope;
    return close_state(id);
}
