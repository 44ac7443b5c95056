// The host's built-in routines, one typed wrapper each: the one place that builds
// their records and calls them through call_host. Every record is zero-filled
// before it is filled; a record's text is borrowed from a holder, which outlives
// the call. Each returns 0, or the code of an exception the routine raised.
//
// A list handle is a 32-bit integer; the list routines receive it as a double.
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

// host_execute_script: runs the script index.real with the argc values in args and
// stores its result in result, then finalizes the result record. records is room
// for argc + 1 records, filled here.
uint32_t host_execute_script(const HostValue& index, int argc, const HostValue* args, HostValue& result,
                             HostCallArg* records) noexcept;

// host_list_size: size gets the number of entries, from the result's real alone
// (0 when the routine raised). The result is not finalized.
uint32_t host_list_size(int32_t h, int32_t* size) noexcept;

// host_list_get: fills value, a new holder, with the entry at position (a number
// holder), then finalizes the result record. Runs once per entry, so it is defined
// here, where the caller inlines it.
inline uint32_t host_list_get(int32_t h, const HostValue& position, HostValue& value) noexcept {
    HostCallArg records[2];
    records[0] = handle_record(h);
    to_call_arg(position, &records[1]);  // zero-fills it first
    HostCallArg result{};
    const uint32_t raised = call_host(HOST_LIST_GET, records, 2, &result);
    assign_from_result(value, result);
    host_finalize_result(&result);
    return raised;
}

// host_list_done: tells the host the list has been read. The result is ignored.
uint32_t host_list_done(int32_t h) noexcept;

// host_report_error: hands the text in holder (the empty text when it has none) to
// the host. The result is ignored.
uint32_t host_report_error(const HostValue& holder) noexcept;

// host_draw_text: draws text (null: the empty text) at x, y, from a text holder
// that lives until the routine has returned. The result is ignored.
uint32_t host_draw_text(double x, double y, const char* text) noexcept;
