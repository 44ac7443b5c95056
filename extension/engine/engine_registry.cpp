#include "extension/engine/engine_registry.h"

#include <cmath>
#include <new>

#include "extension/engine/error_report.h"

namespace {

// Created empty while the library loads and emptied when it unloads. Engines
// still open then are not closed.
StateRegistry g_states;

// The engine found last: a game calls its exports with the same id frame after
// frame. Forgotten when an id is, so it always points into the registry. Ids
// compare with == as the map's < does: 0 and -0 are one id, NaN none.
struct LastFound {
    double id;
    Engine* engine;
};
LastFound g_last = {0.0, nullptr};

}  // namespace

Engine* find_state(double id) noexcept {
    if (g_last.engine && g_last.id == id) return g_last.engine;
    if (std::isnan(id)) return nullptr;
    auto it = g_states.find(id);
    if (it == g_states.end()) return nullptr;
    g_last = {id, &it->second};
    return &it->second;
}

Engine* engine_for(const char* export_name, double id) noexcept {
    Engine* engine = find_state(id);
    if (!engine) {
        report_failure("%s: no engine with id %.14g", export_name, id);
        return nullptr;
    }
    if (engine->closing) {
        report_failure("%s: engine %.14g is being closed", export_name, id);
        return nullptr;
    }
    return engine;
}

bool add_state(double id, const Engine& engine) noexcept {
    try {
        g_states.emplace(id, engine);
        return true;
    } catch (...) {
        return false;
    }
}

void forget_state(double id) noexcept {
    g_last = {0.0, nullptr};
    g_states.erase(id);
}
