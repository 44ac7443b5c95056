// The host-call step: every host built-in routine varnel runs goes through
// call_host, which hands the host its own floating-point words for the call and
// catches what the host's code raises inside it.
#pragma once
#include <cstdint>

#include "host/fp_words.h"
#include "host/host_call_arg.h"

// What the export at work knows of the host that called it. Each export keeps one
// for as long as it runs (host/export_scope.h); the innermost is current.
struct HostSide {
    FpWords host;      // the host's words: those it had at entry, as its routines left them since
    bool switched;     // they differ from the runtime's, which varnel is using meanwhile
    HostSide* outer;   // the export this one is nested in, or null
};

// The innermost export's HostSide, or null outside every export.
extern HostSide* g_host_side;

// Runs NexCallFunction(entry, records, count, result). Returns 0, or the code of
// an exception raised inside the routine (Windows only), which was caught here
// after the system unwound the host's frames.
extern "C" uint32_t host_guarded_call(uint32_t entry, void* records, int32_t count, void* result);

// After a routine that ran with other words than the runtime's, or raised: keeps
// the words it left as the host's and puts the runtime's back, or, after an
// exception, resets the floating-point unit to the runtime's words.
void settle_after_host(uint32_t code, FpWords now) noexcept;

// Runs the host built-in routine at entry with count contiguous argument records
// and one result record, in the host's floating-point environment. Returns 0, or
// the code of an exception the routine raised; the result record is then as the
// routine left it (zero-filled when it wrote nothing). What NexCallFunction
// returns carries no meaning.
inline uint32_t call_host(uint32_t entry, HostCallArg* records, int32_t count, HostCallArg* result) noexcept {
    const HostSide* side = g_host_side;
    if (side && side->switched) switch_fp_words(kRuntimeWords, side->host);
    const uint32_t code = host_guarded_call(entry, records, count, result);
    const FpWords now = read_fp_words();
    if (code != 0 || fp_words_differ(now, kRuntimeWords) || (side && side->switched))
        settle_after_host(code, now);
    return code;
}

// The text of an exception raised in a host routine, as errors and reports word it.
#define HOST_EXCEPTION_FORMAT "host routine raised exception 0x%08X"
