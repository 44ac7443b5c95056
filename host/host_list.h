// Reading a host list through host_list_size, host_list_get and host_list_done.
// A list handle is a 32-bit integer; the routines receive it as a double.
#pragma once
#include <cmath>
#include <cstdint>

#include "host/host_contract.h"
#include "host/host_value.h"

// handle truncated toward zero, when that fits 32 bits. False for NaN, the
// infinities and values out of range.
inline bool list_handle_of(double handle, int32_t* out) noexcept {
    if (!(handle > -2147483649.0 && handle < 2147483648.0)) return false;  // NaN fails too
    *out = static_cast<int32_t>(handle);
    return true;
}

// x truncated toward zero and clamped to 32 bits; NaN gives 0.
inline int32_t clamp_to_int32(double x) noexcept {
    if (std::isnan(x)) return 0;
    if (x >= 2147483647.0) return INT32_MAX;
    if (x <= -2147483648.0) return INT32_MIN;
    return static_cast<int32_t>(x);
}

// One argument record holding the list handle.
inline HostCallArg handle_record(int32_t h) noexcept {
    HostCallArg record{};
    record.kind = HOST_KIND_NUMBER;
    record.real = h;
    return record;
}

// The number of entries, from the result's real alone. The result is not finalized.
// raised gets 0, or the code of an exception the routine raised (the size is then 0).
int32_t read_list_size(int32_t h, uint32_t* raised) noexcept;

// Fills value, a new holder, with the entry at position (a number holder). Runs
// once per entry, so it is defined here, where the caller inlines it. Returns 0, or
// the code of an exception the routine raised.
inline uint32_t read_list_entry(int32_t h, const HostValue& position, HostValue& value) noexcept {
    HostCallArg records[2];
    records[0] = handle_record(h);
    to_call_arg(position, &records[1]);  // zero-fills it first
    HostCallArg result{};
    const uint32_t raised = call_host(HOST_LIST_GET, records, 2, &result);
    assign_from_result(value, result);
    host_finalize_result(&result);
    return raised;
}

// Tells the host the list has been read. The result is ignored. Returns 0, or the
// code of an exception the routine raised.
uint32_t list_done(int32_t h) noexcept;
