// varnel's exports as the host calls them: each goes through
// standin::call_export, which plays the host's floating-point environment and
// checks what the export leaves (standin/fp_env.h). Programs that play the host
// include this header instead of extension/exports/varnel_exports.h, never both.
#pragma once
#include <cstdint>
#include <cstring>

#include "standin/fp_env.h"

#if defined(_WIN32)
#define STANDIN_EXPORT_SYMBOL(name) __asm__("_" #name)
#define STANDIN_CDECL __cdecl
#else
#define STANDIN_EXPORT_SYMBOL(name) __asm__(#name)
#define STANDIN_CDECL __attribute__((cdecl))
#endif

// The exports themselves, under other names in C++.
extern "C" {
double varnel_export_state(double id) STANDIN_EXPORT_SYMBOL(state);
double varnel_export_load(double id, const char* path) STANDIN_EXPORT_SYMBOL(load);
double varnel_export_destroy(double id) STANDIN_EXPORT_SYMBOL(destroy);
double varnel_export_script_register(double id, const char* name, double index)
    STANDIN_EXPORT_SYMBOL(script_register);
double varnel_export_script_event(double id, const char* name, double list) STANDIN_EXPORT_SYMBOL(script_event);
double varnel_export_time_limit(double id, double seconds) STANDIN_EXPORT_SYMBOL(time_limit);
double varnel_export_memory_limit(double id, double bytes) STANDIN_EXPORT_SYMBOL(memory_limit);
double varnel_export_memory_used(double id) STANDIN_EXPORT_SYMBOL(memory_used);
double varnel_export_sandbox(double id) STANDIN_EXPORT_SYMBOL(sandbox);
}

namespace standin {

// Argument words in cdecl order: a double takes two, a pointer one.
class ExportArgs {
public:
    ExportArgs& add(double d) {
        std::memcpy(&words_[n_], &d, sizeof d);
        n_ += 2;
        return *this;
    }
    ExportArgs& add(const char* p) {
        words_[n_++] = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p));
        return *this;
    }
    double call(const void* fn) const { return call_export(fn, words_, n_); }

private:
    uint32_t words_[5] = {};
    int n_ = 0;
};

template <typename F>
const void* export_address(F* f) {
    return reinterpret_cast<const void*>(f);
}

}  // namespace standin

inline double state(double id) {
    return standin::ExportArgs().add(id).call(standin::export_address(varnel_export_state));
}
inline double load(double id, const char* path) {
    return standin::ExportArgs().add(id).add(path).call(standin::export_address(varnel_export_load));
}
inline double destroy(double id) {
    return standin::ExportArgs().add(id).call(standin::export_address(varnel_export_destroy));
}
inline double script_register(double id, const char* name, double index) {
    return standin::ExportArgs().add(id).add(name).add(index).call(
        standin::export_address(varnel_export_script_register));
}
inline double script_event(double id, const char* name, double list) {
    return standin::ExportArgs().add(id).add(name).add(list).call(
        standin::export_address(varnel_export_script_event));
}
inline double time_limit(double id, double seconds) {
    return standin::ExportArgs().add(id).add(seconds).call(standin::export_address(varnel_export_time_limit));
}
inline double memory_limit(double id, double bytes) {
    return standin::ExportArgs().add(id).add(bytes).call(standin::export_address(varnel_export_memory_limit));
}
inline double memory_used(double id) {
    return standin::ExportArgs().add(id).call(standin::export_address(varnel_export_memory_used));
}
inline double sandbox(double id) {
    return standin::ExportArgs().add(id).call(standin::export_address(varnel_export_sandbox));
}
