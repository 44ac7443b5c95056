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

// The words the C runtime and Lua are built for: every exception masked, round to
// nearest, double precision on Windows; glibc starts threads in extended precision.
#if defined(_WIN32)
constexpr uint32_t kRuntimeX87 = 0x027F;
#else
constexpr uint32_t kRuntimeX87 = 0x037F;
#endif
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

// Clears the x87 exception flags, then loads words. No flag raised before it can
// fire at the next floating-point instruction.
inline void load_fp_words(FpWords words) noexcept {
    const uint16_t cw = static_cast<uint16_t>(words.x87);
    const uint32_t mx = words.mxcsr;
    __asm__ volatile("fnclex\n\tfldcw %0\n\tldmxcsr %1" : : "m"(cw), "m"(mx) : "memory");
}

// As load_fp_words, emptying the x87 register stack first: for code that may have
// been cut off in the middle of its floating-point work.
inline void reset_fp_words(FpWords words) noexcept {
    const uint16_t cw = static_cast<uint16_t>(words.x87);
    const uint32_t mx = words.mxcsr;
    __asm__ volatile("fninit\n\tfldcw %0\n\tldmxcsr %1" : : "m"(cw), "m"(mx) : "memory");
}
