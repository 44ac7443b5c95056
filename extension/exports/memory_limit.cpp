// memory_limit and memory_used: how much memory an engine may hold, and holds.
#include <cmath>

#include "extension/engine/engine_registry.h"
#include "extension/engine/last_error.h"
#include "extension/engine/error_report.h"
#include "extension/exports/varnel_exports.h"
#include "extension/limits/memory_cap.h"
#include "host/export_scope.h"

namespace {

// Caps as large as the address space or larger are no cap.
constexpr double kLargestCap = 4294967295.0;

VARNEL_EXPORT_WORK double set_memory_limit(double id, double bytes) {
    Engine* engine = engine_for("memory_limit", id);
    if (!engine) return 1.0;
    if (std::isnan(bytes)) {
        report_engine_failure(*engine, "memory_limit: bytes is NaN for engine %.14g", id);
        return 1.0;
    }
    if (bytes < 0.0) {
        report_engine_failure(*engine, "memory_limit: bytes is negative (%.14g) for engine %.14g", bytes, id);
        return 1.0;
    }
    engine->memory->cap = bytes >= kLargestCap ? 0 : static_cast<std::size_t>(bytes);
    return 1.0;
}

VARNEL_EXPORT_WORK double memory_in_use(double id) {
    const Engine* engine = engine_for("memory_used", id);
    if (!engine) return 0.0;
    return static_cast<double>(engine->memory->used);
}

}  // namespace

// [-0, +0, -] on the engine. Caps the bytes the engine may hold; 0 lifts the cap.
VARNEL_ENTRY double VARNEL_CDECL memory_limit(double id, double bytes) {
    const ExportScope scope;
    return set_memory_limit(id, bytes);
}

// [-0, +0, -] on the engine. The bytes the engine holds now (0 for an unknown id,
// which is reported).
VARNEL_ENTRY double VARNEL_CDECL memory_used(double id) {
    const ExportScope scope;
    return memory_in_use(id);
}
