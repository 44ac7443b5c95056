#include "standin/fp_env.h"

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "standin/export_call.h"
#include "standin/ledger.h"
#include "standin/standin.h"

namespace standin {

struct ExportCall {
    const void* fn;          // +0
    const uint32_t* args;    // +4
    int32_t words;           // +8
    int32_t skew;            // +12
    uint32_t host_x87;       // +16
    uint32_t host_mxcsr;     // +20
    uint32_t own_x87;        // +24
    uint32_t own_mxcsr;      // +28
    uint32_t mxcsr_after;    // +32
    int32_t esp_delta;       // +36
    double result;           // +40
    uint32_t esp_at_call;    // +48
    uint32_t env[7];         // +52 control, status, tags, then the last instruction's address
    uint32_t eax;            // +80
    uint32_t padding;        // +84
};
static_assert(offsetof(ExportCall, fn) == EC_FN, "fn");
static_assert(offsetof(ExportCall, args) == EC_ARGS, "args");
static_assert(offsetof(ExportCall, words) == EC_WORDS, "words");
static_assert(offsetof(ExportCall, skew) == EC_SKEW, "skew");
static_assert(offsetof(ExportCall, host_x87) == EC_HOST_X87, "host_x87");
static_assert(offsetof(ExportCall, host_mxcsr) == EC_HOST_MXCSR, "host_mxcsr");
static_assert(offsetof(ExportCall, own_x87) == EC_OWN_X87, "own_x87");
static_assert(offsetof(ExportCall, own_mxcsr) == EC_OWN_MXCSR, "own_mxcsr");
static_assert(offsetof(ExportCall, mxcsr_after) == EC_MXCSR_AFTER, "mxcsr_after");
static_assert(offsetof(ExportCall, esp_delta) == EC_ESP_DELTA, "esp_delta");
static_assert(offsetof(ExportCall, result) == EC_RESULT, "result");
static_assert(offsetof(ExportCall, esp_at_call) == EC_ESP_AT_CALL, "esp_at_call");
static_assert(offsetof(ExportCall, env) == EC_ENV, "env");
static_assert(offsetof(ExportCall, eax) == EC_EAX, "eax");
static_assert(sizeof(ExportCall) == EC_SIZE, "size");

}  // namespace standin

extern "C" {
void standin_call_export(standin::ExportCall* call);
void standin_divide_by_zero(uint32_t x87, uint32_t mxcsr, int sse);
// Loaded by the routine stubs before the stand-in's own code runs.
FpWords standin_runtime_words = read_fp_words();
// The record of the innermost host routine at work, whose words its stub puts back.
standin::Registers* standin_current_registers = nullptr;
}

namespace standin {
namespace {

FpEnv g_env = fp_env_from_environment();
// The host words of each export call in progress, innermost last.
std::vector<FpWords> g_host_words;
int g_skew = 0;
uint32_t g_last_offset = 0;

std::string hex(uint32_t v) {
    char b[16];
    std::snprintf(b, sizeof b, "0x%04X", static_cast<unsigned>(v));
    return b;
}

// The flags set whose exceptions are unmasked: what fires at the next instruction.
uint32_t pending_x87(uint32_t control, uint32_t status) { return status & 0x3F & ~control; }
uint32_t pending_mxcsr(uint32_t mxcsr) {
    return mxcsr & kMxcsrFlags & ~(mxcsr >> kMxcsrMaskShift);
}

int tags_in_use(uint32_t tags) {
    int n = 0;
    for (int i = 0; i < 8; ++i)
        if (((tags >> (2 * i)) & 3) != 3) ++n;
    return n;
}

void check_after(const ExportCall& c, const FpWords& host, int in_x87) {
    const uint32_t control = c.env[0] & 0xFFFF, status = c.env[1] & 0xFFFF, tags = c.env[2] & 0xFFFF;
    if (control != (host.x87 & 0xFFFF))
        fault("export: x87 control word " + hex(control) + " on return, the host had " + hex(host.x87));
    if ((c.mxcsr_after & ~kMxcsrFlags) != (host.mxcsr & ~kMxcsrFlags))
        fault("export: MXCSR " + hex(c.mxcsr_after) + " on return, the host had " + hex(host.mxcsr));
    if (pending_x87(control, status) != 0 || (status & 0x80) != 0)
        fault("export: x87 status word " + hex(status) + " has an unmasked exception pending");
    // The host's own words back exactly, flags included: none of varnel's flags.
    if (c.mxcsr_after != host.mxcsr)
        fault("export: MXCSR " + hex(c.mxcsr_after) + " on return, the host had exactly " + hex(host.mxcsr));
    if ((status & 0x3F) != 0)
        fault("export: x87 status word " + hex(status) + " has exception flags set on return");
    if (pending_mxcsr(c.mxcsr_after) != 0)
        fault("export: MXCSR " + hex(c.mxcsr_after) + " has an unmasked exception flag set");
    if (tags_in_use(tags) != in_x87)
        fault("export: " + std::to_string(tags_in_use(tags)) + " x87 registers in use on return (tags " +
              hex(tags) + (in_x87 ? "), expected the result alone" : "), expected none after a text result"));
    if (c.esp_delta != 0) fault("export: ESP moved by " + std::to_string(c.esp_delta) + " across the call");
}

}  // namespace

FpEnv fp_env_from_environment() {
    const char* name = std::getenv("VARNEL_HOST_FP");
    if (!name || !*name || !std::strcmp(name, "default")) return FpEnv::kDefault;
    if (!std::strcmp(name, "pascal")) return FpEnv::kPascal;
    if (!std::strcmp(name, "direct3d")) return FpEnv::kDirect3D;
    std::fprintf(stderr, "VARNEL_HOST_FP=%s: expected default, pascal or direct3d\n", name);
    std::exit(2);
}

const char* fp_env_name(FpEnv env) {
    switch (env) {
        case FpEnv::kPascal: return "pascal";
        case FpEnv::kDirect3D: return "direct3d";
        default: return "default";
    }
}

FpWords fp_env_words(FpEnv env) {
    switch (env) {
        case FpEnv::kPascal: return FpWords{0x1372, 0x1900};
        case FpEnv::kDirect3D: return FpWords{0x007F, 0x1F80};
        default: return kRuntimeWords;  // what varnel's runtime expects, whatever this program's are
    }
}

void set_fp_env(FpEnv env) { g_env = env; }
FpEnv fp_env() { return g_env; }
uint32_t last_export_stack_offset() { return g_last_offset; }
FpWords runtime_words() { return standin_runtime_words; }

bool in_export_call() { return !g_host_words.empty(); }

FpWords current_host_words() {
    return g_host_words.empty() ? standin_runtime_words : g_host_words.back();
}

void change_host_words(FpWords words) {
    if (g_host_words.empty() || !standin_current_registers) {
        fault("change_host_words: called outside a host routine");
        return;
    }
    g_host_words.back() = words;
    standin_current_registers->x87 = words.x87;
    standin_current_registers->mxcsr = words.mxcsr;
}

void divide_by_zero_with_host_words(bool sse) {
    const FpWords w = current_host_words();
    standin_divide_by_zero(w.x87, w.mxcsr, sse ? 1 : 0);
}

namespace {

// Calls the export as call_export does; in_x87 is the number of x87 registers it
// must leave in use: 1 (its double result) or 0 (a text result, in EAX).
ExportCall call_with_check(const void* fn, const uint32_t* args, int words, int in_x87) {
    // A nested call is made by a host routine, with the words it runs with.
    const FpWords host = g_host_words.empty() ? fp_env_words(g_env) : g_host_words.back();
    ExportCall c{};
    c.fn = fn;
    c.args = args;
    c.words = words;
    c.skew = 4 + 4 * (g_skew++ % 3);
    c.host_x87 = host.x87;
    c.host_mxcsr = host.mxcsr & ~kMxcsrFlags;
    g_host_words.push_back(FpWords{host.x87, c.host_mxcsr});
    Registers* const routine = standin_current_registers;
    standin_call_export(&c);
    standin_current_registers = routine;  // a routine left by an exception left it set
    const FpWords after = g_host_words.back();  // as a host routine may have changed them
    g_host_words.pop_back();
    check_after(c, after, in_x87);
    g_last_offset = c.esp_at_call % 16;
    return c;
}

}  // namespace

double call_export(const void* fn, const uint32_t* args, int words) {
    return call_with_check(fn, args, words, 1).result;
}

const char* call_text_export(const void* fn, const uint32_t* args, int words) {
    return reinterpret_cast<const char*>(static_cast<uintptr_t>(call_with_check(fn, args, words, 0).eax));
}

}  // namespace standin
