// Calls a routine with every register and stack argument chosen by the test, and
// records every register and the stack pointer's movement when it returns.
#pragma once
#include <cstdint>
#include <initializer_list>

struct Regs {
    uint32_t eax, ebx, ecx, edx, esi, edi, ebp;
};

struct Probe {
    uint32_t target;    // +0
    uint32_t nargs;     // +4
    uint32_t args[4];   // +8   args[0] ends up on top of the stack
    Regs in;            // +24
    Regs out;           // +52
    int32_t esp_delta;  // +80  stack pointer after return minus before the pushes
};

extern "C" void probe_call(Probe* p);

// A routine in the host's convention that records what it found and pops 12:
// probe_seen = EAX EBX ECX EDX ESI EDI EBP, then [esp], [esp+4], [esp+8], [esp+12].
extern "C" void probe_routine();
extern "C" uint32_t probe_seen[11];
#define PROBE_ROUTINE_RESULT 0x5EED5EEDu

// Distinct values for every register, so any mix-up shows.
inline Regs sentinels() {
    return {0xA0A0A0A0u, 0xB0B0B0B0u, 0xC0C0C0C0u, 0xD0D0D0D0u, 0x51515151u, 0xD1D1D1D0u, 0xB9B9B9B9u};
}

template <typename F>
Probe make_probe(F* target, std::initializer_list<uint32_t> args) {
    Probe p{};
    p.target = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(target));
    for (uint32_t a : args) p.args[p.nargs++] = a;
    p.in = sentinels();
    return p;
}

inline uint32_t u32(const void* p) { return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p)); }
