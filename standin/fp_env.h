// The host's floating-point environment, as the stand-in plays it. Every export
// is called through call_export, which plays a real host: it loads the chosen
// host words, misaligns the stack, calls the export, and checks afterwards that
// the words are unchanged, that no exception flag is pending and that the x87
// register stack holds only the result. Every built-in routine checks that it is
// entered with the host's words.
#pragma once
#include <cstdint>

#include "host/fp_words.h"

namespace standin {

// default: the words the C runtime that Lua and varnel use is built for
// (kRuntimeWords); this program's own may differ (a MinGW program starts in
// 64-bit precision). pascal: a runtime from a Pascal-family
// compiler (x87 0x1372, MXCSR 0x1900: invalid, zero-divide and overflow
// unmasked). direct3d: a host with a Direct3D device (x87 0x007F: 24-bit
// precision, all masked).
enum class FpEnv { kDefault, kPascal, kDirect3D };

// The environment named by VARNEL_HOST_FP (default, pascal or direct3d; unset or
// empty is default). Exits with a message on any other name.
FpEnv fp_env_from_environment();
const char* fp_env_name(FpEnv env);
FpWords fp_env_words(FpEnv env);

// The environment the stand-in plays from now on; reset() goes back to the one
// VARNEL_HOST_FP names.
void set_fp_env(FpEnv env);
FpEnv fp_env();

// This program's words as it started, which the stand-in's own code runs with.
FpWords runtime_words();

// The words the host is running with now: those of the innermost export call in
// progress, or the runtime's outside every export call.
FpWords current_host_words();
// Whether an export call is in progress: host routines are then the host's code,
// run from the host's words.
bool in_export_call();

// Called from a host routine: the host changes its words to words, for the rest of
// the routine and for the export that called it once the routine returns.
void change_host_words(FpWords words);

// Called from a host routine: divides 1 by 0 with the host's words, on the x87
// (sse false) or with SSE2. Faults when the host's words unmask zero-divide.
void divide_by_zero_with_host_words(bool sse);

// Calls export fn with words 32-bit argument words (cdecl), as the host would.
// Records a fault for every check that fails. Returns the export's result.
double call_export(const void* fn, const uint32_t* args, int words);

// As call_export, for an export whose result is a text: returns EAX, and checks
// that the export leaves no x87 register in use.
const char* call_text_export(const void* fn, const uint32_t* args, int words);

// ESP at the last export call, modulo 16: 4, 8 or 12, in turn.
uint32_t last_export_stack_offset();

}  // namespace standin
