#include "extension/script_registry.h"

namespace {

// Created empty while the library loads and freed when it unloads.
ScriptRegistry g_scripts;

}  // namespace

bool find_script(std::string_view name, double* index) noexcept {
    auto it = g_scripts.find(name);
    if (it == g_scripts.end()) return false;
    *index = it->second;
    return true;
}

bool record_script(const char* name, double index) noexcept {
    const std::string_view key(name);
    auto it = g_scripts.lower_bound(key);
    if (it != g_scripts.end() && it->first == key) return true;
    try {
        g_scripts.emplace_hint(it, std::string(key), index);
        return true;
    } catch (...) {
        return false;
    }
}
