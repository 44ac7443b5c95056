// The floating-point environment of a thread: the x87 control word and MXCSR.
// varnel's own code and Lua run with the C runtime's words; a host may run with
// others. Reading costs two stores; writing happens only where the words differ.
#pragma once
#include <cstdint>

struct FpWords {
    uint32_t x87;    // the x87 control word, in the low 16 bits
    uint32_t mxcsr;  // control and sticky flag bits
};

// MXCSR's six sticky exception flags, and the six masks seven bits above them.
constexpr uint32_t kMxcsrFlags = 0x3F;
constexpr uint32_t kMxcsrMaskShift = 7;

// The words varnel and Lua run with: every exception masked, round to nearest. Lua
// and varnel compute in SSE2; the x87 runs only inside the C runtime's functions
// (pow, exp, number formatting and parsing), and extended precision is the word
// where they round as the reference interpreter does: on 3,000 random inputs
// under Wine's C runtime, pow was wrong in the last place 2,267 times at double
// precision (0x027F) and 11 times at extended precision, exp 549 against 1;
// log, sin, strtod and %.14g alike. glibc starts threads with this word too.
constexpr uint32_t kRuntimeX87 = 0x037F;
constexpr uint32_t kRuntimeMxcsr = 0x1F80;
constexpr FpWords kRuntimeWords{kRuntimeX87, kRuntimeMxcsr};

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

// Gives the host its words back from the runtime's, with no exception flag of
// ours left in either unit, whichever of them differ: clears the x87 exception
// flags, loads the x87 control word when it differs, and loads MXCSR whole (the
// host's control bits and its own flags) unless it already is exactly that.
inline void hand_back_fp_words(FpWords words) noexcept {
    uint32_t mx;
    uint16_t sw;
    __asm__ volatile("fnstsw %0\n\tstmxcsr %1" : "=m"(sw), "=m"(mx) : : "memory");
    // Reading the status word costs a few cycles, fnclex about 25 ns: clear only
    // when an exception or stack-fault flag is set.
    if ((sw & 0x7F) != 0) __asm__ volatile("fnclex" : : : "memory");
    if (((kRuntimeX87 ^ words.x87) & 0xFFFF) != 0) {
        const uint16_t cw = static_cast<uint16_t>(words.x87);
        __asm__ volatile("fldcw %0" : : "m"(cw) : "memory");
    }
    if (mx != words.mxcsr) {
        const uint32_t host_mx = words.mxcsr;
        __asm__ volatile("ldmxcsr %0" : : "m"(host_mx) : "memory");
    }
}

// Loads words in both units, emptying the x87 register stack and clearing its flags
// first: for after code that was cut off in the middle of its floating-point work.
inline void reset_fp_words(FpWords words) noexcept {
    const uint16_t cw = static_cast<uint16_t>(words.x87);
    const uint32_t mx = words.mxcsr;
    __asm__ volatile("fninit\n\tfldcw %0\n\tldmxcsr %1" : : "m"(cw), "m"(mx) : "memory");
}
