// The host's 24-byte value record, used for every built-in routine's arguments and
// result. Its layout is fixed by the host.
#pragma once
#include <cstddef>
#include <cstdint>

// What a record holds.
constexpr int32_t HOST_KIND_NUMBER = 0;
constexpr int32_t HOST_KIND_TEXT = 1;

struct HostCallArg {
    int32_t kind;       // +0   HOST_KIND_NUMBER or HOST_KIND_TEXT
    int32_t reserved0;  // +4   zero
    double real;        // +8   meaningful when kind is HOST_KIND_NUMBER
    const char* text;   // +16  host string's first byte, or null for the empty text
    int32_t reserved1;  // +20  zero
};

static_assert(sizeof(void*) == 4, "the host is a 32-bit process");
static_assert(sizeof(HostCallArg) == 24, "HostCallArg is 24 bytes");
static_assert(offsetof(HostCallArg, kind) == 0, "kind at +0");
static_assert(offsetof(HostCallArg, reserved0) == 4, "reserved at +4");
static_assert(offsetof(HostCallArg, real) == 8, "real at +8");
static_assert(offsetof(HostCallArg, text) == 16, "text at +16");
static_assert(offsetof(HostCallArg, reserved1) == 20, "reserved at +20");
