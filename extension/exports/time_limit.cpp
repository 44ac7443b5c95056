// time_limit: how long a single export of an engine may spend running Lua code.
#include <cmath>

#include "extension/engine/engine_registry.h"
#include "extension/engine/last_error.h"
#include "host/export_scope.h"
#include "extension/limits/run_clock.h"
#include "extension/exports/varnel_exports.h"

namespace {

VARNEL_EXPORT_WORK double set_time_limit(double id, double seconds) {
    Engine* engine = engine_for("time_limit", id);
    if (!engine) return 1.0;
    if (std::isnan(seconds)) {
        report_engine_failure(*engine, "time_limit: seconds is NaN for engine %.14g", id);
        return 1.0;
    }
    if (seconds < 0.0) {
        report_engine_failure(*engine, "time_limit: seconds is negative (%.14g) for engine %.14g", seconds, id);
        return 1.0;
    }
    set_engine_limit(engine->clock, engine->L, seconds);
    return 1.0;
}

}  // namespace

// [-0, +0, -] on the engine. Sets the engine's limit in seconds; 0 lifts it.
VARNEL_ENTRY double VARNEL_CDECL time_limit(double id, double seconds) {
    const ExportScope scope;
    return set_time_limit(id, seconds);
}
