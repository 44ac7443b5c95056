// The floating-point environment of a thread: the x87 control word and MXCSR.
// varnel's own code and Lua compute with the runtime's words whatever the host's
// are, and the host gets exactly its own back. Loading a word that differs costs
// about 70 ns (x87) or 15 ns (MXCSR), loading the same one or reading either
// about a nanosecond: so each unit is switched only where its word matters.
//
// - MXCSR governs SSE2, which is all of varnel's and Lua's arithmetic. A host's
//   that rounds as ours (the Pascal-family and Direct3D ones do) differs only in
//   which exceptions trap, and can stay in place: the first SSE2 instruction that
//   traps under it loads the runtime's and runs again (host/fp_trap.h), for the
//   rest of the export.
// - The x87 runs only inside the C runtime's functions (pow, exp, formatting and
//   parsing numbers) and 64-bit conversions. An engine that loads the runtime's
//   x87 word itself before such calls (lua_x87/) lets the host's stay in place
//   until then, and varnel does the same before its own (ensure_runtime_x87);
//   under the host's word the x87 then only moves doubles, which a word that
//   rounds to nearest does not change as long as no signalling NaN comes in
//   (host numbers arrive quieted: host/host_value.h).
// Both wait so with the engine built for it (Windows), each while the host's word
// computes as ours. Otherwise, and off Windows, they are switched at the boundary.
#pragma once
#include <cstdint>

#include "host/runtime_x87.h"

struct FpWords {
    uint32_t x87;    // the x87 control word, in the low 16 bits
    uint32_t mxcsr;  // control and sticky flag bits
};

// MXCSR's six sticky exception flags, and the six masks seven bits above them.
constexpr uint32_t kMxcsrFlags = 0x3F;
constexpr uint32_t kMxcsrMaskShift = 7;

// The words varnel and Lua run with: every exception masked, round to nearest. The
// x87's precision is extended: there the C runtime's functions round as the
// reference interpreter does. On 3,000 random inputs under Wine's C runtime, pow
// was wrong in the last place 2,267 times at double precision (0x027F) and 11
// times at extended precision, exp 549 against 1; log, sin, strtod and %.14g
// alike. glibc starts threads with this word too.
constexpr uint32_t kRuntimeX87 = VARNEL_RUNTIME_X87;
constexpr uint32_t kRuntimeMxcsr = 0x1F80;
constexpr FpWords kRuntimeWords{kRuntimeX87, kRuntimeMxcsr};

// Whether both units wait for their need rather than being switched at the
// boundary: only with an engine built with varnel for it (Windows: Lua 5.1.5, and
// LuaJIT without its ffi module), which loads the runtime's x87 word itself before
// its x87 code and whose own exception handler, if it has one, passes a trap on
// to varnel's untouched. host/fp_trap.cpp asks it once.
extern const bool g_words_on_demand;

inline FpWords read_fp_words() noexcept {
    uint16_t cw;
    uint32_t mx;
    __asm__ volatile("fnstcw %0" : "=m"(cw) : : "memory");
    __asm__ volatile("stmxcsr %0" : "=m"(mx) : : "memory");
    return FpWords{cw, mx};
}

// Whether a and b differ in what makes a result: the x87 control word, and MXCSR
// without its sticky flags.
inline bool fp_words_differ(FpWords a, FpWords b) noexcept {
    return ((a.x87 ^ b.x87) & 0xFFFF) != 0 || ((a.mxcsr ^ b.mxcsr) & ~kMxcsrFlags) != 0;
}

// Goes from the words in force, from, to words, writing only the unit that
// differs: the x87 control word (after clearing the x87 exception flags, so that
// none raised before fires at the next x87 instruction), MXCSR, both or neither.
// MXCSR's flags go with it: those of words.
inline void switch_fp_words(FpWords from, FpWords words) noexcept {
    if (((from.x87 ^ words.x87) & 0xFFFF) != 0) {
        const uint16_t cw = static_cast<uint16_t>(words.x87);
        __asm__ volatile("fnclex\n\tfldcw %0" : : "m"(cw) : "memory");
    }
    if (((from.mxcsr ^ words.mxcsr) & ~kMxcsrFlags) != 0) {
        const uint32_t mx = words.mxcsr;
        __asm__ volatile("ldmxcsr %0" : : "m"(mx) : "memory");
    }
}

// Whether the host's MXCSR computes as the runtime's: the same rounding, no
// flush-to-zero, no denormals-are-zero. Only which exceptions trap may differ.
inline bool mxcsr_may_wait(uint32_t mxcsr) noexcept {
    constexpr uint32_t kMasks = kMxcsrFlags << kMxcsrMaskShift;
    return ((mxcsr ^ kRuntimeMxcsr) & ~(kMxcsrFlags | kMasks)) == 0;
}

// Whether the host's x87 word moves doubles, and 64-bit integers into doubles, as
// the runtime's does: rounding to nearest (rounding control 0), and the denormal,
// underflow and precision exceptions masked. Its precision does not touch a move.
inline bool x87_may_wait(uint32_t x87) noexcept {
    constexpr uint32_t kRounding = 0x0C00;
    constexpr uint32_t kMoveMasks = 0x0032;  // DM, UM, PM
    return (x87 & (kRounding | kMoveMasks)) == kMoveMasks;
}

// From the host's words, now, to those varnel works with: a unit that waits for its
// need keeps the host's word, when that computes as ours (mxcsr_now: MXCSR has
// trapped in this export, so it no longer waits).
inline void enter_runtime_words(FpWords now, bool mxcsr_now) noexcept {
    const bool on_demand = g_words_on_demand;
    const FpWords words{on_demand && x87_may_wait(now.x87) ? now.x87 : kRuntimeX87,
                        on_demand && !mxcsr_now && mxcsr_may_wait(now.mxcsr) ? now.mxcsr : kRuntimeMxcsr};
    switch_fp_words(now, words);
}

// For varnel's own x87 code (the C runtime's number formatting and parsing, 64-bit
// conversions): the runtime's x87 word, unless it is in place, as the engine's
// wrappers load it.
inline void ensure_runtime_x87() noexcept { varnel_ensure_runtime_x87(); }

// Gives the host its words back, with no exception flag of ours left in either
// unit, whichever of them were switched: clears the x87 exception flags when one
// is set, loads the x87 control word unless it is the host's, and loads MXCSR
// whole (the host's control bits and its own flags: the same value costs
// nothing).
inline void hand_back_fp_words(FpWords words) noexcept {
    uint16_t cw;
    uint16_t sw;
    __asm__ volatile("fnstcw %0\n\tfnstsw %1" : "=m"(cw), "=m"(sw) : : "memory");
    // fnclex costs about 25 ns: clear only when an exception or stack-fault flag is set.
    if ((sw & 0x7F) != 0) __asm__ volatile("fnclex" : : : "memory");
    if (((cw ^ words.x87) & 0xFFFF) != 0) {
        const uint16_t host_cw = static_cast<uint16_t>(words.x87);
        __asm__ volatile("fldcw %0" : : "m"(host_cw) : "memory");
    }
    const uint32_t host_mx = words.mxcsr;
    __asm__ volatile("ldmxcsr %0" : : "m"(host_mx) : "memory");
}

// Loads words in both units, emptying the x87 register stack and clearing its flags
// first: for after code that was cut off in the middle of its floating-point work.
inline void reset_fp_words(FpWords words) noexcept {
    const uint16_t cw = static_cast<uint16_t>(words.x87);
    const uint32_t mx = words.mxcsr;
    __asm__ volatile("fninit\n\tfldcw %0\n\tldmxcsr %1" : : "m"(cw), "m"(mx) : "memory");
}
