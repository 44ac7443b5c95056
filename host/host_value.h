// HostValue: varnel's holder of one host value, a number or a text, and the few
// conversions every host call goes through.
//
// A text lives in a host string cell that the holder allocates on first use and
// owns while it holds a text. Texts cross into the host by copy (set_text) and
// come out of it by copy (assign_from_result), so a holder never shares a
// string with the host.
#pragma once
#include <cstdint>
#include <cstring>

#include "bridge/nexlink.h"
#include "host/host_call.h"
#include "host/host_call_arg.h"

struct HostValue {
    bool is_string;
    HostStringCell* cell;
    double real;

    // A number, 0.0 unless given; no cell.
    HostValue() noexcept : is_string(false), cell(nullptr), real(0.0) {}
    HostValue(bool string, double number) noexcept
        : is_string(string), cell(nullptr), real(number) {}

    // A text holder disposes its cell. A number holder leaves alone a cell it
    // still has; no holder is assigned twice, so none is in that state here.
    ~HostValue() { dispose_text(); }

    HostValue(const HostValue&) = delete;
    HostValue& operator=(const HostValue&) = delete;

    // What the destructor does, for callers that must let go of the cell early.
    void dispose_text() noexcept {
        if (is_string && cell) {
            host_dispose_cell(cell);
            cell = nullptr;
        }
    }
};

// The contents of a holder moved out of it. The taker owns the cell.
struct HostValueParts {
    bool is_string;
    HostStringCell* cell;
    double real;
};

// Stores a host copy of text (a non-null NUL-terminated string; the bytes up to
// the first NUL) in holder's cell, allocating the cell first when it has none.
// Leaves is_string and real alone. When no memory can be had for the block the
// cell is left holding the empty text.
void set_text(HostValue& holder, const char* text) noexcept;

// The text in holder's cell, or null when it has no cell or the cell is empty.
// Valid until the cell is changed or disposed.
inline const char* text_of(const HostValue& holder) noexcept {
    return holder.cell ? *holder.cell : nullptr;
}

// The small steps below run for every record of every host call, so they are
// defined here, where callers inline them.

// Fills record from holder, zero-filling it first. The record's text is borrowed
// from the holder's cell, so the holder must outlive the host call that reads it.
inline void to_call_arg(const HostValue& holder, HostCallArg* record) noexcept {
    *record = HostCallArg{};
    if (holder.is_string) {
        record->kind = HOST_KIND_TEXT;
        record->text = text_of(holder);
    } else {
        record->kind = HOST_KIND_NUMBER;
        record->real = holder.real;
    }
}

// assign_from_result for the cases that touch the holder's cell: a text result, or
// a number result into a text holder.
void assign_through_cell(HostValue& holder, const HostCallArg& record) noexcept;

// Copies a result record written by the host into holder. The record is not
// finalized here: the caller calls host_finalize_result afterwards.
inline void assign_from_result(HostValue& holder, const HostCallArg& record) noexcept {
    if (record.kind == HOST_KIND_TEXT || holder.is_string) {
        assign_through_cell(holder, record);
        return;
    }
    holder.real = record.real;  // a number into a number holder
}

// x, with a signalling NaN made quiet, as an x87 load under masked exceptions
// would make it: a number the host gives Lua. Lua's numbers pass through the x87
// on every return of a double, and there a signalling NaN raises where the host's
// x87 word unmasks invalid operations. Looked at as bits: comparing it would raise.
inline double host_number(double x) noexcept {
    uint64_t bits;
    std::memcpy(&bits, &x, sizeof bits);
    constexpr uint64_t kExponent = uint64_t{0x7FF} << 52, kQuiet = uint64_t{1} << 51;
    if (__builtin_expect((bits & kExponent) == kExponent && (bits & (kQuiet - 1)) != 0 && (bits & kQuiet) == 0, 0)) {
        bits |= kQuiet;
        std::memcpy(&x, &bits, sizeof x);
    }
    return x;
}

// Moves the holder's contents out; the holder keeps no cell afterwards. A number
// comes out as host_number makes it.
inline HostValueParts take_parts(HostValue& holder) noexcept {
    HostValueParts parts{holder.is_string, holder.cell, host_number(holder.real)};
    holder.cell = nullptr;
    return parts;
}
