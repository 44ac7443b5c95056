#include "host/host_call.h"

#if defined(_WIN32)
#include <malloc.h>
#endif

HostSide* g_host_side = nullptr;
uint32_t g_cell_raised = 0;

namespace {

constexpr uint32_t kStackOverflow = 0xC00000FD;

uint32_t word(const void* p) noexcept { return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p)); }

// Runs one cell or record routine; keeps the code of an exception it raised.
uint32_t run_cell_routine(const void* routine, uint32_t a0, uint32_t a1) noexcept {
    uint32_t eax = 0;
    const uint32_t code = host_guarded(routine, &eax, a0, a1, 0, 0);
    if (__builtin_expect(code != 0, 0)) {
        settle_after_exception(code);
        if (g_cell_raised == 0) g_cell_raised = code;
        return 0;
    }
    return eax;
}

}  // namespace

void settle_after_exception(uint32_t code) noexcept {
    // Cut off in the middle of its work: what the unit holds is no one's.
    reset_fp_words(kRuntimeWords);
#if defined(_WIN32)
    // The overflow used up the guard page below the stack; without a new one the
    // next overflow in this thread would be an access violation.
    if (code == kStackOverflow) _resetstkoflw();
#else
    (void)code;
#endif
}

HostStringCell* host_new_cell() noexcept {
    const uint32_t eax = run_cell_routine(reinterpret_cast<const void*>(&NexAllocateString), 0, 0);
    return reinterpret_cast<HostStringCell*>(static_cast<uintptr_t>(eax));
}

void host_set_string(const char* text, HostStringCell* cell) noexcept {
    run_cell_routine(reinterpret_cast<const void*>(&NexSetString), word(text), word(cell));
}

void host_clear_string(HostStringCell* cell) noexcept {
    run_cell_routine(reinterpret_cast<const void*>(&NexClearString), word(cell), 0);
}

void host_dispose_cell(HostStringCell* cell) noexcept {
    run_cell_routine(reinterpret_cast<const void*>(&NexDeallocateString), word(cell), 0);
}

void host_finalize_result(HostCallArg* record) noexcept {
    run_cell_routine(reinterpret_cast<const void*>(&NexDeallocateResult), word(record), 0);
}

uint32_t take_cell_exception() noexcept {
    const uint32_t code = g_cell_raised;
    g_cell_raised = 0;
    return code;
}
