// global_real, global_text, global_set_real and global_set_text: an engine's
// values read and set by dotted path (global_path.h).
extern "C" {
#include <lua.h>
}

#include "extension/engine/engine_registry.h"
#include "extension/engine/last_error.h"
#include "extension/engine/lua_entry.h"
#include "extension/exports/global_path.h"
#include "extension/exports/text_result.h"
#include "extension/exports/varnel_exports.h"
#include "host/export_scope.h"
#include "host/host_value.h"

namespace {

// [-0, +0, -] Reads the value at path in the engine of id and hands it to take,
// which converts it (it must not raise). False when nothing was read: no
// engine, no path, or an error raised on the way (reported).
template <typename Take>
bool read_global(const char* export_name, double id, const char* path, Take take) {
    Engine* engine = engine_for(export_name, id);
    if (!engine) return false;
    if (!path) {
        report_engine_failure(*engine, "%s: null path for engine %.14g", export_name, id);
        return false;
    }
    LuaEntry entry(*engine);
    lua_State* L = engine->L;
    if (entry.run(read_path, const_cast<char*>(path), 1) != 0) {  // +1 value or error
        entry.report_error();  // -1 error
        return false;
    }
    take(L);
    lua_settop(L, -2);  // -1 value
    return true;
}

// [-0, +0, -] Sets the value at path in the engine of id; a failure is reported.
double set_global(const char* export_name, double id, const char* path, const PathSet& value) {
    Engine* engine = engine_for(export_name, id);
    if (!engine) return 1.0;
    if (!path) {
        report_engine_failure(*engine, "%s: null path for engine %.14g", export_name, id);
        return 1.0;
    }
    PathJob job{path, value};
    LuaEntry entry(*engine);
    if (entry.run(set_path, &job, 0) != 0) {  // +0 or +1 error
        entry.report_error();                 // -1 error
        return 1.0;
    }
    if (job.set.failed != 0)
        report_engine_failure(*engine, "%s: '%.*s' is not a table (a %s value) in path '%s'", export_name,
                              static_cast<int>(job.set.failed), path, job.set.type, path);
    return 1.0;
}

VARNEL_EXPORT_WORK double read_real(double id, const char* path) {
    double result = 0.0;
    read_global("global_real", id, path, [&result](lua_State* L) { result = real_result_of(L, -1); });
    return result;
}

VARNEL_EXPORT_WORK const char* read_text(double id, const char* path) {
    const char* result = empty_text_result();
    read_global("global_text", id, path, [&result](lua_State* L) { result = text_result_of(L, -1); });
    return result;
}

VARNEL_EXPORT_WORK double set_real(double id, const char* path, double value) {
    return set_global("global_set_real", id, path, PathSet{false, host_number(value), nullptr, 0, nullptr});
}

VARNEL_EXPORT_WORK double set_text(double id, const char* path, const char* value) {
    return set_global("global_set_text", id, path, PathSet{true, 0.0, value, 0, nullptr});
}

}  // namespace

// [-0, +0, -] on the engine. The value at path as a real (as call_real converts
// it); 0 when it is missing or a part on the way cannot be indexed, with no
// report; 0 on an error raised on the way, reported.
VARNEL_ENTRY double VARNEL_CDECL global_real(double id, const char* path) {
    const ExportScope scope;
    return read_real(id, path);
}

// [-0, +0, -] on the engine. The value at path as a text (as call_text converts
// it); the empty text where global_real gives 0.
VARNEL_ENTRY const char* VARNEL_CDECL global_text(double id, const char* path) {
    const ExportScope scope;
    return read_text(id, path);
}

// [-0, +0, -] on the engine. Sets the number value at path (through __newindex
// where there is one). A part before the last that cannot be indexed is
// reported by name, and nothing is set.
VARNEL_ENTRY double VARNEL_CDECL global_set_real(double id, const char* path, double value) {
    const ExportScope scope;
    return set_real(id, path, value);
}

// [-0, +0, -] on the engine. As global_set_real, with a string; the empty text
// (or a null pointer) sets the empty string.
VARNEL_ENTRY double VARNEL_CDECL global_set_text(double id, const char* path, const char* value) {
    const ExportScope scope;
    return set_text(id, path, value);
}
