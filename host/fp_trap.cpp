#include "host/fp_trap.h"

#include "host/fp_words.h"
#include "host/host_call.h"

#if defined(_WIN32)
#include <windows.h>
#endif

namespace {

#if defined(_WIN32)
// The engine beside varnel was built for words on demand when it names the x87
// word it loads (lua_x87/). An engine built otherwise may run x87 code under the
// host's word, or walk its frames in its own exception handler, which meets a
// trap before this one, where the trap left them half made (LuaJIT unpatched).
bool ask_engine() noexcept {
    const HMODULE engine = GetModuleHandleA("lua5.1.dll");
    if (!engine) return false;
    using WordFn = unsigned (*)();
    const auto word = reinterpret_cast<WordFn>(reinterpret_cast<void (*)()>(GetProcAddress(engine, "lua_x87_word")));
    return word && word() == kRuntimeX87;
}

constexpr DWORD kUnwinding = 6;  // EXCEPTION_UNWINDING | EXCEPTION_EXIT_UNWIND
constexpr DWORD kMxcsrOffset = 24;  // in the FXSAVE image of CONTEXT.ExtendedRegisters

// Whether code is one the system gives an SSE2 trap: the multiple-trap codes, or
// on some systems the x87's own (then MXCSR, not the x87, must show it).
bool floating_point_code(DWORD code) noexcept {
    return code == 0xC00002B4 || code == 0xC00002B5 || (code >= 0xC000008D && code <= 0xC0000093);
}
#else
bool ask_engine() noexcept { return false; }
#endif

}  // namespace

const bool g_words_on_demand = ask_engine();

#if defined(_WIN32)
extern "C" int __cdecl fp_trap_handler(void* exception, void* record, void* context, void*) {
    const auto* rec = static_cast<const EXCEPTION_RECORD*>(exception);
    auto* ctx = static_cast<CONTEXT*>(context);
    if ((rec->ExceptionFlags & kUnwinding) != 0 || !floating_point_code(rec->ExceptionCode) ||
        (ctx->ContextFlags & CONTEXT_EXTENDED_REGISTERS) != CONTEXT_EXTENDED_REGISTERS)
        return ExceptionContinueSearch;
    auto* mxcsr = reinterpret_cast<uint32_t*>(ctx->ExtendedRegisters + kMxcsrOffset);
    const uint32_t unmasked_raised = *mxcsr & kMxcsrFlags & ~(*mxcsr >> kMxcsrMaskShift);
    const uint32_t x87_pending = ctx->FloatSave.StatusWord & 0x3F & ~ctx->FloatSave.ControlWord;
    if (unmasked_raised == 0 || x87_pending != 0) return ExceptionContinueSearch;
    *mxcsr = kRuntimeMxcsr;
    // The rest of this export runs with the runtime's MXCSR, also after host calls:
    // code that trapped once would trap again.
    static_cast<HostSide*>(record)->mxcsr_now = true;
    return ExceptionContinueExecution;
}
#endif
