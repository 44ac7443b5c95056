// The host-call step: every host built-in routine varnel runs goes through
// call_host, which hands the host its own floating-point words for the call and
// catches what the host's code raises inside it.
#pragma once
#include <cstdint>
#include <cstdio>

#include "bridge/nexlink.h"
#include "host/fp_trap.h"
#include "host/fp_words.h"
#include "host/host_call_arg.h"

// What the export at work knows of the host that called it. Each export keeps one
// for as long as it runs (host/export_scope.h); the innermost is current.
struct HostSide {
    TrapRecord record;  // first: the trap handler finds the rest from it
    FpWords host;       // the host's words: those it had at entry, as its routines left them since
    bool mxcsr_now;     // MXCSR trapped in this export: it is switched from now on, not awaited
    HostSide* outer;    // the export this one is nested in, or null
};

// The innermost export's HostSide, or null outside every export.
extern HostSide* g_host_side;

// Runs routine, a stdcall routine of nexlink taking up to four word arguments,
// with a0..a3 (those it does not take are ignored), and stores its EAX at
// *eax_out. Returns 0, or the code of an exception raised inside the routine
// (Windows only), which was caught here after the system unwound the host's
// frames; *eax_out is then left alone. host/host_call.S.
extern "C" uint32_t host_guarded(const void* routine, uint32_t* eax_out, uint32_t a0, uint32_t a1,
                                 uint32_t a2, uint32_t a3);

// NexCallFunction(entry, records, count, result), guarded as host_guarded guards.
inline uint32_t host_guarded_call(uint32_t entry, void* records, int32_t count, void* result) noexcept {
    uint32_t ignored;
    return host_guarded(reinterpret_cast<const void*>(&NexCallFunction), &ignored, entry,
                        static_cast<uint32_t>(reinterpret_cast<uintptr_t>(records)),
                        static_cast<uint32_t>(count),
                        static_cast<uint32_t>(reinterpret_cast<uintptr_t>(result)));
}

// After a host routine cut off by the exception code: resets the floating-point
// unit to the runtime's words (the host's stay those it had before the call), and
// after a stack overflow puts the stack's guard page back, so that the next
// overflow is one again.
void settle_after_exception(uint32_t code) noexcept;

// After a host routine: keeps the words it left, now, as the host's and enters
// varnel's (fp_words.h: enter_runtime_words); or settles after its exception.
inline void settle_after_host(uint32_t code, FpWords now) noexcept {
    if (__builtin_expect(code != 0, 0)) return settle_after_exception(code);
    HostSide* side = g_host_side;
    if (!side) return;  // no export at work: nothing to give back later
    side->host = now;   // a host routine that changed its words keeps them
    enter_runtime_words(now, side->mxcsr_now);
}

// Runs the host built-in routine at entry with count contiguous argument records
// and one result record, in the host's floating-point environment. Returns 0, or
// the code of an exception the routine raised; the result record is then as the
// routine left it (zero-filled when it wrote nothing). What NexCallFunction
// returns carries no meaning.
inline uint32_t call_host(uint32_t entry, HostCallArg* records, int32_t count, HostCallArg* result) noexcept {
    if (const HostSide* side = g_host_side) hand_back_fp_words(side->host);  // none of our flags
    const uint32_t code = host_guarded_call(entry, records, count, result);
    settle_after_host(code, read_fp_words());
    return code;
}

// The text of an exception raised in a host routine, as errors and reports word it.
#define HOST_EXCEPTION_FORMAT "host routine raised exception 0x%08X"

struct HostExceptionText {
    char text[48];
};

// The text for code, worded by HOST_EXCEPTION_FORMAT (Lua's own formatting has
// no hexadecimal).
inline HostExceptionText host_exception_text(uint32_t code) noexcept {
    HostExceptionText t;
    std::snprintf(t.text, sizeof t.text, HOST_EXCEPTION_FORMAT, static_cast<unsigned>(code));
    return t;
}

// The host's cell and record routines, each run as host_guarded runs it, in
// varnel's words (the host's string routines do no floating-point work). An
// exception raised inside one is kept as the pending cell exception of the
// export at work (the first one, if several): the code that runs Lua code takes
// it with take_cell_exception and raises it as a Lua error, like an exception
// of call_host; one left pending when the export returns is reported then
// (host/export_scope.h). A routine cut off by an exception did nothing varnel
// can count on: host_new_cell then gives null, and the others' cells stay the
// caller's to dispose as usual (a disposed cell counts as gone).
HostStringCell* host_new_cell() noexcept;
void host_set_string(const char* text, HostStringCell* cell) noexcept;
void host_clear_string(HostStringCell* cell) noexcept;
void host_dispose_cell(HostStringCell* cell) noexcept;
void host_finalize_result(HostCallArg* record) noexcept;

// The pending cell exception's code, or 0, and none is pending afterwards.
uint32_t take_cell_exception() noexcept;

// code when it is not 0, else the pending cell exception's code or 0. Either way
// no cell exception is pending afterwards: the caller raises or reports one.
inline uint32_t with_cell_exception(uint32_t code) noexcept {
    const uint32_t cell = take_cell_exception();
    return code != 0 ? code : cell;
}

// The pending cell exception's code, or 0. ExportScope keeps the outer export's
// across a nested one.
extern uint32_t g_cell_raised;
