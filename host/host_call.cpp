#include "host/host_call.h"

#include "bridge/nexlink.h"

HostSide* g_host_side = nullptr;

void settle_after_host(uint32_t code, FpWords now) noexcept {
    HostSide* side = g_host_side;
    if (code != 0) {
        // Cut off in the middle of its work: what the unit holds is no one's. The
        // host's words stay those it had before the call.
        reset_fp_words(kRuntimeWords);
        return;
    }
    if (!side) return;  // no export at work: nothing to give back later
    // A host routine that changed its words keeps them for the host side.
    side->host = now;
    side->switched = fp_words_differ(now, kRuntimeWords);
    if (side->switched) switch_fp_words(now, kRuntimeWords);
}

#if !defined(_WIN32)
// Nothing the host's code raises can be caught here: a signal ends the process.
extern "C" uint32_t host_guarded_call(uint32_t entry, void* records, int32_t count, void* result) {
    NexCallFunction(entry, records, count, result);
    return 0;
}
#endif
