// Waiting for MXCSR's first trap (Windows, host/fp_words.h): while an export
// works, an exception registration record on its stack names fp_trap_handler,
// which answers an SSE2 instruction that trapped under the host's MXCSR by
// loading the runtime's and running the instruction again. Traps in host code
// never reach it: the host call's own frame (host/host_call.S) takes those first.
// Elsewhere this is empty and MXCSR is switched at the boundary.
#pragma once
#include <cstdint>

// The record the system walks, first in a HostSide so that the handler finds it.
struct TrapRecord {
    TrapRecord* next;
    const void* handler;
};

#if defined(_WIN32)
extern "C" int __cdecl fp_trap_handler(void* exception, void* record, void* context, void* dispatcher);

// Links record in at the head of the thread's chain; FS:[0] points at it.
inline void watch_fp_traps(TrapRecord& record) noexcept {
    record.handler = reinterpret_cast<const void*>(&fp_trap_handler);
    __asm__ volatile("movl %%fs:0, %%eax\n\tmovl %%eax, (%0)\n\tmovl %0, %%fs:0"
                     : : "r"(&record) : "eax", "memory");
}

// Unlinks record, which must be at the head.
inline void unwatch_fp_traps(TrapRecord& record) noexcept {
    __asm__ volatile("movl (%0), %%eax\n\tmovl %%eax, %%fs:0" : : "r"(&record) : "eax", "memory");
}
#else
inline void watch_fp_traps(TrapRecord&) noexcept {}
inline void unwatch_fp_traps(TrapRecord&) noexcept {}
#endif
