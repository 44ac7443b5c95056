// varnel's exports as the host calls them, one wrapper per line of
// extension/exports/export_list.h: each goes through standin::call_export, which
// plays the host's floating-point environment and checks what the export leaves
// (standin/fp_env.h). Programs that play the host include this header instead of
// extension/exports/varnel_exports.h, never both.
#pragma once
#include <cstdint>
#include <cstring>
#include <type_traits>

#include "extension/exports/export_args.h"
#include "standin/fp_env.h"

#if defined(_WIN32)
#define STANDIN_EXPORT_SYMBOL(name) __asm__("_" #name)
#define STANDIN_CDECL __cdecl
#else
#define STANDIN_EXPORT_SYMBOL(name) __asm__(#name)
#define STANDIN_CDECL __attribute__((cdecl))
#endif

// The exports themselves, under other names in C++: varnel_export_state, ...
extern "C" {
#define EXPORTDEF(name, ordinal, result, ...) \
    EXPORT_RESULT(result) varnel_export_##name(EXPORT_ARGS(EXPORT_PARAM, __VA_ARGS__)) STANDIN_EXPORT_SYMBOL(name);
#include "extension/exports/export_list.h"
#undef EXPORTDEF
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
    const char* call_text(const void* fn) const { return call_text_export(fn, words_, n_); }

private:
    uint32_t words_[8] = {};  // four doubles: as many arguments as export_args.h spells out
    int n_ = 0;
};

template <typename F>
const void* export_address(F* f) {
    return reinterpret_cast<const void*>(f);
}

// Calls export f with args as the host would; a text result comes back in EAX.
template <typename R, typename... P, typename... A>
R call_as_host(R (*f)(P...), A... args) {
    ExportArgs words;
    (words.add(args), ...);
    if constexpr (std::is_same_v<R, const char*>)
        return words.call_text(export_address(f));
    else
        return words.call(export_address(f));
}

}  // namespace standin

// state(id), load(id, path), ...: each export called as the host calls it.
#define EXPORTDEF(name, ordinal, result, ...)                                         \
    inline EXPORT_RESULT(result) name(EXPORT_ARGS(EXPORT_PARAM, __VA_ARGS__)) {      \
        return standin::call_as_host(varnel_export_##name, EXPORT_ARGS(EXPORT_NAME, __VA_ARGS__)); \
    }
#include "extension/exports/export_list.h"
#undef EXPORTDEF
