// Reading a host list through host_list_size, host_list_get and host_list_done.
// A list handle is a 32-bit integer; the routines receive it as a double.
#pragma once
#include <cstdint>

#include "host/host_value.h"

// handle truncated toward zero, when that fits 32 bits. False for NaN, the
// infinities and values out of range.
bool list_handle_of(double handle, int32_t* out) noexcept;

// x truncated toward zero and clamped to 32 bits; NaN gives 0.
int32_t clamp_to_int32(double x) noexcept;

// The number of entries, from the result's real alone. The result is not finalized.
int32_t read_list_size(int32_t h) noexcept;

// Fills value, a new holder, with the entry at position (a number holder).
void read_list_entry(int32_t h, const HostValue& position, HostValue& value) noexcept;

// Tells the host the list has been read. The result is ignored.
void list_done(int32_t h) noexcept;
